// tif_deflate_encode.cpp — deflating rows into one zlib stream per strip, at
// level 1, straight from the caller's rows into the transfer buffer.
#include <zlib.h>

#include "codec/general/tif_deflate.h"
#include "codec/general/tif_predictor.h"

namespace {

struct TifDeflateEncoderState {
    TifCodecState header;
    TifPredictorState pred;
    z_stream zstream;
};

inline TifDeflateEncoderState* DeflateState(TifCodec* codec)
{
    return static_cast<TifDeflateEncoderState*>(codec->state);
}

// Hands the full buffer over and points zlib at the empty one.
void HandOver(TifDeflateEncoderState* s)
{
    TifCodecState* h = &s->header;
    TifCodecHandOver(h);
    s->zstream.next_out = h->cursor;
    s->zstream.avail_out = static_cast<uInt>(h->available);
}

int DeflateEncodeRows(TifCodec* codec, void* rows, int count)
{
    TifDeflateEncoderState* s = DeflateState(codec);
    TifCodecState* h = &s->header;
    z_stream* z = &s->zstream;
    const long step = TifRowStep(h);
    auto* row = static_cast<unsigned char*>(rows);
    for (int i = 0; i < count; ++i, row += step) {
        z->next_in = row;
        z->avail_in = static_cast<uInt>(h->rowBytes);
        do {
            if (deflate(z, Z_NO_FLUSH) != Z_OK)
                return i;
            h->available = static_cast<int>(z->avail_out);
            h->cursor = z->next_out;
            if (z->avail_out == 0)
                HandOver(s);
        } while (z->avail_in > 0);
    }
    return count > 0 ? count : 0;
}

int DeflateBeginStrip(TifCodec* codec)
{
    TifDeflateEncoderState* s = DeflateState(codec);
    TifCodecState* h = &s->header;
    h->cursor = h->buffer;
    h->available = h->bufferSize;
    s->zstream.next_out = h->buffer;
    s->zstream.avail_out = static_cast<uInt>(h->bufferSize);
    return deflateReset(&s->zstream) == Z_OK ? 1 : 0;
}

int DeflateEndStrip(TifCodec* codec)
{
    TifDeflateEncoderState* s = DeflateState(codec);
    TifCodecState* h = &s->header;
    z_stream* z = &s->zstream;
    z->avail_in = 0;
    for (;;) {
        const int r = deflate(z, Z_FINISH);
        if (r != Z_OK && r != Z_STREAM_END)
            return r;
        h->available = static_cast<int>(z->avail_out);
        h->cursor = z->next_out;
        if (z->avail_out == 0)
            HandOver(s);
        if (r == Z_STREAM_END)
            return TifCodecFlush(h);
    }
}

int DeflateSetParam(TifCodec* codec, int tag, int value)
{
    return TifPredictorSetParam(codec, tag, value, DeflateEncodeRows, false);
}

void DeflateDestroy(TifCodec* codec)
{
    deflateEnd(&DeflateState(codec)->zstream);
    TifPredictorDestroy(codec);
}

}  // namespace

TifCodec* TifNewDeflateEncoder(const TifCodecParams* params)
{
    TifCodec* codec = TifNewEncoderBase(params, sizeof(TifDeflateEncoderState));
    if (codec == nullptr)
        return nullptr;
    TifDeflateEncoderState* s = DeflateState(codec);
    s->pred.predictor = 1;
    // zalloc, zfree, opaque and data_type are already zero: the base
    // constructor clears the whole state, so zlib uses its own allocator.
    if (deflateInit(&s->zstream, Z_BEST_SPEED) != Z_OK) {
        TifCodecDestroy(codec);
        return nullptr;
    }
    codec->Destroy = DeflateDestroy;
    codec->SetParam = DeflateSetParam;
    codec->BeginStrip = DeflateBeginStrip;
    codec->EncodeRows = DeflateEncodeRows;
    codec->EndStrip = DeflateEndStrip;
    return codec;
}
