// test_fax_decoder.cpp — the fax decoder on exact bit streams: reference
// vectors, one-dimensional rows built from the code list, framing, and
// damaged streams that must end cleanly.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "codec/fax/tif_fax.h"
#include "io/tif_exception.h"
#include "support/fax_util.h"

using tiftest::Bytes;
using tiftest::FaxBitWriter;
using tiftest::FaxDecoder;

namespace {

// The bits of the last byte beyond `width` must still hold the 0xA5 fill.
void ExpectTailUntouched(const std::vector<Bytes>& rows, int width)
{
    if ((width & 7) == 0)
        return;
    const uint8_t keep = uint8_t(0xFF >> (width & 7));
    for (const Bytes& r : rows)
        EXPECT_EQ(r.back() & keep, 0xA5 & keep);
}

std::vector<Bytes> Masked(const std::vector<Bytes>& rows, int width)
{
    std::vector<Bytes> out;
    for (const Bytes& r : rows)
        out.push_back(tiftest::MaskRow(r, width));
    return out;
}

struct Vector {
    const char* name;
    int compression;
    int t4Options;
    int fillOrder;
    Bytes data;
};

class FaxVectors : public ::testing::TestWithParam<Vector> {};

// One 8-pixel row 0x18 (white 3, black 2, white 3) in each framing.
TEST_P(FaxVectors, DecodeToTheSameRow)
{
    const Vector& v = GetParam();
    FaxDecoder d(v.compression, 8, v.t4Options, v.fillOrder);
    d.Begin(v.data);
    std::vector<Bytes> rows;
    ASSERT_EQ(d.Decode(1, &rows), 1);
    EXPECT_EQ(rows[0][0], 0x18);
}

INSTANTIATE_TEST_SUITE_P(Fax, FaxVectors, ::testing::Values(
    Vector{"MH", 2, 0, 1, {0x8E, 0x00}},
    Vector{"MH_FillOrder2", 2, 0, 2, {0x71, 0x00}},
    Vector{"G3", 3, 0, 1, {0x00, 0x18, 0xE0}},
    Vector{"G3_FillBits", 3, T4OPT_FILLBITS, 1, {0x00, 0x01, 0x8E, 0x00}},
    Vector{"G3_2DOption_1DRow", 3, T4OPT_2D, 1, {0x00, 0x1C, 0x70}},
    Vector{"G4", 4, 0, 1, {0x31, 0xC0, 0x04, 0x00, 0x40}},
    Vector{"G4_FillOrder2", 4, 0, 2, {0x8C, 0x03, 0x20, 0x00, 0x02}}),
    [](const ::testing::TestParamInfo<Vector>& i) { return std::string(i.param.name); });

// Streams built from the code list: rows of a page, and rows that need
// width + 1 runs (pixel 0 black, then every pixel its own run).
struct OneDCase {
    const char* name;
    int compression;
    int t4Options;
    int fillOrder;
    int width;
    int fillBits;  // zero bits before each EOL (Compression 3)
};

class FaxOneD : public ::testing::TestWithParam<OneDCase> {};

Bytes Encode1D(const OneDCase& c, const std::vector<Bytes>& rows)
{
    FaxBitWriter w;
    for (const Bytes& r : rows) {
        if (c.compression == 3) {
            w.ZeroFill(c.fillBits);
            w.PutEol();
            if (c.t4Options & T4OPT_2D)
                w.Put(1, 1);  // tag: one-dimensional row
        }
        tiftest::PutRow1D(w, r, c.width);
        if (c.compression == 2)
            w.Align();
    }
    return w.Finish(c.fillOrder);
}

TEST_P(FaxOneD, PageAndAlternatingRows)
{
    const OneDCase& c = GetParam();
    std::vector<Bytes> rows = tiftest::FaxPage(c.width, 23, uint32_t(c.width));
    Bytes alternate((size_t(c.width) + 7) / 8, 0xAA);
    rows.insert(rows.begin() + 3, tiftest::MaskRow(alternate, c.width));
    rows.push_back(tiftest::MaskRow(alternate, c.width));
    const Bytes data = Encode1D(c, rows);

    for (int chunk : {1 << 20, 1, 7}) {
        FaxDecoder d(c.compression, c.width, c.t4Options, c.fillOrder);
        d.Begin(data, chunk);
        std::vector<Bytes> got;
        ASSERT_EQ(d.Decode(int(rows.size()), &got, chunk == 7 ? 3 : 1), int(rows.size()));
        EXPECT_EQ(Masked(got, c.width), rows);
        ExpectTailUntouched(got, c.width);
    }
}

INSTANTIATE_TEST_SUITE_P(Fax, FaxOneD, ::testing::Values(
    OneDCase{"MH_1728", 2, 0, 1, 1728, 0},
    OneDCase{"MH_32", 2, 0, 1, 32, 0},
    OneDCase{"MH_13_FillOrder2", 2, 0, 2, 13, 0},
    OneDCase{"MH_6000_LongRuns", 2, 0, 1, 6000, 0},
    OneDCase{"G3_1728", 3, 0, 1, 1728, 0},
    OneDCase{"G3_64_Fill5", 3, 0, 1, 64, 5},
    OneDCase{"G3_FillBits_Fill21", 3, T4OPT_FILLBITS, 1, 100, 21},
    OneDCase{"G3_NoFillBitsFlag_Fill16", 3, 0, 2, 3001, 16},
    OneDCase{"G3_2DOption_Tags1", 3, T4OPT_2D, 1, 255, 3}),
    [](const ::testing::TestParamInfo<OneDCase>& i) { return std::string(i.param.name); });

// A run longer than 2560 pixels is the sum of extended make-up codes, a
// make-up code and a terminating code.
TEST(FaxDecoder, LongRunsAddUp)
{
    const int width = 9000;
    FaxBitWriter w;
    w.PutRun(false, 5000);
    w.PutRun(true, 3001);
    w.PutRun(false, 999);
    FaxDecoder d(2, width);
    d.Begin(w.Finish());
    std::vector<Bytes> rows;
    ASSERT_EQ(d.Decode(1, &rows), 1);
    for (int x : {0, 4999, 5000, 8000, 8001, 8999})
        EXPECT_EQ(tiftest::Pixel(rows[0], x), x >= 5000 && x <= 8000) << x;
}

// Group 3: the first row without an EOL before it is lost (synchronisation
// skips to the first EOL); rows after it decode normally.
TEST(FaxDecoder, G3RowWithoutLeadingEolIsSkipped)
{
    const int width = 40;
    std::vector<Bytes> rows = tiftest::FaxPage(width, 4, 7);
    FaxBitWriter w;
    for (size_t i = 0; i < rows.size(); ++i) {
        if (i != 0)
            w.PutEol();
        tiftest::PutRow1D(w, rows[i], width);
    }
    FaxDecoder d(3, width);
    d.Begin(w.Finish());
    std::vector<Bytes> got;
    ASSERT_EQ(d.Decode(3, &got), 3);
    EXPECT_EQ(Masked(got, width), std::vector<Bytes>(rows.begin() + 1, rows.end()));
}

// Rows asked for beyond an RTC come out white until the bits run out; then
// the count falls short.
TEST(FaxDecoder, G3RtcGivesWhiteRowsThenShortCount)
{
    const int width = 24;
    std::vector<Bytes> rows = tiftest::FaxPage(width, 5, 11);
    FaxBitWriter w;
    for (const Bytes& r : rows) {
        w.PutEol();
        tiftest::PutRow1D(w, r, width);
    }
    for (int i = 0; i < 6; ++i)
        w.PutEol();
    FaxDecoder d(3, width);
    d.Begin(w.Finish());
    std::vector<Bytes> got;
    const int n = d.Decode(40, &got);
    EXPECT_GE(n, 5 + 5);
    EXPECT_LE(n, 5 + 6);
    EXPECT_EQ(Masked(std::vector<Bytes>(got.begin(), got.begin() + 5), width), rows);
    for (size_t y = 5; y < got.size(); ++y)
        EXPECT_EQ(tiftest::MaskRow(got[y], width), Bytes(3, 0)) << y;
}

// DecodeRows with count 0 reads nothing: decoding afterwards is unchanged.
TEST(FaxDecoder, CountZeroConsumesNothing)
{
    FaxDecoder d(4, 8);
    d.Begin({0x31, 0xC0, 0x04, 0x00, 0x40});
    uint8_t row = 0x5A;
    EXPECT_EQ(d.codec()->DecodeRows(d.codec(), &row, 0), 0);
    EXPECT_EQ(row, 0x5A);
    std::vector<Bytes> rows;
    ASSERT_EQ(d.Decode(1, &rows), 1);
    EXPECT_EQ(rows[0][0], 0x18);
}

// T4Options is a Compression 3 parameter only; FillOrder applies to all three.
TEST(FaxDecoder, SetParamAcceptance)
{
    for (int compression : {2, 3, 4}) {
        FaxDecoder d(compression, 16);
        TifCodec* c = d.codec();
        EXPECT_EQ(c->SetParam(c, 292, T4OPT_2D), compression == 3 ? 1 : 0);
        EXPECT_EQ(c->SetParam(c, 266, 2), 1);
        EXPECT_EQ(c->SetParam(c, 317, 2), 0);
    }
}

// Switching T4OPT_2D on and off again leaves a working 1D decoder.
TEST(FaxDecoder, T4OptionsSwitchBack)
{
    FaxDecoder d(3, 8, T4OPT_2D);
    EXPECT_EQ(d.codec()->SetParam(d.codec(), 292, T4OPT_FILLBITS), 1);
    d.Begin({0x00, 0x18, 0xE0});
    std::vector<Bytes> rows;
    ASSERT_EQ(d.Decode(1, &rows), 1);
    EXPECT_EQ(rows[0][0], 0x18);
}

// An I/O failure passes through DecodeRows; the decoder is usable for the
// next strip.
TEST(FaxDecoder, ThrowingSourcePassesThrough)
{
    const int width = 300;
    std::vector<Bytes> rows = tiftest::FaxPage(width, 30, 5);
    FaxBitWriter w;
    for (const Bytes& r : rows) {
        tiftest::PutRow1D(w, r, width);
        w.Align();
    }
    const Bytes data = w.Finish();
    FaxDecoder d(2, width);
    d.Begin(data, 5, long(data.size() / 2));
    std::vector<Bytes> got;
    bool thrown = false;
    try {
        d.Decode(int(rows.size()), &got, 1);
    } catch (CTifException* e) {
        thrown = true;
        EXPECT_EQ(e->code, CTifException::kShortRead);
        delete e;
    }
    EXPECT_TRUE(thrown);
    d.Begin(data);
    ASSERT_EQ(d.Decode(int(rows.size()), &got), int(rows.size()));
    EXPECT_EQ(Masked(got, width), rows);
}

// Damaged streams: each must end with a short count (or, where a code stops
// every row at the same place, with white rows), never touching memory outside
// the rows, whatever the data.
struct Damaged {
    const char* name;
    int compression;
    int t4Options;
    int width;
    Bytes data;
    bool allRowsWhite;  // every row stops at once and is delivered white
    bool mayStick = false;  // MH: a bad code on a byte boundary stops every later row there
};

Bytes Repeat(const std::string& bits, int times, int tailBits = 0)
{
    FaxBitWriter w;
    for (int i = 0; i < times; ++i)
        w.Put(bits);
    w.ZeroFill(tailBits);
    return w.Finish();
}

Bytes RandomBytes(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    Bytes b(n);
    for (uint8_t& x : b)
        x = uint8_t(rng());
    return b;
}

Bytes ZeroRuns2D(int pairs)
{
    // horizontal mode with white 0 and black 0, over and over
    return Repeat("001" "00110101" "0000110111", pairs);
}

std::vector<Damaged> DamagedStreams()
{
    std::vector<Damaged> v;
    v.push_back({"G3_AllZeros", 3, 0, 1728, Bytes(70000, 0), false});
    v.push_back({"G3_2D_AllZeros", 3, T4OPT_2D, 1728, Bytes(70000, 0), false});
    v.push_back({"G3_OnesNoEol", 3, 0, 64, Bytes(70000, 0xFF), false});
    v.push_back({"MH_MakeUpNeverEnds", 2, 0, 3000, Repeat("11011", 20000), false});
    v.push_back({"MH_ExtMakeUpNeverEnds", 2, 0, 100000, Repeat("000000011111", 20000), false});
    v.push_back({"G3_MakeUpNeverEnds", 3, 0, 1728, Repeat("000000000001" "11011", 5000), false});
    v.push_back({"MH_InvalidAtByteStart", 2, 0, 100, {0x00, 0x80, 0xFF}, true});
    v.push_back({"G4_ZeroLengthRuns", 4, 0, 50, ZeroRuns2D(30000), false});
    v.push_back({"G3_2D_ZeroLengthRuns", 3, T4OPT_2D, 50, Repeat("000000000001" "0", 1), false});
    const Bytes zeros2D = ZeroRuns2D(30000);
    v.back().data.insert(v.back().data.end(), zeros2D.begin(), zeros2D.end());
    v.push_back({"G4_VLStorm", 4, 0, 64, Repeat("0000010", 30000), false});
    v.push_back({"G4_VRStorm", 4, 0, 64, Repeat("0000011", 30000), false});
    v.push_back({"G4_PassStorm", 4, 0, 1000, Repeat("0001", 60000), false});
    v.push_back({"G4_Extension", 4, 0, 77, Repeat("0000001", 30000), false});
    v.push_back({"G4_Eols", 4, 0, 77, Repeat("000000000001", 30000), false});
    v.push_back({"G4_VLThenVRNearStart", 4, 0, 9, Repeat("010" "010" "0000011" "1" "0001", 9000), false});
    for (uint32_t seed = 1; seed <= 3; ++seed) {
        v.push_back({"MH_Random", 2, 0, 203, RandomBytes(40000, seed), false, true});
        v.push_back({"G3_Random", 3, 0, 1728, RandomBytes(40000, seed), false});
        v.push_back({"G3_2D_Random", 3, T4OPT_2D, 97, RandomBytes(40000, seed), false});
        v.push_back({"G4_Random", 4, 0, 1728, RandomBytes(40000, seed), false});
        v.push_back({"G4_RandomNarrow", 4, 0, 3, RandomBytes(40000, seed), false});
    }
    return v;
}

class FaxDamaged : public ::testing::TestWithParam<Damaged> {};

TEST_P(FaxDamaged, EndsCleanly)
{
    const Damaged& c = GetParam();
    FaxDecoder d(c.compression, c.width, c.t4Options);
    d.Begin(c.data, 4093);
    const int ask = 100000;
    // Guard bytes around the rows catch a stray write even without ASan.
    const size_t rb = size_t(d.rowBytes());
    const size_t perCall = 64;
    Bytes buffer(rb * perCall + 64, 0x3C);
    int total = 0;
    for (;;) {
        int got = d.codec()->DecodeRows(d.codec(), buffer.data() + 32, int(perCall));
        total += got;
        for (size_t i = 0; i < 32; ++i) {
            ASSERT_EQ(buffer[i], 0x3C);
            ASSERT_EQ(buffer[buffer.size() - 1 - i], 0x3C);
        }
        if (c.allRowsWhite || (c.mayStick && total >= ask)) {
            for (size_t i = 0; i < rb * perCall; ++i)
                ASSERT_EQ(buffer[32 + i] & ((i % rb == rb - 1) ? 0xFF << ((8 - c.width % 8) % 8) : 0xFF), 0);
        }
        if (got < int(perCall) || total >= ask)
            break;
    }
    if (c.allRowsWhite || (c.mayStick && total >= ask))
        EXPECT_EQ(total, ask / int(perCall) * int(perCall) + int(perCall));
    else
        EXPECT_LT(total, ask);
}

INSTANTIATE_TEST_SUITE_P(Fax, FaxDamaged, ::testing::ValuesIn(DamagedStreams()),
    [](const ::testing::TestParamInfo<Damaged>& i) {
        return std::string(i.param.name) + "_" + std::to_string(i.index);
    });

}  // namespace
