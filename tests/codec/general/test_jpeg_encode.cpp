// test_jpeg_encode.cpp — JPEG pages written: libtiff reads them without a
// complaint as we read them, near the source; strips rounded to whole bands
// of blocks, tiles cut by the image's edges, pages ended early; the quality
// and what cannot be coded.
#include <gtest/gtest.h>

#if defined(VXTIFF_TEST_WITH_JPEG)
#include <cmath>
#include <tiffio.h>

#include "support/libtiff_util.h"
#include "support/temp_dir.h"
#include "support/write_info.h"
#include "tif/tif_file.h"

using namespace tiftest;

namespace {

constexpr unsigned kQuality = 65537;  // the JPEG quality pseudo-tag

// Smooth rows, as a scanned photograph is.
std::vector<Bytes> Photo(const VXIMGINFO& i)
{
    std::vector<Bytes> rows(size_t(i.nHeight), Bytes(size_t(i.nWidth) * size_t(i.nSamplesPerPixel)));
    for (int y = 0; y < i.nHeight; ++y)
        for (int x = 0; x < i.nWidth; ++x)
            for (int c = 0; c < i.nSamplesPerPixel; ++c)
                rows[size_t(y)][size_t(x * i.nSamplesPerPixel + c)] =
                    uint8_t(128 + 100 * std::sin(x / (9.0 + c) + y / 13.0) * std::cos(y / (17.0 + 3 * c)));
    return rows;
}

double Psnr(const std::vector<Bytes>& a, const std::vector<Bytes>& b)
{
    double sum = 0, n = 0;
    for (size_t y = 0; y < a.size(); ++y)
        for (size_t x = 0; x < a[y].size(); ++x, ++n)
            sum += (a[y][x] - b[y][x]) * (a[y][x] - b[y][x]);
    return sum == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * n / sum);
}

}  // namespace

TEST(JpegWrite, LibtiffReadsAsWeDoNearTheSource)
{
    const struct {
        const char* name;
        int type, samples, rowsPerStrip, tile, written, quality, storedStrip;
    } cases[] = {
        {"RgbStripsOf10", VXIMG_RGB, 3, 10, 0, 77, 0, 16},  // YCbCr 2x2: bands of 16 rows
        {"RgbOneStrip", VXIMG_RGB, 3, 0, 0, 77, 95, 77},
        {"RgbTilesCutByBothEdges", VXIMG_RGB, 3, 0, 32, 77, 90, 32},
        {"GreyStripsOf3", VXIMG_MINISBLACK, 1, 3, 0, 77, 90, 8},
        {"WhiteIsZero", VXIMG_MINISWHITE, 1, 8, 0, 77, 0, 8},
        {"Cmyk", VXIMG_CMYK, 4, 16, 0, 77, 90, 16},
        {"RgbEndedEarlyInAStrip", VXIMG_RGB, 3, 32, 0, 40, 90, 32},  // its last band cut off
        {"GreyEndedEarlyInATileRow", VXIMG_MINISBLACK, 1, 0, 32, 40, 90, 32},
    };
    TempDir dir;
    const std::string path = dir.Path("j.tif");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        VXIMGINFO info = WriteInfo(c.type, 101, 77, c.samples, 8, 7, c.rowsPerStrip);
        info.bTiled = c.tile != 0, info.nTileWidth = info.nTileLength = c.tile;
        const std::vector<Bytes> rows = Photo(info);
        CTifFile w;
        ASSERT_EQ(w.Create(path.c_str(), &info), 1);
        EXPECT_EQ(info.nRowsPerStrip, c.rowsPerStrip == 0 ? 0 : c.storedStrip);
        ASSERT_TRUE(c.quality == 0 || w.SetEncodeParams(kQuality, unsigned(c.quality)) == 1);
        for (int y = 0; y < c.written; ++y)
            ASSERT_EQ(w.WriteLine(Bytes(rows[size_t(y)]).data()), 1) << y;
        ASSERT_EQ(w.Close(), 1);

        std::vector<Bytes> back;
        std::string complaints;
        ASSERT_TRUE(ReadLibtiffStrict(path, &back, &complaints));
        EXPECT_EQ(complaints, "");
        ASSERT_EQ(back.size(), size_t(c.written));
        EXPECT_GT(Psnr(back, std::vector<Bytes>(rows.begin(), rows.begin() + c.written)), c.quality ? 40 : 35);
        CTifFile r;
        ASSERT_EQ(r.Open(path.c_str()), 1);
        EXPECT_EQ(r.m_nImageType, c.type);
        EXPECT_EQ(c.tile ? r.m_nTileLength : r.m_nRowsPerStrip, c.storedStrip);
        Bytes line(back[0].size());
        for (int y = 0; y < c.written; ++y) {
            ASSERT_EQ(r.ReadLine(line.data()), 1);
            ASSERT_EQ(line, back[size_t(y)]) << "line " << y;
        }
        EXPECT_EQ(r.GetDamagedLines(nullptr), 0);
    }
}

