// codec_io.h — memory I/O for codec tests: a source that hands out at most
// `chunk` bytes per transfer and can throw at a given byte, a sink that keeps
// every hand-over, strip-level drivers, and the code of a thrown exception.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include <zlib.h>

#include "codec/tif_codec.h"
#include "io/tif_exception.h"
#include "support/tif_builder.h"

namespace tiftest {

struct MemSource {
    Bytes data;
    size_t pos = 0;
    int chunk = 1 << 30;
    long throwAt = -1;  // a transfer that would deliver this byte throws instead
    int maxAsked = 0;   // the largest transfer asked for

    static int Proc(unsigned char* buffer, int length, void* context)
    {
        auto* m = static_cast<MemSource*>(context);
        m->maxAsked = std::max(m->maxAsked, length);
        size_t n = std::min({m->data.size() - m->pos, size_t(length), size_t(m->chunk)});
        if (m->throwAt >= 0 && n > 0 && long(m->pos + n) > m->throwAt)
            TifThrow(CTifException::kShortRead);
        std::copy_n(m->data.begin() + long(m->pos), n, buffer);
        m->pos += n;
        return int(n);
    }
};

// The code of the CTifException that `f` throws; 0 when it throws none.
template <class F>
int ThrownCode(F f)
{
    try {
        f();
    } catch (CTifException* e) {
        const int code = e ? e->code : -1;
        delete e;
        return code;
    }
    return 0;
}

struct MemSink {
    Bytes data;
    std::vector<int> handOvers;

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
using Codec = std::unique_ptr<TifCodec, CodecDeleter>;

inline Codec NewCodec(bool decoder, int compression, int width, int samples = 1, int bits = 8)
{
    TifCodecParams p{compression, width, samples, bits};
    return Codec(decoder ? TifCreateDecoder(&p) : TifCreateEncoder(&p));
}

// Encodes `count` packed rows as one strip; encoders only read the rows.
inline Bytes EncodeStrip(TifCodec* enc, const Bytes& rows, int count, std::vector<int>* handOvers = nullptr,
                         int* stripBytes = nullptr)
{
    MemSink sink;
    enc->SetIoProc(enc, MemSink::Proc, &sink);
    enc->BeginStrip(enc);
    enc->EncodeRows(enc, const_cast<uint8_t*>(rows.data()), count);
    const int ended = enc->EndStrip(enc);
    if (stripBytes)
        *stripBytes = ended;
    if (handOvers)
        *handOvers = sink.handOvers;
    return sink.data;
}

// Decodes up to `count` rows into `out`, `perCall` per DecodeRows call;
// `out` holds `fill` where none came. Returns the rows delivered before the
// first short call.
inline int DecodeRows(TifCodec* dec, int count, Bytes* out, int perCall = 1, uint8_t fill = 0xCD)
{
    const size_t rowBytes = size_t(TifState(dec)->rowBytes);
    out->assign(rowBytes * count, fill);
    int done = 0;
    for (int n = 0, k = 0; done < count && n == k; done += n) {
        k = std::min(count - done, perCall);
        n = dec->DecodeRows(dec, out->data() + done * rowBytes, k);
    }
    return done;
}

// The same over a whole strip handed out `chunk` bytes at a time.
inline int DecodeStrip(TifCodec* dec, const Bytes& strip, int count, Bytes* out, int chunk = 1 << 30,
                       int perCall = 1)
{
    MemSource src{strip, 0, chunk};
    dec->SetIoProc(dec, MemSource::Proc, &src);
    dec->BeginStrip(dec);
    return DecodeRows(dec, count, out, perCall);
}

// A zlib stream of `data`.
inline Bytes Zlib(const Bytes& data)
{
    uLongf size = compressBound(uLong(data.size()));
    Bytes out(size);
    compress2(out.data(), &size, data.data(), uLong(data.size()), 6);
    out.resize(size);
    return out;
}

// Bytes that compress poorly.
inline Bytes NoiseRows(size_t bytes, uint32_t seed = 99)
{
    Bytes b(bytes);
    for (auto& v : b) {
        seed = seed * 1664525u + 1013904223u;
        v = uint8_t(seed >> 24);
    }
    return b;
}

}  // namespace tiftest
