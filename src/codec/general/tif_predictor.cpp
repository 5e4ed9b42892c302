// tif_predictor.cpp — horizontal differencing (TIFF Predictor 2) wrapped around
// a codec's row slot; 8-bit and 16-bit samples, arithmetic modulo the sample
// size. Accumulation runs forwards (each sample adds the restored one before
// it); differencing writes the row into a block of the encoder's own, so the
// caller's row stays as it was.
#include "codec/general/tif_predictor.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

inline uint16_t Load16(const unsigned char* p)
{
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

inline void Store16(unsigned char* p, uint16_t v) { std::memcpy(p, &v, 2); }

inline uint32_t Load32(const unsigned char* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

inline void Store32(unsigned char* p, uint32_t v) { std::memcpy(p, &v, 4); }

inline uint16_t Swap16(uint16_t v) { return static_cast<uint16_t>((v >> 8) | (v << 8)); }

// Four independent byte additions in one word, carries kept inside each byte.
inline uint32_t AddBytes(uint32_t a, uint32_t b)
{
    return ((a & 0x7F7F7F7Fu) + (b & 0x7F7F7F7Fu)) ^ ((a ^ b) & 0x80808080u);
}

// The 8-bit accumulations read the differences from `src` and write the
// restored row to `row`; `src` is either `row` itself or a separate block that
// does not overlap it.

// Copies the first pixel, which is stored as it is.
inline void CopyFirst(const unsigned char* src, unsigned char* row, int stride)
{
    if (src != row)
        std::memcpy(row, src, static_cast<size_t>(stride));
}

// Scalar loops, also the tails of the vector ones: accumulate from byte `i`
// on, the bytes of `row` before it already restored.
void Accumulate8Stride1From(const unsigned char* src, unsigned char* row, int bytes, int i)
{
    if (i == 0) {
        CopyFirst(src, row, 1);
        i = 1;
    }
    unsigned char acc = row[i - 1];
    for (; i < bytes; ++i) {
        acc = static_cast<unsigned char>(acc + src[i]);
        row[i] = acc;
    }
}

void Accumulate8Stride3From(const unsigned char* src, unsigned char* row, int bytes, int i)
{
    if (i == 0) {
        CopyFirst(src, row, 3);
        i = 3;
    }
    unsigned char r = row[i - 3], g = row[i - 2], b = row[i - 1];
    for (; i + 2 < bytes; i += 3) {
        r = static_cast<unsigned char>(r + src[i]);
        g = static_cast<unsigned char>(g + src[i + 1]);
        b = static_cast<unsigned char>(b + src[i + 2]);
        row[i] = r;
        row[i + 1] = g;
        row[i + 2] = b;
    }
}

void Accumulate8Stride4From(const unsigned char* src, unsigned char* row, int bytes, int i)
{
    if (i == 0) {
        CopyFirst(src, row, 4);
        i = 4;
    }
    uint32_t acc = Load32(row + i - 4);
    for (; i + 3 < bytes; i += 4) {
        acc = AddBytes(acc, Load32(src + i));
        Store32(row + i, acc);
    }
}

#if defined(__SSE2__)
// Vector prefix sums: within 16 bytes by shifted additions (log steps of the
// stride), then the last restored pixel of the previous block is added. That
// carry grows by each block's own sum, taken before the carry is added, so the
// only work waiting on the previous block is one addition.

inline __m128i Load128(const unsigned char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

inline void Store128(unsigned char* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

void Accumulate8Stride1(const unsigned char* src, unsigned char* row, int bytes)
{
    __m128i carry = _mm_setzero_si128();
    int i = 0;
    for (; i + 16 <= bytes; i += 16) {
        __m128i x = Load128(src + i);
        x = _mm_add_epi8(x, _mm_slli_si128(x, 1));
        x = _mm_add_epi8(x, _mm_slli_si128(x, 2));
        x = _mm_add_epi8(x, _mm_slli_si128(x, 4));
        x = _mm_add_epi8(x, _mm_slli_si128(x, 8));
        __m128i sum = _mm_unpackhi_epi8(x, x);  // byte 15 into the whole register
        sum = _mm_unpackhi_epi16(sum, sum);
        sum = _mm_shuffle_epi32(sum, 0xFF);
        Store128(row + i, _mm_add_epi8(x, carry));
        carry = _mm_add_epi8(carry, sum);
    }
    Accumulate8Stride1From(src, row, bytes, i);
}

void Accumulate8Stride4(const unsigned char* src, unsigned char* row, int bytes)
{
    __m128i carry = _mm_setzero_si128();
    int i = 0;
    for (; i + 16 <= bytes; i += 16) {
        __m128i x = Load128(src + i);
        x = _mm_add_epi8(x, _mm_slli_si128(x, 4));
        x = _mm_add_epi8(x, _mm_slli_si128(x, 8));
        Store128(row + i, _mm_add_epi8(x, carry));
        carry = _mm_add_epi8(carry, _mm_shuffle_epi32(x, 0xFF));
    }
    Accumulate8Stride4From(src, row, bytes, i);
}

// Five pixels (15 bytes) per step. Each block is loaded before the previous
// one is stored, and byte 15, which belongs to the next block, is stored as
// the source has it: in place, the next block and the tail still find it
// unchanged. The carry is the last restored pixel spread over the five places.
void Accumulate8Stride3(const unsigned char* src, unsigned char* row, int bytes)
{
    int i = 0;
    if (bytes >= 16) {
        const __m128i keep = _mm_srli_si128(_mm_set1_epi8(-1), 1);  // bytes 0..14
        __m128i carry = _mm_setzero_si128();
        __m128i cur = Load128(src);
        for (;;) {
            const bool more = i + 31 <= bytes;
            const __m128i next = more ? Load128(src + i + 15) : cur;
            __m128i x = cur;
            x = _mm_add_epi8(x, _mm_slli_si128(x, 3));
            x = _mm_add_epi8(x, _mm_slli_si128(x, 6));
            x = _mm_add_epi8(x, _mm_slli_si128(x, 12));
            __m128i sum = _mm_srli_si128(_mm_slli_si128(x, 1), 13);  // pixel 4 to bytes 0..2
            sum = _mm_or_si128(sum, _mm_slli_si128(sum, 3));
            sum = _mm_or_si128(sum, _mm_slli_si128(sum, 6));
            sum = _mm_or_si128(sum, _mm_slli_si128(sum, 12));
            x = _mm_add_epi8(x, carry);
            Store128(row + i, _mm_or_si128(_mm_and_si128(x, keep), _mm_andnot_si128(keep, cur)));
            carry = _mm_add_epi8(carry, sum);
            i += 15;
            if (!more)
                break;
            cur = next;
        }
    }
    Accumulate8Stride3From(src, row, bytes, i);
}
#else
void Accumulate8Stride1(const unsigned char* src, unsigned char* row, int bytes)
{
    Accumulate8Stride1From(src, row, bytes, 0);
}
void Accumulate8Stride3(const unsigned char* src, unsigned char* row, int bytes)
{
    Accumulate8Stride3From(src, row, bytes, 0);
}
void Accumulate8Stride4(const unsigned char* src, unsigned char* row, int bytes)
{
    Accumulate8Stride4From(src, row, bytes, 0);
}
#endif

// Bytes of differenced rows an encoder keeps: a few KB, or one row when wider.
constexpr int kBlockBytes = 8192;

// The row slot is one union: written through the member the codec uses.
void SetRowsSlot(TifCodec* codec, bool decoder, TifRowsProc proc)
{
    if (decoder)
        codec->DecodeRows = proc;
    else
        codec->EncodeRows = proc;
}

// For the scope of one call, the inner encoder steps through the packed block
// rather than the caller's array; the caller's layout comes back however the
// call ends (a write failure may throw).
class PackedRows {
public:
    explicit PackedRows(TifCodecState* s) : s_(s), stride_(s->rowStride), reverse_(s->reverse)
    {
        s->rowStride = s->rowBytes;
        s->reverse = 0;
    }
    ~PackedRows()
    {
        s_->rowStride = stride_;
        s_->reverse = reverse_;
    }
    PackedRows(const PackedRows&) = delete;
    PackedRows& operator=(const PackedRows&) = delete;

private:
    TifCodecState* s_;
    int stride_, reverse_;
};

}  // namespace

void TifPredAccumulate8(int stride, unsigned char* row, int bytes)
{
    TifPredAccumulate8From(stride, row, row, bytes);
}

void TifPredAccumulate8From(int stride, const unsigned char* src, unsigned char* row, int bytes)
{
    if (bytes <= stride) {
        if (src != row && bytes > 0)
            std::memcpy(row, src, static_cast<size_t>(bytes));
        return;
    }
    switch (stride) {
    case 1: Accumulate8Stride1(src, row, bytes); return;
    case 3: Accumulate8Stride3(src, row, bytes); return;
    case 4: Accumulate8Stride4(src, row, bytes); return;
    default:
        CopyFirst(src, row, stride);
        for (int i = stride; i < bytes; ++i)
            row[i] = static_cast<unsigned char>(src[i] + row[i - stride]);
    }
}

void TifPredAccumulate16(int stride, unsigned char* row, int bytes)
{
    const int words = bytes / 2;
    if (words <= stride)
        return;
    if (stride == 1) {
        uint16_t acc = Load16(row);
        for (int i = 1; i < words; ++i) {
            acc = static_cast<uint16_t>(acc + Load16(row + 2 * i));
            Store16(row + 2 * i, acc);
        }
        return;
    }
    for (int i = stride; i < words; ++i)
        Store16(row + 2 * i, static_cast<uint16_t>(Load16(row + 2 * i) + Load16(row + 2 * (i - stride))));
}

void TifPredAccumulate16Swapped(int stride, unsigned char* row, int bytes)
{
    const int words = bytes / 2;
    if (words <= stride)
        return;
    // Sums are formed in host order; every word is stored back in file order.
    if (stride == 1) {
        uint16_t acc = Swap16(Load16(row));
        for (int i = 1; i < words; ++i) {
            acc = static_cast<uint16_t>(acc + Swap16(Load16(row + 2 * i)));
            Store16(row + 2 * i, Swap16(acc));
        }
        return;
    }
    for (int i = stride; i < words; ++i) {
        uint16_t sum = static_cast<uint16_t>(Swap16(Load16(row + 2 * i)) + Swap16(Load16(row + 2 * (i - stride))));
        Store16(row + 2 * i, Swap16(sum));
    }
}

void TifPredDifference8(int stride, const unsigned char* src, unsigned char* row, int bytes)
{
    int i = stride;
#if defined(__SSE2__)
    for (; i + 16 <= bytes; i += 16)
        Store128(row + i, _mm_sub_epi8(Load128(src + i), Load128(src + i - stride)));
#endif
    for (; i < bytes; ++i)
        row[i] = static_cast<unsigned char>(src[i] - src[i - stride]);
    if (bytes > 0)
        std::memcpy(row, src, static_cast<size_t>(bytes < stride ? bytes : stride));
}

void TifPredDifference16(int stride, const unsigned char* src, unsigned char* row, int bytes)
{
    const int words = bytes / 2;
    int i = stride;
#if defined(__SSE2__)
    for (; i + 8 <= words; i += 8)
        Store128(row + 2 * i, _mm_sub_epi16(Load128(src + 2 * i), Load128(src + 2 * (i - stride))));
#endif
    for (; i < words; ++i)
        Store16(row + 2 * i, static_cast<uint16_t>(Load16(src + 2 * i) - Load16(src + 2 * (i - stride))));
    if (words > 0)
        std::memcpy(row, src, static_cast<size_t>(2 * (words < stride ? words : stride)));
}

int TifPredictorSetupDecode(TifCodec* codec, int swap)
{
    const TifCodecState* s = TifState(codec);
    if (s->bitsPerSample != 8 && s->bitsPerSample != 16)
        return 0;
    TifPredictorState* p = TifPredState(codec);
    p->predStride = s->samplesPerPixel;
    if (s->bitsPerSample == 8)
        p->predRowProc = TifPredAccumulate8;
    else
        p->predRowProc = swap ? TifPredAccumulate16Swapped : TifPredAccumulate16;
    if (codec->DecodeRows != TifPredictorDecodeRows)  // never wrap twice
        p->predInnerRows = codec->DecodeRows;
    codec->DecodeRows = TifPredictorDecodeRows;
    return 1;
}

int TifPredictorSetupEncode(TifCodec* codec, int)
{
    const TifCodecState* s = TifState(codec);
    if (s->bitsPerSample != 8 && s->bitsPerSample != 16)
        return 0;
    TifPredictorState* p = TifPredState(codec);
    if (p->predBlock == nullptr) {
        // Narrow rows go to the inner encoder several at a time, so that its
        // per-call work stays small beside the bytes.
        const int rows = s->rowBytes < kBlockBytes ? kBlockBytes / s->rowBytes : 1;
        const size_t bytes = static_cast<size_t>(rows) * static_cast<size_t>(s->rowBytes);
        p->predBlock = static_cast<unsigned char*>(std::malloc(bytes));
        if (p->predBlock == nullptr)
            return 0;
        p->predBlockRows = rows;
    }
    p->predStride = s->samplesPerPixel;
    p->predDiffProc = s->bitsPerSample == 8 ? TifPredDifference8 : TifPredDifference16;
    if (codec->EncodeRows != TifPredictorEncodeRows)
        p->predInnerRows = codec->EncodeRows;
    codec->EncodeRows = TifPredictorEncodeRows;
    return 1;
}

int TifPredictorDecodeRows(TifCodec* codec, void* rows, int count)
{
    TifPredictorState* p = TifPredState(codec);
    if (count <= 0 || p->predInnerRows(codec, rows, count) < count)
        return 0;  // rows of a short call stay as decoded
    const TifCodecState* s = TifState(codec);
    const long step = TifRowStep(s);
    auto* row = static_cast<unsigned char*>(rows);
    for (int i = 0; i < count; ++i, row += step)
        p->predRowProc(p->predStride, row, s->rowBytes);
    return count;
}

int TifPredictorEncodeRows(TifCodec* codec, void* rows, int count)
{
    TifPredictorState* p = TifPredState(codec);
    TifCodecState* s = TifState(codec);
    const long step = TifRowStep(s);
    const int rowBytes = s->rowBytes;
    const auto* row = static_cast<const unsigned char*>(rows);
    PackedRows packed(s);
    int done = 0;
    while (done < count) {
        const int n = count - done < p->predBlockRows ? count - done : p->predBlockRows;
        unsigned char* out = p->predBlock;
        for (int i = 0; i < n; ++i, row += step, out += rowBytes)
            p->predDiffProc(p->predStride, row, out, rowBytes);
        const int coded = p->predInnerRows(codec, p->predBlock, n);
        done += coded;
        if (coded < n)
            break;
    }
    return done;
}

void TifPredictorDestroy(TifCodec* codec)
{
    if (codec != nullptr && codec->state != nullptr)
        std::free(TifPredState(codec)->predBlock);
    TifCodecDestroy(codec);
}

int TifPredictorSetParam(TifCodec* codec, int tag, int value, TifRowsProc plain, bool decoder)
{
    if (tag != TIF_TAG_PREDICTOR)
        return 0;
    TifPredictorState* p = TifPredState(codec);
    const int predictor = value & 0xFFFF;
    if (predictor != 1 && predictor != 2)
        return 0;
    if (value == p->predictor)
        return 1;
    if (predictor == 1) {
        SetRowsSlot(codec, decoder, plain);
        p->predictor = value;
        return 1;
    }
    // Wrap the plain procedure, whatever the slot held before.
    const TifRowsProc previous = decoder ? codec->DecodeRows : codec->EncodeRows;
    SetRowsSlot(codec, decoder, plain);
    int ok = decoder ? TifPredictorSetupDecode(codec, static_cast<unsigned>(value) >> 16)
                     : TifPredictorSetupEncode(codec, 0);
    if (!ok) {
        SetRowsSlot(codec, decoder, previous);
        return 0;
    }
    p->predictor = value;
    return 1;
}
