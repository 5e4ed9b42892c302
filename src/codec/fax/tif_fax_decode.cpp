// tif_fax_decode.cpp — the CCITT fax decoder: Modified Huffman (Compression 2),
// Group 3 one- and two-dimensional (3) and Group 4 (4), after ITU-T T.4 / T.6.
// This file owns the decoder record: its construction and release, the run
// arrays, the parameters (FillOrder, T4Options), the start of a strip, and
// the pick of the row loops for the processor at hand.
//
// Each row is decoded into a list of runs (white, black, white, ..., starting
// with white), kept as the positions where they end, and then painted into the
// caller's row; in the 2D variants that list is the reference row of the next
// one. The pieces are listed in tif_fax_decode_internal.h.
//
// Hostile data: the geometry is checked before anything is allocated (both
// run arrays within the allocation limit); a strip's first read takes at most
// the buffer. What the row loops promise is in tif_fax_decode_internal.h.
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "codec/fax/tif_fax.h"
#include "codec/fax/tif_fax_decode_internal.h"
#include "codec/tif_limits.h"

#if TIF_GNU_X86_64
#include <cpuid.h>
#endif

using namespace tif_fax_decode;

namespace {

// The first block of a strip is read small, and turned for the reader only
// when decoding begins: opening a page loads its first strip only to check
// that its data is there, and a program copying the stored bytes decodes
// nothing. The reader refills whole buffers after it.
constexpr int kFirstBlock = 4096;

#if TIF_GNU_X86_64
// Whether the processor has BMI2 and AVX2 and the system saves the AVX
// registers. Asked here rather than through __builtin_cpu_supports, whose
// start-up routine asks the processor a dozen questions in every program
// linking the library, decoding or not: each CPUID is a trap to the
// hypervisor on a virtual machine, some 10 µs, more than a command that copies
// a page spends on the page.
bool HasBmi2Avx2()
{
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_OSXSAVE) || !(c & bit_AVX))
        return false;
    unsigned lo = 0, hi = 0;
    __asm__("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    return (lo & 6) == 6 && __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & bit_BMI2) && (b & bit_AVX2);
}

// The first call of a decoder picks its variant, once for the process: a
// decoder that decodes nothing (a page opened to copy its strips) asks nothing.
template <Variant V>
int DecodeRowsFirst(TifCodec* codec, void* rows, int count)
{
    static const bool bmi2Avx2 = HasBmi2Avx2();
    codec->DecodeRows = bmi2Avx2 ? Bmi2DecodeRows(V) : PlainDecodeRows(V);
    return codec->DecodeRows(codec, rows, count);
}

template <Variant V>
TifRowsProc PickDecodeRows()
{
    return DecodeRowsFirst<V>;
}
#else
template <Variant V>
TifRowsProc PickDecodeRows()
{
    return PlainDecodeRows(V);
}
#endif

// ---------------------------------------------------------------- slots

// An all-white reference row: one white run ending at rowPixels, and the guards.
void ResetReference(int32_t* ref, int rowPixels)
{
    for (int i = 0; i <= kGuardEntries; ++i)
        ref[i] = rowPixels;
}

// One block of `arrays` run arrays of `capacity` entries, each preceded by its
// fixed 0 entry; the second (if any) set up as an all-white reference row.
int32_t* NewRunArrays(int capacity, int arrays, int rowPixels)
{
    const int64_t entries = TifCheckedSize(int64_t(capacity) + 1, arrays);
    if (entries <= 0 || TifCheckedSize(entries, sizeof(int32_t)) < 0)
        return nullptr;
    auto* block = static_cast<int32_t*>(std::calloc(static_cast<size_t>(entries), sizeof(int32_t)));
    if (block != nullptr && arrays == 2)
        ResetReference(block + capacity + 2, rowPixels);
    return block;
}

void UseRunArrays(TifFaxDecoderState* s, int32_t* block, int arrays)
{
    s->runArrays = block;
    s->curRuns = block + 1;
    s->refRuns = arrays == 2 ? block + s->runCapacity + 2 : nullptr;
}

