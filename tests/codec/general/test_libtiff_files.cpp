// test_libtiff_files.cpp — files written by libtiff in every general-purpose
// compression, with and without Predictor 2, read line by line and compared
// with libtiff's own reading; and the scheme decisions taken at open.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "support/libtiff_util.h"
#include "support/temp_dir.h"
#include "support/tif_builder.h"
#include "tif/tif_file.h"

namespace {

using tiftest::Bytes;

enum Kind { kGrey8, kGrey16, kRgb8, kRgb16, kPalette8, kCmyk8 };

struct FileCase {
    int compression;  // 5, 8, 32946, 32773
    int predictor;
    Kind kind;
    bool bigEndian;
    bool tiled;
    uint32_t width;
    uint32_t height;
};

struct KindInfo {
    uint16_t samples;
    uint16_t bits;
    uint16_t photometric;
};

KindInfo Info(Kind k)
{
    switch (k) {
    case kGrey8: return {1, 8, PHOTOMETRIC_MINISBLACK};
    case kGrey16: return {1, 16, PHOTOMETRIC_MINISBLACK};
    case kRgb8: return {3, 8, PHOTOMETRIC_RGB};
    case kRgb16: return {3, 16, PHOTOMETRIC_RGB};
    case kPalette8: return {1, 8, PHOTOMETRIC_PALETTE};
    default: return {4, 8, PHOTOMETRIC_SEPARATED};
    }
}

// Photo-like rows with grain, in host order for 16-bit samples.
std::vector<Bytes> Content(const FileCase& c, uint32_t rowBytes)
{
    std::vector<Bytes> rows(c.height, Bytes(rowBytes));
    uint32_t x = c.width * 31 + c.height;
    for (uint32_t y = 0; y < c.height; ++y)
        for (uint32_t i = 0; i < rowBytes; ++i) {
            x = x * 1103515245u + 12345u;
            rows[y][i] = uint8_t((i / 5 + y * 2 + (y / 7) * (i / 13)) ^ ((x >> 20) & 3));
        }
    return rows;
}

struct Closer {
    TIFF* t;
    ~Closer() { if (t) TIFFClose(t); }
};

// libtiff writes the file; Predictor is set before any data.
bool Write(const std::string& path, const FileCase& c, const std::vector<Bytes>& rows)
{
    TIFFSetWarningHandler(nullptr);
    TIFFSetErrorHandler(nullptr);
    const KindInfo k = Info(c.kind);
    TIFF* t = TIFFOpen(path.c_str(), c.bigEndian ? "wb" : "wl");
    if (t == nullptr)
        return false;
    Closer closer{t};
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, c.width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, c.height);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, k.bits);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, k.samples);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, k.photometric);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    if (k.photometric == PHOTOMETRIC_SEPARATED)
        TIFFSetField(t, TIFFTAG_INKSET, INKSET_CMYK);
    std::vector<uint16_t> map(3 * 256);
    if (k.photometric == PHOTOMETRIC_PALETTE) {
        for (int i = 0; i < 3 * 256; ++i)
            map[i] = uint16_t(i * 85);
        TIFFSetField(t, TIFFTAG_COLORMAP, map.data(), map.data() + 256, map.data() + 512);
    }
    if (!TIFFSetField(t, TIFFTAG_COMPRESSION, c.compression))
        return false;
    if (c.predictor != 1 && !TIFFSetField(t, TIFFTAG_PREDICTOR, c.predictor))
        return false;
    const uint32_t rowBytes = uint32_t(rows[0].size());
    if (c.tiled) {
        const uint32_t tw = 32, tl = 16;
        TIFFSetField(t, TIFFTAG_TILEWIDTH, tw);
        TIFFSetField(t, TIFFTAG_TILELENGTH, tl);
        const uint32_t tileRow = tw * k.samples * k.bits / 8;
        Bytes tile(size_t(tileRow) * tl);
        for (uint32_t y0 = 0; y0 < c.height; y0 += tl)
            for (uint32_t x0 = 0; x0 < c.width; x0 += tw) {
                std::fill(tile.begin(), tile.end(), 0);
                const uint32_t skip = x0 / tw * tileRow;
                const uint32_t n = std::min(tileRow, rowBytes - skip);
                for (uint32_t r = 0; r < tl && y0 + r < c.height; ++r)
                    std::memcpy(&tile[size_t(r) * tileRow], rows[y0 + r].data() + skip, n);
                if (TIFFWriteEncodedTile(t, TIFFComputeTile(t, x0, y0, 0, 0), tile.data(), tmsize_t(tile.size())) < 0)
                    return false;
            }
    } else {
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 7u);
        for (uint32_t y = 0; y < c.height; ++y) {
            Bytes row = rows[y];  // libtiff may difference the row in place
            if (TIFFWriteScanline(t, row.data(), y, 0) < 0)
                return false;
        }
    }
    closer.t = nullptr;
    TIFFClose(t);
    return true;
}

