// test_deflate.cpp — the Deflate codec: encoder output is a plain zlib stream,
// the decoder reads any zlib's streams across refills and row layouts, and
// damaged or short strips end in finite time with the documented row counts.
#include <gtest/gtest.h>
#include <zlib.h>

#include <memory>

#include "codec/general/tif_deflate.h"
#include "codec_io.h"

using namespace codec_test;

namespace {

using Codec = std::unique_ptr<TifCodec, CodecDeleter>;

Codec Decoder(int compression, int width, int samples = 1, int bits = 8)
{
    TifCodecParams p = Params(compression, width, samples, bits);
    return Codec(TifCreateDecoder(&p));
}

Codec Encoder(int width, int samples = 1, int bits = 8)
{
    TifCodecParams p = Params(32946, width, samples, bits);
    return Codec(TifCreateEncoder(&p));
}

Bytes Zlib(const Bytes& data, int level)
{
    uLongf size = compressBound(uLong(data.size()));
    Bytes out(size);
    EXPECT_EQ(compress2(out.data(), &size, data.data(), uLong(data.size()), level), Z_OK);
    out.resize(size);
    return out;
}

TEST(Deflate, EncoderWritesOneZlibStreamPerStrip)
{
    const int width = 3000;
    Bytes rows = PhotoRows(width, 30, 2);
    const Bytes original = rows;
    Codec enc = Encoder(width);
    for (int strip = 0; strip < 2; ++strip) {
        Bytes work = original;
        const Bytes z = EncodeStrip(enc.get(), work, 30);
        ASSERT_GE(z.size(), size_t(6));
        EXPECT_EQ(z[0], 0x78);
        EXPECT_EQ((z[0] << 8 | z[1]) % 31, 0);
        Bytes back(original.size());
        uLongf size = uLongf(back.size());
        ASSERT_EQ(uncompress(back.data(), &size, z.data(), uLong(z.size())), Z_OK);
        EXPECT_EQ(size, back.size());
        EXPECT_EQ(back, original);
    }
}

struct ReadCase {
    int compression;
    int rowBytes;
    int rows;
    int level;
    int chunk;
    int perCall;
};

class DeflateRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(DeflateRead, DecodesZlibStreams)
{
    const ReadCase c = GetParam();
    const Bytes rows = PhotoRows(c.rowBytes, c.rows, 11);
    const Bytes strip = Zlib(rows, c.level);
    Codec dec = Decoder(c.compression, c.rowBytes);
    Bytes out;
    ASSERT_EQ(DecodeStrip(dec.get(), strip, c.rowBytes, c.rows, &out, c.chunk, c.perCall), c.rows);
    EXPECT_EQ(out, rows);
    // The same codec starts every strip afresh.
    ASSERT_EQ(DecodeStrip(dec.get(), strip, c.rowBytes, c.rows, &out, c.chunk, c.perCall), c.rows);
    EXPECT_EQ(out, rows);
}

INSTANTIATE_TEST_SUITE_P(Streams, DeflateRead,
                         ::testing::Values(ReadCase{32946, 100, 50, 6, 1, 1}, ReadCase{8, 100, 50, 9, 1 << 20, 7},
                                           ReadCase{32946, 4000, 40, 1, 1000, 1}, ReadCase{8, 4000, 40, 0, 1 << 20, 40},
                                           // Rows larger than the staging block go straight to the caller.
                                           ReadCase{32946, 150000, 3, 6, 1 << 20, 1},
                                           ReadCase{32946, 150000, 2, 1, 777, 2}));

TEST(Deflate, PredictorRoundTripOf16BitRgb)
{
    const int width = 200;
    const Bytes original = PhotoRows(width * 6, 8, 4);
    Bytes work = original;
    Codec enc = Encoder(width, 3, 16);
    ASSERT_EQ(enc->SetParam(enc.get(), 317, 2), 1);
    const Bytes strip = EncodeStrip(enc.get(), work, 8);
    EXPECT_NE(work, original);
    Codec dec = Decoder(32946, width, 3, 16);
    ASSERT_EQ(dec->SetParam(dec.get(), 317, 2), 1);
    Bytes out;
    ASSERT_EQ(DecodeStrip(dec.get(), strip, width * 6, 8, &out, 301, 3), 8);
    EXPECT_EQ(out, original);
    EXPECT_EQ(dec->SetParam(dec.get(), 317, 3), 0);
}

TEST(Deflate, RowsPastTheStreamEndCountAndKeepTheirBytes)
{
    const Bytes rows = PhotoRows(10, 3, 1);
    Codec dec = Decoder(32946, 10);
    MemSource src;
    src.data = Zlib(rows, 6);
    dec->SetIoProc(dec.get(), MemSource::Proc, &src);
    dec->BeginStrip(dec.get());
    Bytes out(50, 0xAB);
    EXPECT_EQ(dec->DecodeRows(dec.get(), out.data(), 5), 5);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 30), rows);
    EXPECT_EQ(Bytes(out.begin() + 30, out.end()), Bytes(20, 0xAB));
    // Inflated straight into contiguous rows: the same counts.
    const Bytes big = PhotoRows(3000, 3, 1);
    src.data = Zlib(big, 6);
    src.pos = 0;
    dec = Decoder(32946, 3000);
    dec->SetIoProc(dec.get(), MemSource::Proc, &src);
    dec->BeginStrip(dec.get());
    Bytes wide(15000, 0xAB);
    EXPECT_EQ(dec->DecodeRows(dec.get(), wide.data(), 5), 5);
    EXPECT_EQ(Bytes(wide.begin(), wide.begin() + 9000), big);
    EXPECT_EQ(Bytes(wide.begin() + 9000, wide.end()), Bytes(6000, 0xAB));
}