int FaxSetParam(TifCodec* codec, int tag, int value)
{
    TifFaxDecoderState* s = FaxState(codec);
    if (tag == TIF_TAG_FILLORDER) {
        const uint8_t* map = value == 1 ? kMsbFirstMap : kLsbFirstMap;
        // Bytes still in the buffer take the new order; turning them twice
        // brings them back. Bytes not yet turned are turned by the map in use.
        if (map != s->bitMap && s->header.available > 0 && !s->rawBlock)
            ToLsbFirst(s->header.cursor, s->header.available);
        s->bitMap = map;
        return 1;
    }
    if (tag != TIF_TAG_T4OPTIONS || s->header.compression != 3)
        return 0;
    const bool twoD = (value & T4OPT_2D) != 0;
    if (twoD != ((s->options & T4OPT_2D) != 0)) {
        const int arrays = twoD ? 2 : 1;
        int32_t* block = NewRunArrays(s->runCapacity, arrays, s->rowPixels);
        if (block == nullptr)
            return 0;
        std::free(s->runArrays);
        UseRunArrays(s, block, arrays);
        codec->DecodeRows = twoD ? PickDecodeRows<kG3_2D>() : PickDecodeRows<kG3_1D>();
    }
    s->options = value;
    return 1;
}

int FaxBeginStrip(TifCodec* codec)
{
    TifFaxDecoderState* s = FaxState(codec);
    // Reset before the read, which may throw: no bit of the last strip survives.
    s->header.cursor = s->header.buffer;
    s->header.available = 0;
    s->bitAcc = 0;
    s->bitCount = 0;
    s->bitPad = 0;
    s->eolPending = 0;
    if (s->refRuns != nullptr)
        ResetReference(s->refRuns, s->rowPixels);
    TifCodecState* h = &s->header;
    const int first = h->bufferSize < kFirstBlock ? h->bufferSize : kFirstBlock;
    const int got = h->ioProc(h->buffer, first, h->ioContext);
    h->available = got < 0 ? 0 : got > first ? first : got;
    s->rawBlock = 1;  // turned by the first decoding: a strip opened to be copied needs no turning
    return 1;
}

// The row loops and framing of Compression 2, 3 (1D until T4Options says
// otherwise) or 4.
void SetVariant(TifCodec* codec, TifFaxDecoderState* s, int compression)
{
    switch (compression) {
    case 2:
        codec->DecodeRows = PickDecodeRows<kMH>();
        s->framing = FAX_FRAMING_BYTEALIGN;
        break;
    case 3:
        codec->DecodeRows = PickDecodeRows<kG3_1D>();
        s->framing = FAX_FRAMING_EOL;
        break;
    default:
        codec->DecodeRows = PickDecodeRows<kG4>();
        s->framing = 0;
        break;
    }
}

}  // namespace

void TifFaxDecoderRelease(TifCodec* codec)
{
    TifFaxDecoderState* s = FaxState(codec);
    if (s != nullptr) {
        std::free(s->runArrays);
        s->runArrays = s->curRuns = s->refRuns = nullptr;
        std::free(s->toggleWords);
        s->toggleWords = nullptr;
    }
}

TifCodec* TifNewFaxDecoder(const TifCodecParams* params)
{
    if (params == nullptr)
        return nullptr;
    const int compression = params->compression;
    if (compression != 2 && compression != 3 && compression != 4)
        return nullptr;
    // Every bit of a row is one pixel. The run arrays grow with the row; both
    // arrays must fit the allocation limit, since Compression 3 may switch to
    // two of them.
    const int64_t rowBytes = TifRowBytes(params->width, params->samplesPerPixel, params->bitsPerSample);
    if (rowBytes < 0)
        return nullptr;
    const int64_t rowPixels = int64_t(params->width) * params->samplesPerPixel * params->bitsPerSample;
    const int64_t capacity = rowPixels + kArraySlack;
    if (TifCheckedSize(TifCheckedSize(capacity, 2), sizeof(int32_t)) < 0 || capacity > INT_MAX)
        return nullptr;

    TifCodec* codec = TifNewDecoderBase(params, sizeof(TifFaxDecoderState));
    if (codec == nullptr)
        return nullptr;
    TifFaxDecoderState* s = FaxState(codec);
    s->rowPixels = static_cast<int32_t>(rowPixels);
    s->options = 0;
    s->runCapacity = static_cast<int32_t>(capacity);
    const int arrays = compression == 4 ? 2 : 1;
    int32_t* block = NewRunArrays(s->runCapacity, arrays, s->rowPixels);
    if (block == nullptr) {
        TifCodecDestroy(codec);
        return nullptr;
    }
    UseRunArrays(s, block, arrays);
    s->toggleWords = static_cast<uint64_t*>(std::calloc(ToggleWordCount(rowPixels), sizeof(uint64_t)));
    if (s->toggleWords == nullptr) {
        TifFaxDecoderRelease(codec);
        TifCodecDestroy(codec);
        return nullptr;
    }
    s->bitMap = kMsbFirstMap;
    codec->Destroy = TifFaxDestroy;
    codec->SetParam = FaxSetParam;
    codec->BeginStrip = FaxBeginStrip;
    SetVariant(codec, s, compression);
    return codec;
}
