// test_fax_interop.cpp — fax files written by libtiff, read line by line
// through CTifFile and compared with the source rows and with libtiff's own
// reading; the codec is also driven directly over the raw strips.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <vector>

#include "codec/fax/tif_fax.h"
#include "support/fax_util.h"
#include "support/libtiff_util.h"
#include "support/temp_dir.h"
#include "tif/tif_file.h"

using tiftest::Bytes;

namespace {

struct FaxFile {
    const char* name;
    int compression;
    int t4Options;
    int fillOrder;
    bool bigEndian;
    int width;
    int tileWidth;  // 0: strips of 8 rows
};

const int kHeight = 37;

bool WriteFaxTiff(const std::string& path, const FaxFile& f, const std::vector<Bytes>& rows)
{
    TIFF* t = TIFFOpen(path.c_str(), f.bigEndian ? "wb" : "wl");
    if (t == nullptr)
        return false;
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(f.width));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(kHeight));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(t, TIFFTAG_COMPRESSION, f.compression);
    if (f.compression == 3)
        TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, uint32_t(f.t4Options));
    if (f.fillOrder != 1)
        TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
    bool ok = true;
    if (f.tileWidth == 0) {
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 8);
        for (int y = 0; y < kHeight && ok; ++y)
            ok = TIFFWriteScanline(t, const_cast<uint8_t*>(rows[size_t(y)].data()), uint32_t(y), 0) == 1;
    } else {
        const int tw = f.tileWidth, tl = 16;
        TIFFSetField(t, TIFFTAG_TILEWIDTH, uint32_t(tw));
        TIFFSetField(t, TIFFTAG_TILELENGTH, uint32_t(tl));
        for (int ty = 0; ty < kHeight && ok; ty += tl)
            for (int tx = 0; tx < f.width && ok; tx += tw) {
                Bytes tile(size_t(tw / 8) * tl, 0);
                for (int y = 0; y < tl && ty + y < kHeight; ++y)
                    for (int x = 0; x < tw && tx + x < f.width; ++x)
                        if (tiftest::Pixel(rows[size_t(ty + y)], tx + x))
                            tile[size_t(y * tw + x) / 8] |= uint8_t(0x80 >> (x & 7));
                ok = TIFFWriteEncodedTile(t, TIFFComputeTile(t, uint32_t(tx), uint32_t(ty), 0, 0), tile.data(),
                                          tsize_t(tile.size())) >= 0;
            }
    }
    TIFFClose(t);
    return ok;
}

class FaxInterop : public ::testing::TestWithParam<FaxFile> {
protected:
    void SetUp() override
    {
        const FaxFile& f = GetParam();
        rows_ = tiftest::FaxPage(f.width, kHeight, uint32_t(f.width * 31 + f.compression));
        path_ = dir_.Path("fax.tif");
        ASSERT_TRUE(WriteFaxTiff(path_, f, rows_));
    }

    tiftest::TempDir dir_;
    std::string path_;
    std::vector<Bytes> rows_;
};

TEST_P(FaxInterop, LinesMatchSourceAndLibtiff)
{
    const FaxFile& f = GetParam();
    std::vector<Bytes> reference;
    ASSERT_TRUE(tiftest::ReadLibtiff(path_, &reference));
    ASSERT_EQ(reference.size(), rows_.size());

    CTifFile file;
    ASSERT_EQ(file.Open(path_.c_str()), 1);
    VXIMGINFO info;
    file.GetImgInfo(&info);
    EXPECT_EQ(info.nCompression, f.compression);
    Bytes line(size_t(f.width + 7) / 8 + size_t(f.tileWidth) / 8 + 8);
    for (int y = 0; y < kHeight; ++y) {
        ASSERT_EQ(file.ReadLine(line.data()), 1) << "line " << y;
        Bytes got(line.begin(), line.begin() + long(rows_[0].size()));
        EXPECT_EQ(tiftest::MaskRow(got, f.width), rows_[size_t(y)]) << "line " << y;
        EXPECT_EQ(tiftest::MaskRow(got, f.width), tiftest::MaskRow(reference[size_t(y)], f.width)) << "line " << y;
    }
}

// The raw strips decode the same in one call, one row per call, and from a
// source that hands out one byte per call.
class FaxRawStrips : public FaxInterop {};

TEST_P(FaxRawStrips, RowByRowEqualsWholeStrip)
{
    const FaxFile& f = GetParam();
    TIFF* t = TIFFOpen(path_.c_str(), "r");
    ASSERT_NE(t, nullptr);
    tiftest::FaxDecoder whole(f.compression, f.width, f.t4Options, f.fillOrder);
    tiftest::FaxDecoder single(f.compression, f.width, f.t4Options, f.fillOrder);
    for (tstrip_t s = 0; s < TIFFNumberOfStrips(t); ++s) {
        Bytes raw(size_t(TIFFRawStripSize(t, s)));
        ASSERT_EQ(TIFFReadRawStrip(t, s, raw.data(), tsize_t(raw.size())), tsize_t(raw.size()));
        const int rows = std::min(8, kHeight - int(s) * 8);
        std::vector<Bytes> a, b;
        whole.Begin(raw);
        ASSERT_EQ(whole.Decode(rows, &a), rows);
        single.Begin(raw, 1);
        ASSERT_EQ(single.Decode(rows, &b, 1), rows);
        EXPECT_EQ(a, b);
        for (int y = 0; y < rows; ++y)
            EXPECT_EQ(tiftest::MaskRow(a[size_t(y)], f.width), rows_[size_t(s * 8 + uint32_t(y))]);
    }
    TIFFClose(t);
}

std::vector<FaxFile> FaxFiles(bool tiles)
{
    struct Variant {
        const char* name;
        int compression;
        int t4;
    };
    const Variant variants[] = {
        {"MH", 2, 0},
        {"G3", 3, 0},
        {"G3Fill", 3, T4OPT_FILLBITS},
        {"G3_2D", 3, T4OPT_2D},
        {"G3_2DFill", 3, T4OPT_2D | T4OPT_FILLBITS},
        {"G4", 4, 0},
    };
    std::vector<FaxFile> files;
    for (const Variant& v : variants)
        for (bool big : {false, true})
            for (int fill : {1, 2})
                for (int width : {5, 75, 1728})
                    for (int tile = 0; tile <= int(tiles); ++tile)
                        files.push_back({v.name, v.compression, v.t4, fill, big, width,
                                         tile ? (width > 100 ? 256 : 32) : 0});
    return files;
}

std::string FaxFileName(const ::testing::TestParamInfo<FaxFile>& i)
{
    const FaxFile& f = i.param;
    return std::string(f.name) + (f.bigEndian ? "_MM" : "_II") + "_FillOrder" + std::to_string(f.fillOrder) +
           "_W" + std::to_string(f.width) + (f.tileWidth ? "_Tiles" : "_Strips");
}

INSTANTIATE_TEST_SUITE_P(Fax, FaxInterop, ::testing::ValuesIn(FaxFiles(true)), FaxFileName);
INSTANTIATE_TEST_SUITE_P(Fax, FaxRawStrips, ::testing::ValuesIn(FaxFiles(false)), FaxFileName);

}  // namespace
