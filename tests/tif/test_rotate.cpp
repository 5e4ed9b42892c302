// Rotated reading checked against rotations computed from plainly read lines.
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <tiffio.h>
#include <unistd.h>

#include "tif/tif_file.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Image {
    int width, height, samples, bits;
    int tileWidth, tileLength;  // 0: strips
    int rowsPerStrip;
    int RowBytes() const { return (width * samples * bits + 7) / 8; }
    int PixelBits() const { return samples * bits; }
};

void PrintTo(const Image& m, std::ostream* os)
{
    *os << m.width << "x" << m.height << ", " << m.samples << "x" << m.bits << " bits";
}

std::string TempPath(const std::string& name)
{
    return ::testing::TempDir() + "rot_" + std::to_string(getpid()) + "_" + name;
}

// Random pixels, written uncompressed by libtiff.
bool WriteImage(const std::string& path, const Image& im, uint32_t seed)
{
    TIFFSetWarningHandler(nullptr);
    TIFF* t = TIFFOpen(path.c_str(), "w");
    if (t == nullptr)
        return false;
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, im.width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, im.height);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, im.samples);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, im.bits);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, im.samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    if (im.samples == 4)
        TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, std::vector<uint16_t>{EXTRASAMPLE_UNASSALPHA}.data());
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    std::mt19937 rng(seed);
    bool ok = true;
    if (im.tileWidth > 0) {
        TIFFSetField(t, TIFFTAG_TILEWIDTH, im.tileWidth);
        TIFFSetField(t, TIFFTAG_TILELENGTH, im.tileLength);
        Bytes tile(TIFFTileSize(t));
        for (ttile_t i = 0; i < TIFFNumberOfTiles(t) && ok; ++i) {
            for (auto& b : tile)
                b = static_cast<uint8_t>(rng());
            ok = TIFFWriteEncodedTile(t, i, tile.data(), tile.size()) >= 0;
        }
    } else {
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, im.rowsPerStrip);
        Bytes row(im.RowBytes());
        for (int y = 0; y < im.height && ok; ++y) {
            for (auto& b : row)
                b = static_cast<uint8_t>(rng());
            ok = TIFFWriteScanline(t, row.data(), y, 0) == 1;
        }
    }
    TIFFClose(t);
    return ok;
}

std::vector<Bytes> PlainRows(CTifFile& f, const Image& im)
{
    std::vector<Bytes> rows;
    EXPECT_EQ(f.SeekLine(0), 1);
    for (int y = 0; y < im.height; ++y) {
        Bytes row(im.RowBytes() + 64);  // tiled rows may use whole tile rows
        EXPECT_EQ(f.ReadLine(row.data()), 1) << "row " << y;
        row.resize(im.RowBytes());
        rows.push_back(row);
    }
    return rows;
}

int LineBytes(const Image& im)
{
    return im.PixelBits() == 1 ? (im.height + 7) / 8 : im.height * im.PixelBits() / 8;
}

// The rotated image, pixel by pixel, from plain rows.
Bytes Reference(const std::vector<Bytes>& rows, const Image& im, bool r90)
{
    const int e = LineBytes(im);
    Bytes out(size_t(im.width) * e, 0);
    for (int line = 0; line < im.width; ++line) {
        const int c = r90 ? line : im.width - 1 - line;
        for (int p = 0; p < im.height; ++p) {
            const Bytes& row = rows[r90 ? im.height - 1 - p : p];
            if (im.PixelBits() == 1) {
                if (row[c / 8] & (0x80 >> (c % 8)))
                    out[size_t(line) * e + p / 8] |= 0x80 >> (p % 8);
            } else {
                const int b = im.PixelBits() / 8;
                for (int i = 0; i < b; ++i)
                    out[size_t(line) * e + size_t(p) * b + i] = row[size_t(c) * b + i];
            }
        }
    }
    return out;
}

