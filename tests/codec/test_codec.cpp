// The codec framework and the uncompressed codec: registry refusals, where rows
// of each size and stride land, caller buffers, and the encoder's lazy
// hand-over. (Raw rows across refills and at strides are in test_decoders.cpp.)
#include <gtest/gtest.h>

#include "support/codec_io.h"
#include "support/tif_builder.h"

namespace {

using namespace tiftest;

TEST(Registry, RefusesWhatItCannotMake)
{
    const TifCodecParams refused[] = {
        {7, 8, 1, 16}, {7, 8, 1, 12}, {0, 8, 1, 8}, {6, 8, 1, 16}, {99, 8, 1, 8},
        {1, 0, 1, 8}, {1, 8, 0, 8}, {1, 8, 1, 0}, {1, -8, 1, 8},
        {1, 0x40000000, 4, 16},  // a row of 8 GiB
    };
    for (const TifCodecParams& p : refused) {
        EXPECT_EQ(TifCreateDecoder(&p), nullptr) << p.compression << " " << p.width;
        EXPECT_EQ(TifCreateEncoder(&p), nullptr) << p.compression << " " << p.width;
    }
    EXPECT_EQ(TifCreateDecoder(nullptr), nullptr);
}

// Three rows land `pitch` apart, each of exactly rowBytes bytes: the row size
// of every sample layout, and a stride narrower than a row (set after a wider
// one) taken as packed rows, its direction kept.
TEST(RawDecodeLayout, RowsLandAtTheStride)
{
    const struct {
        int width, samples, bits, rowBytes, earlier, stride, reverse, pitch;
    } cases[] = {
        {1, 1, 1, 1, 0, 4, 0, 4},      {8, 1, 1, 1, 0, 4, 1, 4},    {9, 1, 1, 2, 0, 5, 0, 5},
        {8, 3, 8, 24, 0, 27, 0, 27},   {5, 1, 4, 3, 0, 6, 0, 6},    {3, 3, 16, 18, 0, 21, 1, 21},
        {7, 2, 2, 4, 0, 7, 0, 7},      {4, 1, 8, 4, 0, 2, 1, 4},    {4, 1, 8, 4, 6, 3, 0, 4},
        {4, 1, 8, 4, 6, 2, 1, 4},
    };
    for (const auto& c : cases) {
        Codec d = NewCodec(true, 1, c.width, c.samples, c.bits);
        ASSERT_TRUE(d);
        EXPECT_EQ(d->SetParam(d.get(), 317, 2), 0);  // no predictor on raw rows
        if (c.earlier != 0)
            d->SetRowStride(d.get(), c.earlier, 1);
        d->SetRowStride(d.get(), c.stride, c.reverse);
        MemSource src;
        src.data = PatternRows(c.rowBytes, 3, 7);
        d->SetIoProc(d.get(), MemSource::Proc, &src);
        d->BeginStrip(d.get());
        // A margin of 8 bytes around the rows' place.
        Bytes got(size_t(16 + 3 * c.pitch), 0xEE), want = got;
        const size_t first = 8 + (c.reverse ? 2 * size_t(c.pitch) : 0);
        EXPECT_EQ(d->DecodeRows(d.get(), got.data() + first, 3), 3) << c.width << "x" << c.samples << "x" << c.bits;
        for (size_t r = 0; r < 3; ++r)
            std::copy_n(src.data.begin() + long(r) * c.rowBytes, c.rowBytes,
                        want.begin() + long(8 + (c.reverse ? 2 - r : r) * size_t(c.pitch)));
        EXPECT_EQ(got, want) << c.width << "x" << c.samples << "x" << c.bits << " stride " << c.stride;
    }
}

TEST(RawDecodeLayout, BeginStripRestartsOnNewData)
{
    Codec d = NewCodec(true, 1, 4);
    Bytes row;
    // Two bytes of the first strip are left over; the next strip drops them.
    ASSERT_EQ(DecodeStrip(d.get(), {1, 2, 3, 4, 5, 6}, 1, &row), 1);
    ASSERT_EQ(DecodeStrip(d.get(), {9, 8, 7, 6}, 1, &row), 1);
    EXPECT_EQ(row, (Bytes{9, 8, 7, 6}));
}

TEST(RawEncode, LazyHandOverOfAFullBuffer)
{
    const int rowBytes = TIF_CODEC_BUFFER_SIZE / 4;
    Codec e = NewCodec(false, 1, rowBytes);
    ASSERT_TRUE(e && e->EndStrip);
    Bytes rows = PatternRows(rowBytes, 5);
    std::vector<int> handOvers;
    int ended = -1;
    EXPECT_EQ(EncodeStrip(e.get(), rows, 0, &handOvers, &ended), Bytes());
    EXPECT_EQ(ended, 0);
    EXPECT_EQ(handOvers, (std::vector<int>{0}));  // nothing encoded: 0 bytes handed over
    // Exactly full: kept until the strip ends.
    EXPECT_EQ(EncodeStrip(e.get(), rows, 4, &handOvers, &ended), Bytes(rows.begin(), rows.begin() + 4 * rowBytes));
    EXPECT_EQ(ended, TIF_CODEC_BUFFER_SIZE);
    EXPECT_EQ(handOvers, (std::vector<int>{TIF_CODEC_BUFFER_SIZE}));
    EXPECT_EQ(EncodeStrip(e.get(), rows, 5, &handOvers), rows);
    EXPECT_EQ(handOvers, (std::vector<int>{TIF_CODEC_BUFFER_SIZE, rowBytes}));
    EXPECT_EQ(e->EncodeRows(e.get(), rows.data(), 0), 0);
    EXPECT_EQ(e->EncodeRows(e.get(), rows.data(), -2), 0);
}

// An I/O procedure that moves fewer bytes than handed fails the strip: in the
// middle (the hand-over throws) and at its end (EndStrip is negative), for
// every encoder.
TEST(EncoderHandOver, ShortTransferFailsTheStrip)
{
    struct Short {
        static int Proc(unsigned char*, int length, void*) { return length / 2; }
    };
    const int rowBytes = 1000;
    Bytes noise = NoiseRows(size_t(rowBytes) * 80);
    for (int compression : {1, 2, 3, 4, 5, 32773, 32946, 8}) {
        const int bits = compression >= 2 && compression <= 4 ? 1 : 8;
        Codec e = NewCodec(false, compression, rowBytes * 8 / bits, 1, bits);
        ASSERT_TRUE(e) << compression;
        e->SetIoProc(e.get(), Short::Proc, nullptr);
        e->BeginStrip(e.get());
        EXPECT_EQ(ThrownCode([&] { e->EncodeRows(e.get(), noise.data(), 80); }), CTifException::kShortWrite)
            << compression;
        e->BeginStrip(e.get());
        ASSERT_EQ(e->EncodeRows(e.get(), noise.data(), 1), 1) << compression;
        EXPECT_LT(e->EndStrip(e.get()), 0) << compression;
    }
}

// Rows come through a caller's small buffer (no transfer larger than it) and,
// once it is given back, through the codec's own again.
TEST(CodecBuffer, CallerBufferAndBack)
{
    MemSource io;
    io.data = PatternRows(8, 4);
    Codec d = NewCodec(true, 1, 8);
    d->SetIoProc(d.get(), MemSource::Proc, &io);
    unsigned char small[5];
    d->SetBuffer(d.get(), small, sizeof small);
    d->BeginStrip(d.get());
    Bytes rows(32);
    EXPECT_EQ(d->DecodeRows(d.get(), rows.data(), 4), 4);
    EXPECT_EQ(rows, io.data);
    EXPECT_LE(io.maxAsked, 5);
    d->SetBuffer(d.get(), nullptr, 0);
    io.pos = 0;
    io.maxAsked = 0;
    d->BeginStrip(d.get());
    Bytes again;
    EXPECT_EQ(DecodeRows(d.get(), 4, &again), 4);
    EXPECT_EQ(again, io.data);
    EXPECT_GT(io.maxAsked, 5);
}

}  // namespace
