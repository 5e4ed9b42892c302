// test_predictor.cpp — horizontal differencing: the specialised row loops
// against a plain reference in both byte orders, and the wrapping of a
// codec's row slot.
#include <gtest/gtest.h>


#include "codec/general/tif_predictor.h"
#include "support/codec_io.h"

using namespace tiftest;

namespace {

constexpr bool kHostBigEndian = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;

// Reference accumulation; 16-bit words in the given byte order.
void RefAccumulate(int stride, Bytes& row, int bits, bool bigEndian)
{
    const size_t unit = size_t(bits / 8), hi = bigEndian ? 0 : 1;
    auto get = [&](size_t w) { return unit == 1 ? row[w] : unsigned(row[2 * w + hi] << 8 | row[2 * w + 1 - hi]); };
    for (size_t w = stride; w < row.size() / unit; ++w) {
        const unsigned v = get(w) + get(w - stride);
        if (unit == 1) {
            row[w] = uint8_t(v);
        } else {
            row[2 * w + hi] = uint8_t(v >> 8);
            row[2 * w + 1 - hi] = uint8_t(v);
        }
    }
}

struct RowCase {
    int stride;
    int bits;
    int pixels;
};

class PredictorRows : public ::testing::TestWithParam<RowCase> {};

TEST_P(PredictorRows, AccumulateMatchesTheReferenceAndDifferenceUndoesIt)
{
    const RowCase c = GetParam();
    const int bytes = c.pixels * c.stride * c.bits / 8;
    const Bytes original = PatternRows(bytes, 1, uint32_t(c.stride * 100 + c.bits + c.pixels));
    Bytes mine = original, ref = original;
    (c.bits == 8 ? TifPredAccumulate8 : TifPredAccumulate16)(c.stride, mine.data(), bytes);
    RefAccumulate(c.stride, ref, c.bits, kHostBigEndian);
    EXPECT_EQ(mine, ref);
    if (c.bits == 8) {  // from a separate block of differences
        Bytes apart(original.size(), 0xEE);
        TifPredAccumulate8From(c.stride, original.data(), apart.data(), bytes);
        EXPECT_EQ(apart, ref);
    }
    Bytes diffs(original.size(), 0xEE);
    (c.bits == 8 ? TifPredDifference8 : TifPredDifference16)(c.stride, mine.data(), diffs.data(), bytes);
    EXPECT_EQ(diffs, original);
    if (c.bits == 16) {  // words of the other order are accumulated and stay in it
        Bytes other = original, refOther = original;
        TifPredAccumulate16Swapped(c.stride, other.data(), bytes);
        RefAccumulate(c.stride, refOther, 16, !kHostBigEndian);
        EXPECT_EQ(other, refOther);
    }
}

INSTANTIATE_TEST_SUITE_P(Strides, PredictorRows,
                         ::testing::Values(RowCase{1, 8, 37}, RowCase{2, 8, 20}, RowCase{3, 8, 33}, RowCase{4, 8, 41},
                                           RowCase{5, 8, 9}, RowCase{1, 16, 29}, RowCase{3, 16, 17}, RowCase{4, 16, 12},
                                           // Around the 16-byte blocks of the vector loops.
                                           RowCase{3, 8, 2}, RowCase{3, 8, 6}, RowCase{3, 8, 10}, RowCase{3, 8, 11},
                                           RowCase{1, 8, 16}, RowCase{1, 8, 17}, RowCase{4, 8, 4}, RowCase{4, 8, 5},
                                           // Strides of a block or more, words around blocks of eight.
                                           RowCase{16, 8, 3}, RowCase{17, 8, 4}, RowCase{1, 16, 8}, RowCase{1, 16, 9},
                                           RowCase{3, 16, 6}, RowCase{8, 16, 3}));

TEST(Predictor, OnePixelRowsAreLeftAloneAndDifferencesWrap)
{
    const Bytes one = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC};
    for (auto p : {TifPredAccumulate8, TifPredAccumulate16, TifPredAccumulate16Swapped}) {
        Bytes row = one;
        p(3, row.data(), p == TifPredAccumulate8 ? 3 : 6);
        EXPECT_EQ(row, one);
    }
    for (auto p : {TifPredDifference8, TifPredDifference16}) {  // copied as they are
        Bytes row(6, 0xEE);
        p(3, one.data(), row.data(), p == TifPredDifference8 ? 3 : 6);
        EXPECT_EQ(row, p == TifPredDifference8 ? (Bytes{0x12, 0x34, 0x56, 0xEE, 0xEE, 0xEE}) : one);
    }
    Bytes row(2);
    TifPredDifference8(1, Bytes{250, 4}.data(), row.data(), 2);
    EXPECT_EQ(row, (Bytes{250, 10}));
}

