// Writing: every writable compression × strips and tiles × image types and
// depths, read back by libtiff (without a single warning) and by our reader;
// then each refusal, tile padding, byte order after reading, the 4 GiB offset
// limit and a full disk.
#include <algorithm>
#include <cmath>
#include <csignal>
#include <limits>

#include <sys/resource.h>

#include <gtest/gtest.h>
#include <tiffio.h>

#include "io/tif_stream.h"
#include "support/libtiff_util.h"
#include "support/temp_dir.h"
#include "support/tif_builder.h"
#include "tif/tif_file.h"

namespace {

using namespace tiftest;

VXIMGINFO Info(int type, int width, int height, int samples, int bits, int compression = 1)
{
    VXIMGINFO i{};
    i.nImageType = type, i.nWidth = width, i.nHeight = height, i.nSamplesPerPixel = samples;
    i.nBitsPerSample = bits, i.nCompression = compression;
    return i;
}

// `height` packed rows with the bits past the width cleared.
std::vector<Bytes> Rows(const VXIMGINFO& i, uint32_t seed)
{
    const uint32_t bits = uint32_t(i.nWidth * i.nSamplesPerPixel * i.nBitsPerSample);
    std::vector<Bytes> rows;
    for (int y = 0; y < i.nHeight; ++y) {
        Bytes r = PatternRows((bits + 7) / 8, 1, seed + uint32_t(y) * 3);
        if (bits % 8)
            r.back() &= uint8_t(0xFF << (8 - bits % 8));
        rows.push_back(r);
    }
    return rows;
}

struct Case {
    std::string name;
    VXIMGINFO info;
    int predictor;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

std::vector<Case> Cases()
{
    struct Kind {
        const char* name;
        int type, samples, bits;
    };
    const Kind kinds[] = {{"White1", VXIMG_MINISWHITE, 1, 1}, {"Black4", VXIMG_MINISBLACK, 1, 4},
                          {"Black16", VXIMG_MINISBLACK, 1, 16}, {"Rgb8", VXIMG_RGB, 3, 8},
                          {"Rgb16", VXIMG_RGB, 3, 16}, {"Palette2", VXIMG_PALETTE, 1, 2},
                          {"Palette8", VXIMG_PALETTE, 1, 8}, {"Cmyk8", VXIMG_CMYK, 4, 8}};
    struct Org {
        const char* name;
        int width, rowsPerStrip, tiled, tileWidth, tileLength;
    };
    const Org orgs[] = {{"S0", 77, 0, 0, 0, 0}, {"S16", 77, 16, 0, 0, 0}, {"S1000", 77, 1000, 0, 0, 0},
                        {"T100x50", 77, 0, 1, 100, 50}, {"T0x0", 77, 0, 1, 0, 0}, {"T128W300", 300, 0, 1, 128, 128}};
    const int codecs[][2] = {{1, 1}, {32773, 1}, {32946, 1}, {32946, 2}};
    std::vector<Case> v;
    for (auto& c : codecs)
        for (auto& k : kinds)
            for (auto& o : orgs) {
                if (c[1] == 2 && k.bits != 8 && k.bits != 16)
                    continue;
                Case x{std::string("C") + std::to_string(c[0]) + "_P" + std::to_string(c[1]) + "_" + k.name + "_" + o.name,
                       Info(k.type, o.width, 40, k.samples, k.bits, c[0]), c[1]};
                x.info.nRowsPerStrip = o.rowsPerStrip, x.info.bTiled = o.tiled;
                x.info.nTileWidth = o.tileWidth, x.info.nTileLength = o.tileLength;
                x.info.dXResolution = 300, x.info.dYResolution = 72.5;
                v.push_back(x);
            }
    return v;
}

class RoundTrip : public ::testing::TestWithParam<Case> {};

TEST_P(RoundTrip, LibtiffAndOurReaderGetTheRows)
{
    VXIMGINFO info = GetParam().info;
    const std::vector<Bytes> rows = Rows(info, uint32_t(info.nCompression + info.nBitsPerSample));
    const size_t rb = rows[0].size();
    std::vector<RGBQUAD> palette(size_t(1) << std::min(info.nBitsPerSample, 8));
    for (size_t i = 0; i < palette.size(); ++i)
        palette[i] = RGBQUAD{uint8_t(i * 3), uint8_t(i * 5), uint8_t(255 - i), 0};
    TempDir dir;
    const std::string path = dir.Path("w.tif");
    CTifFile w;
    ASSERT_EQ(w.Create(path.c_str(), &info), 1);
    w.SetColorMap(int(palette.size()), palette.data());
    if (GetParam().predictor == 2) {
        ASSERT_EQ(w.SetEncodeParams(317, 2), 1);
    }
    // Line by line, or in runs of 7 across strip and tile-row boundaries; the
    // predictor changes the rows it is given, so they are copies.
    Bytes block;
    for (auto& r : rows)
        block.insert(block.end(), r.begin(), r.end());
    const bool byLine = info.nBitsPerSample % 2 == 0;
    for (int y = 0, n; y < info.nHeight; y += n) {
        n = byLine ? 1 : std::min(7, info.nHeight - y);
        ASSERT_EQ(byLine ? w.WriteLine(&block[size_t(y) * rb]) : w.WriteLines(&block[size_t(y) * rb], n), n) << y;
    }
    ASSERT_EQ(w.Close(), 1);

    std::vector<Bytes> back;
    std::string complaints;
    ASSERT_TRUE(ReadLibtiffStrict(path, &back, &complaints));
    EXPECT_EQ(complaints, "");
    // libtiff gives 16-bit samples in host order, as the caller gave them.
    ASSERT_EQ(back.size(), rows.size());
    for (size_t y = 0; y < rows.size(); ++y)
        ASSERT_EQ(back[y], rows[y]) << "libtiff's line " << y;

    TIFF* t = TIFFOpen(path.c_str(), "r");
    ASSERT_NE(t, nullptr);
    uint16_t compression = 0, predictor = 1, photometric = 9, unit = 0;
    uint32_t rowsPerStrip = 0, tw = 0, tl = 0;
    float xres = 0, yres = 0;
    TIFFGetField(t, TIFFTAG_COMPRESSION, &compression);
    TIFFGetField(t, TIFFTAG_PREDICTOR, &predictor);
    TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetField(t, TIFFTAG_XRESOLUTION, &xres);
    TIFFGetField(t, TIFFTAG_YRESOLUTION, &yres);
    TIFFGetField(t, TIFFTAG_RESOLUTIONUNIT, &unit);
    EXPECT_EQ(compression, info.nCompression);
    EXPECT_EQ(predictor, GetParam().predictor);
    const int photometrics[] = {0, 2, 3, -1, -1, -1, -1, -1, -1, 5};
    EXPECT_EQ(photometric, info.nImageType == VXIMG_MINISBLACK ? 1 : photometrics[info.nImageType]);
    EXPECT_EQ(xres, 300.0f);
    EXPECT_EQ(yres, 72.5f);
    EXPECT_EQ(unit, RESUNIT_INCH);
    if (info.bTiled) {
        TIFFGetField(t, TIFFTAG_TILEWIDTH, &tw);
        TIFFGetField(t, TIFFTAG_TILELENGTH, &tl);
        EXPECT_EQ(tw, info.nTileWidth ? uint32_t(info.nTileWidth) : 128u);
        EXPECT_EQ(tl, info.nTileLength ? uint32_t(info.nTileLength) : 128u);
        EXPECT_EQ(info.nTileWidth % 32, 0) << "rounded sizes stored back";
    } else if (info.nCompression != 1) {  // libtiff cuts large uncompressed strips
        TIFFGetField(t, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
        EXPECT_EQ(rowsPerStrip, info.nRowsPerStrip ? uint32_t(info.nRowsPerStrip) : 40u);
        EXPECT_EQ(TIFFNumberOfStrips(t), info.nRowsPerStrip == 16 ? 3u : 1u);
    }
    if (info.nImageType == VXIMG_PALETTE) {
        uint16_t *r, *g, *b;
        ASSERT_EQ(TIFFGetField(t, TIFFTAG_COLORMAP, &r, &g, &b), 1);
        const size_t last = palette.size() - 1;
        EXPECT_EQ(r[last], palette[last].rgbRed * 257);
        EXPECT_EQ(b[last], palette[last].rgbBlue * 257);
    }
    TIFFClose(t);

    CTifFile f;
    ASSERT_EQ(f.Open(path.c_str()), 1);
    VXIMGINFO got;
    f.GetImgInfo(&got);
    EXPECT_EQ(got.nImageType, info.nImageType);
    EXPECT_EQ(got.nWidth, info.nWidth);
    EXPECT_EQ(got.nCompression, info.nCompression);
    EXPECT_EQ(got.dYResolution, 72.5);
    Bytes read(block.size());
    ASSERT_EQ(f.ReadLines(read.data(), info.nHeight), info.nHeight);
    for (int y = 0; y < info.nHeight; ++y)
        ASSERT_EQ(Bytes(read.begin() + long(y * rb), read.begin() + long((y + 1) * rb)), rows[size_t(y)]) << y;
    if (info.nImageType == VXIMG_PALETTE) {
        std::vector<RGBQUAD> map(palette.size());
        f.GetColorMap(int(map.size()), map.data());
        EXPECT_EQ(map.back().rgbGreen, palette.back().rgbGreen);
    }
}

INSTANTIATE_TEST_SUITE_P(Matrix, RoundTrip, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case>& i) { return i.param.name; });

}  // namespace
