// tif_predictor.cpp — horizontal differencing (TIFF Predictor 2) wrapped around
// a codec's row slot; 8-bit and 16-bit samples, arithmetic modulo the sample
// size. Accumulation runs forwards (each sample adds the restored one before
// it); differencing runs backwards (each subtracts the unchanged one before it).
#include "codec/general/tif_predictor.h"

#include <cstdint>
#include <cstring>

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

void Accumulate8Stride1(unsigned char* row, int bytes)
{
    unsigned char acc = row[0];
    for (int i = 1; i < bytes; ++i) {
        acc = static_cast<unsigned char>(acc + row[i]);
        row[i] = acc;
    }
}

void Accumulate8Stride3(unsigned char* row, int bytes)
{
    unsigned char r = row[0], g = row[1], b = row[2];
    for (int i = 3; i + 2 < bytes; i += 3) {
        r = static_cast<unsigned char>(r + row[i]);
        g = static_cast<unsigned char>(g + row[i + 1]);
        b = static_cast<unsigned char>(b + row[i + 2]);
        row[i] = r;
        row[i + 1] = g;
        row[i + 2] = b;
    }
}

void Accumulate8Stride4(unsigned char* row, int bytes)
{
    uint32_t acc = Load32(row);
    for (int i = 4; i + 3 < bytes; i += 4) {
        acc = AddBytes(acc, Load32(row + i));
        Store32(row + i, acc);
    }
}

}  // namespace

void TifPredAccumulate8(int stride, unsigned char* row, int bytes)
{
    if (bytes <= stride)
        return;
    switch (stride) {
    case 1: Accumulate8Stride1(row, bytes); return;
    case 3: Accumulate8Stride3(row, bytes); return;
    case 4: Accumulate8Stride4(row, bytes); return;
    default:
        for (int i = stride; i < bytes; ++i)
            row[i] = static_cast<unsigned char>(row[i] + row[i - stride]);
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

void TifPredDifference8(int stride, unsigned char* row, int bytes)
{
    if (bytes <= stride)
        return;
    for (int i = bytes - 1; i >= stride; --i)
        row[i] = static_cast<unsigned char>(row[i] - row[i - stride]);
}

void TifPredDifference16(int stride, unsigned char* row, int bytes)
{
    const int words = bytes / 2;
    if (words <= stride)
        return;
    for (int i = words - 1; i >= stride; --i)
        Store16(row + 2 * i, static_cast<uint16_t>(Load16(row + 2 * i) - Load16(row + 2 * (i - stride))));
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
    p->predStride = s->samplesPerPixel;
    p->predRowProc = s->bitsPerSample == 8 ? TifPredDifference8 : TifPredDifference16;
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
    const TifCodecState* s = TifState(codec);
    const long step = TifRowStep(s);
    auto* row = static_cast<unsigned char*>(rows);
    for (int i = 0; i < count; ++i, row += step)
        p->predRowProc(p->predStride, row, s->rowBytes);
    return p->predInnerRows(codec, rows, count);
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
        codec->DecodeRows = plain;  // same slot for encoders
        p->predictor = value;
        return 1;
    }
    // Wrap the plain procedure, whatever the slot held before.
    TifRowsProc previous = codec->DecodeRows;
    codec->DecodeRows = plain;
    int ok = decoder ? TifPredictorSetupDecode(codec, static_cast<unsigned>(value) >> 16)
                     : TifPredictorSetupEncode(codec, 0);
    if (!ok) {
        codec->DecodeRows = previous;
        return 0;
    }
    p->predictor = value;
    return 1;
}
