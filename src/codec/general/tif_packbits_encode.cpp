// tif_packbits_encode.cpp — PackBits encoding, one row at a time. Every run of
// two or more equal bytes becomes a replicate packet; the bytes between runs
// form literals of at most 128 bytes. The no-operation header is never written.
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

void EncodeRow(TifCodecState* s, const unsigned char* row, int bytes)
{
    const unsigned char* literal = nullptr;
    int literalLength = 0;
    int i = 0;
    while (i < bytes) {
        const unsigned char c = row[i];
        int run = 1;
        while (i + run < bytes && row[i + run] == c)
            ++run;
        if (run >= 2) {
            if (literalLength > 0) {
                WriteLiteral(s, literal, literalLength);
                literalLength = 0;
            }
            WriteRun(s, c, run);
        } else if (literalLength == 0) {
            literal = row + i;
            literalLength = 1;
        } else {
            ++literalLength;
        }
        i += run;
    }
    if (literalLength > 0)
        WriteLiteral(s, literal, literalLength);
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
