// test_deflate.cpp — the Deflate codec: what it writes is a plain zlib stream
// per strip; reading past the stream's end and damaged streams give the
// documented row counts in finite time.
#include <gtest/gtest.h>
#include <zlib.h>

#include "support/codec_io.h"

using namespace tiftest;

namespace {

Bytes Unzlib(const Bytes& z, size_t size)
{
    Bytes back(size);
    uLongf n = uLongf(size);
    EXPECT_EQ(uncompress(back.data(), &n, z.data(), uLong(z.size())), Z_OK);
    EXPECT_EQ(n, size);
    return back;
}

TEST(Deflate, EncoderWritesOneZlibStreamPerStripInWholeBuffers)
{
    const Bytes photo = PatternRows(3000, 30, 2), noise = NoiseRows(120000);
    Codec enc = NewCodec(false, 32946, 3000);
    for (int strip = 0; strip < 2; ++strip) {  // the codec restarts its stream
        Bytes work = photo;
        const Bytes z = EncodeStrip(enc.get(), work, 30);
        ASSERT_GE(z.size(), size_t(6));
        EXPECT_EQ((z[0] << 8 | z[1]) % 31, 0);
        EXPECT_EQ(Unzlib(z, photo.size()), photo);
    }
    Codec wide = NewCodec(false, 32946, 10000);
    Bytes work = noise;
    std::vector<int> handOvers;
    const Bytes z = EncodeStrip(wide.get(), work, 12, &handOvers);
    ASSERT_GE(handOvers.size(), size_t(4));
    for (size_t i = 0; i + 1 < handOvers.size(); ++i)
        EXPECT_EQ(handOvers[i], 32768);
    EXPECT_EQ(Unzlib(z, noise.size()), noise);
    EXPECT_EQ(NewCodec(false, 8, 10), nullptr);  // Compression 8 is read, never written
}

TEST(Deflate, PredictorRoundTripOf16BitRgb)
{
    const Bytes original = PatternRows(1200, 8, 4);
    Bytes work = original;
    Codec enc = NewCodec(false, 32946, 200, 3, 16);
    ASSERT_EQ(enc->SetParam(enc.get(), 317, 2), 1);
    const Bytes strip = EncodeStrip(enc.get(), work, 8);
    EXPECT_NE(work, original);  // the caller's rows hold differences now
    Codec dec = NewCodec(true, 32946, 200, 3, 16);
    ASSERT_EQ(dec->SetParam(dec.get(), 317, 2), 1);
    EXPECT_EQ(dec->SetParam(dec.get(), 317, 3), 0);
    Bytes out;
    ASSERT_EQ(DecodeStrip(dec.get(), strip, 8, &out, 301, 3), 8);
    EXPECT_EQ(out, original);
}

TEST(Deflate, RowsPastTheStreamEndAreNotDelivered)
{
    // Row by row from the staging area, and straight into contiguous rows; the
    // stream ends on a row boundary, then half-way into a row.
    for (int rowBytes : {10, 3000})
        for (int bytes : {3 * rowBytes, 3 * rowBytes + rowBytes / 2}) {
            const Bytes rows = PatternRows(rowBytes, 4, 1);
            Bytes out;
            ASSERT_EQ(DecodeStrip(NewCodec(true, 32946, rowBytes).get(), Zlib(Bytes(rows.begin(), rows.begin() + bytes)),
                                  5, &out, 1 << 20, 5), 3) << rowBytes << " " << bytes;
            EXPECT_EQ(Bytes(out.begin(), out.begin() + 3 * rowBytes), Bytes(rows.begin(), rows.begin() + 3 * rowBytes));
        }
}

TEST(Deflate, DamagedStreamsEndInFiniteTime)
{
    const Bytes good = Zlib(PatternRows(500, 20, 9));
    uint32_t x = 5;
    for (int trial = 0; trial < 40; ++trial) {
        Bytes bad = good;
        for (int k = 0; k <= trial % 4; ++k) {
            x = x * 1103515245u + 12345u;
            bad[(x >> 8) % bad.size()] ^= uint8_t(1 + (x >> 24) % 255);
        }
        Bytes out;
        EXPECT_LE(DecodeStrip(NewCodec(true, 32946, 500).get(), bad, 20, &out, 1 + trial * 37, 1 + trial % 3), 20);
    }
    // Not zlib at all: no row is delivered, none is touched.
    Bytes out;
    EXPECT_EQ(DecodeStrip(NewCodec(true, 32946, 16).get(), Bytes(64, 0x11), 3, &out), 0);
    EXPECT_EQ(out, Bytes(48, 0xCD));
}

}  // namespace
