// tif_codec.cpp — base construction and the default slots of every codec.
#include "codec/tif_codec.h"

#include <cstdlib>
#include <cstring>

#include "codec/tif_limits.h"
#include "io/tif_exception.h"

namespace {

int NoIo(unsigned char*, int, void*) { return 0; }

int DefaultSetParam(TifCodec*, int, int) { return 0; }

void DefaultSetRowStride(TifCodec* codec, int stride, int reverse)
{
    TifCodecState* s = TifState(codec);
    // Rows are never packed closer than one packed row; a stride at or below
    // it packs them, whatever stride came before (the caller's buffer is
    // laid out by the latest call alone).
    s->rowStride = stride > s->rowBytes ? stride : s->rowBytes;
    s->reverse = reverse;
}

void DefaultSetIoProc(TifCodec* codec, TifIoProc proc, void* context)
{
    TifCodecState* s = TifState(codec);
    s->ioProc = proc ? proc : NoIo;
    s->ioContext = context;
}

void DefaultSetBuffer(TifCodec* codec, unsigned char* buffer, int size)
{
    TifCodecState* s = TifState(codec);
    if (buffer != nullptr && size > 0) {
        if (!s->externalBuffer)
            std::free(s->buffer);
        s->externalBuffer = 1;
        s->buffer = buffer;
        s->bufferSize = size;
        return;
    }
    if (!s->externalBuffer)
        return;  // already owns a buffer of its own
    // Back to an owned buffer, of the default size. Without memory the caller's buffer stays in use,
    // so the codec is never left without one.
    auto* own = static_cast<unsigned char*>(std::malloc(TIF_CODEC_BUFFER_SIZE));
    if (own == nullptr)
        return;
    s->externalBuffer = 0;
    s->buffer = own;
    s->bufferSize = TIF_CODEC_BUFFER_SIZE;
}

int DecoderBeginStrip(TifCodec* codec)
{
    TifCodecState* s = TifState(codec);
    s->cursor = s->buffer;
    s->available = 0;
    return TifCodecFill(s);
}

int EncoderBeginStrip(TifCodec* codec)
{
    TifCodecState* s = TifState(codec);
    s->cursor = s->buffer;
    s->available = s->bufferSize;
    return 1;
}

int NoRows(TifCodec*, void*, int) { return 0; }

int EncoderEndStrip(TifCodec* codec)
{
    return TifCodecFlush(TifState(codec));
}

TifCodec* NewBase(const TifCodecParams* p, int stateSize, int bufferSize)
{
    if (p == nullptr || stateSize < static_cast<int>(sizeof(TifCodecState)) || bufferSize <= 0)
        return nullptr;
    int64_t rowBytes = TifRowBytes(p->width, p->samplesPerPixel, p->bitsPerSample);
    if (rowBytes < 0)
        return nullptr;
    auto* codec = static_cast<TifCodec*>(std::malloc(sizeof(TifCodec)));
    auto* s = static_cast<TifCodecState*>(std::malloc(static_cast<size_t>(stateSize)));
    auto* buffer = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(bufferSize)));
    if (codec == nullptr || s == nullptr || buffer == nullptr) {
        std::free(buffer);
        std::free(codec);
        std::free(s);
        return nullptr;
    }
    std::memset(s, 0, static_cast<size_t>(stateSize));
    s->compression = p->compression;
    s->width = p->width;
    s->samplesPerPixel = p->samplesPerPixel;
    s->bitsPerSample = p->bitsPerSample;
    s->rowBytes = static_cast<int>(rowBytes);
    s->rowStride = s->rowBytes;
    s->buffer = buffer;
    s->bufferSize = bufferSize;
    s->ioProc = NoIo;
    s->tally.first = -1;

    std::memset(codec, 0, sizeof(TifCodec));
    codec->state = s;
    codec->Destroy = TifCodecDestroy;
    codec->SetParam = DefaultSetParam;
    codec->SetRowStride = DefaultSetRowStride;
    codec->SetIoProc = DefaultSetIoProc;
    codec->SetBuffer = DefaultSetBuffer;
    return codec;
}

}  // namespace

int TifCodecFill(TifCodecState* s)
{
    int n = s->ioProc(s->buffer, s->bufferSize, s->ioContext);
    s->cursor = s->buffer;
    s->available = n > 0 ? n : 0;
    return n;
}

void TifCodecHandOver(TifCodecState* s)
{
    // Bytes the procedure did not take are lost: the strip cannot be finished.
    if (TifCodecFlush(s) < 0)
        TifThrow(CTifException::kShortWrite);
}

int TifCodecFlush(TifCodecState* s)
{
    const int pending = s->bufferSize - s->available;
    const int moved = s->ioProc(s->buffer, pending, s->ioContext);
    s->cursor = s->buffer;
    s->available = s->bufferSize;
    return moved == pending ? pending : -1;
}

TifCodec* TifNewDecoderBase(const TifCodecParams* params, int stateSize, int bufferSize)
{
    TifCodec* codec = NewBase(params, stateSize, bufferSize);
    if (codec != nullptr) {
        codec->BeginStrip = DecoderBeginStrip;
        codec->DecodeRows = NoRows;
        codec->EndStrip = nullptr;
    }
    return codec;
}

TifCodec* TifNewEncoderBase(const TifCodecParams* params, int stateSize)
{
    TifCodec* codec = NewBase(params, stateSize, TIF_CODEC_BUFFER_SIZE);
    if (codec != nullptr) {
        codec->BeginStrip = EncoderBeginStrip;
        codec->EncodeRows = NoRows;
        codec->EndStrip = EncoderEndStrip;
    }
    return codec;
}

void TifCodecDestroy(TifCodec* codec)
{
    if (codec == nullptr)
        return;
    TifCodecState* s = TifState(codec);
    if (s != nullptr && !s->externalBuffer)
        std::free(s->buffer);
    if (s != nullptr) {
        std::free(s->tally.tileBits);
        std::free(s->tally.gap);
    }
    std::free(s);
    std::free(codec);
}
