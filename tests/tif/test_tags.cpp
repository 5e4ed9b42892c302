// Directory entries: every field type through GetTagValue, inline and
// out-of-line arrays, SHORT widened to LONG, both byte orders, and values that
// the file cannot hold.
#include <cstdlib>
#include <memory>

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

struct Freer {
    void operator()(void* p) const { std::free(p); }
};
template <class T>
using Owned = std::unique_ptr<T, Freer>;

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
        Bytes f = c.width == 1 ? Bytes{uint8_t(c.stored)}
                : c.width == 2 ? b.Encode16({c.stored})
                               : b.Encode32({c.stored});
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

TEST_P(Tags, ValueIgnoresCountAndNeverFollowsOffset)
{
    TiffBuilder b = Base(big());
    b.Add(kPrivate, kShort, {7, 9});            // two values inline: the first
    b.Add(kPrivate + 1, kShort, {1, 2, 3, 4});  // out of line: the field's first half
    Open(b);
    int v;
    ASSERT_EQ(file_.GetTagValue(kPrivate, &v), 1);
    EXPECT_EQ(v, 7);
    unsigned char* e = file_.FindTag(kPrivate + 1);
    ASSERT_NE(e, nullptr);
    const int fieldHalf = big() ? (e[8] << 8 | e[9]) : (e[8] | e[9] << 8);
    ASSERT_EQ(file_.GetTagValue(kPrivate + 1, &v), 1);
    EXPECT_EQ(v, fieldHalf);
}

TEST_P(Tags, FindTagTakesTheFirstOfDuplicates)
{
    TiffBuilder b = Base(big());
    b.Add(kPrivate, kShort, {1}).Add(kPrivate, kShort, {2});
    Open(b);
    int v;
    ASSERT_EQ(file_.GetTagValue(kPrivate, &v), 1);
    EXPECT_EQ(v, 1);
    EXPECT_EQ(file_.FindTag(kPrivate + 5), nullptr);
}

TEST_P(Tags, LongsFromShortAndLongInlineAndOutOfLine)
{
    struct Case {
        uint16_t type;
        std::vector<uint32_t> values;
    };
    const Case cases[] = {
        {kShort, {65535}},
        {kShort, {1, 65535}},                    // inline pair
        {kShort, {1, 2, 0x8000, 0xFFFF, 5}},     // out of line
        {kSShort, {0x8000, 0xFFFF}},             // not sign-extended
        {kLong, {0xDEADBEEF}},
        {kLong, {1, 0x80000000, 0xFFFFFFFF}},
        {kSLong, {0xFFFFFFFF, 2}},
    };
    TiffBuilder b = Base(big());
    for (size_t i = 0; i < std::size(cases); ++i)
        b.Add(uint16_t(kPrivate + i), cases[i].type, cases[i].values);
    Open(b);
    for (size_t i = 0; i < std::size(cases); ++i) {
        int n = -1;
        uint32_t* raw = nullptr;
        int ok = file_.GetTagLongs(int(kPrivate + i), &n, &raw);
        Owned<uint32_t> a(raw);
        ASSERT_EQ(ok, 1) << i;
        ASSERT_EQ(n, int(cases[i].values.size())) << i;
        EXPECT_EQ(std::vector<uint32_t>(raw, raw + n), cases[i].values) << i;
    }
}

TEST_P(Tags, LongsRefuseOtherTypes)
{
    TiffBuilder b = Base(big());
    b.Add(kPrivate, kByte, {1, 2}).Add(kPrivate + 1, kRational, {1, 2}).Add(kPrivate + 2, kAscii, {65, 0});
    Open(b);
    for (int tag : {kPrivate, kPrivate + 1, kPrivate + 2, kPrivate + 3}) {
        int n = -1;
        uint32_t* raw = reinterpret_cast<uint32_t*>(&n);
        EXPECT_EQ(file_.GetTagLongs(tag, &n, &raw), 0) << tag;
        Owned<uint32_t> a(raw);
        EXPECT_EQ(n, 0);
    }
}

