// test_lzw_encode.cpp — the LZW encoder: streams byte for byte against the plain
// test encoder, EndOfInformation at the width a decoder reads it, round trips
// through our decoder and libtiff, row layouts and caller buffers of any size.
#include <gtest/gtest.h>

#include <algorithm>

#include "codec/general/tif_lzw.h"
#include "support/codec_io.h"
#include "support/libtiff_util.h"
#include "support/temp_dir.h"
#include "lzw_test_encoder.h"

using namespace tiftest;

namespace {

// The rows libtiff reads, joined, from a one-strip LZW image; empty when
// libtiff says anything while reading it.
Bytes LibtiffRows(const Bytes& strip, uint32_t width, uint32_t height, uint16_t samples, uint16_t bits, int predictor)
{
    TiffBuilder b;
    b.StripImage({width, height, samples, bits, samples == 3 ? kRgb : samples == 4 ? kSeparated : kMinIsBlack, 0, 5}, {});
    b.Set(kTagStripOffsets, kLong, {b.AddData(strip)}).Set(kTagStripByteCounts, kLong, {uint32_t(strip.size())});
    b.Set(kTagPredictor, kShort, {uint32_t(predictor)});
    TempDir dir;
    std::vector<Bytes> rows;
    std::string complaints;
    Bytes all;
    if (ReadLibtiffStrict(dir.Write("lzw.tif", b.Build()), &rows, &complaints) && complaints.empty())
        for (const Bytes& r : rows)
            all.insert(all.end(), r.begin(), r.end());
    return all;
}

// A page of text: white with short dark runs.
Bytes DocumentRows(size_t bytes)
{
    Bytes b(bytes, 0xFF);
    for (uint32_t i = 0, x = 7; i < bytes; i += 1 + (x >> 16) % 200, x = x * 1664525u + 1013904223u)
        std::fill_n(b.begin() + i, std::min<size_t>(1 + (x >> 8) % 6, bytes - i), uint8_t(x >> 28));
    return b;
}

Bytes Encode(const Bytes& data, int rowBytes)
{
    return EncodeStrip(NewCodec(false, 5, rowBytes).get(), data, int(data.size()) / rowBytes);
}

TEST(LzwEncoder, SingleByte41)
{
    // Clear 100000000, 0x41 001000001, EndOfInformation 100000001, five zero bits.
    EXPECT_EQ(Encode({0x41}, 1), (Bytes{0x80, 0x10, 0x60, 0x20}));
}

// 24000 bytes of noise pass code 4093 and the Clear after it.
TEST(LzwEncoder, StreamsMatchThePlainEncoderThroughEveryWidthAndClear)
{
    for (const Bytes& data : {NoiseRows(24000, 1), DocumentRows(60000), Bytes(100000, 0x80), PatternRows(1000, 40, 3)})
        EXPECT_EQ(Encode(data, 1000), LzwTestEncoder(false).Encode(data, true));
}

// Strings whose home slot is 0 (byte b after the single byte 32 × b), all
// after a run of zeros has put string "0 0" there: their probes pass slot 0
// twice and wrap to the table's top. In strips coded at once, a row at a
// time, and through a small buffer (checked and unchecked coding taking
// turns on one table), the stream is the plain encoder's and decodes back.
TEST(LzwEncoder, StringsSharingSlotZero)
{
    Bytes pairs(400, 0), mixed(6000, 0);
    for (size_t i = 0; i < 360; i += 2) {
        const uint8_t b = uint8_t(1 + i / 2 % 7);
        pairs[40 + i] = uint8_t(32 * b);
        pairs[41 + i] = b;
    }
    for (uint32_t i = 40, x = 5; i + 1 < mixed.size(); i += 2, x = x * 1664525u + 1013904223u) {
        const uint8_t b = uint8_t(x >> 29);  // 0..7: 0 adds to the run of zeros
        mixed[i] = uint8_t(32 * b);
        mixed[i + 1] = b;
    }
    for (const Bytes& data : {pairs, mixed}) {
        const Bytes expected = LzwTestEncoder(false).Encode(data, true);
        for (int rowBytes : {int(data.size()), 40})
            EXPECT_EQ(Encode(data, rowBytes), expected) << rowBytes;
        Codec enc = NewCodec(false, 5, int(data.size()));
        Bytes buffer(150), work = data;
        enc->SetBuffer(enc.get(), buffer.data(), int(buffer.size()));
        MemSink sink;
        enc->SetIoProc(enc.get(), MemSink::Proc, &sink);
        enc->BeginStrip(enc.get());
        enc->EncodeRows(enc.get(), work.data(), 1);
        enc->EndStrip(enc.get());
        EXPECT_EQ(sink.data, expected);
        Bytes out;
        EXPECT_EQ(DecodeStrip(NewCodec(true, 5, int(data.size())).get(), expected, 1, &out), 1);
        EXPECT_EQ(out, data);
    }
}

// Strips ending on each byte around the one after which 511, 1023 or 2047 is
// the next free code: only those differ from the plain algorithm, and every
// one decodes with our decoder and with libtiff.
TEST(LzwEncoder, EndOfInformationAtTheWidthADecoderReads)
{
    const Bytes noise = NoiseRows(3000, 5);
    std::vector<int> freeAfter;
    LzwTestEncoder(false).Encode(noise, false, &freeAfter);
    for (int lastEntry : {510, 1022, 2046}) {
        const long n = std::find(freeAfter.begin(), freeAfter.end(), lastEntry + 1) - freeAfter.begin() + 1;
        for (long m = n - 2; m <= n + 2; ++m) {
            const Bytes data(noise.begin(), noise.begin() + m), strip = Encode(data, int(m));
            EXPECT_EQ(strip, LzwTestEncoder(false).Encode(data, true)) << m;
            EXPECT_EQ(strip != LzwTestEncoder(false).Encode(data, false), freeAfter[size_t(m - 1)] == lastEntry + 1);
            Bytes out;
            EXPECT_EQ(DecodeStrip(NewCodec(true, 5, int(m)).get(), strip, 1, &out), 1);
            EXPECT_EQ(out, data);
            EXPECT_EQ(LibtiffRows(strip, uint32_t(m), 1, 1, 8, 1), data) << m;
        }
    }
}

// Random, document-like and flat images; a strip coded a row per call equals
// the strip coded in one call (nothing carries over from the last strip).
TEST(LzwEncoder, RoundTripsThroughOurDecoderAndLibtiff)
{
    const int shapes[][4] = {  // width, samples, bits, predictor
        {1, 1, 8, 1},    {7, 1, 8, 1},    {8, 1, 8, 1},   {31, 1, 8, 1}, {1728, 1, 8, 1}, {2561, 1, 8, 1},
        {9600, 1, 8, 1}, {1728, 1, 1, 1}, {31, 3, 8, 2},  {9600, 4, 8, 2}, {1, 1, 16, 2}, {7, 3, 16, 2},
    };
    const int height = 6;
    for (const auto& s : shapes) {
        const size_t size = (size_t(s[0]) * s[1] * s[2] + 7) / 8 * height;
        for (const Bytes& image : {NoiseRows(size, 11), DocumentRows(size), Bytes(size, 0x3C)}) {
            SCOPED_TRACE(std::to_string(s[0]) + "x" + std::to_string(s[1]) + "x" + std::to_string(s[2]) +
                         " predictor " + std::to_string(s[3]));
            Codec enc = NewCodec(false, 5, s[0], s[1], s[2]), dec = NewCodec(true, 5, s[0], s[1], s[2]);
            ASSERT_EQ(enc->SetParam(enc.get(), 317, s[3]) & dec->SetParam(dec.get(), 317, s[3]), 1);
            Bytes work = image;  // coded twice: the encoder only reads it
            const Bytes strip = EncodeStrip(enc.get(), work, height);
            MemSink sink;
            enc->SetIoProc(enc.get(), MemSink::Proc, &sink);
            enc->BeginStrip(enc.get());
            for (int r = 0; r < height; ++r)
                EXPECT_EQ(enc->EncodeRows(enc.get(), work.data() + r * size / height, 1), 1);
            enc->EndStrip(enc.get());
            EXPECT_EQ(sink.data, strip);
            Bytes out;
            EXPECT_EQ(DecodeStrip(dec.get(), strip, height, &out, 977, 2), height);
            EXPECT_EQ(out, image);
            EXPECT_EQ(LibtiffRows(strip, uint32_t(s[0]), height, uint16_t(s[1]), uint16_t(s[2]), s[3]), image);
        }
    }
}

// Buffers from 1 byte (below the room one code needs) to the codec's own,
// and rows last first at a wider stride: always the same stream, nothing
// written past the buffer, every hand-over but the last nearly full.
TEST(LzwEncoder, CallerBuffersAndRowLayouts)
{
    const Bytes data = NoiseRows(60000, 3), expected = LzwTestEncoder(false).Encode(data, true);
    Bytes spread(100 * 640, 0xEE);  // the same rows last first, 640 bytes apart
    for (int r = 0; r < 100; ++r)
        std::copy_n(data.begin() + r * 600, 600, spread.begin() + (99 - r) * 640);
    for (int size : {0, 1, 2, 3, 4, 5, 6, 7, 64, 1001}) {  // 0: the codec's own 32768 bytes
        Codec enc = NewCodec(false, 5, 600);
        Bytes buffer(size_t(size) + 8, 0xA5), work = size % 2 ? spread : data;
        if (size > 0)
            enc->SetBuffer(enc.get(), buffer.data(), size);
        if (size % 2)
            enc->SetRowStride(enc.get(), 640, 1);
        MemSink sink;
        enc->SetIoProc(enc.get(), MemSink::Proc, &sink);
        enc->BeginStrip(enc.get());
        enc->EncodeRows(enc.get(), work.data() + (size % 2 ? 99 * 640 : 0), 100);
        enc->EndStrip(enc.get());
        EXPECT_EQ(sink.data, expected) << size;
        EXPECT_EQ(Bytes(buffer.begin() + size, buffer.end()), Bytes(8, 0xA5)) << size;
        const int capacity = size > 0 ? size : TIF_CODEC_BUFFER_SIZE;
        for (size_t i = 0; i < sink.handOvers.size(); ++i) {
            EXPECT_LE(sink.handOvers[i], capacity) << size;
            EXPECT_GE(sink.handOvers[i], i + 1 < sink.handOvers.size() ? std::max(1, capacity - 4) : 1) << size;
        }
    }
}

}  // namespace
