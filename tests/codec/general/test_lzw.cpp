// test_lzw.cpp — the LZW decoder: exact bytes, both stream kinds against an
// independent test encoder, strings across rows and buffer fills, row layout,
// and damaged code streams.
#include <gtest/gtest.h>

#include <memory>

#include "codec/general/tif_lzw.h"
#include "codec_io.h"
#include "lzw_test_encoder.h"

using namespace codec_test;

namespace {

using Codec = std::unique_ptr<TifCodec, CodecDeleter>;

Codec Decoder(int width, int samples = 1, int bits = 8)
{
    TifCodecParams p = Params(5, width, samples, bits);
    return Codec(TifCreateDecoder(&p));
}

TEST(Lzw, SingleByteStrip)
{
    LzwTestEncoder enc(false);
    const Bytes strip = {0x80, 0x10, 0x60, 0x20};
    EXPECT_EQ(enc.Encode({0x41}), strip);  // the helper writes what TIFF 6.0 asks
    Codec dec = Decoder(1);
    Bytes out;
    ASSERT_EQ(DecodeStrip(dec.get(), strip, 1, 1, &out), 1);
    EXPECT_EQ(out, Bytes{0x41});
}

enum Content { kPhoto, kFlat, kNoise };

struct RoundTrip {
    bool oldStyle;
    int rowBytes;
    int rows;
    Content content;
    int chunk;    // bytes per input transfer
    int perCall;  // rows per DecodeRows call
};

Bytes Make(Content c, int rowBytes, int rows)
{
    if (c == kPhoto)
        return PhotoRows(rowBytes, rows, 5);
    Bytes b(size_t(rowBytes) * rows, 0x5A);
    if (c == kNoise) {
        uint32_t x = 99;
        for (auto& v : b) {
            x = x * 1664525u + 1013904223u;
            v = uint8_t(x >> 24);
        }
    }
    return b;
}

class LzwRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(LzwRoundTrip, DecodesWhatTheTestEncoderWrote)
{
    const RoundTrip t = GetParam();
    const Bytes rows = Make(t.content, t.rowBytes, t.rows);
    LzwTestEncoder enc(t.oldStyle);
    const Bytes strip = enc.Encode(rows);
    Codec dec = Decoder(t.rowBytes);
    Bytes out;
    ASSERT_EQ(DecodeStrip(dec.get(), strip, t.rowBytes, t.rows, &out, t.chunk, t.perCall), t.rows);
    EXPECT_EQ(out, rows);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, LzwRoundTrip,
    ::testing::Values(
        // Noise fills the table: Clear codes at 12 bits, every width change.
        RoundTrip{false, 1000, 40, kNoise, 1 << 20, 1}, RoundTrip{true, 1000, 40, kNoise, 1 << 20, 1},
        RoundTrip{false, 997, 23, kNoise, 1, 5}, RoundTrip{true, 997, 23, kNoise, 3, 23},
        RoundTrip{false, 3000, 30, kPhoto, 1 << 20, 1}, RoundTrip{true, 3000, 30, kPhoto, 7, 2},
        // Flat rows: strings far longer than a row continue through several rows.
        RoundTrip{false, 13, 300, kFlat, 1 << 20, 1}, RoundTrip{true, 13, 300, kFlat, 1, 7},
        RoundTrip{false, 1, 5000, kFlat, 2, 1},
        // Rows wider than one buffer fill.
        RoundTrip{false, 70000, 3, kPhoto, 1 << 20, 1}, RoundTrip{false, 40000, 2, kNoise, 1 << 20, 2}));

TEST(Lzw, RowStrideAndReverseLeaveTheGapsAlone)
{
    const int rowBytes = 10, rows = 6, stride = 16;
    const Bytes data = Make(kPhoto, rowBytes, rows);
    LzwTestEncoder enc(false);
    const Bytes strip = enc.Encode(data);
    for (int reverse : {0, 1}) {
        Codec dec = Decoder(rowBytes);
        dec->SetRowStride(dec.get(), stride, reverse);
        MemSource src;
        src.data = strip;
        dec->SetIoProc(dec.get(), MemSource::Proc, &src);
        dec->BeginStrip(dec.get());
        Bytes buf(size_t(stride) * rows, 0xEE);
        uint8_t* first = buf.data() + (reverse ? size_t(stride) * (rows - 1) : 0);
        ASSERT_EQ(dec->DecodeRows(dec.get(), first, rows), rows);
        for (int r = 0; r < rows; ++r) {
            const int slot = reverse ? rows - 1 - r : r;
            const uint8_t* got = buf.data() + size_t(slot) * stride;
            EXPECT_EQ(Bytes(got, got + rowBytes), Bytes(data.begin() + r * rowBytes, data.begin() + (r + 1) * rowBytes));
            EXPECT_EQ(Bytes(got + rowBytes, got + stride), Bytes(size_t(stride - rowBytes), 0xEE));
        }
    }
}

TEST(Lzw, StreamKindIsChosenAgainForEveryStrip)
{
    const Bytes a = Make(kPhoto, 50, 4), b = Make(kNoise, 50, 4);
    LzwTestEncoder oldEnc(true), newEnc(false);
    const Bytes oldStrip = oldEnc.Encode(a), newStrip = newEnc.Encode(b);
    Codec dec = Decoder(50);
    Bytes out;
    ASSERT_EQ(DecodeStrip(dec.get(), oldStrip, 50, 4, &out), 4);
    EXPECT_EQ(out, a);
    ASSERT_EQ(DecodeStrip(dec.get(), newStrip, 50, 4, &out), 4);
    EXPECT_EQ(out, b);
}

TEST(Lzw, PredictorWrapsBothStreamKinds)
{
    // RGB rows of differences; the decoder must return the running sums.
    const Bytes diffs = Make(kPhoto, 30, 3);
    Bytes expected = diffs;
    for (int r = 0; r < 3; ++r)
        for (int i = 3; i < 30; ++i)
            expected[r * 30 + i] = uint8_t(expected[r * 30 + i] + expected[r * 30 + i - 3]);
    for (bool oldStyle : {true, false}) {
        LzwTestEncoder enc(oldStyle);
        const Bytes strip = enc.Encode(diffs);
        Codec dec = Decoder(10, 3, 8);
        ASSERT_EQ(dec->SetParam(dec.get(), 317, 2), 1);
        Bytes out;
        ASSERT_EQ(DecodeStrip(dec.get(), strip, 30, 3, &out), 3);
        EXPECT_EQ(out, expected);
    }
    Codec fourBit = Decoder(10, 1, 4);
    EXPECT_EQ(fourBit->SetParam(fourBit.get(), 317, 2), 0);
    EXPECT_EQ(fourBit->SetParam(fourBit.get(), 266, 1), 0);
}

TEST(Lzw, MoreRowsThanTheStripHoldsAndTruncation)
{
    const Bytes data = Make(kPhoto, 20, 5);
    LzwTestEncoder enc(false);
    Bytes strip = enc.Encode(data);
    Codec dec = Decoder(20);
    Bytes out;
    EXPECT_EQ(DecodeStrip(dec.get(), strip, 20, 9, &out, 1 << 20, 1), 5);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 100), data);
    strip.resize(strip.size() / 2);
    const int got = DecodeStrip(dec.get(), strip, 20, 5, &out, 1, 1);
    EXPECT_GT(got, 0);
    EXPECT_LT(got, 5);
}