TEST_P(Tags, ShortsBytesAndRationals)
{
    TiffBuilder b = Base(big());
    b.Add(kPrivate, kShort, {0x1234, 0xABCD});
    b.Add(kPrivate + 1, kShort, {1, 2, 3, 0xFFFF});
    b.Add(kPrivate + 2, kByte, {1, 2, 3});
    b.Add(kPrivate + 3, kUndefined, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    b.Add(kPrivate + 4, kRational, {300, 1, 0x80000000, 7});
    Open(b);

    int n;
    uint16_t* s;
    ASSERT_EQ(file_.GetTagShorts(kPrivate, &n, &s), 1);
    EXPECT_EQ(std::vector<uint16_t>(s, s + n), (std::vector<uint16_t>{0x1234, 0xABCD}));
    std::free(s);
    ASSERT_EQ(file_.GetTagShorts(kPrivate + 1, &n, &s), 1);
    EXPECT_EQ(std::vector<uint16_t>(s, s + n), (std::vector<uint16_t>{1, 2, 3, 0xFFFF}));
    std::free(s);

    unsigned char* bytes;
    ASSERT_EQ(file_.GetTagBytes(kPrivate + 2, &n, &bytes), 1);
    EXPECT_EQ(std::vector<unsigned char>(bytes, bytes + n), (std::vector<unsigned char>{1, 2, 3}));
    std::free(bytes);
    ASSERT_EQ(file_.GetTagBytes(kPrivate + 3, &n, &bytes), 1);
    ASSERT_EQ(n, 10);
    EXPECT_EQ(bytes[9], 10);
    std::free(bytes);

    uint32_t* r;
    ASSERT_EQ(file_.GetTagRationals(kPrivate + 4, &n, &r), 1);
    EXPECT_EQ(std::vector<uint32_t>(r, r + 2 * n), (std::vector<uint32_t>{300, 1, 0x80000000, 7}));
    std::free(r);
}

TEST_P(Tags, ArraysOutsideTheFileFail)
{
    TiffBuilder b = Base(big());
    b.AtOffset(kPrivate, kLong, 4, 0xFFFFFF00);     // offset far past the end
    b.AtOffset(kPrivate + 1, kShort, 0x7FFFFFFF, 8);  // count past the end
    b.AtOffset(kPrivate + 2, kLong, 0xFFFFFFFF, 8);   // count beyond any limit
    b.AtOffset(kPrivate + 3, kRational, 1, 0xFFFFFFF0);
    b.AtOffset(kPrivate + 4, kByte, 100000, 8);
    Open(b);
    int n;
    uint32_t* l;
    for (int tag : {kPrivate, kPrivate + 1, kPrivate + 2}) {
        EXPECT_EQ(file_.GetTagLongs(tag, &n, &l), 0) << tag;
        std::free(l);
        EXPECT_EQ(n, 0);
    }
    EXPECT_EQ(file_.GetTagRationals(kPrivate + 3, &n, &l), 0);
    std::free(l);
    unsigned char* bytes;
    EXPECT_EQ(file_.GetTagBytes(kPrivate + 4, &n, &bytes), 0);
    std::free(bytes);
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
    Bytes tail = b.Encode32({5, 6, 7});
    file.insert(file.end(), tail.begin(), tail.end());
    std::string path = dir_.Write("end.tif", file);
    ASSERT_EQ(file_.Open(path.c_str()), 1);
    int n;
    uint32_t* l;
    ASSERT_EQ(file_.GetTagLongs(kPrivate, &n, &l), 1);
    EXPECT_EQ(std::vector<uint32_t>(l, l + n), (std::vector<uint32_t>{5, 6, 7}));
    std::free(l);
    EXPECT_EQ(file_.GetTagLongs(kPrivate + 1, &n, &l), 0);
    std::free(l);
}

}  // namespace
