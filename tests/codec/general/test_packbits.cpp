// test_packbits.cpp — PackBits: exact packets both ways, clipping of packets at
// the row end, refills at every byte, and a failing source.
#include <gtest/gtest.h>

#include <memory>

#include "codec/general/tif_packbits.h"
#include "codec_io.h"

using namespace codec_test;

namespace {

using Codec = std::unique_ptr<TifCodec, CodecDeleter>;

Codec Decoder(int width) { TifCodecParams p = Params(32773, width); return Codec(TifCreateDecoder(&p)); }
Codec Encoder(int width) { TifCodecParams p = Params(32773, width); return Codec(TifCreateEncoder(&p)); }

Bytes Repeat(uint8_t b, int n) { return Bytes(size_t(n), b); }

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes r;
    for (const Bytes& p : parts)
        r.insert(r.end(), p.begin(), p.end());
    return r;
}

Bytes NoEqualNeighbours(int n)
{
    Bytes r(static_cast<size_t>(n), 0);
    for (int i = 0; i < n; ++i)
        r[i] = uint8_t(i * 7 % 251);
    return r;
}

struct Vector {
    const char* name;
    Bytes row;
    Bytes packed;
};

class PackBitsVectors : public ::testing::TestWithParam<Vector> {};

TEST_P(PackBitsVectors, EncodeGivesExactPacketsAndDecodeRestoresTheRow)
{
    const Vector& v = GetParam();
    const int width = int(v.row.size());
    Codec enc = Encoder(width);
    Bytes row = v.row;
    EXPECT_EQ(EncodeStrip(enc.get(), row, 1), v.packed);
    Bytes out;
    Codec dec = Decoder(width);
    ASSERT_EQ(DecodeStrip(dec.get(), v.packed, width, 1, &out, 1), 1);
    EXPECT_EQ(out, v.row);
}

const Bytes kBytes200 = NoEqualNeighbours(200);

INSTANTIATE_TEST_SUITE_P(
    Rows, PackBitsVectors,
    ::testing::Values(
        Vector{"mixed", {0x41, 0x42, 0x42, 0x43}, {0x00, 0x41, 0xFF, 0x42, 0x00, 0x43}},
        Vector{"run129", Repeat(0x55, 129), {0x81, 0x55, 0x00, 0x55}},
        Vector{"run130", Repeat(0x55, 130), {0x81, 0x55, 0xFF, 0x55}},
        Vector{"literal200", kBytes200,
               Cat({{0x7F}, Bytes(kBytes200.begin(), kBytes200.begin() + 128), {0x47},
                    Bytes(kBytes200.begin() + 128, kBytes200.end())})},
        Vector{"single", {0x9C}, {0x00, 0x9C}},
        Vector{"pairBetweenLiterals", {1, 2, 3, 3, 4, 5}, {0x01, 1, 2, 0xFF, 3, 0x01, 4, 5}}),
    [](const ::testing::TestParamInfo<Vector>& i) { return std::string(i.param.name); });

TEST(PackBits, NoOperationHeaderIsSkipped)
{
    Codec dec = Decoder(3);
    Bytes out;
    ASSERT_EQ(DecodeStrip(dec.get(), {0x80, 0x80, 0x02, 7, 8, 9}, 3, 1, &out), 1);
    EXPECT_EQ(out, (Bytes{7, 8, 9}));
}

