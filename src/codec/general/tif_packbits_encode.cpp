// tif_packbits_encode.cpp — PackBits encoding, one row at a time. A run of
// three or more equal bytes becomes a replicate packet; so does a run of two,
// unless it follows literal bytes in a packet with room for it: there it
// costs two bytes as a literal, and three as a replicate packet with the
// literal header the bytes after it then need. The other bytes form literals
// of at most 128 bytes. The no-operation header is never written.
#include <cstdint>
#include <cstring>

#include "codec/general/tif_packbits.h"
#include "codec/tif_bits.h"

namespace {

inline uint64_t Load8(const unsigned char* p)
{
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Output bound of a row of n bytes: one header per literal packet, and every
// literal but the last is followed by a run of two bytes or more; 8 bytes of
// slack for the word copies.
inline int RowBound(int n)
{
    return n + (n + 2) / 3 + (n + 127) / 128 + 16;
}

constexpr bool kLittleEndian = kTifLittleEndian;

// Index (0..7) of the first byte in memory order among the bytes flagged
// 0x80 in `mask` (non-zero).
inline int FirstFlagged(uint64_t mask)
{
    return (kLittleEndian ? TifCountTrailingZeros64(mask) : TifCountLeadingZeros64(mask)) >> 3;
}

// The first j >= i with row[j] == row[j + 1] (where a run starts), or `bytes`.
// Eight neighbour pairs are compared at once (literal stretches of noisy
// photographs are crossed a word at a time) and the first equal pair located
// in the word: borrows only flag bytes after a true zero byte, so the first
// flagged byte is exact.
inline int NextRun(const unsigned char* row, int i, int bytes)
{
    for (; i + 9 <= bytes; i += 8) {
        const uint64_t x = Load8(row + i) ^ Load8(row + i + 1);
        const uint64_t zero = (x - 0x0101010101010101ULL) & ~x & 0x8080808080808080ULL;
        if (zero != 0)
            return i + FirstFlagged(zero);
    }
    while (i + 1 < bytes && row[i] != row[i + 1])
        ++i;
    return i + 1 < bytes ? i : bytes;
}

// How many bytes from i on equal row[i], the run's end located in the first
// word that differs.
inline int RunLength(const unsigned char* row, int i, int bytes)
{
    const uint64_t word = 0x0101010101010101ULL * row[i];
    int j = i + 1;
    for (; j + 8 <= bytes; j += 8) {
        const uint64_t x = Load8(row + j) ^ word;
        if (x != 0)
            return j + (kLittleEndian ? TifCountTrailingZeros64(x) : TifCountLeadingZeros64(x)) / 8 - i;
    }
    while (j < bytes && row[j] == row[i])
        ++j;
    return j - i;
}

// Where packets go. Unchecked (kChecked false): the buffer has room for the
// row's worst case (RowBound), so packets are written through a local cursor
// without checks and literals copied a word at a time. Checked: each packet
// first makes room for itself, handing the buffer over when it must, and
// nothing is written past the packet.
template <bool kChecked>
[[gnu::always_inline]] inline unsigned char* Room(TifCodecState* s, unsigned char* o, int need)
{
    if (!kChecked)
        return o;
    s->available -= static_cast<int>(o - s->cursor);
    s->cursor = o;
    if (s->available < need)
        TifCodecHandOver(s);
    return s->cursor;
}

template <bool kChecked>
inline unsigned char* LiteralTo(TifCodecState* s, unsigned char* o, const unsigned char* p, int length,
                                const unsigned char* end)
{
    while (length > 0) {
        const int k = length < 128 ? length : 128;
        o = Room<kChecked>(s, o, k + 1);
        *o++ = static_cast<unsigned char>(k - 1);
        if (!kChecked && end - p >= ((k + 7) & ~7)) {
            for (int c = 0; c < k; c += 8)  // up to 7 bytes of scratch past the packet
                std::memcpy(o + c, p + c, 8);
        } else {
            std::memcpy(o, p, static_cast<size_t>(k));
        }
        o += k;
        p += k;
        length -= k;
    }
    return o;
}

template <bool kChecked>
inline unsigned char* RunTo(TifCodecState* s, unsigned char* o, unsigned char c, int copies)
{
    for (; copies > 128; copies -= 128) {
        o = Room<kChecked>(s, o, 2);
        *o++ = static_cast<unsigned char>(-127);
        *o++ = c;
    }
    o = Room<kChecked>(s, o, 2);
    *o++ = static_cast<unsigned char>(1 - copies);  // one copy left: a one-byte literal
    *o++ = c;
    return o;
}

// Packs one row from the buffer's cursor on and moves the cursor past it.
template <bool kChecked>
void EncodeRow(TifCodecState* s, const unsigned char* row, int bytes)
{
    const unsigned char* const end = row + bytes;
    unsigned char* o = s->cursor;
    int i = 0, from = 0;  // literal bytes from `from` to the next run
    while (i < bytes) {
        const int run = NextRun(row, i, bytes);
        if (run >= bytes)
            break;
        const int length = RunLength(row, run, bytes);
        const int inPacket = (run - from) % 128;  // literal bytes in the last packet
        if (length == 2 && inPacket != 0 && inPacket <= 126) {
            i = run + 2;  // two more literal bytes
            continue;
        }
        o = LiteralTo<kChecked>(s, o, row + from, run - from, end);
        o = RunTo<kChecked>(s, o, row[run], length);
        i = from = run + length;
    }
    o = LiteralTo<kChecked>(s, o, row + from, bytes - from, end);
    s->available -= static_cast<int>(o - s->cursor);
    s->cursor = o;
}

int PackBitsEncodeRows(TifCodec* codec, void* rows, int count)
{
    TifCodecState* s = TifState(codec);
    const long step = TifRowStep(s);
    const auto* row = static_cast<const unsigned char*>(rows);
    const int bytes = s->rowBytes;
    const int bound = RowBound(bytes);
    for (int i = 0; i < count; ++i, row += step) {
        // A buffer without room for the worst case goes out before the row.
        if (s->available < bound && s->available < s->bufferSize && s->bufferSize >= bound)
            TifCodecHandOver(s);
        if (s->available >= bound)
            EncodeRow<false>(s, row, bytes);
        else
            EncodeRow<true>(s, row, bytes);
    }
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
