// Directory entries: every field type through GetTagValue, inline and
// out-of-line arrays through every getter, SHORT widened to LONG, both byte
// orders, and arrays that the file cannot hold.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>

#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "support/tif_builder.h"
#include "tif/tif_file.h"

namespace {

using namespace tiftest;

constexpr int kPrivate = 40000;  // tags the reader itself ignores

// A valid 8 × 2 grey image to which each test adds the entries it reads.
TiffBuilder Base(bool big)
{
    TiffBuilder b(big);
    b.StripImage({8, 2, 1, 8, kMinIsBlack, 0}, PatternRows(8, 2));
    return b;
}

class Tags : public ::testing::TestWithParam<bool> {
protected:
    // Opens the built file; the entries are then read straight from it.
    void Open(TiffBuilder& b)
    {
        path_ = dir_.Write("t.tif", b.Build());
        ASSERT_EQ(file_.Open(path_.c_str()), 1);
    }
    bool big() const { return GetParam(); }

    TempDir dir_;
    std::string path_;
    CTifFile file_;
};

INSTANTIATE_TEST_SUITE_P(ByteOrder, Tags, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "MM" : "II"; });

TEST_P(Tags, ValueOfEachType)
{
    struct Case {
        uint16_t type;
        int width;       // bytes the value takes in the field
        uint32_t stored;
        int readable;
        int expected;
    };
    const Case cases[] = {
        {kByte, 1, 0xFE, 1, 0xFE},
        {kAscii, 1, 'A', 1, 'A'},
        {kSByte, 1, 0xFF, 1, 0xFF},          // zero-extended
        {kUndefined, 1, 7, 1, 7},
        {kShort, 2, 0xFFFE, 1, 0xFFFE},
        {kSShort, 2, 0x8001, 1, 0x8001},     // not sign-extended
        {kLong, 4, 0x12345678, 1, 0x12345678},
        {kSLong, 4, 0xFFFFFFFF, 1, -1},
        {kRational, 4, 8, 0, 0},
        {0, 4, 5, 0, 0},
        {10, 4, 5, 0, 0},
        {13, 4, 5, 0, 0},
    };
    TiffBuilder b = Base(big());
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        Bytes f = b.Encode({c.stored}, c.width);
        f.resize(4, 0);
        b.Raw(uint16_t(kPrivate + i), c.type, 1, {f[0], f[1], f[2], f[3]});
    }
    Open(b);
    for (size_t i = 0; i < std::size(cases); ++i) {
        int v = 12345;
        ASSERT_EQ(file_.GetTagValue(int(kPrivate + i), &v), cases[i].readable) << "type " << cases[i].type;
        if (cases[i].readable) {
            EXPECT_EQ(v, cases[i].expected) << "type " << cases[i].type;
        }
    }
    int v;
    EXPECT_EQ(file_.GetTagValue(kPrivate - 1, &v), 0);  // absent
}

// GetTagValue ignores the count, never follows the offset, and takes the first of duplicates.
TEST_P(Tags, ValueFromTheFieldOfTheFirstEntry)
{
    TiffBuilder b = Base(big());
    b.Add(kPrivate, kShort, {7, 9});            // two values inline: the first
    b.Add(kPrivate + 1, kShort, {1, 2, 3, 4});  // out of line: the field's first half
    b.Add(kPrivate + 2, kShort, {1}).Add(kPrivate + 2, kShort, {2});
    Open(b);
    int v;
    ASSERT_EQ(file_.GetTagValue(kPrivate, &v), 1);
    EXPECT_EQ(v, 7);
    unsigned char* e = file_.FindTag(kPrivate + 1);
    ASSERT_NE(e, nullptr);
    ASSERT_EQ(file_.GetTagValue(kPrivate + 1, &v), 1);
    EXPECT_EQ(v, big() ? (e[8] << 8 | e[9]) : (e[8] | e[9] << 8));
    ASSERT_EQ(file_.GetTagValue(kPrivate + 2, &v), 1);
    EXPECT_EQ(v, 1);
    EXPECT_EQ(file_.FindTag(kPrivate + 5), nullptr);
}

// One array getter ('L'ongs, 'S'horts, 'B'ytes, 'R'ationals) on `tag`: the
// values widened, or nothing when it fails (then with a count of 0).
std::optional<std::vector<uint32_t>> GetArray(CTifFile& f, char getter, int tag)
{
    int n = -1, ok = 0;
    std::vector<uint32_t> v;
    auto take = [&](auto* p, int values) {
        if (ok)
            v.assign(p, p + values);
        std::free(p);
    };
    if (getter == 'L') {
        uint32_t* p = reinterpret_cast<uint32_t*>(&n);  // must be replaced, also on failure
        ok = f.GetTagLongs(tag, &n, &p), take(p, n);
    } else if (getter == 'S') {
        uint16_t* p = nullptr;
        ok = f.GetTagShorts(tag, &n, &p), take(p, n);
    } else if (getter == 'B') {
        unsigned char* p = nullptr;
        ok = f.GetTagBytes(tag, &n, &p), take(p, n);
    } else if (getter == 'R') {
        uint32_t* p = nullptr;
        ok = f.GetTagRationals(tag, &n, &p), take(p, 2 * n);
    } else if (getter == 'D') {  // GetTagData of a SHORT, LONG or RATIONAL entry
        void* p = nullptr;
        int type = 0;
        ok = f.GetTagData(tag, &type, &n, &p);
        if (ok && type == kShort)
            take(static_cast<uint16_t*>(p), n);
        else
            take(static_cast<uint32_t*>(p), type == kRational ? 2 * n : n);
    } else {  // 'T': GetTagText, a character a value
        char* p = nullptr;
        ok = f.GetTagText(tag, &p);
        n = ok ? int(std::strlen(p)) : 0;
        take(p, n);
    }
    if (!ok) {
        EXPECT_EQ(n, 0) << tag;
        return std::nullopt;
    }
    return v;
}

