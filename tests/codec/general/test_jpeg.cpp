// test_jpeg.cpp — damaged and hostile JPEG pages: the damage stays in its
// strip and its lines are counted; frames that do not match the directory,
// streams of too many scans and coefficient buffers past the limit are refused.
#include <gtest/gtest.h>

#if defined(VXTIFF_TEST_WITH_JPEG)
#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>

#include <algorithm>
#include <functional>

#include "support/libtiff_util.h"
#include "support/temp_dir.h"
#include "tif/tif_file.h"

using namespace tiftest;

namespace {

constexpr uint32_t kWidth = 96, kRows = 64, kStrips = 4;  // strips of four bands of 2x2 blocks

// Offset of the first marker `code` in `s` from `from` on (markers are never
// stuffed into entropy-coded data), or the size.
size_t Marker(const Bytes& s, uint8_t code, size_t from = 0)
{
    for (size_t i = from; i + 1 < s.size(); ++i)
        if (s[i] == 0xFF && s[i + 1] == code)
            return i;
    return s.size();
}

// A page of `strips` (stored as given) under `tables`, YCbCr 2x2 or grey;
// the last strip's byte count claims `more` bytes beyond it.
Bytes Page(const std::vector<Bytes>& strips, const Bytes& tables, bool grey, uint32_t width, uint32_t height,
           uint32_t more = 0)
{
    TiffBuilder b;
    std::vector<uint32_t> offsets, counts;
    for (const Bytes& s : strips)
        offsets.push_back(b.AddData(s)), counts.push_back(uint32_t(s.size()));
    b.Add(kTagImageWidth, kLong, {width}).Add(kTagImageLength, kLong, {height});
    b.Add(kTagBitsPerSample, kShort, std::vector<uint32_t>(grey ? 1 : 3, 8)).Add(kTagCompression, kShort, {7});
    b.Add(kTagPhotometric, kShort, {grey ? 1u : 6u}).Add(kTagStripOffsets, kLong, offsets);
    b.Add(kTagSamplesPerPixel, kShort, {grey ? 1u : 3u}).Add(kTagRowsPerStrip, kLong, {height / uint32_t(strips.size())});
    counts.back() += more;
    b.Add(kTagStripByteCounts, kLong, counts);
    if (!tables.empty())
        b.Add(347, kUndefined, std::vector<uint32_t>(tables.begin(), tables.end()));
    return b.Build();
}

// A stream of `components` (1 grey, 3 RGB stored as YCbCr 2x2), libjpeg's
// baseline or simple progression.
Bytes Encode(uint32_t width, uint32_t height, int components, bool progressive, int quality = 75)
{
    jpeg_compress_struct c;
    jpeg_error_mgr e;
    c.err = jpeg_std_error(&e);
    jpeg_create_compress(&c);
    unsigned char* mem = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &mem, &size);
    c.image_width = width, c.image_height = height, c.input_components = components;
    c.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    if (progressive)
        jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    Bytes row(width * uint32_t(components));
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < row.size(); ++x)
            row[x] = uint8_t(x * 3 + y * 5);
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    Bytes out(mem, mem + size);
    std::free(mem);
    jpeg_destroy_compress(&c);
    return out;
}

