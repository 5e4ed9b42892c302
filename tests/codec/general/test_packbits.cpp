// test_packbits.cpp — PackBits packets both ways, byte for byte, and packets
// that run past the row end.
#include <algorithm>

#include <gtest/gtest.h>

#include "support/codec_io.h"

using namespace tiftest;

namespace {

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes r;
    for (const Bytes& p : parts)
        r.insert(r.end(), p.begin(), p.end());
    return r;
}

struct Vector {
    const char* name;
    Bytes row;
    Bytes packed;
};

class PackBitsVectors : public ::testing::TestWithParam<Vector> {};

TEST_P(PackBitsVectors, EncodesToExactPacketsAndBack)
{
    const Vector& v = GetParam();
    const int width = int(v.row.size());
    Bytes row = v.row;
    EXPECT_EQ(EncodeStrip(NewCodec(false, 32773, width).get(), row, 1), v.packed);
    Bytes out;
    ASSERT_EQ(DecodeStrip(NewCodec(true, 32773, width).get(), v.packed, 1, &out, 1), 1);
    EXPECT_EQ(out, v.row);
}

const Bytes k200 = PatternRows(200, 1);  // no two neighbours alike

INSTANTIATE_TEST_SUITE_P(
    Rows, PackBitsVectors,
    ::testing::Values(Vector{"Mixed", {0x41, 0x42, 0x42, 0x43}, {0x03, 0x41, 0x42, 0x42, 0x43}},
                      Vector{"PairsFirstAndAfterARun", {7, 7, 8, 9, 9, 9, 1, 1}, {0xFF, 7, 0x00, 8, 0xFE, 9, 0xFF, 1}},
                      // Old choices: 14 bytes of one-byte literals and replicated pairs.
                      Vector{"AlternatingPairsAndLiterals", {1, 2, 2, 3, 4, 4, 5, 6, 6, 7},
                             {0x09, 1, 2, 2, 3, 4, 4, 5, 6, 6, 7}},
                      Vector{"Run129", Bytes(129, 0x55), {0x81, 0x55, 0x00, 0x55}},
                      Vector{"Run130", Bytes(130, 0x55), {0x81, 0x55, 0xFF, 0x55}},
                      Vector{"Literal200", k200,
                             Cat({{0x7F}, Bytes(k200.begin(), k200.begin() + 128), {0x47}, Bytes(k200.begin() + 128, k200.end())})},
                      Vector{"OneByte", {0x9C}, {0x00, 0x9C}},
                      Vector{"PairBetweenLiterals", {1, 2, 3, 3, 4, 5}, {0x05, 1, 2, 3, 3, 4, 5}}),
    [](const ::testing::TestParamInfo<Vector>& i) { return std::string(i.param.name); });

TEST(PackBits, PacketsPastTheRowEndAreCutAndTheNextRowStartsAtTheNextHeader)
{
    // Trailing no-operation headers (0x80) keep a whole packet buffered, the
    // case decoded without refill checks; without them every packet is near
    // the end of the data.
    for (size_t padding : {size_t(0), size_t(300)}) {
        // Rows of 6: literal 1 2, a run of 10 cut to 4; literal of 5, a run of 3 cut to 1.
        Bytes six = {0x80, 0x01, 1, 2, 0xF7, 9, 0x04, 5, 6, 7, 0xEE, 0xEE, 0xFE, 4};
        // Rows of 3: a literal of 5 cut to 3 (the rest dropped), then a run of 3.
        Bytes three = {0x04, 5, 6, 7, 0xEE, 0xEE, 0xFE, 4};
        six.insert(six.end(), padding, 0x80);
        three.insert(three.end(), padding, 0x80);
        for (int chunk : {1, 2, 1 << 20}) {
            Bytes out;
            ASSERT_EQ(DecodeStrip(NewCodec(true, 32773, 6).get(), six, 2, &out, chunk), 2);
            EXPECT_EQ(out, (Bytes{1, 2, 9, 9, 9, 9, 5, 6, 7, 0xEE, 0xEE, 4}));
            ASSERT_EQ(DecodeStrip(NewCodec(true, 32773, 3).get(), three, 2, &out, chunk), 2);
            EXPECT_EQ(out, (Bytes{5, 6, 7, 4, 4, 4}));
        }
    }
    Bytes out;  // a run whose byte is missing
    EXPECT_EQ(DecodeStrip(NewCodec(true, 32773, 4).get(), {0xFD}, 1, &out), 0);
}

}  // namespace

namespace {

// The packets by the rule, a byte at a time: a run of two or more equal bytes
// is replicated (128 at most per packet), other bytes gather into literals,
// and so does a pair after literal bytes whose packet has room for it.
Bytes PackByRule(const Bytes& row)
{
    Bytes out, literal;
    auto flush = [&] {
        for (size_t at = 0; at < literal.size(); at += 128) {
            const size_t k = std::min<size_t>(128, literal.size() - at);
            out.push_back(uint8_t(k - 1));
            out.insert(out.end(), literal.begin() + at, literal.begin() + at + k);
        }
        literal.clear();
    };
    for (size_t i = 0; i < row.size();) {
        size_t run = 1;
        while (i + run < row.size() && row[i + run] == row[i])
            ++run;
        if (run == 1 || (run == 2 && literal.size() % 128 != 0 && literal.size() % 128 <= 126)) {
            literal.insert(literal.end(), run, row[i]);
        } else {
            flush();
            for (size_t left = run; left > 0;) {
                const size_t k = std::min<size_t>(128, left);
                out.push_back(uint8_t(1 - int(k)));
                out.push_back(row[i]);
                left -= k;
            }
        }
        i += run;
    }
    flush();
    return out;
}

}  // namespace

// Rows of short and long runs between literals, at every offset against the
// encoder's eight-byte steps.
TEST(PackBits, RunsAndLiteralsAtEveryOffsetFollowTheRule)
{
    uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1103515245u + 12345u, seed >> 16; };
    for (int width = 1; width <= 300; width += (width < 40 ? 1 : 37)) {
        for (int trial = 0; trial < 20; ++trial) {
            Bytes row;
            while (int(row.size()) < width) {
                const int len = next() % 4 == 0 ? int(next() % 140) + 1 : 1;
                const uint8_t v = uint8_t(next() % 3 == 0 ? 0 : next());
                row.insert(row.end(), size_t(std::min(len, width - int(row.size()))), v);
            }
            ASSERT_EQ(EncodeStrip(NewCodec(false, 32773, width).get(), row, 1), PackByRule(row))
                << "width " << width << " trial " << trial;
        }
    }
}
