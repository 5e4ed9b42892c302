// tif_packbits_encode.cpp — PackBits encoding, one row at a time. Every run of
// two or more equal bytes becomes a replicate packet; the bytes between runs
// form literals of at most 128 bytes. The no-operation header is never written.
#include <cstdint>
#include <cstring>

#include "codec/general/tif_packbits.h"

namespace {

// Hands the buffered bytes over when fewer than `need` bytes are free.
inline void Reserve(TifCodecState* s, int need)
{
    if (s->available < need)
        TifCodecHandOver(s);
}

inline void Put(TifCodecState* s, unsigned char b)
{
    *s->cursor++ = b;
    --s->available;
}

void WriteLiteral(TifCodecState* s, const unsigned char* p, int length)
{
    while (length > 0) {
        const int k = length < 128 ? length : 128;
        Reserve(s, k + 1);
        Put(s, static_cast<unsigned char>(k - 1));
        std::memcpy(s->cursor, p, static_cast<size_t>(k));
        s->cursor += k;
        s->available -= k;
        p += k;
        length -= k;
    }
}

void WriteRun(TifCodecState* s, unsigned char c, int copies)
{
    while (copies > 0) {
        int header;
        if (copies > 128) {
            header = -127;
            copies -= 128;
        } else {
            header = 1 - copies;  // one copy left: a one-byte literal
            copies = 0;
        }
        Reserve(s, 2);
        Put(s, static_cast<unsigned char>(header));
        Put(s, c);
    }
}

inline uint64_t Load8(const unsigned char* p)
{
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline bool HasZeroByte(uint64_t x)
{
    return ((x - 0x0101010101010101ULL) & ~x & 0x8080808080808080ULL) != 0;
}

// The first j >= i with row[j] == row[j + 1] (where a run starts), or `bytes`.
// Eight neighbour pairs are compared at once: literal stretches (noisy
// photographs) are crossed a word at a time.
int NextRun(const unsigned char* row, int i, int bytes)
{
    while (i + 9 <= bytes && !HasZeroByte(Load8(row + i) ^ Load8(row + i + 1)))
        i += 8;
    while (i + 1 < bytes && row[i] != row[i + 1])
        ++i;
    return i + 1 < bytes ? i : bytes;
}

// How many bytes from i on equal row[i].
int RunLength(const unsigned char* row, int i, int bytes)
{
    const uint64_t word = 0x0101010101010101ULL * row[i];
    int j = i + 1;
    while (j + 8 <= bytes && Load8(row + j) == word)
        j += 8;
    while (j < bytes && row[j] == row[i])
        ++j;
    return j - i;
}

void EncodeRow(TifCodecState* s, const unsigned char* row, int bytes)
{
    int i = 0;
    while (i < bytes) {
        const int run = NextRun(row, i, bytes);
        if (run > i) {
            WriteLiteral(s, row + i, run - i);
            i = run;
        }
        if (i < bytes) {
            const int length = RunLength(row, i, bytes);
            WriteRun(s, row[i], length);
            i += length;
        }
    }
}

int PackBitsEncodeRows(TifCodec* codec, void* rows, int count)
{
    TifCodecState* s = TifState(codec);
    const long step = TifRowStep(s);
    const auto* row = static_cast<const unsigned char*>(rows);
    for (int i = 0; i < count; ++i, row += step)
        EncodeRow(s, row, s->rowBytes);
    return count > 0 ? count : 0;
}

}  // namespace

TifCodec* TifNewPackBitsEncoder(const TifCodecParams* params)
{
    TifCodec* codec = TifNewEncoderBase(params, sizeof(TifCodecState));
    if (codec != nullptr)
        codec->EncodeRows = PackBitsEncodeRows;
    return codec;
}