// The rows libjpeg decodes from a whole stream (YCbCr as RGB).
std::vector<Bytes> Decode(const Bytes& stream)
{
    jpeg_decompress_struct d;
    jpeg_error_mgr e;
    d.err = jpeg_std_error(&e);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, stream.data(), stream.size());
    jpeg_read_header(&d, TRUE);
    jpeg_start_decompress(&d);
    std::vector<Bytes> rows(d.output_height, Bytes(size_t(d.output_width) * d.output_components));
    for (Bytes& r : rows) {
        JSAMPROW p = r.data();
        jpeg_read_scanlines(&d, &p, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    return rows;
}

// Reads every line as the salvaging reader does (a line that fails skips to
// the next strip) into `rows`; returns the failure of the last failed read.
// With `seek`, its line is first sought and read.
struct Seek {
    int line;
    int found;  // SeekLine's result
    Bytes row;  // empty when not read
};
int ReadAll(const std::string& path, uint32_t height, uint32_t rowsPerStrip, std::vector<Bytes>* rows, int* damaged,
            int* first, Seek* seek = nullptr)
{
    CTifFile f;
    EXPECT_EQ(f.Open(path.c_str()), 1) << CTifFile::GetLastFailure();
    int failure = VXTIFF_FAIL_NONE;
    rows->assign(height, Bytes());
    Bytes line(size_t(f.m_nRowBytes));
    if (seek != nullptr) {
        seek->found = f.SeekLine(seek->line);
        seek->row = seek->found == 1 && f.ReadLine(line.data()) == 1 ? line : Bytes();
        f.SeekLine(0);
    }
    for (uint32_t y = 0; y < height && f.m_pDecoder != nullptr;) {
        if (f.ReadLine(line.data()) == 1) {
            (*rows)[y++] = line;
            continue;
        }
        failure = CTifFile::GetLastFailure();
        y = (y / rowsPerStrip + 1) * rowsPerStrip;
        if (y < height)
            f.SeekLine(int(y));
    }
    *damaged = f.GetDamagedLines(first);
    return failure;
}

struct Damage {
    const char* name;
    std::function<void(Bytes&)> edit;  // on strip 2's stored bytes
    int failure;                       // of the read that stopped in strip 2; NONE: it did not stop
    bool wholeStrip;                   // every line of strip 2 counted
};

// A libtiff-written page whose strip 2 is damaged: strips 0, 1 and 3 read as
// libtiff reads the sound page, strip 2's lines are counted from its first.
TEST(JpegDamage, StaysInItsStripAndIsCounted)
{
    LibtiffPage s;
    s.width = kWidth, s.height = kRows * kStrips, s.samples = 3, s.photometric = 6, s.compression = 7;
    s.rowsPerStrip = kRows;
    std::vector<Bytes> rows;
    for (uint32_t y = 0; y < s.height; ++y)
        rows.push_back(PatternRows(s.RowBytes(), 1, y / 4));
    TempDir dir;
    const std::string sound = dir.Path("sound.tif");
    ASSERT_TRUE(WriteLibtiff(sound, s, rows));
    std::vector<Bytes> want, strips;
    ASSERT_TRUE(ReadLibtiff(sound, &want));
    CTifFile f;
    ASSERT_EQ(f.Open(sound.c_str()), 1);
    for (uint32_t k = 0; k < kStrips; ++k) {
        strips.emplace_back(size_t(f.GetRawStripSize(int(k))));
        ASSERT_EQ(f.ReadRawStrip(int(k), 0, strips.back().data(), int(strips.back().size())), int(strips[k].size()));
    }
    unsigned char* tablesBytes = nullptr;
    int count = 0;
    ASSERT_EQ(f.GetTagBytes(347, &count, &tablesBytes), 1);
    const Bytes tables(tablesBytes, tablesBytes + count);
    std::free(tablesBytes);
    const size_t sos = Marker(strips[2], 0xDA);
    ASSERT_LT(sos + 40, strips[2].size());
    ASSERT_LT(Marker(strips[2], 0xC0), sos);

    const Damage cases[] = {
        {"sound", [](Bytes&) {}, VXTIFF_FAIL_NONE, false},
        // Tables of its own, which strip 3 must not inherit.
        {"own tables", [](Bytes& b) { b = Encode(kWidth, kRows, 3, false, 20); }, VXTIFF_FAIL_NONE, false},
        {"truncated", [&](Bytes& b) { b.resize(sos + 30); }, VXTIFF_FAIL_CUT_SHORT, true},
        {"bad marker", [&](Bytes& b) { b[sos + 30] = 0xFF, b[sos + 31] = 0x55; }, VXTIFF_FAIL_BAD_DATA, true},
        {"noise", [&](Bytes& b) { for (size_t i = sos + 20; i < b.size(); i += 7) b[i] ^= 0x5A; }, -1, false},
        {"wider frame", [](Bytes& b) { ++b[Marker(b, 0xC0) + 8]; }, VXTIFF_FAIL_BAD_DATA, true},
        {"taller frame", [](Bytes& b) { b[Marker(b, 0xC0) + 5] = 0, b[Marker(b, 0xC0) + 6] = kRows + 1; },
         VXTIFF_FAIL_BAD_DATA, true},
        {"Cb sampled 2x2", [](Bytes& b) { b[Marker(b, 0xC0) + 14] = 0x22; }, VXTIFF_FAIL_BAD_DATA, true},
        {"grey frame", [](Bytes& b) { b[Marker(b, 0xC0) + 9] = 1; }, VXTIFF_FAIL_BAD_DATA, true},
        {"arithmetic", [](Bytes& b) { b[Marker(b, 0xC0) + 1] = 0xC9; }, VXTIFF_FAIL_BAD_DATA, true},
        {"no SOI", [](Bytes& b) { b[1] = 0x00; }, VXTIFF_FAIL_BAD_DATA, true},
    };
    for (const Damage& d : cases) {
        std::vector<Bytes> page = strips;
        d.edit(page[2]);
        dir.Write("bad.tif", Page(page, tables, false, kWidth, kRows * kStrips));
        std::vector<Bytes> got;
        int damaged = 0, first = -1;
        const int failure = ReadAll(dir.Path("bad.tif"), kRows * kStrips, kRows, &got, &damaged, &first);
        for (uint32_t y = 0; y < s.height; ++y) {
            if (y / kRows != 2) {
                ASSERT_EQ(got[y], want[y]) << d.name << " line " << y;
            }
        }
        if (d.failure != -1) {
            EXPECT_EQ(failure, d.failure) << d.name;
        }
        if (d.failure == VXTIFF_FAIL_NONE) {
            EXPECT_EQ(damaged, 0);
            continue;
        }
        EXPECT_GT(damaged, 0) << d.name;
        EXPECT_TRUE(first >= int(2 * kRows) && first < int(3 * kRows)) << d.name << " " << first;
        if (d.wholeStrip) {
            EXPECT_EQ(damaged, int(kRows)) << d.name;
        }
        // A seek into the strip passes over its lines undecoded: the line
        // sought reads as it does in order, and reading all lines afterwards
        // counts each damaged line once, those passed over included.
        std::vector<Bytes> again;
        int damagedAgain = 0, firstAgain = -1;
        for (const int line : {int(3 * kRows - 3), int(2 * kRows + 40)}) {
            Seek seek{line, -1, {}};
            ReadAll(dir.Path("bad.tif"), kRows * kStrips, kRows, &again, &damagedAgain, &firstAgain, &seek);
            EXPECT_EQ(seek.found, got[size_t(line)].empty() ? 0 : 1) << d.name << " " << line;
            EXPECT_EQ(seek.row, got[size_t(line)]) << d.name << " " << line;
            EXPECT_EQ(again, got) << d.name;
            EXPECT_EQ(damagedAgain, damaged) << d.name << " " << line;
            EXPECT_EQ(firstAgain, first) << d.name << " " << line;
        }
    }

    // Strip 3 runs past the end of the file: strips 0 to 2 are read, its
    // lines counted, and the read fails as cut short.
    std::vector<Bytes> got;
    int damaged = 0, first = -1;
    dir.Write("cut.tif", Page(strips, tables, false, kWidth, kRows * kStrips, 1 << 20));
    EXPECT_EQ(ReadAll(dir.Path("cut.tif"), kRows * kStrips, kRows, &got, &damaged, &first), VXTIFF_FAIL_CUT_SHORT);
    EXPECT_EQ(std::vector<Bytes>(got.begin(), got.begin() + 3 * kRows), std::vector<Bytes>(want.begin(), want.begin() + 3 * kRows));
    EXPECT_EQ(damaged, int(kRows));
    EXPECT_EQ(first, int(3 * kRows));
}

// A stream of 1,000 scans is refused before it is decoded; so is a
// progressive frame whose coefficients need more than the allocation limit.
TEST(JpegDamage, ManyScansAndHugeProgressiveFramesAreRefused)
{
    const Bytes sound = Encode(64, 32, 1, true);
    const size_t eoi = Marker(sound, 0xD9), last = [&] {
        size_t at = 0;
        for (size_t i = Marker(sound, 0xDA); i < eoi; i = Marker(sound, 0xDA, i + 2))
            at = i;
        return at;
    }();
    Bytes many(sound.begin(), sound.begin() + long(eoi));
    for (int k = 0; k < 1000; ++k)
        many.insert(many.end(), sound.begin() + long(last), sound.begin() + long(eoi));
    many.insert(many.end(), {0xFF, 0xD9});
    Bytes huge = sound;
    const size_t sof = Marker(huge, 0xC2);
    huge[sof + 5] = 20000 >> 8, huge[sof + 6] = 20000 & 0xFF, huge[sof + 7] = 20000 >> 8, huge[sof + 8] = 20000 & 0xFF;
    TempDir dir;
    const struct {
        const Bytes& stream;
        uint32_t size[2];
        int damaged;
    } cases[] = {{sound, {64, 32}, 0}, {many, {64, 32}, 32}, {huge, {20000, 20000}, 20000}};
    for (const auto& c : cases) {
        const std::string path = dir.Write("p.tif", Page({c.stream}, {}, true, c.size[0], c.size[1]));
        CTifFile f;
        ASSERT_EQ(f.Open(path.c_str()), 1);
        Bytes line(c.size[0]);
        EXPECT_EQ(f.ReadLine(line.data()), c.damaged ? 0 : 1) << c.size[0];
        if (c.damaged) {
            EXPECT_EQ(CTifFile::GetLastFailure(), VXTIFF_FAIL_BAD_DATA);
        }
        int first = -1;
        EXPECT_EQ(f.GetDamagedLines(&first), c.damaged) << c.size[0];
    }
}

// Old-style JPEG: one stream for the whole image (JPEGInterchangeFormat,
// whatever the strip tags say), or strips that are each a whole stream; both
// read as libjpeg decodes the streams.
TEST(JpegOldStyle, SelfContainedFormsRead)
{
    const Bytes whole = Encode(40, 30, 3, false), top = Encode(40, 16, 3, true), bottom = Encode(40, 14, 3, false);
    std::vector<Bytes> want = Decode(whole), halves = Decode(top), rest = Decode(bottom);
    halves.insert(halves.end(), rest.begin(), rest.end());
    TempDir dir;
    for (bool interchange : {true, false}) {
        TiffBuilder b;
        b.Add(kTagImageWidth, kLong, {40}).Add(kTagImageLength, kLong, {30}).Add(kTagBitsPerSample, kShort, {8, 8, 8});
        b.Add(kTagCompression, kShort, {6}).Add(kTagPhotometric, kShort, {6}).Add(kTagSamplesPerPixel, kShort, {3});
        if (interchange) {
            const uint32_t at = b.AddData(whole);
            b.Add(kTagStripOffsets, kLong, {at + 200}).Add(kTagRowsPerStrip, kLong, {8});  // as some writers did
            b.Add(kTagStripByteCounts, kLong, {uint32_t(whole.size()) - 200});
            b.Add(513, kLong, {at}).Add(514, kLong, {uint32_t(whole.size())});
        } else {
            const uint32_t first = b.AddData(top), second = b.AddData(bottom);
            b.Add(kTagStripOffsets, kLong, {first, second}).Add(kTagRowsPerStrip, kLong, {16});
            b.Add(kTagStripByteCounts, kLong, {uint32_t(top.size()), uint32_t(bottom.size())});
        }
        const std::string path = dir.Write("old.tif", b.Build());
        CTifFile f;
        ASSERT_EQ(f.Open(path.c_str()), 1) << CTifFile::GetLastFailure();
        EXPECT_EQ(f.m_nPhotometric, 2);
        Bytes all(40 * 3 * 30);
        ASSERT_EQ(f.ReadLines(all.data(), 30), 30) << interchange;
        for (uint32_t y = 0; y < 30; ++y)
            EXPECT_EQ(Bytes(all.begin() + y * 120, all.begin() + y * 120 + 120), interchange ? want[y] : halves[y]) << y;
        EXPECT_EQ(f.GetDamagedLines(nullptr), 0);
    }
}

}  // namespace

#endif