TEST(Lzw, ReadFailurePassesThrough)
{
    const Bytes data = Make(kNoise, 100, 4);
    LzwTestEncoder enc(false);
    MemSource src;
    src.data = enc.Encode(data);
    src.chunk = 16;
    src.throwAt = 150;
    Codec dec = Decoder(100);
    dec->SetIoProc(dec.get(), MemSource::Proc, &src);
    dec->BeginStrip(dec.get());
    Bytes out(400);
    EXPECT_EQ(dec->DecodeRows(dec.get(), out.data(), 1), 1);
    EXPECT_THROW(
        {
            try {
                dec->DecodeRows(dec.get(), out.data() + 100, 3);
            } catch (CTifException* e) {
                delete e;
                throw 1;
            }
        },
        int);
}

// Damaged streams: each is a code list written at the widths a decoder
// expects, and the rows a decoder may complete before the strip ends.
struct Damage {
    const char* name;
    std::vector<int> codes;
    int rowBytes;
    int rowsDelivered;
};

// Widths as a TIFF 6.0 decoder tracks them: one more entry per code after the
// first following a Clear.
Bytes WriteCodes(const std::vector<int>& codes)
{
    LzwTestEncoder w(false);
    int freeEntry = 258;
    bool afterClear = false;
    for (int c : codes) {
        const int width = freeEntry > 2046 ? 12 : freeEntry > 1022 ? 11 : freeEntry > 510 ? 10 : 9;
        w.SetWidth(width);
        w.Code(c);
        if (c == 256) {
            freeEntry = 258;
            afterClear = true;
        } else if (afterClear) {
            afterClear = false;
        } else {
            ++freeEntry;
        }
    }
    w.Flush();
    return w.Out();
}

std::vector<int> ManyCodes(int n)
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
    for (int chunk : {1, 1 << 20}) {
        Codec dec = Decoder(d.rowBytes);
        Bytes out;
        EXPECT_EQ(DecodeStrip(dec.get(), strip, d.rowBytes, 200, &out, chunk, 1), d.rowsDelivered);
        // The strip stays over, whatever data follows.
        Bytes more(size_t(d.rowBytes));
        EXPECT_EQ(dec->DecodeRows(dec.get(), more.data(), 1), 0);
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
        Damage{"TableOverflow", ManyCodes(6000), 100, 48}),
    [](const ::testing::TestParamInfo<Damage>& i) { return std::string(i.param.name); });

}  // namespace
