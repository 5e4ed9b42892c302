// test_predictor.cpp — horizontal differencing: the specialised row loops
// against a plain reference, wrapping of a codec's row slot, byte order.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "codec/general/tif_predictor.h"
#include "codec/general/tif_packbits.h"
#include "codec_io.h"

using namespace codec_test;

namespace {

// Reference accumulation on 16-bit words of either byte order.
void RefAccumulate(int stride, Bytes& row, int bits, bool bigEndian)
{
    if (bits == 8) {
        for (size_t i = stride; i < row.size(); ++i)
            row[i] = uint8_t(row[i] + row[i - stride]);
        return;
    }
    auto get = [&](size_t w) {
        return bigEndian ? uint16_t(row[2 * w] << 8 | row[2 * w + 1]) : uint16_t(row[2 * w] | row[2 * w + 1] << 8);
    };
    auto put = [&](size_t w, uint16_t v) {
        row[2 * w + (bigEndian ? 0 : 1)] = uint8_t(v >> 8);
        row[2 * w + (bigEndian ? 1 : 0)] = uint8_t(v);
    };
    for (size_t w = stride; w < row.size() / 2; ++w)
        put(w, uint16_t(get(w) + get(w - stride)));
}

struct RowCase {
    int stride;
    int bits;
    int pixels;
};

class PredictorRows : public ::testing::TestWithParam<RowCase> {};

TEST_P(PredictorRows, AccumulateMatchesReferenceAndDifferenceInvertsIt)
{
    const RowCase c = GetParam();
    const int bytes = c.pixels * c.stride * c.bits / 8;
    const Bytes original = PhotoRows(bytes, 1, uint32_t(c.stride * 100 + c.bits + c.pixels));
    const bool hostBig = [] { uint16_t v = 1; unsigned char b; std::memcpy(&b, &v, 1); return b == 0; }();

    Bytes mine = original, ref = original;
    if (c.bits == 8)
        TifPredAccumulate8(c.stride, mine.data(), bytes);
    else
        TifPredAccumulate16(c.stride, mine.data(), bytes);
    RefAccumulate(c.stride, ref, c.bits, hostBig);
    EXPECT_EQ(mine, ref);

    if (c.bits == 8)
        TifPredDifference8(c.stride, mine.data(), bytes);
    else
        TifPredDifference16(c.stride, mine.data(), bytes);
    EXPECT_EQ(mine, original);

    if (c.bits == 16) {
        // Words of the other byte order come back in that order, accumulated.
        Bytes swapped = original, refOther = original;
        TifPredAccumulate16Swapped(c.stride, swapped.data(), bytes);
        RefAccumulate(c.stride, refOther, 16, !hostBig);
        EXPECT_EQ(swapped, refOther);
    }
}

INSTANTIATE_TEST_SUITE_P(Strides, PredictorRows,
                         ::testing::Values(RowCase{1, 8, 37}, RowCase{2, 8, 20}, RowCase{3, 8, 33},
                                           RowCase{4, 8, 41}, RowCase{5, 8, 9}, RowCase{1, 16, 29},
                                           RowCase{3, 16, 17}, RowCase{4, 16, 12}, RowCase{3, 8, 2},
                                           RowCase{4, 8, 2},
                                           // Around the 16-byte blocks of the vector loops.
                                           RowCase{3, 8, 6}, RowCase{3, 8, 10}, RowCase{3, 8, 11},
                                           RowCase{1, 8, 16}, RowCase{1, 8, 17}, RowCase{4, 8, 4},
                                           RowCase{4, 8, 5}));

TEST(Predictor, OnePixelRowsAreLeftAlone)
{
    const Bytes one = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC};
    using Proc = void (*)(int, unsigned char*, int);
    const Proc procs[] = {TifPredAccumulate8, TifPredAccumulate16, TifPredAccumulate16Swapped,
                          TifPredDifference8, TifPredDifference16};
    for (Proc p : procs) {
        Bytes row = one;
        p(3, row.data(), p == TifPredAccumulate8 || p == TifPredDifference8 ? 3 : 6);
        EXPECT_EQ(row, one);
    }
}

