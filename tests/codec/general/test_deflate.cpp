// test_deflate.cpp — the Deflate codec: what it writes is a plain zlib stream
// per strip; reading past the stream's end gives the documented row counts, and
// a damaged stream the rows zlib fills from it, in finite time.
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

// What zlib inflates from `z` before it stops: at the stream's end, on damage
// (a wrong checksum after all the data) or after `size` bytes.
Bytes Inflated(const Bytes& z, size_t size)
{
    Bytes out(size);
    z_stream zs{};
    inflateInit(&zs);
    zs.next_in = const_cast<Bytef*>(z.data());
    zs.avail_in = uInt(z.size());
    zs.next_out = out.data();
    zs.avail_out = uInt(size);
    inflate(&zs, Z_FINISH);
    out.resize(size - zs.avail_out);
    inflateEnd(&zs);
    return out;
}

TEST(Deflate, EncoderWritesOneZlibStreamPerStripInWholeBuffers)
{
    const Bytes photo = PatternRows(3000, 30, 2), noise = NoiseRows(120000);
    Codec enc = NewCodec(false, 32946, 3000);
    for (int strip = 0; strip < 2; ++strip) {  // the codec restarts its stream
        const Bytes z = EncodeStrip(enc.get(), photo, 30);
        ASSERT_GE(z.size(), size_t(6));
        EXPECT_EQ((z[0] << 8 | z[1]) % 31, 0);
        EXPECT_EQ(Unzlib(z, photo.size()), photo);
    }
    Codec wide = NewCodec(false, 32946, 10000);
    std::vector<int> handOvers;
    const Bytes z = EncodeStrip(wide.get(), noise, 12, &handOvers);
    ASSERT_GE(handOvers.size(), size_t(4));
    for (size_t i = 0; i + 1 < handOvers.size(); ++i)
        EXPECT_EQ(handOvers[i], 32768);
    EXPECT_EQ(Unzlib(z, noise.size()), noise);
    // Compression 8 is the same data under the code readers expect today.
    Codec eight = NewCodec(false, 8, 3000);
    ASSERT_TRUE(eight);
    EXPECT_EQ(EncodeStrip(eight.get(), photo, 30), EncodeStrip(NewCodec(false, 32946, 3000).get(), photo, 30));
}