TEST(Deflate, TruncatedStripDeliversOnlyCompleteRows)
{
    const Bytes rows = PhotoRows(1000, 20, 8);
    Bytes strip = Zlib(rows, 6);
    strip.resize(strip.size() / 2);
    for (int perCall : {1, 20}) {  // row by row, and straight into contiguous rows
        Codec dec = Decoder(32946, 1000);
        Bytes out;
        const int got = DecodeStrip(dec.get(), strip, 1000, 20, &out, 100, perCall);
        EXPECT_GT(got, 0);
        EXPECT_LT(got, 20);
        EXPECT_EQ(Bytes(out.begin(), out.begin() + got * 1000), Bytes(rows.begin(), rows.begin() + got * 1000));
    }
}

TEST(Deflate, DamagedStreamsEndInFiniteTime)
{
    const Bytes rows = PhotoRows(500, 20, 9);
    const Bytes good = Zlib(rows, 6);
    uint32_t x = 5;
    for (int trial = 0; trial < 40; ++trial) {
        Bytes bad = good;
        for (int k = 0; k < 1 + trial % 4; ++k) {
            x = x * 1103515245u + 12345u;
            bad[(x >> 8) % bad.size()] ^= uint8_t(1 + (x >> 24) % 255);
        }
        Codec dec = Decoder(32946, 500);
        Bytes out;
        // Rows whose data the stream could not supply still count; a strip
        // that runs out first ends short.
        EXPECT_LE(DecodeStrip(dec.get(), bad, 500, 20, &out, 1 + trial * 37, 1 + trial % 3), 20);
    }
    // Not zlib at all: every row counts as complete, none is touched.
    Codec dec = Decoder(32946, 16);
    Bytes out;
    EXPECT_EQ(DecodeStrip(dec.get(), Bytes(64, 0x11), 16, 3, &out), 3);
    EXPECT_EQ(out, Bytes(48, 0xCD));
}

TEST(Deflate, ReadFailurePassesThrough)
{
    const Bytes rows = PhotoRows(100, 400, 3);
    MemSource src;
    src.data = Zlib(rows, 1);
    src.chunk = 64;
    src.throwAt = 200;
    Codec dec = Decoder(32946, 100);
    dec->SetIoProc(dec.get(), MemSource::Proc, &src);
    dec->BeginStrip(dec.get());
    Bytes out(100 * 400);
    bool thrown = false;
    try {
        dec->DecodeRows(dec.get(), out.data(), 400);
    } catch (CTifException* e) {
        thrown = e->code == CTifException::kShortRead;
        delete e;
    }
    EXPECT_TRUE(thrown);
}

TEST(Deflate, EncoderHandsOverWholeBuffersThenTheRest)
{
    const int width = 10000;
    Bytes rows(size_t(width) * 12);
    uint32_t x = 1;
    for (auto& b : rows) {
        x = x * 1664525u + 1013904223u;
        b = uint8_t(x >> 24);  // incompressible: several buffers
    }
    const Bytes original = rows;
    Codec enc = Encoder(width);
    MemSink sink;
    enc->SetIoProc(enc.get(), MemSink::Proc, &sink);
    enc->BeginStrip(enc.get());
    for (int r = 0; r < 12; ++r)
        ASSERT_EQ(enc->EncodeRows(enc.get(), rows.data() + size_t(r) * width, 1), 1);
    enc->EndStrip(enc.get());
    ASSERT_GE(sink.handOvers.size(), size_t(4));
    for (size_t i = 0; i + 1 < sink.handOvers.size(); ++i)
        EXPECT_EQ(sink.handOvers[i], 32768);
    Bytes back(original.size());
    uLongf size = uLongf(back.size());
    ASSERT_EQ(uncompress(back.data(), &size, sink.data.data(), uLong(sink.data.size())), Z_OK);
    EXPECT_EQ(back, original);
}

TEST(Deflate, RegistryOffersNoEncoderForCompression8)
{
    TifCodecParams p = Params(8, 10);
    EXPECT_EQ(TifCreateEncoder(&p), nullptr);
}

}  // namespace
