// Rotated reading checked against rotations computed from plainly read lines.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "support/libtiff_util.h"
#include "support/temp_dir.h"
#include "tif/tif_file.h"

namespace {

using namespace tiftest;

struct Img {
    std::string name;
    LibtiffPage s;
};

void PrintTo(const Img& i, std::ostream* os) { *os << i.name; }

// Bilevel, grey, RGB or CMYK pixels; strips of `rps` rows or tw × tl tiles; Group 4 when `g4`.
Img Image(uint32_t w, uint32_t h, uint16_t samples, uint16_t bits, uint32_t rps, uint32_t tw = 0, uint32_t tl = 0, bool g4 = false)
{
    Img i{std::to_string(w) + "x" + std::to_string(h) + "x" + std::to_string(samples * bits) + (tw ? "_tiled" : "") + (g4 ? "_G4" : ""), {}};
    LibtiffPage& s = i.s;
    s.width = w, s.height = h, s.samples = samples, s.bits = bits, s.rowsPerStrip = rps, s.tileWidth = tw, s.tileLength = tl;
    s.photometric = g4 ? 0 : samples == 3 ? 2 : samples == 4 ? 5 : 1;
    s.compression = g4 ? 4 : 1;
    return i;
}

std::string Write(const TempDir& dir, const LibtiffPage& s)
{
    std::vector<Bytes> rows(s.height);
    for (uint32_t y = 0; y < s.height; ++y)
        rows[y] = PatternRows(s.RowBytes(), 1, y * 7 + s.width);
    const std::string path = dir.Path("img.tif");
    EXPECT_TRUE(WriteLibtiff(path, s, rows));
    return path;
}

std::vector<Bytes> PlainRows(CTifFile& f, const LibtiffPage& s)
{
    std::vector<Bytes> rows(s.height, Bytes(s.RowBytes() + 64));  // tiled lines may be whole tile rows
    EXPECT_EQ(f.SeekLine(0), 1);
    for (auto& row : rows) {
        EXPECT_EQ(f.ReadLine(row.data()), 1);
        row.resize(s.RowBytes());
    }
    return rows;
}

size_t LineBytes(const LibtiffPage& s)
{
    return (size_t(s.height) * s.samples * s.bits + 7) / 8;
}

// The rotated image, bit by bit.
Bytes Reference(const std::vector<Bytes>& rows, const LibtiffPage& s, bool r90)
{
    const size_t e = LineBytes(s);
    const size_t bits = size_t(s.samples) * s.bits;
    Bytes out(s.width * e, 0);
    for (uint32_t line = 0; line < s.width; ++line) {
        const uint32_t c = r90 ? line : s.width - 1 - line;
        for (uint32_t p = 0; p < s.height; ++p) {
            const Bytes& row = rows[r90 ? s.height - 1 - p : p];
            for (size_t from = c * bits, to = p * bits; from < (c + 1) * bits; ++from, ++to)
                if (row[from / 8] & (0x80 >> (from % 8)))
                    out[line * e + to / 8] |= 0x80 >> (to % 8);
        }
    }
    return out;
}

int Rotated(CTifFile& f, bool r90, void* buffer, int first, int count)
{
    return r90 ? f.ReadLinesR90(buffer, first, count) : f.ReadLinesR270(buffer, first, count);
}

class RotateTest : public ::testing::TestWithParam<Img> {};

TEST_P(RotateTest, MatchesPlainReadingWholeAndInChunks)
{
    const LibtiffPage& s = GetParam().s;
    TempDir dir;
    CTifFile f;
    ASSERT_EQ(f.Open(Write(dir, s).c_str()), 1);
    const std::vector<Bytes> rows = PlainRows(f, s);
    const size_t e = LineBytes(s);
    for (bool r90 : {true, false}) {
        SCOPED_TRACE(r90 ? "R90" : "R270");
        const Bytes want = Reference(rows, s, r90);
        Bytes got(want.size(), 0xA5);
        ASSERT_EQ(Rotated(f, r90, got.data(), 0, s.width), 1);
        EXPECT_EQ(got, want);
        // Chunks of 5 and 13 lines straddle tile columns and groups of 8 columns.
        for (int step : {5, 13}) {
            std::fill(got.begin(), got.end(), 0xA5);
            for (int first = 0; first < int(s.width); first += step)
                ASSERT_EQ(Rotated(f, r90, &got[first * e], first, std::min<int>(step, s.width - first)), 1);
            EXPECT_EQ(got, want) << "chunks of " << step;
        }
    }
    // Line reading resumes after SeekLine, in and out of the tile row last read.
    Bytes scratch(e * 3), row(s.RowBytes() + 64);
    for (uint32_t y : {0u, s.height - 1, s.height / 2, s.height / 2 + 1}) {
        ASSERT_EQ(f.ReadLinesR90(scratch.data(), s.width - 3, 3), 1);
        ASSERT_EQ(f.SeekLine(y), 1);
        ASSERT_EQ(f.ReadLine(row.data()), 1);
        EXPECT_TRUE(std::equal(rows[y].begin(), rows[y].end(), row.begin())) << "line " << y;
    }
    // The caller's stride, below or above the row bytes, neither matters nor changes.
    const Bytes want = Reference(rows, s, true);
    for (int stride : {1, int(s.RowBytes()) + 9}) {
        f.SetBufRowBytes(stride);
        Bytes got(want.size());
        ASSERT_EQ(f.ReadLinesR90(got.data(), 0, s.width), 1);
        EXPECT_EQ(got, want) << "stride " << stride;
        EXPECT_EQ(f.m_nBufRowBytes, stride);
    }
}

INSTANTIATE_TEST_SUITE_P(Images, RotateTest, ::testing::Values(
    Image(61, 37, 1, 1, 5),          // bilevel, height not a multiple of 8
    Image(45, 64, 1, 1, 64),
    Image(70, 45, 1, 1, 0, 32, 16),  // height not a multiple of the tile length
    Image(200, 9, 1, 1, 0, 64, 16),  // one tile row, last tile column partial
    Image(203, 77, 1, 1, 30, 0, 0, true),
    Image(100, 50, 1, 1, 0, 32, 16, true),
    Image(23, 19, 1, 8, 4),
    Image(40, 35, 1, 8, 0, 16, 16),
    Image(17, 11, 3, 8, 3),
    Image(33, 20, 3, 8, 0, 16, 16),
    Image(13, 9, 4, 8, 2),
    Image(20, 18, 4, 8, 0, 16, 16),
    // Lines of 2- and 4-bit pixels end inside a byte; 21x7x2 has two 1-bit samples.
    Image(61, 37, 1, 2, 5), Image(50, 21, 1, 2, 0, 16, 16), Image(21, 7, 2, 1, 3),
    Image(29, 13, 1, 4, 4), Image(47, 33, 1, 4, 0, 32, 16),
    Image(10, 7, 1, 16, 3), Image(37, 19, 1, 16, 0, 16, 16),
    Image(15, 11, 3, 16, 2), Image(34, 17, 3, 16, 0, 16, 16), Image(9, 5, 4, 16, 2), Image(11, 7, 5, 8, 3)),
    [](const ::testing::TestParamInfo<Img>& i) { return i.param.name; });

TEST(Rotate, BadArgumentsAndPixelsStraddlingBytes)
{
    TempDir dir;
    CTifFile f;
    ASSERT_EQ(f.Open(Write(dir, Image(10, 7, 1, 16, 3).s).c_str()), 1);
    Bytes out(14 * 4, 0xA5);
    for (bool r90 : {true, false}) {
        // Arguments outside the image: refused, buffer untouched.
        for (auto [first, count] : {std::pair{-1, 2}, {9, 2}, {11, 0}, {0x7FFFFFFF, 1}})
            EXPECT_EQ(Rotated(f, r90, out.data(), first, count), 0) << first << "+" << count;
        EXPECT_EQ(Rotated(f, r90, out.data(), 10, -4), 1);
    }
    // Pixels of 6 and 12 bits are refused (R270 with lines, R90 with none).
    for (const Img& i : {Image(10, 7, 3, 2, 3), Image(10, 7, 1, 12, 3)}) {
        f.Close();
        ASSERT_EQ(f.Open(Write(dir, i.s).c_str()), 1) << i.name;
        for (int count : {4, 0})
            EXPECT_EQ(Rotated(f, count == 0, out.data(), 6, count), 0) << i.name;
    }
    EXPECT_EQ(out, Bytes(out.size(), 0xA5));
    EXPECT_EQ(CTifFile().ReadLinesR90(out.data(), 0, 1), 0);
}

// A file cut short inside its last strip or tile after it was opened.
TEST(Rotate, TruncatedDataFails)
{
    for (const Img& i : {Image(64, 40, 1, 1, 8), Image(64, 40, 1, 1, 0, 32, 16)}) {
        const LibtiffPage& s = i.s;
        TempDir dir;
        const std::string path = Write(dir, s);
        CTifFile f;
        ASSERT_EQ(f.Open(path.c_str()), 1);
        const uint32_t last = f.m_nStrips - 1;
        ASSERT_EQ(truncate(path.c_str(), off_t(f.m_pStripOffsets[last] + 3)), 0);
        Bytes out(LineBytes(s) * s.width);
        EXPECT_EQ(f.ReadLinesR90(out.data(), 0, s.width), 0);
        EXPECT_EQ(f.ReadLinesR270(out.data(), 0, 4), 0);  // right tile column
    }
}

}  // namespace