int Rotated(CTifFile& f, bool r90, void* buffer, int first, int count)
{
    return r90 ? f.ReadLinesR90(buffer, first, count) : f.ReadLinesR270(buffer, first, count);
}

class RotateTest : public ::testing::TestWithParam<Image> {};

TEST_P(RotateTest, MatchesPlainReadingWholeAndInChunks)
{
    const Image im = GetParam();
    const std::string path = TempPath("img.tif");
    ASSERT_TRUE(WriteImage(path, im, 7));
    CTifFile f;
    ASSERT_EQ(f.Open(path.c_str()), 1);
    const std::vector<Bytes> rows = PlainRows(f, im);
    const size_t e = LineBytes(im);
    for (bool r90 : {true, false}) {
        SCOPED_TRACE(r90 ? "R90" : "R270");
        const Bytes want = Reference(rows, im, r90);
        Bytes whole(want.size(), 0xA5);
        ASSERT_EQ(Rotated(f, r90, whole.data(), 0, im.width), 1);
        EXPECT_EQ(whole, want);
        // Chunks of 5 and 13 lines straddle tile columns and byte groups of 8.
        for (int step : {5, 13}) {
            Bytes pieces(want.size(), 0xA5);
            for (int first = 0; first < im.width; first += step) {
                const int n = std::min(step, im.width - first);
                ASSERT_EQ(Rotated(f, r90, pieces.data() + first * e, first, n), 1);
            }
            EXPECT_EQ(pieces, want) << "chunks of " << step;
        }
    }
    // Sequential reading resumes after SeekLine, in and out of the last tile row read.
    for (int y : {0, im.height - 1, im.height / 2, im.height / 2 + 1}) {
        Bytes row(im.RowBytes() + 64);
        ASSERT_EQ(f.ReadLinesR90(std::vector<uint8_t>(e * 3).data(), im.width - 3, 3), 1);
        ASSERT_EQ(f.SeekLine(y), 1);
        ASSERT_EQ(f.ReadLine(row.data()), 1);
        row.resize(im.RowBytes());
        EXPECT_EQ(row, rows[y]) << "line " << y;
    }
    f.Close();
    std::remove(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(Images, RotateTest, ::testing::Values(
    Image{61, 37, 1, 1, 0, 0, 5},     // bilevel, height not a multiple of 8
    Image{45, 64, 1, 1, 0, 0, 64},    // one strip, height a multiple of 8
    Image{70, 45, 1, 1, 32, 16, 0},   // tiles; height not a multiple of the tile length
    Image{200, 9, 1, 1, 64, 16, 0},   // one tile row, last tile column partial
    Image{23, 19, 1, 8, 0, 0, 4},
    Image{40, 35, 1, 8, 16, 16, 0},
    Image{17, 11, 3, 8, 0, 0, 3},
    Image{33, 20, 3, 8, 16, 16, 0},
    Image{13, 9, 4, 8, 0, 0, 2},
    Image{20, 18, 4, 8, 16, 16, 0}),
    [](const ::testing::TestParamInfo<Image>& i) {
        const Image& m = i.param;
        return std::to_string(m.PixelBits()) + "bit_" + std::to_string(m.width) + "x" +
               std::to_string(m.height) + (m.tileWidth ? "_tiles" + std::to_string(m.tileWidth) + "x" +
                                                             std::to_string(m.tileLength)
                                                       : "_rps" + std::to_string(m.rowsPerStrip));
    });

TEST(Rotate, OtherPixelSizesGiveZeroLines)
{
    const Image im{10, 7, 1, 16, 0, 0, 3};
    const std::string path = TempPath("16.tif");
    ASSERT_TRUE(WriteImage(path, im, 3));
    CTifFile f;
    ASSERT_EQ(f.Open(path.c_str()), 1);
    Bytes out(size_t(LineBytes(im)) * 4, 0xA5);
    EXPECT_EQ(f.ReadLinesR90(out.data(), 2, 4), 1);
    EXPECT_EQ(out, Bytes(out.size(), 0));
    std::fill(out.begin(), out.end(), 0xA5);
    EXPECT_EQ(f.ReadLinesR270(out.data(), 6, 4), 1);
    EXPECT_EQ(out, Bytes(out.size(), 0));
    std::remove(path.c_str());
}

TEST(Rotate, ArgumentsOutsideTheImageAreRefusedUntouched)
{
    const Image im{20, 10, 1, 8, 16, 16, 0};
    const std::string path = TempPath("args.tif");
    ASSERT_TRUE(WriteImage(path, im, 5));
    CTifFile f;
    ASSERT_EQ(f.Open(path.c_str()), 1);
    Bytes out(10 * 40, 0xA5);
    const Bytes untouched = out;
    for (bool r90 : {true, false}) {
        EXPECT_EQ(Rotated(f, r90, out.data(), -1, 2), 0);
        EXPECT_EQ(Rotated(f, r90, out.data(), 19, 2), 0);
        EXPECT_EQ(Rotated(f, r90, out.data(), 21, 0), 0);
        EXPECT_EQ(Rotated(f, r90, out.data(), 0x7FFFFFFF, 1), 0);
        EXPECT_EQ(Rotated(f, r90, out.data(), 3, 0), 1);
        EXPECT_EQ(Rotated(f, r90, out.data(), 20, -4), 1);
        EXPECT_EQ(out, untouched);
    }
    CTifFile closed;
    EXPECT_EQ(closed.ReadLinesR90(out.data(), 0, 1), 0);
    std::remove(path.c_str());
}

// Whatever stride the caller set, rows are decoded without overlap or overflow
// and the caller's stride is kept.
TEST(Rotate, CallerStrideDoesNotMatter)
{
    const Image im{50, 21, 1, 8, 0, 0, 4};
    const std::string path = TempPath("stride.tif");
    ASSERT_TRUE(WriteImage(path, im, 9));
    CTifFile f;
    ASSERT_EQ(f.Open(path.c_str()), 1);
    const Bytes want = Reference(PlainRows(f, im), im, true);
    for (int stride : {7, 50, 83}) {
        f.SetBufRowBytes(stride);
        Bytes out(want.size());
        ASSERT_EQ(f.ReadLinesR90(out.data(), 0, im.width), 1);
        EXPECT_EQ(out, want) << "stride " << stride;
        EXPECT_EQ(f.m_nBufRowBytes, stride);
    }
    std::remove(path.c_str());
}

// A file cut short inside its last strip or tile (after the directory was read).
TEST(Rotate, TruncatedDataFails)
{
    for (Image im : {Image{64, 40, 1, 1, 0, 0, 8}, Image{64, 40, 1, 1, 32, 16, 0}}) {
        const std::string path = TempPath("cut.tif");
        ASSERT_TRUE(WriteImage(path, im, 11));
        TIFF* t = TIFFOpen(path.c_str(), "r");
        ASSERT_NE(t, nullptr);
        uint64_t* offsets = nullptr;
        ASSERT_TRUE(TIFFGetField(t, im.tileWidth ? TIFFTAG_TILEOFFSETS : TIFFTAG_STRIPOFFSETS, &offsets));
        const int last = static_cast<int>((im.tileWidth ? TIFFNumberOfTiles(t) : TIFFNumberOfStrips(t)) - 1);
        const off_t cut = static_cast<off_t>(offsets[last] + 3);
        TIFFClose(t);
        CTifFile f;
        ASSERT_EQ(f.Open(path.c_str()), 1);
        ASSERT_EQ(truncate(path.c_str(), cut), 0);
        Bytes buf(size_t(LineBytes(im)) * im.width);
        EXPECT_EQ(f.ReadLinesR90(buf.data(), 0, im.width), 0);
        EXPECT_EQ(f.ReadLinesR270(buf.data(), 0, 4), 0);  // right tile column
        std::remove(path.c_str());
    }
}

}  // namespace
