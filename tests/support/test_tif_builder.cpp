// The test helpers agree with libtiff: what the builder writes, libtiff reads
// back pixel for pixel, in both byte orders, by strips and by tiles.
#include <gtest/gtest.h>

#include "support/libtiff_util.h"
#include "support/temp_dir.h"
#include "support/tif_builder.h"

namespace tiftest {
namespace {

std::vector<Bytes> Split(const Bytes& pixels, uint32_t rowBytes)
{
    std::vector<Bytes> rows;
    for (size_t at = 0; at < pixels.size(); at += rowBytes)
        rows.emplace_back(pixels.begin() + at, pixels.begin() + at + rowBytes);
    return rows;
}

TEST(TiffBuilder, LibtiffReadsWhatItWrites)
{
    TempDir dir;
    for (bool big : {false, true}) {
        for (bool tiled : {false, true}) {
            ImageSpec spec{37, 21, 3, 8, kRgb, 4};
            Bytes pixels = PatternRows(spec.RowBytes(), spec.height);
            TiffBuilder b(big);
            if (tiled)
                b.TileImage(spec, 16, 16, pixels);
            else
                b.StripImage(spec, pixels);
            b.Set(kTagXResolution, kRational, {300, 1});
            std::string path = dir.Write("b.tif", b.Build());
            std::vector<Bytes> rows;
            ASSERT_TRUE(ReadLibtiff(path, &rows)) << big << tiled;
            EXPECT_EQ(rows, Split(pixels, spec.RowBytes())) << big << tiled;
        }
    }
}

TEST(LibtiffUtil, RoundTripsStripsAndTiles)
{
    TempDir dir;
    for (uint32_t tile : {0u, 16u}) {
        LibtiffSpec s;
        s.width = 35;
        s.height = 19;
        s.bits = 4;
        s.rowsPerStrip = 5;
        s.tileWidth = s.tileLength = tile;
        std::vector<Bytes> rows = Split(PatternRows(s.RowBytes(), s.height), s.RowBytes());
        // Bits past the width are not kept by every path; clear them.
        for (Bytes& r : rows)
            r.back() &= 0xF0;
        std::string path = dir.Path("l.tif");
        ASSERT_TRUE(WriteLibtiff(path, s, rows));
        std::vector<Bytes> back;
        ASSERT_TRUE(ReadLibtiff(path, &back));
        EXPECT_EQ(back, rows) << tile;
    }
}

}  // namespace
}  // namespace tiftest
