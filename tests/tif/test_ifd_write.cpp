// Directory writing on exact bytes: the header, entry order, inline and
// out-of-line values at multiples of 4, RATIONAL resolutions, BitsPerSample
// per sample, ColorMap sizes, and the Predictor entry only for a value the
// encoder took.
#include <cstdlib>
#include <map>
#include <tuple>

#include <gtest/gtest.h>

#include "support/libtiff_util.h"
#include "support/temp_dir.h"
#include "support/tif_builder.h"
#include "support/write_info.h"
#include "tif/tif_file.h"

namespace {

using namespace tiftest;

uint32_t Get(const Bytes& b, size_t at, int width)
{
    uint32_t v = 0;
    for (int i = width - 1; i >= 0; --i)
        v = (v << 8) | b[at + size_t(i)];
    return v;
}

struct Entry {
    uint16_t type;
    uint32_t count;
    std::vector<uint32_t> v;   // the values (RATIONAL: numerator, denominator, ...)
};

// The directory of a little-endian file, by tag; checks what every written
// directory must be: "II", ascending tags, out-of-line values at multiples of 4.
std::map<int, Entry> Directory(const Bytes& file)
{
    std::map<int, Entry> dir;
    EXPECT_EQ(Get(file, 0, 2), 0x4949u);
    EXPECT_EQ(Get(file, 2, 2), 42u);
    const uint32_t at = Get(file, 4, 4);
    EXPECT_EQ(at % 4, 0u);
    const uint32_t n = Get(file, at, 2);
    EXPECT_EQ(file.size(), at + 2 + 12 * n + 4) << "the directory ends the file";
    EXPECT_EQ(Get(file, at + 2 + 12 * n, 4), 0u);
    int last = -1;
    for (uint32_t i = 0; i < n; ++i) {
        const size_t e = at + 2 + 12 * i;
        const int tag = int(Get(file, e, 2));
        EXPECT_GT(tag, last);
        last = tag;
        Entry& d = dir[tag];
        d.type = uint16_t(Get(file, e + 2, 2));
        d.count = Get(file, e + 4, 4);
        const uint32_t field = Get(file, e + 8, 4);
        const int width = d.type == kShort ? 2 : 4;
        const uint32_t values = d.type == kRational ? 2 * d.count : d.count;
        const bool inLine = d.type != kRational && values * width <= 4;
        EXPECT_TRUE(inLine || field % 4 == 0) << tag;
        for (uint32_t k = 0; k < values; ++k)
            d.v.push_back(Get(file, (inLine ? e + 8 : field) + k * width, width));
    }
    return dir;
}

// Writes the image with zero rows; `before` runs between Create and the lines.
template <class F>
Bytes Write(VXIMGINFO info, F before)
{
    TempDir dir;
    const std::string path = dir.Path("w.tif");
    CTifFile f;
    EXPECT_EQ(f.Create(path.c_str(), &info), 1);
    before(f);
    Bytes rows(size_t(f.m_nRowBytes) * info.nHeight);
    EXPECT_EQ(f.WriteLines(rows.data(), info.nHeight), info.nHeight);
    EXPECT_EQ(f.Close(), 1);
    return ReadFileBytes(path);
}

Bytes Write(VXIMGINFO info) { return Write(info, [](CTifFile&) {}); }

TEST(IfdWrite, OneStripGreyWithResolutionsOnExactBytes)
{
    VXIMGINFO info = WriteInfo(VXIMG_MINISBLACK, 1001, 1, 1, 8);
    info.dXResolution = 300, info.dYResolution = 72.5;
    const Bytes file = Write(info);
    // Data 16..1017 (behind room for a BigTIFF header), then XResolution at
    // 1020, YResolution at 1028, directory at 1036.
    ASSERT_EQ(file.size(), 1036u + 2 + 13 * 12 + 4);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 16), (Bytes{'I', 'I', 42, 0, 0x0C, 0x04, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    const uint32_t want[][4] = {
        {254, kLong, 1, 0},     {256, kLong, 1, 1001},  {257, kLong, 1, 1},      {258, kShort, 1, 8},
        {259, kShort, 1, 1},    {262, kShort, 1, 1},    {273, kLong, 1, 16},     {277, kShort, 1, 1},
        {278, kLong, 1, 1},     {279, kLong, 1, 1001},  {282, kRational, 1, 1020}, {283, kRational, 1, 1028},
        {296, kShort, 1, 2},
    };
    TiffBuilder le;
    Bytes tail = le.Encode({300, 1, 72500, 1000}, 4);  // the two RATIONALs, then 13 entries
    tail.push_back(13), tail.push_back(0);
    for (auto& w : want)
        for (Bytes part : {le.Encode({w[0], w[1]}, 2), le.Encode({w[2], w[3]}, 4)})
            tail.insert(tail.end(), part.begin(), part.end());
    tail.insert(tail.end(), 4, 0);
    EXPECT_EQ(Bytes(file.begin() + 1020, file.end()), tail);
    EXPECT_EQ(Bytes(file.begin() + 1017, file.begin() + 1020), Bytes(3, 0)) << "alignment gap";
}

TEST(IfdWrite, ArraysInLineOrOutOfLine)
{
    // Two strips of 6 bytes: offsets and counts out of line; three samples:
    // BitsPerSample out of line; two samples: both in the entry.
    auto rgb = Directory(Write(WriteInfo(VXIMG_RGB, 2, 2, 3, 8, 1, 1)));
    EXPECT_EQ(rgb[273].v, (std::vector<uint32_t>{16, 22}));
    EXPECT_EQ(rgb[279].v, (std::vector<uint32_t>{6, 6}));
    EXPECT_EQ(rgb[258].v, (std::vector<uint32_t>{8, 8, 8}));
    auto two = Directory(Write(WriteInfo(VXIMG_MINISBLACK, 3, 1, 2, 16)));
    EXPECT_EQ(two[258].v, (std::vector<uint32_t>{16, 16}));
    EXPECT_EQ(two.count(282) + two.count(296), 0u) << "no resolution, no unit";
}

TEST(IfdWrite, ColorMapHoldsExactlyThreeTimesTwoToTheBits)
{
    // A full 8-bit map; too few colours (padded with black), too many (cut),
    // none (all black).
    const struct { int bits, colors; } cases[] = {{8, 256}, {8, 16}, {4, 300}, {8, 0}};
    for (const auto& c : cases) {
        std::vector<RGBQUAD> colors(size_t(c.colors) + 1);
        for (int i = 0; i < c.colors; ++i)
            colors[size_t(i)] = RGBQUAD{uint8_t(i), uint8_t(255 - i), uint8_t(i * 7), 0};
        auto d = Directory(Write(WriteInfo(VXIMG_PALETTE, 5, 2, 1, c.bits), [&](CTifFile& f) {
            f.SetColorMap(c.colors, colors.data());
            f.SetColorMap(0, colors.data());  // these change nothing
            f.SetColorMap(-1, colors.data());
            f.SetColorMap(3, nullptr);
        }));
        const size_t n = size_t(1) << c.bits;
        std::vector<uint32_t> want(3 * n, 0);
        for (size_t i = 0; i < n && i < size_t(c.colors); ++i)
            want[i] = colors[i].rgbRed * 257u, want[n + i] = colors[i].rgbGreen * 257u, want[2 * n + i] = colors[i].rgbBlue * 257u;
        EXPECT_EQ(d[320].type, kShort);
        EXPECT_EQ(d[320].v, want) << c.bits << " " << c.colors;
    }
}

// Predictor (LZW, Deflate) and T4Options (Group 3) reach the directory only
// when the encoder took them, and only when they are not the default.
TEST(IfdWrite, EncodingParameterOnlyWhenTheEncoderTookIt)
{
    struct Case {
        int compression, bits, tag;
        unsigned value;
        int taken;
    } cases[] = {{32946, 8, 317, 2, 1}, {32946, 16, 317, 2, 1}, {32946, 4, 317, 2, 0}, {32946, 8, 317, 3, 0},
                 {32946, 8, 317, 0x10002, 0}, {32946, 8, 317, 1, 1}, {5, 8, 317, 2, 1}, {5, 4, 317, 2, 0}, {8, 8, 317, 2, 1},
                 {1, 8, 317, 2, 1}, {32773, 8, 317, 2, 1}, {3, 1, 292, 1, 1}, {3, 1, 292, 5, 1}, {3, 1, 292, 0, 1},
                 {3, 1, 292, 8, 0}, {3, 1, 292, 0xFFFFFFFF, 0}, {4, 1, 292, 1, 1}};
    for (const Case& c : cases) {
        const int other = c.tag == 317 ? 292 : 317;
        auto d = Directory(Write(WriteInfo(c.bits == 1 ? VXIMG_MINISWHITE : VXIMG_MINISBLACK, 9, 4, 1, c.bits, c.compression),
                                 [&](CTifFile& f) {
            EXPECT_EQ(f.SetEncodeParams(unsigned(c.tag), c.value), c.taken) << c.compression << " " << c.value;
            EXPECT_EQ(f.SetEncodeParams(unsigned(other), 1), 1) << "other tags are ignored";
        }));
        const bool owner = c.tag == 317 ? c.compression == 32946 || c.compression == 8 || c.compression == 5 : c.compression == 3;
        const bool entry = owner && c.taken && c.value != (c.tag == 317 ? 1u : 0u);
        ASSERT_EQ(d.count(c.tag), entry ? 1u : 0u) << c.compression << " " << c.bits << " " << c.value;
        if (entry) {
            EXPECT_EQ(d[c.tag].type, c.tag == 317 ? kShort : kLong);
            EXPECT_EQ(d[c.tag].v, std::vector<uint32_t>{c.value});
        }
        EXPECT_EQ(d.count(other), 0u);
    }
}

// SetTag: the values as given, ResolutionUnit deciding how the resolutions
// are written, ExtraSamples unspecified unless set; libtiff reads it all
// without a word.
TEST(IfdWrite, SetTagWritesTheValuesGiven)
{
    VXIMGINFO rgba = WriteInfo(VXIMG_RGB, 3, 2, 4, 8);
    rgba.dXResolution = 254, rgba.dYResolution = 127;
    const uint16_t six = 6, cm = 3, none = 1, alpha = 2, page[2] = {4, 9};
    const uint32_t position[2] = {3, 2};
    TempDir dir;
    const Bytes file = Write(rgba, [&](CTifFile& f) {
        EXPECT_EQ(f.SetTag(274, 3, 1, &six), 1);
        EXPECT_EQ(f.SetTag(296, 3, 1, &cm), 1);
        EXPECT_EQ(f.SetTag(338, 3, 1, &alpha), 1);
        EXPECT_EQ(f.SetTag(286, 5, 1, position), 1);
        EXPECT_EQ(f.SetTag(297, 3, 2, page), 1);  // a file of one page keeps it
    });
    auto d = Directory(file);
    EXPECT_EQ(d[274].v, std::vector<uint32_t>{6});
    EXPECT_EQ(d[338].v, std::vector<uint32_t>{2});
    EXPECT_EQ(d[286].v, (std::vector<uint32_t>{3, 2}));
    EXPECT_EQ(d[297].v, (std::vector<uint32_t>{4, 9}));
    EXPECT_EQ(d[296].v, std::vector<uint32_t>{3});
    EXPECT_EQ(d[282].v, (std::vector<uint32_t>{100, 1}));  // 254 per inch, 100 per centimetre
    EXPECT_EQ(d[283].v, (std::vector<uint32_t>{50, 1}));
    std::vector<Bytes> rows;
    std::string complaints;
    EXPECT_TRUE(ReadLibtiffStrict(dir.Write("t.tif", file), &rows, &complaints));
    EXPECT_EQ(complaints, "");
    auto plain = Directory(Write(rgba));
    EXPECT_EQ(plain[338].v, std::vector<uint32_t>{0});
    EXPECT_EQ(plain[296].v, std::vector<uint32_t>{2});
    EXPECT_EQ(plain.count(274), 0u);
    auto aspect = Directory(Write(rgba, [&](CTifFile& f) { EXPECT_EQ(f.SetTag(296, 3, 1, &none), 1); }));
    EXPECT_EQ(aspect[282].v, (std::vector<uint32_t>{254, 1}));
    EXPECT_EQ(aspect[296].v, std::vector<uint32_t>{1});
}

// Text, floating-point samples and the other field types come back as given;
// a page's tags are its own, and the writer numbers the pages of a file of
// several in place of a PageNumber set on the first.
TEST(IfdWrite, SetTagRoundTripsEveryTypeOnItsPageOnly)
{
    TempDir dir;
    const std::string path = dir.Path("f.tif");
    VXIMGINFO gray = WriteInfo(VXIMG_MINISBLACK, 2, 1, 1, 32);
    const uint16_t ieee = 3, page[2] = {4, 9};
    const double dbl = -1.5;
    const int16_t ss[2] = {-2, 7};
    const float fl = 0.25f, px[2] = {0.5f, -2.0f};
    const int32_t sr[2] = {-1, 3};
    CTifFile f;
    ASSERT_EQ(f.Create(path.c_str(), &gray), 1);
    for (auto [tag, type, count, values] : std::vector<std::tuple<int, int, int, const void*>>{
             {339, 3, 1, &ieee}, {270, 2, 4, "old"}, {270, 2, 6, "float"}, {40000, 12, 1, &dbl},
             {40001, 8, 2, ss}, {40002, 11, 1, &fl}, {40003, 10, 1, sr}, {297, 3, 2, page}})
        EXPECT_EQ(f.SetTag(tag, type, count, values), 1) << tag;
    ASSERT_EQ(f.WriteLine(const_cast<float*>(px)), 1);
    ASSERT_EQ(f.AddPage(&gray), 1);
    EXPECT_EQ(f.SetTag(297, 3, 2, page), 0) << "the writer numbers the pages";
    ASSERT_EQ(f.WriteLine(const_cast<float*>(px)), 1);
    ASSERT_EQ(f.Close(), 1);

    ASSERT_EQ(f.Open(path.c_str()), 1);
    char* text = nullptr;
    ASSERT_EQ(f.GetTagText(270, &text), 1);
    EXPECT_STREQ(text, "float");
    std::free(text);
    auto data = [&](int tag, int type, size_t bytes) {
        int t = 0, n = 0;
        void* v = nullptr;
        EXPECT_EQ(f.GetTagData(tag, &t, &n, &v), 1) << tag;
        EXPECT_EQ(t, type) << tag;
        const auto* b = static_cast<unsigned char*>(v);
        Bytes got = v != nullptr ? Bytes(b, b + bytes) : Bytes();
        std::free(v);
        return got;
    };
    auto bytes = [](const void* v, size_t n) { return Bytes(static_cast<const uint8_t*>(v), static_cast<const uint8_t*>(v) + n); };
    EXPECT_EQ(data(339, 3, 2), bytes(&ieee, 2));
    EXPECT_EQ(data(40000, 12, 8), bytes(&dbl, 8));
    EXPECT_EQ(data(40001, 8, 4), bytes(ss, 4));
    EXPECT_EQ(data(40002, 11, 4), bytes(&fl, 4));
    EXPECT_EQ(data(40003, 10, 8), bytes(sr, 8));
    const uint16_t first[2] = {0, 2}, second[2] = {1, 2};
    EXPECT_EQ(data(297, 3, 4), bytes(first, 4));
    ASSERT_EQ(f.NextPage(), 1);
    EXPECT_EQ(data(297, 3, 4), bytes(second, 4));
    int type, count;
    EXPECT_EQ(f.GetTagInfo(270, &type, &count) + f.GetTagInfo(339, &type, &count), 0);
    std::vector<Bytes> rows;
    ASSERT_TRUE(ReadLibtiff(path, &rows));
    EXPECT_EQ(rows, std::vector<Bytes>{bytes(px, 8)});
}

// What SetTag refuses changes nothing in the directory.
TEST(IfdWrite, SetTagRefusesTheWritersTagsAndBadValues)
{
    struct Case {
        int tag, type, count;
        std::vector<uint16_t> v;
    } cases[] = {
        {256, 4, 1, {9, 0}}, {273, 4, 1, {8, 0}}, {282, 5, 1, {1, 0, 1, 0}}, {317, 3, 1, {2}}, {320, 3, 3, {0, 0, 0}},
        {324, 4, 1, {8, 0}}, {266, 3, 1, {2}}, {34665, 4, 1, {8, 0}}, {40000, 0, 1, {1}}, {40000, 13, 1, {1}},
        {40000, 3, 0, {1}}, {40000, 3, -1, {1}}, {40000, 3, 0x7FFFFFFF, {1}}, {0, 3, 1, {1}}, {270, 2, 2, {0x6261}},
        {274, 3, 1, {9}}, {274, 4, 1, {1, 0}}, {296, 3, 1, {4}}, {297, 3, 1, {1}}, {338, 3, 1, {2}},
        {339, 3, 1, {3}}, {339, 3, 3, {1, 2, 1}}, {339, 3, 1, {4}}, {339, 1, 1, {2}},
    };
    auto d = Directory(Write(WriteInfo(VXIMG_RGB, 3, 2, 3, 8), [&](CTifFile& f) {
        for (const Case& c : cases)
            EXPECT_EQ(f.SetTag(c.tag, c.type, c.count, c.v.data()), 0) << c.tag << " " << c.type << " " << c.count;
        EXPECT_EQ(f.SetTag(270, 2, 1, nullptr), 0);
    }));
    for (int tag : {266, 270, 274, 297, 317, 320, 324, 338, 339, 34665, 40000})
        EXPECT_EQ(d.count(tag), 0u) << tag;
    CTifFile reading;
    const uint16_t one = 1;
    EXPECT_EQ(reading.SetTag(274, 3, 1, &one), 0);
}

}  // namespace