// A bare codec with room for the predictor fields, given PackBits' row
// procedures as its own.
Codec Wrappable(bool decoder, int samples, int bits)
{
    const TifCodecParams p{32773, 6, samples, bits};
    TifCodec* c = decoder ? TifNewDecoderBase(&p, sizeof(TifPredictedState)) : TifNewEncoderBase(&p, sizeof(TifPredictedState));
    const Codec packBits = NewCodec(decoder, 32773, 6, samples, bits);
    if (decoder)
        c->DecodeRows = packBits->DecodeRows;
    else
        c->EncodeRows = packBits->EncodeRows;
    TifPredState(c)->predictor = 1;
    c->Destroy = TifPredictorDestroy;
    return Codec(c);
}

TEST(Predictor, SetParamWrapsUnwrapsAndRefuses)
{
    Codec enc = Wrappable(false, 3, 8), dec = Wrappable(true, 3, 8);
    const TifRowsProc plainEnc = enc->EncodeRows, plainDec = dec->DecodeRows;
    EXPECT_EQ(TifPredictorSetParam(enc.get(), 317, 3, plainEnc, false), 0);
    EXPECT_EQ(TifPredictorSetParam(enc.get(), 292, 2, plainEnc, false), 0);
    ASSERT_EQ(TifPredictorSetParam(enc.get(), 317, 2, plainEnc, false), 1);
    ASSERT_EQ(TifPredictorSetParam(dec.get(), 317, 2, plainDec, true), 1);
    ASSERT_EQ(TifPredictorSetParam(dec.get(), 317, 2, plainDec, true), 1);  // no second wrap

    const Bytes rows = PatternRows(18, 3, 7);
    const Bytes strip = EncodeStrip(enc.get(), rows, 3);
    // The same rows last first, 23 bytes apart, in two calls: the same strip,
    // and the caller's bytes as they were.
    Bytes spread(3 * 23, 0xEE);
    for (int r = 0; r < 3; ++r)
        std::copy_n(rows.begin() + r * 18, 18, spread.begin() + (2 - r) * 23);
    const Bytes given = spread;
    enc->SetRowStride(enc.get(), 23, 1);
    MemSink sink;
    enc->SetIoProc(enc.get(), MemSink::Proc, &sink);
    enc->BeginStrip(enc.get());
    EXPECT_EQ(enc->EncodeRows(enc.get(), spread.data() + 46, 1) + enc->EncodeRows(enc.get(), spread.data() + 23, 2), 3);
    enc->EndStrip(enc.get());
    EXPECT_EQ(sink.data, strip);
    EXPECT_EQ(spread, given);
    Bytes out;
    ASSERT_EQ(DecodeStrip(dec.get(), strip, 3, &out, 1 << 20, 3), 3);
    EXPECT_EQ(out, rows);
    ASSERT_EQ(DecodeStrip(dec.get(), strip, 3, &out, 1 << 20, 2), 3);
    EXPECT_EQ(out, rows);

    ASSERT_EQ(TifPredictorSetParam(dec.get(), 317, 1, plainDec, true), 1);
    EXPECT_EQ(dec->DecodeRows, plainDec);
    Codec fourBit = Wrappable(true, 1, 4);
    EXPECT_EQ(TifPredictorSetParam(fourBit.get(), 317, 2, fourBit->DecodeRows, true), 0);
    EXPECT_EQ(TifPredState(fourBit.get())->predictor, 1);
}

TEST(Predictor, ShortInnerDecodeAccumulatesNothing)
{
    Codec dec = Wrappable(true, 1, 8);
    ASSERT_EQ(TifPredictorSetParam(dec.get(), 317, 2, dec->DecodeRows, true), 1);
    Bytes out;  // one complete row of the two asked for: 0, and the row stays as decoded
    EXPECT_EQ(DecodeStrip(dec.get(), {5, 1, 1, 1, 1, 1, 1}, 2, &out, 1 << 20, 2), 0);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 6), Bytes(6, 1));
}

}  // namespace