TEST(Deflate, PredictorRoundTripOf16BitRgb)
{
    const Bytes original = PatternRows(1200, 8, 4);
    Bytes work = original;
    Codec enc = NewCodec(false, 32946, 200, 3, 16);
    ASSERT_EQ(enc->SetParam(enc.get(), 317, 2), 1);
    const Bytes strip = EncodeStrip(enc.get(), work, 8);
    EXPECT_EQ(work, original);  // only read
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

TEST(Deflate, DamagedStreamsDeliverWhatZlibFillsAndEnd)
{
    const Bytes good = Zlib(PatternRows(500, 20, 9));
    uint32_t x = 5;
    for (int trial = 0; trial < 40; ++trial) {
        Bytes bad = good;
        for (int k = 0; k <= trial % 4; ++k) {
            x = x * 1103515245u + 12345u;
            bad[(x >> 8) % bad.size()] ^= uint8_t(1 + (x >> 24) % 255);
        }
        // Exactly the rows that zlib fills before it stops, as zlib fills them.
        const Bytes want = Inflated(bad, 20 * 500);
        const long rows = long(want.size() / 500);
        Bytes out;
        ASSERT_EQ(DecodeStrip(NewCodec(true, 32946, 500).get(), bad, 20, &out, 1 + trial * 37, 1 + trial % 3), rows)
            << trial;
        EXPECT_EQ(Bytes(out.begin(), out.begin() + rows * 500), Bytes(want.begin(), want.begin() + rows * 500)) << trial;
    }
    // Not zlib at all: no row is delivered, none is touched.
    Bytes out;
    EXPECT_EQ(DecodeStrip(NewCodec(true, 32946, 16).get(), Bytes(64, 0x11), 3, &out), 0);
    EXPECT_EQ(out, Bytes(48, 0xCD));
}

// A request for a strip's rows in one call may take the one-shot inflater; it
// must deliver what zlib delivers row by row, on sound and damaged strips, on
// strips too long to gather, and strip after strip on one codec.
TEST(Deflate, WholeStripRequestsDeliverWhatRowByRowDelivers)
{
    const Bytes photo = PatternRows(3000, 40, 3), z = Zlib(photo);
    const auto cut = [](const Bytes& b, size_t from, size_t to) { return Bytes(b.begin() + long(from), b.begin() + long(to)); };
    const auto flip = [](Bytes b, size_t at) { b[at] ^= 0x5A; return b; };
    Bytes padded = z;
    padded.insert(padded.end(), 100, 0x55);
    struct Case {
        const char* name;
        Bytes strip;
        int rowBytes, rows, perCall;
    } cases[] = {
        {"sound", z, 3000, 40, 40},
        {"request shorter than the strip", z, 3000, 40, 25},
        {"stream ends inside a row", Zlib(cut(photo, 0, 3000 * 30 + 1500)), 3000, 40, 40},
        {"checksum wrong", flip(z, z.size() - 1), 3000, 40, 40},
        {"checksum missing", cut(z, 0, z.size() - 4), 3000, 40, 40},
        {"truncated", cut(z, 0, z.size() / 2), 3000, 40, 40},
        {"body damaged", flip(z, z.size() / 3), 3000, 40, 40},
        {"bytes after the stream", padded, 3000, 40, 40},
        {"not zlib", Bytes(5000, 0x11), 3000, 40, 40},
        {"more than can be gathered", Zlib(NoiseRows(13000 * 100)), 13000, 100, 100},
    };
    for (const Case& c : cases) {
        Codec rowByRow = NewCodec(true, 32946, c.rowBytes), whole = NewCodec(true, 32946, c.rowBytes);
        for (int strip = 0; strip < 2; ++strip) {
            Bytes want, got;
            const int n = DecodeStrip(rowByRow.get(), c.strip, c.rows, &want);
            ASSERT_EQ(DecodeStrip(whole.get(), c.strip, c.rows, &got, 1 << 30, c.perCall), n) << c.name;
            EXPECT_EQ(cut(got, 0, size_t(n) * c.rowBytes), cut(want, 0, size_t(n) * c.rowBytes)) << c.name;
        }
    }
}

// A source whose failed transfer would succeed if asked again: the decoder
// must not ask again, the bytes were lost.
int FailOnceProc(unsigned char* buffer, int length, void* context)
{
    try {
        return MemSource::Proc(buffer, length, context);
    } catch (CTifException* e) {
        static_cast<MemSource*>(context)->throwAt = -1;
        throw e;
    }
}

// A read failure met while gathering a strip surfaces only if zlib needs the
// bytes it would have brought: not when the stream ended before them.
TEST(Deflate, ReadFailureWhileGatheringCountsOnlyWhereZlibReads)
{
    const Bytes rows = NoiseRows(100000), z = Zlib(rows);
    Bytes strip = z;
    strip.insert(strip.end(), 100000, 0x55);
    for (long throwAt : {long(z.size() / 2), long(z.size()) + 40000}) {
        int n[2] = {-1, -1}, code[2];
        for (int perCall : {1, 100}) {
            Codec dec = NewCodec(true, 32946, 1000);
            MemSource src{strip, 0, 1 << 30, throwAt};
            dec->SetIoProc(dec.get(), FailOnceProc, &src);
            dec->BeginStrip(dec.get());
            Bytes out;
            code[perCall > 1] = ThrownCode([&] { n[perCall > 1] = DecodeRows(dec.get(), 100, &out, perCall); });
            if (n[perCall > 1] == 100) {
                EXPECT_EQ(out, rows) << throwAt;
            }
        }
        EXPECT_EQ(code[1], code[0]) << throwAt;
        EXPECT_EQ(n[1], n[0]) << throwAt;
        EXPECT_EQ(code[0], throwAt < long(z.size()) ? CTifException::kShortRead : 0) << throwAt;
    }
}

// zlib's rules on the two header bytes hold whichever way the stream is
// inflated: only a plain header lets the body be decoded.
TEST(Deflate, OnlyAPlainZlibHeaderOpensTheStream)
{
    const Bytes photo = PatternRows(3000, 40, 5), z = Zlib(photo);
    ASSERT_EQ(z[0], 0x78);
    struct Case {
        const char* name;
        uint8_t cmf, flg;
        int chunk, rows;
    } cases[] = {
        {"plain", 0x78, z[1], 1 << 20, 40},
        {"plain, one byte per read", 0x78, z[1], 1, 40},
        {"preset dictionary", 0x78, 0xBB, 1 << 20, 0},
        {"window over 32 KiB", 0x88, 0x1C, 1 << 20, 0},
        {"not deflate", 0x77, 0x09, 1 << 20, 0},
        {"header check wrong", 0x78, uint8_t(z[1] + 1), 1 << 20, 0},
    };
    for (const Case& c : cases)
        for (int perCall : {1, 40}) {
            Bytes strip = z, out;
            strip[0] = c.cmf;
            strip[1] = c.flg;
            EXPECT_EQ(DecodeStrip(NewCodec(true, 32946, 3000).get(), strip, 40, &out, c.chunk, perCall), c.rows)
                << c.name << " " << perCall;
            if (c.rows == 40) {
                EXPECT_EQ(out, photo) << c.name;
            }
        }
}

// A raw Deflate stream (no zlib header or checksum) of `data`.
Bytes RawDeflate(const Bytes& data)
{
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    Bytes out(deflateBound(&z, uLong(data.size())));
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = uInt(data.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

TEST(Deflate, AWrongChecksumIsADataErrorAsInZlib)
{
    // A stream whose Adler-32 is wrong is damaged: as zlib does, the decoder
    // resynchronises on the next 00 00 FF FF and goes on with the raw blocks
    // behind it. With the right checksum the stream has ended and nothing after
    // it is read. Trailers split over reads; rows one by one and all at once.
    // (Reads of a few bytes may leave zlib nothing to resynchronise on yet.)
    const Bytes photo = PatternRows(3000, 40, 7);
    const Bytes head(photo.begin(), photo.begin() + 20 * 3000), tail(photo.begin() + 20 * 3000, photo.end());
    Bytes after = {0x00, 0x00, 0xFF, 0xFF};
    const Bytes raw = RawDeflate(tail);
    after.insert(after.end(), raw.begin(), raw.end());
    for (bool wrong : {false, true})
        for (int trailerByte : {0, 3})
            for (int chunk : {7, 64, 1 << 20})
                for (int perCall : {1, 40}) {
                    Bytes strip = Zlib(head), out;
                    if (wrong)
                        strip[strip.size() - 4 + trailerByte] ^= 0x10;
                    strip.insert(strip.end(), after.begin(), after.end());
                    const int rows = wrong ? 40 : 20;
                    EXPECT_EQ(DecodeStrip(NewCodec(true, 32946, 3000).get(), strip, 40, &out, chunk, perCall), rows)
                        << wrong << " " << trailerByte << " " << chunk << " " << perCall;
                    EXPECT_EQ(Bytes(out.begin(), out.begin() + rows * 3000), Bytes(photo.begin(), photo.begin() + rows * 3000));
                }
}

}  // namespace
