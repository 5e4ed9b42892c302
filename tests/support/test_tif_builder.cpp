// The TIFF builder agrees with libtiff: what it writes, libtiff reads back
// pixel for pixel, in both byte orders, by strips and by tiles.
#include <gtest/gtest.h>

#include "support/libtiff_util.h"
#include "support/temp_dir.h"
#include "support/tif_builder.h"

namespace tiftest {
namespace {

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
            std::vector<Bytes> rows;
            ASSERT_TRUE(ReadLibtiff(dir.Write("b.tif", b.Build()), &rows)) << big << tiled;
            ASSERT_EQ(rows.size(), spec.height);
            for (uint32_t y = 0; y < spec.height; ++y)
                EXPECT_EQ(rows[y], Bytes(pixels.begin() + y * 111, pixels.begin() + (y + 1) * 111)) << big << tiled << y;
        }
    }
}

}  // namespace
}  // namespace tiftest
