// test_fax_decoder.cpp — the fax decoder on exact bit streams: 1D rows coded
// from the code list, framing, and damaged streams. (One-row reference vectors
// are in test_schemes.cpp.)
#include <gtest/gtest.h>

#include <random>

#include "codec/fax/tif_fax.h"
#include "io/tif_exception.h"
#include "support/codec_io.h"
#include "support/fax_util.h"

using namespace tiftest;

namespace {

// Rows with the bits beyond `width` masked; those bits must still hold the
// 0xA5 the decoder found there.
std::vector<Bytes> Checked(const std::vector<Bytes>& rows, int width)
{
    std::vector<Bytes> out;
    const uint8_t keep = (width & 7) ? uint8_t(0xFF >> (width & 7)) : 0;
    for (const Bytes& r : rows) {
        EXPECT_EQ(r.back() & keep, 0xA5 & keep);
        out.push_back(MaskRow(r, width));
    }
    return out;
}

struct OneDCase {
    const char* name;
    int compression, t4Options, fillOrder, width;
    int fillBits;  // zero bits before each EOL (Compression 3)
};

class FaxOneD : public ::testing::TestWithParam<OneDCase> {};

// A page, plus rows needing width + 1 runs (pixel 0 black, then every pixel
// its own run), coded from the code list; decoded whole, one byte per ioProc
// call and a row per call, and 7 bytes per ioProc call 3 rows per call.
TEST_P(FaxOneD, PageAndAlternatingRows)
{
    const OneDCase& c = GetParam();
    std::vector<Bytes> rows = FaxPage(c.width, 23, uint32_t(c.width));
    const Bytes alternate = MaskRow(Bytes((size_t(c.width) + 7) / 8, 0xAA), c.width);
    rows.insert(rows.begin() + 3, alternate);
    rows.push_back(alternate);
    FaxBitWriter w;
    for (const Bytes& r : rows) {
        if (c.compression == 3) {
            w.Put(0, c.fillBits);
            w.PutEol();
            if (c.t4Options & T4OPT_2D)
                w.Put(1, 1);  // tag: a one-dimensional row
        }
        PutRow1D(w, r, c.width);
        if (c.compression == 2)
            w.Align();
    }
    const Bytes data = w.Finish(c.fillOrder);
    for (int chunk : {1 << 20, 1, 7}) {
        FaxDecoder d(c.compression, c.width, c.t4Options, c.fillOrder);
        d.Begin(data, chunk);
        std::vector<Bytes> got;
        ASSERT_EQ(d.Decode(int(rows.size()), &got, chunk == 7 ? 3 : 1), int(rows.size()));
        EXPECT_EQ(Checked(got, c.width), rows);
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

// The rows coded as Modified Huffman, each from a byte boundary, and decoded
// in one call (every row reuses the last one's scratch).
std::vector<Bytes> MHRoundTrip(const std::vector<Bytes>& rows, int width)
{
    FaxBitWriter w;
    for (const Bytes& r : rows) {
        PutRow1D(w, r, width);
        w.Align();
    }
    FaxDecoder d(2, width);
    d.Begin(w.Finish());
    std::vector<Bytes> got;
    EXPECT_EQ(d.Decode(int(rows.size()), &got), int(rows.size()));
    return Checked(got, width);
}

// Rows with fewer colour changes than 64-pixel words are painted by a pass
// that passes over groups of four words without a change: black spans at word
// and group edges, across empty groups, up to the row end, each row
// followed by a white one that shows any word the pass left dirty.
TEST(FaxDecoder, SparseRows)
{
    struct Span {
        int from, to;  // black pixels from .. to - 1
    };
    const std::vector<std::vector<Span>> shapes = {
        {{0, 1}},    {{63, 65}},   {{255, 257}}, {{511, 512}},           {{100, 700}},
        {{0, 2000}}, {{836, 837}}, {{1727, 1728}}, {{3, 4}, {830, 1000}}, {{64, 128}, {192, 256}, {320, 321}},
        // Groups run from the first word with a change and end before the
        // last: after an empty group, a change in each word of the next one.
        {{0, 1}, {5 * 64 + 10, 5 * 64 + 12}, {800, 801}}, {{0, 1}, {6 * 64, 6 * 64 + 1}, {800, 801}},
        {{0, 1}, {7 * 64 + 10, 7 * 64 + 12}},
        {{70, 71}, {8 * 64 + 6, 9 * 64}},
    };
    for (int width : {837, 512, 1728, 70}) {
        SCOPED_TRACE(width);
        const Bytes white((size_t(width) + 7) / 8, 0);
        std::vector<Bytes> rows;
        for (const std::vector<Span>& shape : shapes) {
            Bytes row = white;
            for (const Span& s : shape)
                for (int x = s.from; x < s.to && x < width; ++x)
                    row[size_t(x) >> 3] |= uint8_t(0x80 >> (x & 7));
            rows.push_back(row);
            rows.push_back(white);
        }
        EXPECT_EQ(MHRoundTrip(rows, width), rows);
    }
}

// Group 3: the first row, without an EOL before it, is lost (the
// synchronisation skips to the first EOL); rows asked for past an RTC come out
// white, one per EOL (and one for the zero bits read past the end), then the
// count falls short.
TEST(FaxDecoder, G3FramingAtBothEnds)
{
    std::vector<Bytes> rows = FaxPage(24, 5, 11);
    FaxBitWriter w;
    for (size_t i = 0; i < rows.size(); ++i) {
        if (i != 0)
            w.PutEol();
        PutRow1D(w, rows[i], 24);
    }
    for (int i = 0; i < 6; ++i)
        w.PutEol();
    FaxDecoder d(3, 24);
    d.Begin(w.Finish());
    std::vector<Bytes> got;
    const int n = d.Decode(40, &got);
    EXPECT_GE(n, 4 + 5);
    EXPECT_LE(n, 4 + 6);
    got = Checked(got, 24);
    EXPECT_EQ(std::vector<Bytes>(got.begin(), got.begin() + 4), std::vector<Bytes>(rows.begin() + 1, rows.end()));
    for (size_t y = 4; y < got.size(); ++y)
        EXPECT_EQ(got[y], Bytes(3, 0)) << y;
}

// Group 3 resynchronises on the next EOL: a row cut short by an EOL and a row
// starting on an invalid code right after it are delivered as damaged, and
// the rows after the next EOL come out whole.
TEST(FaxDecoder, G3DamagedRowsInsideAPage)
{
    std::vector<Bytes> rows = FaxPage(24, 3, 5);
    FaxBitWriter w;
    w.PutEol();
    PutRow1D(w, rows[0], 24);
    w.PutEol();
    w.PutRun(false, 10);  // a short row: the EOL comes where a black run should
    w.PutEol();
    w.Put("000000001000");  // no code starts this way
    for (int i = 1; i < 3; ++i) {
        w.PutEol();
        PutRow1D(w, rows[i], 24);
    }
    FaxDecoder d(3, 24);
    d.Begin(w.Finish());
    std::vector<Bytes> got;
    ASSERT_EQ(d.Decode(5, &got), 5);
    got = Checked(got, 24);
    EXPECT_EQ(got[0], rows[0]);
    EXPECT_EQ(got[3], rows[1]);
    EXPECT_EQ(got[4], rows[2]);
}

// A Modified Huffman row that starts on an invalid code ends the data there,
// also with many bytes buffered behind the code (and whatever number of rows
// before it): reading ahead for a pair of codes must not make such a row look
// as if it had consumed data.
TEST(FaxDecoder, MHInvalidCodeAtARowStartEndsTheData)
{
    const std::vector<Bytes> rows = FaxPage(100, 4, 7);
    for (int valid = 0; valid <= 4; ++valid) {
        FaxBitWriter w;
        for (int y = 0; y < valid; ++y) {
            PutRow1D(w, rows[size_t(y)], 100);
            w.Align();
        }
        w.Put("000000001000");  // no code starts this way
        w.Put(std::string(32 * 8, '1'));
        FaxDecoder d(2, 100);
        d.Begin(w.Finish());
        std::vector<Bytes> got;
        ASSERT_EQ(d.Decode(10, &got), valid);
        for (int y = 0; y < valid; ++y)
            EXPECT_EQ(MaskRow(got[size_t(y)], 100), MaskRow(rows[size_t(y)], 100)) << y;
        EXPECT_EQ(d.Decode(1, &got), 0);
    }
}

// T4Options is a Compression 3 parameter only; FillOrder applies to all
// three. Turning T4OPT_2D on and off again leaves a working 1D decoder.
TEST(FaxDecoder, SetParam)
{
    for (int compression : {2, 3, 4}) {
        FaxDecoder d(compression, 16);
        TifCodec* c = d.codec();
        EXPECT_EQ(c->SetParam(c, 292, T4OPT_2D), compression == 3 ? 1 : 0);
        EXPECT_EQ(c->SetParam(c, 266, 2), 1);
        EXPECT_EQ(c->SetParam(c, 317, 2), 0);
    }
    FaxDecoder d(3, 8, T4OPT_2D);
    EXPECT_EQ(d.codec()->SetParam(d.codec(), 292, T4OPT_FILLBITS), 1);
    d.Begin({0x00, 0x18, 0xE0});
    uint8_t row = 0x5A;
    EXPECT_EQ(d.codec()->DecodeRows(d.codec(), &row, 0), 0);  // changes nothing
    EXPECT_EQ(row, 0x5A);
    std::vector<Bytes> rows;
    ASSERT_EQ(d.Decode(1, &rows), 1);
    EXPECT_EQ(rows[0][0], 0x18);
}

// FillOrder set after the strip began applies to every byte not yet read,
// also those already buffered: a page coded in the new order, whole, in 7-byte
// and in 1-byte blocks, decodes right in either direction.
TEST(FaxDecoder, FillOrderChangedAfterBegin)
{
    const int width = 1728;
    const std::vector<Bytes> rows = FaxPage(width, 12, 7);
    for (int from : {1, 2}) {
        const int to = 3 - from;
        FaxBitWriter w;
        for (const Bytes& r : rows) {
            PutRow1D(w, r, width);
            w.Align();
        }
        const Bytes data = w.Finish(to);
        for (int chunk : {1 << 20, 7, 1}) {
            SCOPED_TRACE(std::to_string(from) + " to " + std::to_string(to) + ", blocks of " + std::to_string(chunk));
            FaxDecoder d(2, width, 0, from);
            d.Begin(data, chunk);
            ASSERT_EQ(d.codec()->SetParam(d.codec(), 266, to), 1);
            ASSERT_EQ(d.codec()->SetParam(d.codec(), 266, to), 1);  // the same order again changes nothing
            std::vector<Bytes> got;
            ASSERT_EQ(d.Decode(int(rows.size()), &got), int(rows.size()));
            EXPECT_EQ(got, rows);
        }
    }
}

// A row may hold at most width + 4 runs before a code; a Group 4 row of zero
// runs (horizontal mode, white 0 and black 0) and then V0 codes copying an
// alternating reference row stops where the next code would find the list
// full, and is finished white from there.
TEST(FaxDecoder, RunListLimitWithZeroRuns)
{
    const int width = 16;
    const Bytes alternate = {0x55, 0x55};  // white, black, white, ... one pixel each
    struct Case {
        int zeroPairs;
        int keptPixels;  // of the alternating row; the rest comes out white
    };
    for (const Case& c : {Case{0, 16}, Case{1, 16}, Case{2, 16}, Case{3, 14}, Case{4, 12}, Case{6, 8}}) {
        SCOPED_TRACE(c.zeroPairs);
        FaxBitWriter w;
        for (int i = 0; i < width / 2; ++i)
            w.Put("001" "000111" "010");  // horizontal: white 1, black 1
        for (int i = 0; i < c.zeroPairs; ++i)
            w.Put("001" "00110101" "0000110111");  // horizontal: white 0, black 0
        for (int i = 0; i < width; ++i)
            w.Put("1");  // V0
        FaxDecoder d(4, width);
        d.Begin(w.Finish());
        std::vector<Bytes> got;
        ASSERT_EQ(d.Decode(2, &got), 2);
        EXPECT_EQ(got[0], alternate);
        const uint16_t kept = uint16_t(0x5555 & (0xFFFF << (width - c.keptPixels)));
        EXPECT_EQ(got[1], Bytes({uint8_t(kept >> 8), uint8_t(kept)}));
    }
}

// Runs ending past the row are dropped and the rest of the row is white: an
// MH row whose last run ends 62 pixels past the width, and a Group 4 row
// whose horizontal mode adds two runs past it (125 pixels, the most a row can
// reach), each followed by a row that shows any colour change left behind.
TEST(FaxDecoder, RunsPastTheRowEnd)
{
    for (int width : {64, 127, 191, 1728, 9600}) {
        SCOPED_TRACE(width);
        const Bytes white((size_t(width) + 7) / 8, 0);
        Bytes next = white;  // black at pixels 3 and 4
        next[0] = 0x18;
        FaxBitWriter mh;
        mh.PutRun(false, width - 1);
        mh.PutRun(true, 63);
        mh.Align();
        PutRow1D(mh, next, width);
        FaxBitWriter g4;
        g4.Put("001");
        g4.PutRun(false, width - 1);
        g4.PutRun(true, 0);
        g4.Put("001");
        g4.PutRun(false, 63);
        g4.PutRun(true, 63);
        g4.Put("001");
        g4.PutRun(false, 3);
        g4.PutRun(true, 2);
        g4.Put("001");
        g4.PutRun(false, width - 5);
        g4.PutRun(true, 0);
        for (const auto& [compression, data] : {std::pair{2, mh.Finish()}, std::pair{4, g4.Finish()}}) {
            FaxDecoder d(compression, width);
            d.Begin(data);
            std::vector<Bytes> got;
            ASSERT_EQ(d.Decode(2, &got, 1), 2) << compression;
            EXPECT_EQ(Checked(got, width), (std::vector<Bytes>{white, next})) << compression;
        }
    }
}

// A read that throws leaves the row it cut short unfinished; the strip begun
// again decodes as if nothing had happened.
TEST(FaxDecoder, ThrowingReadThenRestart)
{
    const int width = 1728;
    const std::vector<Bytes> rows = FaxPage(width, 12, 3);
    for (int compression : {2, 3}) {
        FaxBitWriter w;
        for (const Bytes& r : rows) {
            if (compression == 3)
                w.PutEol();
            PutRow1D(w, r, width);
            if (compression == 2)
                w.Align();
        }
        const Bytes data = w.Finish();
        for (int part : {5, 3, 2}) {
            const long throwAt = long(data.size()) / part;
            SCOPED_TRACE(std::to_string(compression) + " throwing at " + std::to_string(throwAt));
            FaxDecoder d(compression, width);
            d.Begin(data, 5, throwAt);
            std::vector<Bytes> got;
            EXPECT_NE(ThrownCode([&] { d.Decode(int(rows.size()), &got, 1); }), 0);
            d.Begin(data);
            ASSERT_EQ(d.Decode(int(rows.size()), &got), int(rows.size()));
            EXPECT_EQ(Checked(got, width), rows);
        }
    }
}

// Rows whose run arrays would pass the allocation limit, or whose pixel count
// overflows, make no decoder.
TEST(FaxDecoder, RefusesOversizedRows)
{
    for (TifCodecParams p : {TifCodecParams{4, 1 << 28, 1, 1}, TifCodecParams{3, 1 << 30, 1 << 30, 1},
                             TifCodecParams{2, 1 << 20, 1 << 10, 1 << 10}})
        EXPECT_EQ(TifCreateDecoder(&p), nullptr);
    TifCodecParams ok{4, 1 << 20, 1, 1};
    TifCodec* c = TifCreateDecoder(&ok);
    ASSERT_NE(c, nullptr);
    c->Destroy(c);
}

// Damaged streams end with a short count, never writing outside the rows, and
// every row they deliver consumes data: a code that stops a row where it began
// (an MH or G4 row starting on an invalid code) ends the data there instead of
// stopping every later row at the same place.
struct Damaged {
    const char* name;
    int compression, t4Options, width;
    Bytes data;
};

Bytes Repeat(const std::string& prefix, const std::string& bits, int times)
{
    FaxBitWriter w;
    w.Put(prefix);
    for (int i = 0; i < times; ++i)
        w.Put(bits);
    return w.Finish();
}

std::vector<Damaged> DamagedStreams()
{
    const std::string zeroRuns = "001" "00110101" "0000110111";  // horizontal, white 0, black 0
    std::vector<Damaged> v = {
        {"G3_AllZeros", 3, 0, 1728, Bytes(70000, 0)},
        {"G3_2D_AllZeros", 3, T4OPT_2D, 1728, Bytes(70000, 0)},
        {"G3_OnesNoEol", 3, 0, 64, Bytes(70000, 0xFF)},
        {"MH_MakeUpNeverEnds", 2, 0, 3000, Repeat("", "11011", 20000)},
        {"MH_ExtMakeUpNeverEnds", 2, 0, 100000, Repeat("", "000000011111", 20000)},
        {"G3_MakeUpNeverEnds", 3, 0, 1728, Repeat("", "000000000001" "11011", 5000)},
        {"MH_InvalidOnByteBoundary", 2, 0, 100, {0x00, 0x80, 0xFF}},
        {"G4_ZeroLengthRuns", 4, 0, 50, Repeat("", zeroRuns, 30000)},
        {"G3_2D_ZeroLengthRuns", 3, T4OPT_2D, 50, Repeat("000000000001" "0", zeroRuns, 30000)},
        {"G4_VLStorm", 4, 0, 64, Repeat("", "0000010", 30000)},
        {"G4_VRStorm", 4, 0, 64, Repeat("", "0000011", 30000)},
        {"G4_PassStorm", 4, 0, 1000, Repeat("", "0001", 60000)},
        {"G4_Extension", 4, 0, 77, Repeat("", "0000001", 30000)},
        {"G4_Eols", 4, 0, 77, Repeat("", "000000000001", 30000)},
        {"G4_VLVRNearStart", 4, 0, 9, Repeat("", "010" "010" "0000011" "1" "0001", 9000)},
    };
    std::mt19937 rng(1);
    for (int i = 0; i < 3; ++i) {
        Bytes noise(40000);
        for (uint8_t& b : noise)
            b = uint8_t(rng());
        v.push_back({"MH_Random", 2, 0, 203, noise});
        v.push_back({"G3_Random", 3, 0, 1728, noise});
        v.push_back({"G3_2D_Random", 3, T4OPT_2D, 97, noise});
        v.push_back({"G4_Random", 4, 0, 1728, noise});
        v.push_back({"G4_RandomNarrow", 4, 0, 3, noise});
    }
    return v;
}

class FaxDamaged : public ::testing::TestWithParam<Damaged> {};

TEST_P(FaxDamaged, EndsCleanly)
{
    const Damaged& c = GetParam();
    FaxDecoder d(c.compression, c.width, c.t4Options);
    d.Begin(c.data, 4093);
    // 64 rows per call between guard bytes, which catch a stray write even
    // without a sanitizer.
    const size_t rb = size_t(d.rowBytes()), rows = 64;
    const long bits = long(c.data.size()) * 8;
    Bytes buffer(rb * rows + 64, 0x3C);
    long total = 0;
    int got = 0;
    do {
        got = d.codec()->DecodeRows(d.codec(), buffer.data() + 32, int(rows));
        total += got;
        ASSERT_EQ(Bytes(buffer.begin(), buffer.begin() + 32), Bytes(32, 0x3C));
        ASSERT_EQ(Bytes(buffer.end() - 32, buffer.end()), Bytes(32, 0x3C));
    } while (got == int(rows) && total <= bits);
    EXPECT_LE(total, bits) << "rows delivered without data";
    EXPECT_EQ(d.codec()->DecodeRows(d.codec(), buffer.data() + 32, 1), 0) << "a row after the end";
}

INSTANTIATE_TEST_SUITE_P(Fax, FaxDamaged, ::testing::ValuesIn(DamagedStreams()),
    [](const ::testing::TestParamInfo<Damaged>& i) {
        return std::string(i.param.name) + "_" + std::to_string(i.index);
    });

}  // namespace