TEST(PackBits, PacketsPastTheRowEndAreCutAndTheNextRowStartsAtTheNextHeader)
{
    // Row 1: literal 1 2, then a replicate of 10 with 4 bytes left. Row 2: a
    // literal of 5, then a replicate of 3 of which one copy fits.
    // Trailing no-operation headers keep a full packet's worth of input
    // buffered, the case decoded without refill checks.
    for (size_t padding : {size_t(0), size_t(300)}) {
        Bytes strip = {0x01, 1, 2, 0xF7, 9, 0x04, 5, 6, 7, 0xEE, 0xEE, 0xFE, 4};
        Bytes strip3 = {0x04, 5, 6, 7, 0xEE, 0xEE, 0xFE, 4};
        strip.insert(strip.end(), padding, 0x80);
        strip3.insert(strip3.end(), padding, 0x80);
        for (int chunk : {1, 2, 1 << 20}) {
            Codec dec = Decoder(6);
            Bytes out;
            ASSERT_EQ(DecodeStrip(dec.get(), strip, 6, 2, &out, chunk), 2);
            EXPECT_EQ(out, (Bytes{1, 2, 9, 9, 9, 9, 5, 6, 7, 0xEE, 0xEE, 4}));
            // Rows of 3: the literal's last two bytes are dropped.
            Codec dec3 = Decoder(3);
            ASSERT_EQ(DecodeStrip(dec3.get(), strip3, 3, 2, &out, chunk), 2);
            EXPECT_EQ(out, (Bytes{5, 6, 7, 4, 4, 4}));
        }
    }
}

TEST(PackBits, TruncatedStripCountsOnlyCompleteRows)
{
    Codec dec = Decoder(4);
    Bytes out;
    // Row 1 complete; row 2's literal promises 4 bytes but only 2 arrive.
    EXPECT_EQ(DecodeStrip(dec.get(), {0xFD, 1, 0x03, 2, 3}, 4, 3, &out, 1), 1);
    // A header whose replicate byte is missing.
    EXPECT_EQ(DecodeStrip(dec.get(), {0xFD}, 4, 1, &out), 0);
}

TEST(PackBits, RoundTripOfManyRowsAcrossBufferBoundaries)
{
    const int width = 5000;  // the strip spans several 32768-byte buffers
    Bytes rows = PhotoRows(width, 40, 3);
    for (int i = 0; i < width; ++i)
        rows[size_t(7) * width + i] = 0x11;  // one flat row
    Codec enc = Encoder(width);
    Bytes strip = EncodeStrip(enc.get(), rows, 40);
    EXPECT_GT(strip.size(), size_t(32768));
    for (int chunk : {1, 4093, 1 << 20}) {
        Codec dec = Decoder(width);
        Bytes out;
        ASSERT_EQ(DecodeStrip(dec.get(), strip, width, 40, &out, chunk, 3), 40);
        EXPECT_EQ(out, rows);
    }
}

TEST(PackBits, ReadFailurePassesThroughTheDecoder)
{
    Codec dec = Decoder(8);
    MemSource src;
    src.data = {0xF9, 1, 0xF9, 2, 0xF9, 3};
    src.chunk = 1;
    src.throwAt = 3;
    dec->SetIoProc(dec.get(), MemSource::Proc, &src);
    dec->BeginStrip(dec.get());
    Bytes rows(16);
    EXPECT_EQ(dec->DecodeRows(dec.get(), rows.data(), 1), 1);
    try {
        dec->DecodeRows(dec.get(), rows.data() + 8, 1);
        ADD_FAILURE() << "no exception";
    } catch (CTifException* e) {
        EXPECT_EQ(e->code, CTifException::kShortRead);
        delete e;
    }
}

TEST(PackBits, EncoderHandsOverBeforeTheBufferOverflows)
{
    const int width = 20000;
    const Bytes rows = NoEqualNeighbours(width * 4);
    Codec enc = Encoder(width);
    MemSink sink;
    enc->SetIoProc(enc.get(), MemSink::Proc, &sink);
    enc->BeginStrip(enc.get());
    for (int r = 0; r < 4; ++r)
        enc->EncodeRows(enc.get(), const_cast<uint8_t*>(rows.data()) + size_t(r) * width, 1);
    enc->EndStrip(enc.get());
    for (int n : sink.handOvers)
        EXPECT_LE(n, 32768);
    Codec dec = Decoder(width);
    Bytes out;
    ASSERT_EQ(DecodeStrip(dec.get(), sink.data, width, 4, &out, 1 << 20, 4), 4);
    EXPECT_EQ(out, rows);
}

}  // namespace
