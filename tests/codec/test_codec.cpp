// The codec framework and the uncompressed codec: registry lookups, row sizes,
// default slots, buffer refills of any size, strides and reversed rows, and the
// encoder's lazy hand-over.
#include <algorithm>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "codec/tif_codec.h"
#include "support/tif_builder.h"

namespace {

using tiftest::Bytes;

struct CodecDeleter {
    void operator()(TifCodec* c) const { c->Destroy(c); }
};
using Codec = std::unique_ptr<TifCodec, CodecDeleter>;

// Compressed bytes served `chunk` at a time (a decoder's source), or collected
// with the size of every hand-over (an encoder's sink).
struct MemoryIo {
    Bytes data;
    size_t at = 0;
    int chunk = 1 << 30;
    std::vector<int> calls;

    static int Read(unsigned char* buffer, int length, void* context)
    {
        auto* m = static_cast<MemoryIo*>(context);
        size_t n = std::min({size_t(length), size_t(m->chunk), m->data.size() - m->at});
        std::copy(m->data.begin() + m->at, m->data.begin() + m->at + n, buffer);
        m->at += n;
        m->calls.push_back(int(n));
        return int(n);
    }
    static int Write(unsigned char* buffer, int length, void* context)
    {
        auto* m = static_cast<MemoryIo*>(context);
        m->data.insert(m->data.end(), buffer, buffer + length);
        m->calls.push_back(length);
        return length;
    }
};

Codec Raw(int width, int samples = 1, int bits = 8, bool encoder = false)
{
    TifCodecParams p{1, width, samples, bits};
    return Codec(encoder ? TifCreateEncoder(&p) : TifCreateDecoder(&p));
}

TEST(Registry, RefusesWhatItCannotMake)
{
    const TifCodecParams refused[] = {
        {7, 8, 1, 8}, {0, 8, 1, 8}, {6, 8, 1, 8}, {99, 8, 1, 8},
        {1, 0, 1, 8}, {1, 8, 0, 8}, {1, 8, 1, 0}, {1, -8, 1, 8},
        {1, 0x40000000, 4, 16},  // a row of 8 GiB
    };
    for (const TifCodecParams& p : refused) {
        EXPECT_EQ(TifCreateDecoder(&p), nullptr) << p.compression << " " << p.width;
        EXPECT_EQ(TifCreateEncoder(&p), nullptr) << p.compression << " " << p.width;
    }
    EXPECT_EQ(TifCreateDecoder(nullptr), nullptr);
}

TEST(Registry, RowBytes)
{
    const struct {
        int width, samples, bits, rowBytes;
    } cases[] = {{1, 1, 1, 1}, {8, 1, 1, 1}, {9, 1, 1, 2}, {8, 3, 8, 24}, {5, 1, 4, 3}, {3, 3, 16, 18}, {7, 2, 2, 4}};
    for (const auto& c : cases) {
        Codec d = Raw(c.width, c.samples, c.bits);
        ASSERT_TRUE(d);
        TifCodecState* s = TifState(d.get());
        EXPECT_EQ(s->rowBytes, c.rowBytes) << c.width << "x" << c.samples << "x" << c.bits;
        EXPECT_EQ(s->rowStride, c.rowBytes);
        EXPECT_EQ(s->reverse, 0);
        EXPECT_EQ(s->externalBuffer, 0);
        EXPECT_EQ(s->bufferSize, TIF_CODEC_BUFFER_SIZE);
        EXPECT_EQ(s->available, 0);
        EXPECT_EQ(d->SetParam(d.get(), 317, 2), 0);
    }
}

class RawDecode : public ::testing::TestWithParam<int> {};  // refill size
INSTANTIATE_TEST_SUITE_P(Chunks, RawDecode, ::testing::Values(1, 3, 7, 10, 1 << 30));

TEST_P(RawDecode, RowsAcrossRefillsThenAShortCount)
{
    MemoryIo io;
    io.data = tiftest::PatternRows(7, 3);
    io.data.resize(7 * 2 + 3);  // 2 rows and a half
    io.chunk = GetParam();
    Codec d = Raw(7);
    d->SetIoProc(d.get(), MemoryIo::Read, &io);
    ASSERT_GT(d->BeginStrip(d.get()), 0);
    Bytes rows(3 * 7, 0xEE);
    EXPECT_EQ(d->DecodeRows(d.get(), rows.data(), 3), 2);
    EXPECT_EQ(Bytes(rows.begin(), rows.begin() + 17), Bytes(io.data.begin(), io.data.end()));
    EXPECT_EQ(rows[17], 0xEE);
    EXPECT_EQ(d->DecodeRows(d.get(), rows.data(), 1), 0);
    EXPECT_EQ(d->DecodeRows(d.get(), rows.data(), -1), 0);
}

TEST(RawDecodeLayout, StrideAndReverse)
{
    MemoryIo io;
    io.data = tiftest::PatternRows(4, 3);
    Codec d = Raw(4);
    d->SetIoProc(d.get(), MemoryIo::Read, &io);
    d->SetRowStride(d.get(), 2, 1);  // narrower than a row: only reverse taken
    EXPECT_EQ(TifState(d.get())->rowStride, 4);
    EXPECT_EQ(TifState(d.get())->reverse, 1);
    d->SetRowStride(d.get(), 6, 1);
    d->BeginStrip(d.get());
    Bytes rows(18, 0xEE);
    // Row 0 at the end of the array, each next row 6 bytes before it.
    EXPECT_EQ(d->DecodeRows(d.get(), rows.data() + 12, 3), 3);
    EXPECT_EQ(Bytes(rows.begin() + 12, rows.begin() + 16), Bytes(io.data.begin(), io.data.begin() + 4));
    EXPECT_EQ(Bytes(rows.begin() + 6, rows.begin() + 10), Bytes(io.data.begin() + 4, io.data.begin() + 8));
    EXPECT_EQ(Bytes(rows.begin(), rows.begin() + 4), Bytes(io.data.begin() + 8, io.data.end()));
    EXPECT_EQ(rows[4], 0xEE);
    d->SetRowStride(d.get(), 3, 0);  // a larger stride once set stays
    EXPECT_EQ(TifState(d.get())->rowStride, 6);
}

TEST(RawDecodeLayout, BeginStripRestartsOnNewData)
{
    MemoryIo io;
    io.data = {1, 2, 3, 4, 5, 6};
    Codec d = Raw(4);
    d->SetIoProc(d.get(), MemoryIo::Read, &io);
    d->BeginStrip(d.get());
    Bytes row(4);
    ASSERT_EQ(d->DecodeRows(d.get(), row.data(), 1), 1);
    // Two bytes of the first strip are left over; the next strip drops them.
    io.data = {9, 8, 7, 6};
    io.at = 0;
    d->BeginStrip(d.get());
    ASSERT_EQ(d->DecodeRows(d.get(), row.data(), 1), 1);
    EXPECT_EQ(row, (Bytes{9, 8, 7, 6}));
}

TEST(RawEncode, LazyHandOverOfAFullBuffer)
{
    const int rowBytes = TIF_CODEC_BUFFER_SIZE / 4;
    MemoryIo io;
    Codec e = Raw(rowBytes, 1, 8, true);
    ASSERT_TRUE(e && e->EndStrip);
    e->SetIoProc(e.get(), MemoryIo::Write, &io);
    EXPECT_EQ(e->BeginStrip(e.get()), 1);
    EXPECT_EQ(e->EndStrip(e.get()), 0);  // nothing encoded: 0 bytes handed over
    ASSERT_EQ(io.calls, (std::vector<int>{0}));
    io.calls.clear();

    e->BeginStrip(e.get());
    Bytes rows = tiftest::PatternRows(rowBytes, 5);
    EXPECT_EQ(e->EncodeRows(e.get(), rows.data(), 4), 4);
    EXPECT_TRUE(io.calls.empty());  // exactly full: kept until more is needed
    EXPECT_EQ(e->EndStrip(e.get()), TIF_CODEC_BUFFER_SIZE);
    EXPECT_EQ(io.calls, (std::vector<int>{TIF_CODEC_BUFFER_SIZE}));
    EXPECT_EQ(io.data, Bytes(rows.begin(), rows.begin() + 4 * rowBytes));

    io = MemoryIo();
    e->BeginStrip(e.get());
    EXPECT_EQ(e->EncodeRows(e.get(), rows.data(), 5), 5);
    EXPECT_EQ(io.calls, (std::vector<int>{TIF_CODEC_BUFFER_SIZE}));
    e->EndStrip(e.get());
    EXPECT_EQ(io.data, rows);
    EXPECT_EQ(e->EncodeRows(e.get(), rows.data(), 0), 0);
    EXPECT_EQ(e->EncodeRows(e.get(), rows.data(), -2), 0);
}

TEST(CodecBuffer, CallerBufferAndBack)
{
    MemoryIo io;
    io.data = tiftest::PatternRows(8, 4);
    Codec d = Raw(8);
    d->SetIoProc(d.get(), MemoryIo::Read, &io);
    unsigned char small[5];
    d->SetBuffer(d.get(), small, sizeof small);
    EXPECT_EQ(TifState(d.get())->externalBuffer, 1);
    d->BeginStrip(d.get());
    Bytes rows(32);
    EXPECT_EQ(d->DecodeRows(d.get(), rows.data(), 4), 4);
    EXPECT_EQ(rows, io.data);
    for (size_t i = 0; i + 1 < io.calls.size(); ++i)
        EXPECT_LE(io.calls[i], 5);
    d->SetBuffer(d.get(), nullptr, 0);
    EXPECT_EQ(TifState(d.get())->externalBuffer, 0);
    EXPECT_EQ(TifState(d.get())->bufferSize, TIF_CODEC_BUFFER_SIZE);
}

}  // namespace