TEST_P(Tags, Arrays)
{
    struct Case {
        char getter;
        uint16_t type;
        std::vector<uint32_t> values;
        bool ok;
        uint32_t count = 0, offset = 0;  // count > 0: an entry pointing at `offset` instead
    };
    const Case cases[] = {
        // Longs from SHORT and LONG, inline and out of line, never sign-extended.
        {'L', kShort, {65535}, true},
        {'L', kShort, {1, 65535}, true},
        {'L', kShort, {1, 2, 0x8000, 0xFFFF, 5}, true},
        {'L', kSShort, {0x8000, 0xFFFF}, true},
        {'L', kLong, {0xDEADBEEF}, true},
        {'L', kLong, {1, 0x80000000, 0xFFFFFFFF}, true},
        {'L', kSLong, {0xFFFFFFFF, 2}, true},
        {'L', kByte, {1, 2}, false},
        {'L', kRational, {1, 2}, false},
        {'L', kAscii, {65, 0}, false},
        {'S', kShort, {0x1234, 0xABCD}, true},
        {'S', kShort, {1, 2, 3, 0xFFFF}, true},
        {'B', kByte, {1, 2, 3}, true},
        {'B', kUndefined, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, true},
        {'R', kRational, {300, 1, 0x80000000, 7}, true},
        {'D', kShort, {1, 0xFFFF, 3}, true},
        {'D', kLong, {0xDEADBEEF, 2}, true},
        {'D', kRational, {300, 1, 7, 0x80000000}, true},
        {'T', kAscii, {'a', 'b', 0, 'c', 0}, true},     // up to the first NUL
        {'T', kAscii, {'c', 'd', 'e', 'f', 'g'}, true},  // the NUL the file lacks
        {'T', kByte, {'a', 0}, false},
        // Arrays outside the file.
        {'L', kLong, {}, false, 4, 0xFFFFFF00},      // offset far past the end
        {'L', kShort, {}, false, 0x7FFFFFFF, 8},     // count past the end
        {'L', kLong, {}, false, 0xFFFFFFFF, 8},      // count beyond any limit
        {'R', kRational, {}, false, 1, 0xFFFFFFF0},
        {'B', kByte, {}, false, 100000, 8},
        {'D', kRational, {}, false, 0x7FFFFFFF, 8},
        {'D', 12, {}, false, 2, 0xFFFFFFF8},             // DOUBLE past the end
        {'T', kAscii, {}, false, 5, 0xFFFFFFFE},
    };
    TiffBuilder b = Base(big());
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        if (c.count)
            b.AtOffset(uint16_t(kPrivate + i), c.type, c.count, c.offset);
        else
            b.Add(uint16_t(kPrivate + i), c.type, c.values);
    }
    Open(b);
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto got = GetArray(file_, cases[i].getter, int(kPrivate + i));
        std::vector<uint32_t> want = cases[i].values;
        if (cases[i].getter == 'T')  // text ends at the first NUL
            want.erase(std::find(want.begin(), want.end(), 0u), want.end());
        ASSERT_EQ(got.has_value(), cases[i].ok) << i;
        EXPECT_EQ(got.value_or(want), want) << i;
        int type = 0, count = 0;
        EXPECT_EQ(file_.GetTagInfo(int(kPrivate + i), &type, &count), cases[i].count <= 0x7FFFFFFF) << i;
        EXPECT_EQ(type, cases[i].count <= 0x7FFFFFFF ? cases[i].type : 0) << i;
    }
    for (char getter : {'L', 'S', 'B', 'R', 'D', 'T'})
        EXPECT_FALSE(GetArray(file_, getter, kPrivate - 1)) << getter;  // absent
}

TEST_P(Tags, ArrayEndingExactlyAtTheFileEnd)
{
    TiffBuilder b = Base(big());
    Bytes whole = b.Build();
    const uint32_t at = static_cast<uint32_t>(whole.size() + 12 + 12);  // after the two new entries
    b.AtOffset(kPrivate, kLong, 3, at);
    b.AtOffset(kPrivate + 1, kLong, 4, at);  // one value too many
    Bytes file = b.Build();
    ASSERT_EQ(file.size(), at);
    Bytes tail = b.Encode({5, 6, 7}, 4);
    file.insert(file.end(), tail.begin(), tail.end());
    ASSERT_EQ(file_.Open(dir_.Write("end.tif", file).c_str()), 1);
    EXPECT_EQ(GetArray(file_, 'L', kPrivate), (std::vector<uint32_t>{5, 6, 7}));
    EXPECT_FALSE(GetArray(file_, 'L', kPrivate + 1));
}

// Reading a tag between lines leaves the decoder where it was, also within
// a strip longer than one transfer.
TEST_P(Tags, ReadingBetweenLinesKeepsThePosition)
{
    TiffBuilder b(big());
    const Bytes pixels = PatternRows(400, 400);
    b.StripImage({400, 400, 1, 8, kMinIsBlack, 0}, pixels).Add(kPrivate, kLong, {1, 2, 3});
    Open(b);
    Bytes rows(pixels.size());
    for (int y = 0; y < 400; ++y) {
        ASSERT_EQ(file_.ReadLine(rows.data() + 400 * y), 1);
        int type, count;
        void* values;
        ASSERT_EQ(file_.GetTagData(kPrivate, &type, &count, &values), 1);
        std::free(values);
    }
    EXPECT_EQ(rows, pixels);
}

}  // namespace