std::string Name(const ::testing::TestParamInfo<FileCase>& i)
{
    static const char* kinds[] = {"grey8", "grey16", "rgb8", "rgb16", "palette8", "cmyk8"};
    const FileCase& c = i.param;
    return "c" + std::to_string(c.compression) + "_p" + std::to_string(c.predictor) + "_" + kinds[c.kind] +
           (c.bigEndian ? "_mm" : "_ii") + (c.tiled ? "_tiles" : "_strips") + "_w" + std::to_string(c.width);
}

class LibtiffFiles : public ::testing::TestWithParam<FileCase> {};

TEST_P(LibtiffFiles, EveryLineMatchesLibtiff)
{
    const FileCase c = GetParam();
    const KindInfo k = Info(c.kind);
    const uint32_t rowBytes = c.width * k.samples * k.bits / 8;
    tiftest::TempDir dir;
    const std::string path = dir.Path("f.tif");
    ASSERT_TRUE(Write(path, c, Content(c, rowBytes)));
    std::vector<Bytes> expected;
    ASSERT_TRUE(tiftest::ReadLibtiff(path, &expected));
    if (k.bits == 16 && c.bigEndian)
        tiftest::SwapRows16(&expected);  // ours arrive in file order

    CTifFile f;
    ASSERT_EQ(f.Open(path.c_str()), 1);
    VXIMGINFO info;
    f.GetImgInfo(&info);
    EXPECT_EQ(info.nCompression, c.compression);
    Bytes line(rowBytes + 64);
    for (uint32_t y = 0; y < c.height; ++y) {
        ASSERT_EQ(f.ReadLine(line.data()), 1) << "line " << y;
        ASSERT_EQ(Bytes(line.begin(), line.begin() + rowBytes), expected[y]) << "line " << y;
    }
    if (!c.tiled) {  // tiled reading past the last line is the file object's matter
        EXPECT_EQ(f.ReadLine(line.data()), 0);
    }
}

std::vector<FileCase> AllCases()
{
    std::vector<FileCase> cases;
    const int codecs[][2] = {{5, 1}, {5, 2}, {8, 1}, {8, 2}, {32946, 1}, {32946, 2}, {32773, 1}};
    for (const auto& cp : codecs)
        for (Kind k : {kGrey8, kGrey16, kRgb8, kRgb16, kPalette8, kCmyk8})
            for (bool big : {false, true})
                for (bool tiled : {false, true})
                    cases.push_back({cp[0], cp[1], k, big, tiled, 97, 45});
    // Rows longer than one 32768-byte transfer, and strips that fill the LZW
    // table several times over.
    for (const auto& cp : codecs)
        cases.push_back({cp[0], cp[1], kRgb16, true, false, 6000, 9});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Variants, LibtiffFiles, ::testing::ValuesIn(AllCases()), Name);

// A directory over uncompressed-looking data with the given compression tags.
std::string BuildFile(const tiftest::TempDir& dir, uint16_t compression, int predictor, uint16_t bits,
                      uint16_t type = tiftest::kShort)
{
    tiftest::TiffBuilder b;
    tiftest::ImageSpec spec{8, 2, 1, bits, tiftest::kMinIsBlack, 2, compression};
    b.StripImage(spec, Bytes(spec.RowBytes() * 2, 0));
    if (predictor != 1)
        b.Set(tiftest::kTagPredictor, type, {uint32_t(predictor)});
    return dir.Write("x.tif", b.Build());
}

TEST(GeneralSchemes, JpegAndUnusablePredictorsFailToOpen)
{
    tiftest::TempDir dir;
    CTifFile f;
    EXPECT_EQ(f.Open(BuildFile(dir, 7, 1, 8).c_str()), 0);
    EXPECT_EQ(f.Open(BuildFile(dir, 5, 3, 8).c_str()), 0);      // floating-point predictor
    EXPECT_EQ(f.Open(BuildFile(dir, 32946, 2, 4).c_str()), 0);  // 4-bit samples
    EXPECT_EQ(f.Open(BuildFile(dir, 8, 0x10002, 8, tiftest::kLong).c_str()), 0);
    // PackBits ignores Predictor, as TIFF 6.0 defines it for LZW only.
    tiftest::TiffBuilder b;
    tiftest::ImageSpec spec{5, 1, 1, 8, tiftest::kMinIsBlack, 1, 32773};
    b.StripImage(spec, {0x03, 1, 2, 3, 4});
    b.Set(tiftest::kTagImageWidth, tiftest::kLong, {4});
    b.Set(tiftest::kTagPredictor, tiftest::kShort, {2});
    const std::string p = dir.Write("pb.tif", b.Build());
    ASSERT_EQ(f.Open(p.c_str()), 1);
    Bytes row(4);
    EXPECT_EQ(f.ReadLine(row.data()), 1);
    EXPECT_EQ(row, (Bytes{1, 2, 3, 4}));
}

}  // namespace
