// codec_io.h — memory I/O procedures and drivers for codec tests: a source that
// hands out at most `chunk` bytes per call and can throw at a given byte, and a
// sink that collects what an encoder hands over.
#pragma once

#include <cstdint>
#include <vector>

#include "codec/tif_codec.h"
#include "io/tif_exception.h"

namespace codec_test {

using Bytes = std::vector<uint8_t>;

struct MemSource {
    Bytes data;
    size_t pos = 0;
    int chunk = 1 << 30;  // most bytes per call
    long throwAt = -1;    // a call that would deliver this byte throws instead
    int calls = 0;

    static int Proc(unsigned char* buffer, int length, void* context)
    {
        auto* m = static_cast<MemSource*>(context);
        ++m->calls;
        size_t n = m->data.size() - m->pos;
        if (n > size_t(length))
            n = size_t(length);
        if (n > size_t(m->chunk))
            n = size_t(m->chunk);
        if (m->throwAt >= 0 && n > 0 && long(m->pos + n) > m->throwAt)
            TifThrow(CTifException::kShortRead);
        for (size_t i = 0; i < n; ++i)
            buffer[i] = m->data[m->pos + i];
        m->pos += n;
        return int(n);
    }
};

struct MemSink {
    Bytes data;
    std::vector<int> handOvers;  // length of every hand-over

    static int Proc(unsigned char* buffer, int length, void* context)
    {
        auto* m = static_cast<MemSink*>(context);
        m->handOvers.push_back(length);
        m->data.insert(m->data.end(), buffer, buffer + length);
        return length;
    }
};

struct CodecDeleter {
    void operator()(TifCodec* c) const { c->Destroy(c); }
};

inline TifCodecParams Params(int compression, int width, int samples = 1, int bits = 8)
{
    return TifCodecParams{compression, width, samples, bits};
}

// Encodes `rows` (packed, rowBytes apart) as one strip; returns the strip.
inline Bytes EncodeStrip(TifCodec* enc, Bytes& rows, int count)
{
    MemSink sink;
    enc->SetIoProc(enc, MemSink::Proc, &sink);
    enc->BeginStrip(enc);
    enc->EncodeRows(enc, rows.data(), count);
    enc->EndStrip(enc);
    return sink.data;
}

// Decodes up to `count` rows of `rowBytes` from `strip`, `perCall` rows per
// DecodeRows call, input handed out `chunk` bytes at a time. Returns the rows
// delivered; `out` receives them.
inline int DecodeStrip(TifCodec* dec, const Bytes& strip, int rowBytes, int count, Bytes* out,
                       int chunk = 1 << 30, int perCall = 1)
{
    MemSource src;
    src.data = strip;
    src.chunk = chunk;
    dec->SetIoProc(dec, MemSource::Proc, &src);
    dec->BeginStrip(dec);
    out->assign(size_t(rowBytes) * count, 0xCD);
    int done = 0;
    while (done < count) {
        int k = count - done < perCall ? count - done : perCall;
        int n = dec->DecodeRows(dec, out->data() + size_t(done) * rowBytes, k);
        done += n;
        if (n < k)
            break;
    }
    return done;
}

// Photo-like test content: smooth gradients with a little noise.
inline Bytes PhotoRows(int rowBytes, int rows, uint32_t seed = 1)
{
    Bytes b(size_t(rowBytes) * rows);
    uint32_t x = seed * 2654435761u + 1;
    for (int y = 0; y < rows; ++y)
        for (int i = 0; i < rowBytes; ++i) {
            x = x * 1103515245u + 12345u;
            b[size_t(y) * rowBytes + i] = uint8_t((i / 7 + y * 3 + ((x >> 16) & 7)) & 0xFF);
        }
    return b;
}

}  // namespace codec_test