TEST(Predictor, DifferencesWrapModulo256)
{
    Bytes row = {250, 4};
    TifPredDifference8(1, row.data(), 2);
    EXPECT_EQ(row, (Bytes{250, 10}));
    TifPredAccumulate8(1, row.data(), 2);
    EXPECT_EQ(row, (Bytes{250, 4}));
}

// The wrapper around a codec: a base codec with room for the predictor fields,
// given PackBits' row procedures as its plain ones.
TifCodec* NewWrappable(const TifCodecParams& p, bool decoder)
{
    TifCodec* c = decoder ? TifNewDecoderBase(&p, sizeof(TifPredictedState))
                          : TifNewEncoderBase(&p, sizeof(TifPredictedState));
    std::unique_ptr<TifCodec, CodecDeleter> plain(decoder ? TifNewPackBitsDecoder(&p) : TifNewPackBitsEncoder(&p));
    c->DecodeRows = plain->DecodeRows;  // the same slot for encoders
    return c;
}

TEST(Predictor, SetParamWrapsAndUnwrapsTheRowSlot)
{
    const TifCodecParams p = Params(32773, 6, 3, 8);
    std::unique_ptr<TifCodec, CodecDeleter> enc(NewWrappable(p, false));
    std::unique_ptr<TifCodec, CodecDeleter> dec(NewWrappable(p, true));
    TifRowsProc plainEnc = enc->EncodeRows, plainDec = dec->DecodeRows;
    TifPredState(enc.get())->predictor = TifPredState(dec.get())->predictor = 1;

    EXPECT_EQ(TifPredictorSetParam(enc.get(), 317, 3, plainEnc, false), 0);
    EXPECT_EQ(TifPredictorSetParam(enc.get(), 292, 2, plainEnc, false), 0);
    ASSERT_EQ(TifPredictorSetParam(enc.get(), 317, 2, plainEnc, false), 1);
    ASSERT_EQ(TifPredictorSetParam(dec.get(), 317, 2, plainDec, true), 1);
    EXPECT_EQ(TifPredictorSetParam(dec.get(), 317, 2, plainDec, true), 1);  // already set: no double wrap

    const Bytes rows = PhotoRows(18, 3, 7);
    Bytes work = rows;
    Bytes strip = EncodeStrip(enc.get(), work, 3);
    EXPECT_NE(work, rows);  // the caller's rows hold differences now
    Bytes out;
    ASSERT_EQ(DecodeStrip(dec.get(), strip, 18, 3, &out, 1 << 30, 3), 3);
    EXPECT_EQ(out, rows);

    ASSERT_EQ(TifPredictorSetParam(dec.get(), 317, 1, plainDec, true), 1);
    EXPECT_EQ(dec->DecodeRows, plainDec);
    ASSERT_EQ(DecodeStrip(dec.get(), strip, 18, 3, &out, 1 << 30, 3), 3);
    EXPECT_NE(out, rows);
}

TEST(Predictor, RefusesOtherSampleSizesAndKeepsItsSetting)
{
    const TifCodecParams p = Params(32773, 6, 1, 4);
    std::unique_ptr<TifCodec, CodecDeleter> dec(NewWrappable(p, true));
    TifRowsProc plain = dec->DecodeRows;
    TifPredState(dec.get())->predictor = 1;
    EXPECT_EQ(TifPredictorSetParam(dec.get(), 317, 2, plain, true), 0);
    EXPECT_EQ(dec->DecodeRows, plain);
    EXPECT_EQ(TifPredState(dec.get())->predictor, 1);
}

TEST(Predictor, ShortInnerDecodeAccumulatesNothing)
{
    const TifCodecParams p = Params(32773, 4, 1, 8);
    std::unique_ptr<TifCodec, CodecDeleter> dec(NewWrappable(p, true));
    TifPredState(dec.get())->predictor = 1;
    ASSERT_EQ(TifPredictorSetParam(dec.get(), 317, 2, dec->DecodeRows, true), 1);
    // One complete row (literal 1 1 1 1) of the two asked for.
    Bytes out;
    EXPECT_EQ(DecodeStrip(dec.get(), Bytes{3, 1, 1, 1, 1}, 4, 2, &out, 1 << 30, 2), 0);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 4), (Bytes{1, 1, 1, 1}));
}

}  // namespace
