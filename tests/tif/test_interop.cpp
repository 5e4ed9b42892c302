// Uncompressed files written by libtiff read line for line as libtiff reads
// them: photometric × bits × samples × byte order × strips or tiles, with
// sizes that are not multiples of the tile. 16-bit samples come in the file's
// byte order, so a big-endian file's rows are compared byte-swapped.
#include <algorithm>

#include <gtest/gtest.h>

#include "support/libtiff_util.h"
#include "support/temp_dir.h"
#include "support/tif_builder.h"
#include "tif/tif_file.h"

namespace {

using namespace tiftest;

struct Kind {
    const char* name;
    uint16_t photometric;
    uint16_t samples;
    int imageType;
};

const Kind kKinds[] = {
    {"MinIsWhite", 0, 1, VXIMG_MINISWHITE}, {"MinIsBlack", 1, 1, VXIMG_MINISBLACK},
    {"GreyAlpha", 1, 2, VXIMG_MINISBLACK},  {"Rgb", 2, 3, VXIMG_RGB},
    {"Palette", 3, 1, VXIMG_PALETTE},       {"Cmyk", 5, 4, VXIMG_CMYK},
};

struct Organisation {
    const char* name;
    uint32_t rowsPerStrip;
    uint32_t tileWidth, tileLength;
};

const Organisation kOrganisations[] = {
    {"Strips1", 1, 0, 0}, {"Strips7", 7, 0, 0}, {"OneStrip", 1000, 0, 0},
    {"Tiles16", 0, 16, 16}, {"Tiles32x16", 0, 32, 16},
};

using Param = std::tuple<Kind, int, Organisation, bool>;

class Interop : public ::testing::TestWithParam<Param> {};

TEST_P(Interop, LinesMatchLibtiff)
{
    const auto& [kind, bits, org, big] = GetParam();
    if (kind.photometric == 3 && bits > 8)
        GTEST_SKIP() << "no 16-bit palettes";

    LibtiffSpec s;
    s.width = 37;
    s.height = 23;
    s.samples = kind.samples;
    s.bits = uint16_t(bits);
    s.photometric = kind.photometric;
    s.bigEndian = big;
    s.rowsPerStrip = org.rowsPerStrip;
    s.tileWidth = org.tileWidth;
    s.tileLength = org.tileLength;
    if (kind.photometric == 3)
        for (int i = 0; i < 3 << bits; ++i)
            s.colorMap.push_back(uint16_t(i * 997));
    s.xResolution = 200;
    s.yResolution = 100;
    s.resolutionUnit = 3;

    const uint32_t rowBytes = s.RowBytes();
    Bytes pixels = PatternRows(rowBytes, s.height, uint32_t(bits));
    std::vector<Bytes> rows;
    for (uint32_t y = 0; y < s.height; ++y)
        rows.emplace_back(pixels.begin() + y * rowBytes, pixels.begin() + (y + 1) * rowBytes);

    TempDir dir;
    const std::string path = dir.Path("i.tif");
    ASSERT_TRUE(WriteLibtiff(path, s, rows));
    std::vector<Bytes> expected;
    ASSERT_TRUE(ReadLibtiff(path, &expected));
    if (big && bits == 16)
        SwapRows16(&expected);

    CTifFile f;
    ASSERT_EQ(f.Open(path.c_str()), 1);
    VXIMGINFO info;
    f.GetImgInfo(&info);
    EXPECT_EQ(info.nImageType, kind.imageType);
    EXPECT_EQ(info.nWidth, 37);
    EXPECT_EQ(info.nHeight, 23);
    EXPECT_EQ(info.nSamplesPerPixel, kind.samples);
    EXPECT_EQ(info.nBitsPerSample, bits);
    EXPECT_EQ(info.nCompression, 1);
    EXPECT_EQ(info.bTiled, org.tileWidth ? 1 : 0);
    EXPECT_EQ(info.nTileWidth, int(org.tileWidth));
    EXPECT_NEAR(info.dXResolution, 508.0, 1e-9);
    EXPECT_NEAR(info.dYResolution, 254.0, 1e-9);
    if (kind.photometric == 3) {
        RGBQUAD map[256] = {};
        f.GetColorMap(256, map);
        const int n = 1 << bits;
        EXPECT_EQ(f.m_nColors, n);
        EXPECT_EQ(map[n - 1].rgbBlue, (2 * n + n - 1) * 997 % 65536 * 255 / 65535);
    }

    // Line by line.
    Bytes row(rowBytes);
    for (uint32_t y = 0; y < s.height; ++y) {
        ASSERT_EQ(f.ReadLine(row.data()), 1) << y;
        ASSERT_EQ(row, expected[y]) << "line " << y;
    }
    // In chunks of 5 from line 2, then back to line 11 and forward to 20.
    ASSERT_EQ(f.SeekLine(2), 1);
    Bytes chunk(5 * rowBytes);
    for (uint32_t y = 2; y + 5 <= s.height; y += 5) {
        ASSERT_EQ(f.ReadLines(chunk.data(), 5), 5) << y;
        for (uint32_t k = 0; k < 5; ++k)
            ASSERT_EQ(Bytes(chunk.begin() + k * rowBytes, chunk.begin() + (k + 1) * rowBytes), expected[y + k])
                << "line " << y + k;
    }
    for (int y : {11, 20, 0, 22}) {
        ASSERT_EQ(f.SeekLine(y), 1);
        ASSERT_EQ(f.ReadLine(row.data()), 1);
        EXPECT_EQ(row, expected[y]) << "after SeekLine(" << y << ")";
    }
    EXPECT_EQ(f.Close(), 1);
}

INSTANTIATE_TEST_SUITE_P(Matrix, Interop,
                         ::testing::Combine(::testing::ValuesIn(kKinds), ::testing::Values(1, 2, 4, 8, 16),
                                            ::testing::ValuesIn(kOrganisations), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    std::to_string(std::get<1>(info.param)) + "bit_" +
                                    std::get<2>(info.param).name + (std::get<3>(info.param) ? "_MM" : "_II");
                         });

}  // namespace