// A JPEG page copied as stored keeps the tables and sampling its strips lean
// on (libtiff's 2x1 here, not the writer's 2x2).
TEST(JpegWrite, CopiedPagesKeepTheirTablesAndSampling)
{
    TempDir dir;
    const std::string in = dir.Path("in.tif"), out = dir.Path("out.tif");
    LibtiffPage page;
    page.compression = 7, page.photometric = 6, page.samples = 3, page.bits = 8, page.width = 50, page.height = 40;
    page.rowsPerStrip = 16, page.subsampling[0] = 2, page.subsampling[1] = 1;
    VXIMGINFO photo = WriteInfo(VXIMG_RGB, 50, 40, 3, 8);
    ASSERT_TRUE(WriteLibtiff(in, page, Photo(photo)));
    CTifFile from, to;
    ASSERT_EQ(from.Open(in.c_str()), 1);
    VXIMGINFO info;
    from.GetImgInfo(&info);
    ASSERT_EQ(to.Create(out.c_str(), &info), 1);
    ASSERT_EQ(to.CopyPageData(&from), 1);
    ASSERT_EQ(to.Close(), 1);
    std::vector<Bytes> want, got;
    std::string complaints;
    ASSERT_TRUE(ReadLibtiff(in, &want));
    ASSERT_TRUE(ReadLibtiffStrict(out, &got, &complaints));
    EXPECT_EQ(complaints, "");
    EXPECT_EQ(got, want);
}

TEST(JpegWrite, QualityAndWhatCannotBeCoded)
{
    TempDir dir;
    const std::string path = dir.Path("q.tif");
    VXIMGINFO grey = WriteInfo(VXIMG_MINISBLACK, 64, 64, 1, 8, 7);
    const std::vector<Bytes> rows = Photo(grey);
    std::vector<int64_t> sizes;
    for (unsigned q : {20u, 95u}) {
        CTifFile w;
        ASSERT_EQ(w.Create(path.c_str(), &grey), 1);
        EXPECT_EQ(w.SetEncodeParams(kQuality, 0), 0);
        EXPECT_EQ(w.SetEncodeParams(kQuality, 101), 0);
        EXPECT_EQ(w.SetEncodeParams(kQuality, q), 1);
        EXPECT_EQ(w.SetTag(347, 7, 2, "\xFF\xD8"), 0);  // the tables are the encoder's
        for (const Bytes& r : rows)
            ASSERT_EQ(w.WriteLine(Bytes(r).data()), 1);
        EXPECT_EQ(w.SetEncodeParams(kQuality, 50), 0);  // the rows are coded
        ASSERT_EQ(w.Close(), 1);
        CTifFile r;
        ASSERT_EQ(r.Open(path.c_str()), 1);
        sizes.push_back(r.m_pStripByteCounts[0]);
    }
    EXPECT_LT(sizes[0] * 3, sizes[1]);
    // A frame holds 65,500 rows at most: a taller page gets strips.
    VXIMGINFO tall = WriteInfo(VXIMG_MINISBLACK, 8, 70000, 1, 8, 7);
    CTifFile t;
    ASSERT_EQ(t.Create(path.c_str(), &tall), 1);
    EXPECT_EQ(tall.nRowsPerStrip, 65496);
    for (int y = 0; y < tall.nHeight; ++y)
        ASSERT_EQ(t.WriteLine(Bytes(8, uint8_t(y)).data()), 1);
    ASSERT_EQ(t.Close(), 1);
    std::vector<Bytes> back;
    std::string complaints;
    ASSERT_TRUE(ReadLibtiffStrict(path, &back, &complaints));
    EXPECT_EQ(complaints, "");
    EXPECT_EQ(back.size(), size_t(tall.nHeight));
    // Palettes, RGB with extra samples, samples of other sizes, rows wider than a frame.
    for (VXIMGINFO bad : {WriteInfo(VXIMG_MINISBLACK, 65501, 8, 1, 8, 7), WriteInfo(VXIMG_PALETTE, 8, 8, 1, 8, 7),
                          WriteInfo(VXIMG_RGB, 8, 8, 4, 8, 7),
                          WriteInfo(VXIMG_MINISBLACK, 8, 8, 1, 16, 7), WriteInfo(VXIMG_MINISWHITE, 8, 8, 1, 1, 7)}) {
        CTifFile w;
        EXPECT_EQ(w.Create(path.c_str(), &bad), 0);
        EXPECT_EQ(CTifFile::GetLastFailure(), VXTIFF_FAIL_NO_ENCODER);
    }
}

#endif
