// test_libtiff_files.cpp — files written by libtiff in every general-purpose
// compression, with and without Predictor 2, read line by line and compared
// with libtiff's own reading; and the scheme decisions taken at open.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <string>

#include "support/libtiff_util.h"
#include "support/temp_dir.h"
#include "support/tif_builder.h"
#include "tif/tif_file.h"

namespace {

using tiftest::Bytes;

enum Kind { kGrey8, kGrey16, kRgb8, kRgb16, kPalette8, kCmyk8 };

struct FileCase {
    uint16_t compression;
    uint16_t predictor;
    Kind kind;
    bool bigEndian;
    bool tiled;
    uint32_t width;
    uint32_t height;
};

tiftest::LibtiffSpec Describe(const FileCase& c)
{
    static const uint16_t kLayout[][3] = {{1, 8, PHOTOMETRIC_MINISBLACK}, {1, 16, PHOTOMETRIC_MINISBLACK},
                                          {3, 8, PHOTOMETRIC_RGB},        {3, 16, PHOTOMETRIC_RGB},
                                          {1, 8, PHOTOMETRIC_PALETTE},    {4, 8, PHOTOMETRIC_SEPARATED}};
    tiftest::LibtiffSpec s;
    s.width = c.width;
    s.height = c.height;
    s.samples = kLayout[c.kind][0];
    s.bits = kLayout[c.kind][1];
    s.photometric = kLayout[c.kind][2];
    s.compression = c.compression;
    s.predictor = c.predictor;
    s.bigEndian = c.bigEndian;
    s.rowsPerStrip = 7;
    s.tileWidth = c.tiled ? 32 : 0;
    s.tileLength = c.tiled ? 16 : 0;
    if (c.kind == kPalette8)
        for (int i = 0; i < 3 * 256; ++i)
            s.colorMap.push_back(uint16_t(i * 85));
    return s;
}

// Photo-like rows with grain (16-bit samples in host order, as libtiff takes them).
std::vector<Bytes> Content(const tiftest::LibtiffSpec& s)
{
    std::vector<Bytes> rows(s.height, Bytes(s.RowBytes()));
    uint32_t x = s.width * 31 + s.height;
    for (uint32_t y = 0; y < s.height; ++y)
        for (uint32_t i = 0; i < s.RowBytes(); ++i) {
            x = x * 1103515245u + 12345u;
            rows[y][i] = uint8_t((i / 5 + y * 2 + (y / 7) * (i / 13)) ^ ((x >> 20) & 3));
        }
    return rows;
}

class LibtiffFiles : public ::testing::TestWithParam<FileCase> {};

TEST_P(LibtiffFiles, EveryLineMatchesLibtiff)
{
    const FileCase c = GetParam();
    const tiftest::LibtiffSpec desc = Describe(c);
    tiftest::TempDir dir;
    const std::string path = dir.Path("f.tif");
    ASSERT_TRUE(tiftest::WriteLibtiff(path, desc, Content(desc)));
    std::vector<Bytes> expected;
    ASSERT_TRUE(tiftest::ReadLibtiff(path, &expected));
    if (desc.bits == 16 && c.bigEndian)
        tiftest::SwapRows16(&expected);  // ours arrive in file order

    CTifFile f;
    ASSERT_EQ(f.Open(path.c_str()), 1);
    VXIMGINFO info;
    f.GetImgInfo(&info);
    EXPECT_EQ(info.nCompression, c.compression);
    Bytes line(desc.RowBytes());
    for (uint32_t y = 0; y < c.height; ++y) {
        ASSERT_EQ(f.ReadLine(line.data()), 1) << "line " << y;
        ASSERT_EQ(line, expected[y]) << "line " << y;
    }
}

std::vector<FileCase> AllCases()
{
    std::vector<FileCase> cases;
    const uint16_t codecs[][2] = {{5, 1}, {5, 2}, {8, 1}, {8, 2}, {32946, 1}, {32946, 2}, {32773, 1}};
    for (const auto& cp : codecs) {
        for (Kind k : {kGrey8, kGrey16, kRgb8, kRgb16, kPalette8, kCmyk8})
            for (bool big : {false, true})
                for (bool tiled : {false, true})
                    cases.push_back({cp[0], cp[1], k, big, tiled, 97, 45});
        // Rows longer than one 32768-byte transfer; LZW tables filled many times.
        cases.push_back({cp[0], cp[1], kRgb16, true, false, 6000, 9});
    }
    return cases;
}

std::string Name(const ::testing::TestParamInfo<FileCase>& i)
{
    static const char* kinds[] = {"grey8", "grey16", "rgb8", "rgb16", "palette8", "cmyk8"};
    const FileCase& c = i.param;
    return "c" + std::to_string(c.compression) + "_p" + std::to_string(c.predictor) + "_" + kinds[c.kind] +
           (c.bigEndian ? "_mm" : "_ii") + (c.tiled ? "_tiles" : "_strips") + "_w" + std::to_string(c.width);
}

INSTANTIATE_TEST_SUITE_P(Variants, LibtiffFiles, ::testing::ValuesIn(AllCases()), Name);

// An 8 x 1 image whose one strip holds `data`, with the given tags.
std::string Build(const tiftest::TempDir& dir, uint16_t compression, uint16_t bits, const Bytes& data,
                  uint16_t predictorType = 0, uint32_t predictor = 1)
{
    tiftest::TiffBuilder b;
    tiftest::ImageSpec image{uint32_t(data.size()), 1, 1, 8, tiftest::kMinIsBlack, 1, compression};
    b.StripImage(image, data);
    b.Set(tiftest::kTagImageWidth, tiftest::kLong, {8u * 8 / bits});
    b.Set(tiftest::kTagBitsPerSample, tiftest::kShort, {bits});
    if (predictorType != 0)
        b.Set(tiftest::kTagPredictor, predictorType, {predictor});
    return dir.Write("x.tif", b.Build());
}

TEST(GeneralSchemes, JpegAndUnusablePredictorsFailToOpen)
{
    tiftest::TempDir dir;
    const Bytes lzw = {0x80, 0x10, 0x60, 0x20};  // any strip: opening stops before it
    CTifFile f;
    EXPECT_EQ(f.Open(Build(dir, 7, 8, Bytes(8, 0)).c_str()), 0);
    EXPECT_EQ(f.Open(Build(dir, 5, 8, lzw, tiftest::kShort, 3).c_str()), 0);      // floating point
    EXPECT_EQ(f.Open(Build(dir, 32946, 4, lzw, tiftest::kShort, 2).c_str()), 0);  // 4-bit samples
    EXPECT_EQ(f.Open(Build(dir, 8, 8, lzw, tiftest::kLong, 0x10002).c_str()), 0);
    // PackBits ignores Predictor: TIFF 6.0 defines it for LZW only.
    const Bytes packbits = {0x07, 1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_EQ(f.Open(Build(dir, 32773, 8, packbits, tiftest::kShort, 2).c_str()), 1);
    Bytes row(8);
    EXPECT_EQ(f.ReadLine(row.data()), 1);
    EXPECT_EQ(row, Bytes(packbits.begin() + 1, packbits.end()));
}

}  // namespace
