// test_lzw.cpp — the LZW decoder: exact bytes, the stream kind chosen per
// strip, the predictor over both kinds, and damaged code streams.
#include <gtest/gtest.h>

#include "codec/general/tif_lzw.h"
#include "support/codec_io.h"
#include "lzw_test_encoder.h"

using namespace tiftest;

namespace {

TEST(Lzw, SingleByteStrip)
{
    const Bytes strip = {0x80, 0x10, 0x60, 0x20};  // Clear, 41, EndOfInformation
    EXPECT_EQ(LzwTestEncoder(false).Encode({0x41}), strip);
    Bytes out;
    ASSERT_EQ(DecodeStrip(NewCodec(true, 5, 1).get(), strip, 1, &out), 1);
    EXPECT_EQ(out, Bytes{0x41});
}

TEST(Lzw, StreamKindIsChosenAgainForEveryStrip)
{
    const Bytes a = PatternRows(50, 4), b = NoiseRows(200);
    const Bytes oldStrip = LzwTestEncoder(true).Encode(a), newStrip = LzwTestEncoder(false).Encode(b);
    Codec dec = NewCodec(true, 5, 50);
    Bytes out;
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(DecodeStrip(dec.get(), oldStrip, 4, &out), 4);
        EXPECT_EQ(out, a);
        ASSERT_EQ(DecodeStrip(dec.get(), newStrip, 4, &out), 4);
        EXPECT_EQ(out, b);
    }
}

TEST(Lzw, PredictorWrapsBothStreamKinds)
{
    const Bytes diffs = PatternRows(30, 3);  // RGB rows of differences
    Bytes expected = diffs;
    for (int i = 0; i < 90; ++i)
        if (i % 30 >= 3)
            expected[i] = uint8_t(expected[i] + expected[i - 3]);
    for (bool oldStyle : {true, false}) {
        Codec dec = NewCodec(true, 5, 10, 3, 8);
        ASSERT_EQ(dec->SetParam(dec.get(), 317, 2), 1);
        Bytes out;
        ASSERT_EQ(DecodeStrip(dec.get(), LzwTestEncoder(oldStyle).Encode(diffs), 3, &out), 3);
        EXPECT_EQ(out, expected);
    }
}

// Runs of random lengths (up to 60 bytes, beyond the 7-byte strings held in
// one word and the 8-byte chunks) of one value or of values from a small set:
// strings of every length, ending at every offset of a row.
Bytes MixedRuns(size_t n, int values)
{
    Bytes out;
    uint32_t x = 12345;
    auto next = [&x] { return (x = x * 1103515245u + 12345u) >> 16; };
    while (out.size() < n) {
        const size_t run = 1 + next() % 60;
        const uint8_t v = uint8_t(next());
        const bool flat = next() % 3 == 0;
        for (size_t i = 0; i < run && out.size() < n; ++i)
            out.push_back(flat ? v : uint8_t(v + next() % unsigned(values)));
    }
    return out;
}

struct RoundTrip {
    const char* name;
    bool oldStyle;
    int clearAt;  // the writer's Clear: 4094, or up to a full table (5119)
    int rowBytes;
    int rows;
    int values;  // 0: noise
};

class LzwRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(LzwRoundTrip, SameBytesWhateverTheRowsPerCall)
{
    const RoundTrip& t = GetParam();
    const size_t n = size_t(t.rowBytes) * size_t(t.rows);
    const Bytes rows = t.values == 0 ? NoiseRows(n) : MixedRuns(n, t.values);
    const Bytes strip = LzwTestEncoder(t.oldStyle).ClearAt(t.clearAt).Encode(rows);
    for (int chunk : {3, 1 << 20})
        for (int perCall : {1, 5, t.rows}) {
            Codec dec = NewCodec(true, 5, t.rowBytes);
            Bytes out;
            ASSERT_EQ(DecodeStrip(dec.get(), strip, t.rows, &out, chunk, perCall), t.rows) << chunk << " " << perCall;
            ASSERT_EQ(out, rows) << chunk << " " << perCall;
        }
}

