// fuzz_decode.h — shared driver of the decoder fuzz targets: hands a strip held
// in memory to a decoder in pieces and decodes rows until a short count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/tif_codec.h"

namespace fuzzdecode {

struct Source {
    const uint8_t* data;
    size_t size;
    size_t pos;
    size_t piece;  // most bytes handed out per call
};

inline int Read(unsigned char* buffer, int length, void* context)
{
    auto* s = static_cast<Source*>(context);
    size_t n = s->size - s->pos;
    if (n > size_t(length))
        n = size_t(length);
    if (n > s->piece)
        n = s->piece;
    for (size_t i = 0; i < n; ++i)
        buffer[i] = s->data[s->pos + i];
    s->pos += n;
    return int(n);
}

// Decodes the strip `data` with `codec` (parameters already set), `perCall`
// rows per DecodeRows call and at most `maxRows` rows, then destroys the codec.
inline void DecodeStrip(TifCodec* codec, const uint8_t* data, size_t size, size_t piece, int perCall,
                        int maxRows)
{
    Source src{data, size, 0, piece};
    codec->SetIoProc(codec, Read, &src);
    codec->BeginStrip(codec);
    std::vector<unsigned char> rows(size_t(TifState(codec)->rowBytes) * size_t(perCall));
    for (int done = 0; done < maxRows; done += perCall)
        if (codec->DecodeRows(codec, rows.data(), perCall) != perCall)
            break;
    codec->Destroy(codec);
}

}  // namespace fuzzdecode