INSTANTIATE_TEST_SUITE_P(
    Strips, LzwRoundTrip,
    ::testing::Values(RoundTrip{"ShortStrings", false, 4094, 301, 200, 40},
                      RoundTrip{"ShortStringsOldStyle", true, 4094, 301, 200, 40},
                      RoundTrip{"LongStringsNarrowRows", false, 4094, 9, 3000, 3},
                      RoundTrip{"LongStringsOldStyle", true, 4094, 16, 2000, 2},
                      RoundTrip{"RowsShorterThanAWord", false, 4094, 5, 4000, 4},
                      RoundTrip{"NoiseUpToAFullTable", false, 5119, 1000, 40, 0},
                      RoundTrip{"NoiseUpToAFullTableOldStyle", true, 5119, 1000, 40, 0},
                      RoundTrip{"RunsUpToAFullTable", false, 5119, 257, 300, 6},
                      // Clear one entry before the width would grow: the
                      // table restarts inside the 9-bit loop.
                      RoundTrip{"ClearBeforeTheWidthGrows", false, 510, 100, 300, 20},
                      RoundTrip{"ClearBeforeTheWidthGrowsOldStyle", true, 511, 100, 300, 20}),
    [](const ::testing::TestParamInfo<RoundTrip>& i) { return std::string(i.param.name); });

// Damaged streams: codes written at the widths a TIFF 6.0 decoder expects,
// and the rows a decoder may complete before the strip ends.
struct Damage {
    const char* name;
    std::vector<int> codes;
    int rowBytes;
    int rowsDelivered;
};

Bytes WriteCodes(const std::vector<int>& codes)
{
    LzwTestEncoder w(false);
    int freeEntry = 258;
    bool afterClear = false;
    for (int c : codes) {
        w.Code(c, freeEntry > 2046 ? 12 : freeEntry > 1022 ? 11 : freeEntry > 510 ? 10 : 9);
        if (c == 256)
            freeEntry = 258;
        else if (!afterClear)
            ++freeEntry;
        afterClear = c == 256;
    }
    return w.Finish();
}

std::vector<int> ClearThenA(int n)
{
    std::vector<int> c = {256};
    c.insert(c.end(), size_t(n), 'A');
    return c;
}

class LzwDamage : public ::testing::TestWithParam<Damage> {};

TEST_P(LzwDamage, StripEndsWithTheRowsCompletedSoFar)
{
    const Damage& d = GetParam();
    const Bytes strip = WriteCodes(d.codes);
    // One row per call, or all rows in one call (decoded as one span).
    for (int chunk : {1, 1 << 20})
        for (int perCall : {1, 200}) {
            Codec dec = NewCodec(true, 5, d.rowBytes);
            Bytes out;
            EXPECT_EQ(DecodeStrip(dec.get(), strip, 200, &out, chunk, perCall), d.rowsDelivered) << perCall;
            Bytes more(size_t(d.rowBytes));
            EXPECT_EQ(dec->DecodeRows(dec.get(), more.data(), 1), 0);  // the strip stays over
        }
}

INSTANTIATE_TEST_SUITE_P(
    Streams, LzwDamage,
    ::testing::Values(
        Damage{"CodeBeyondNextFree", {256, 'A', 'B', 'C', 'D', 300, 'E', 'F'}, 2, 2},
        Damage{"KwKwKIsNotDamage", {256, 'A', 258, 'B', 'C', 'D', 'E'}, 7, 1},
        Damage{"FirstCodeNotClear", {'A', 'B', 'C', 'D', 256, 'E'}, 1, 0},
        Damage{"ClearThenClear", {256, 256, 'A', 'B'}, 1, 0},
        Damage{"ClearThenUndefinedCode", {256, 258, 'A', 'B'}, 1, 0},
        Damage{"EndOfInformationAfterClear", {256, 257, 'A', 'B'}, 1, 0},
        Damage{"EndOfInformationMidRow", {256, 'A', 'B', 'C', 257, 'D'}, 2, 1},
        // 4861 entries fill the table; the code after them must be Clear.
        Damage{"TableOverflow", ClearThenA(6000), 100, 48},
        Damage{"ClearAfterAFullTable", [] { auto c = ClearThenA(4862); c.push_back(256); c.push_back('B'); return c; }(),
               4863, 1}),
    [](const ::testing::TestParamInfo<Damage>& i) { return std::string(i.param.name); });

}  // namespace
