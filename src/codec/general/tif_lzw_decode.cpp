// tif_lzw_decode.cpp — LZW decoding straight into the caller's rows.
//
// String table: every string ends in a chunk of 1..8 bytes stored in its entry;
// the bytes before it are whole 8-byte chunks held by the entries named through
// `skip`. A new entry (old string + one byte) extends the old entry's chunk or
// starts a new one, so short strings, which make up most of a photo-like
// strip, go out with one 8-byte store and long ones with one store per 8 bytes.
//
// Untrusted input: every code is checked against the table before use. A code
// beyond the next free entry, a first code that is not Clear, Clear followed by
// Clear (or by any code without a string), or a stream that would assign more
// entries than the table holds ends the strip as EndOfInformation does: the
// rows completed so far are delivered, nothing outside the table or the row is
// touched, and later calls return 0 until the next strip.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "codec/general/tif_check.h"
#include "codec/general/tif_lzw.h"
#include "codec/general/tif_predictor.h"

namespace {

enum { kClear = 256, kEndOfInformation = 257, kFirstFree = 258, kMaxBits = 12 };

// freeEntry before the first Clear of a strip and once the table is full:
// every code but Clear and EndOfInformation is then beyond it.
constexpr int kNoFreeEntry = -1;

struct alignas(16) LzwEntry {
    uint64_t tail;    // the string's last chunk as bytes in memory order, left-aligned
                      // (zero past it); built in a register, stored whole
    uint16_t length;  // bytes in the whole string
    uint16_t skip;    // entry whose last 8 bytes precede this chunk (length > 8)
    uint8_t first;    // the string's first byte
};

struct TifLzwDecoderState {
    TifCodecState header;
    TifPredictorState pred;
    uint64_t bits;     // bit accumulator; next code at the top (at the bottom for old-style)
    int bitCount;      // bits of `bits` not yet consumed
    int nbits;         // current code width, 9..12
    int freeEntry;     // next entry to assign, or kNoFreeEntry
    int maxEntry;      // width grows when freeEntry passes it
    int oldEntry;      // entry of the previous code
    int restartEntry;  // string cut at the end of a row
    int restart;       // bytes of it already delivered; 0 when none pending
    int oldStyle;      // this strip is old-style
    int ended;         // EndOfInformation, damage or end of data: the strip is over
    LzwEntry* table;   // TIF_LZW_TABLE_SIZE entries
};

inline TifLzwDecoderState* LzwState(TifCodec* codec)
{
    return static_cast<TifLzwDecoderState*>(codec->state);
}

inline int ChunkBytes(int length) { return ((length - 1) & 7) + 1; }

// The chunk word with byte `c` at byte position `k` of its memory image.
inline uint64_t ChunkByte(uint8_t c, int k)
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return uint64_t(c) << (56 - 8 * k);
#else
    return uint64_t(c) << (8 * k);
#endif
}

// Writes the whole string of `e` at `dst`; `end` bounds the row (dst + length <= end).
inline void WriteString(const LzwEntry* table, const LzwEntry* e, unsigned char* dst, const unsigned char* end)
{
    const int length = e->length;
    const int k = ChunkBytes(length);
    int pos = length - k;
    if (end - (dst + pos) >= 8)
        std::memcpy(dst + pos, &e->tail, 8);  // the zero padding lands where later codes write
    else
        std::memcpy(dst + pos, &e->tail, static_cast<size_t>(k));
    for (pos -= 8; pos >= 0; pos -= 8) {
        e = &table[e->skip];
        std::memcpy(dst + pos, &e->tail, 8);
    }
}

// Writes bytes [from, to) of the string of `e` at `dst`.
void WriteStringPart(const LzwEntry* table, const LzwEntry* e, int from, int to, unsigned char* dst)
{
    int k = ChunkBytes(e->length);
    int start = e->length - k;
    for (;;) {
        const int a = start > from ? start : from;
        const int b = start + k < to ? start + k : to;
        if (a < b) {
            unsigned char bytes[8];
            std::memcpy(bytes, &e->tail, 8);
            std::memcpy(dst + (a - from), bytes + (a - start), static_cast<size_t>(b - a));
        }
        if (start <= from)
            return;
        e = &table[e->skip];
        k = 8;
        start -= 8;
    }
}

inline uint64_t LoadBig64(const unsigned char* p)
{
    uint64_t v;
    std::memcpy(&v, p, 8);
#if defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    return __builtin_bswap64(v);
#else
    v = 0;
    for (int i = 0; i < 8; ++i)
        v = (v << 8) | p[i];
    return v;
#endif
}

inline uint64_t LoadLittle64(const unsigned char* p)
{
#if defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
#else
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
#endif
}

// The code reader, kept in locals during a DecodeRows call. TIFF 6.0 codes
// come most significant bit first (next code at the top of `bits`); old-style
// codes least significant bit first (at the bottom). A fast refill may leave
// bits of the next unread byte below the counted ones; they are that byte's own
// bits, so adding the byte again later changes nothing.
template <bool kOldStyle>
struct CodeReader {
    uint64_t bits;
    int bitCount;
    const unsigned char* in;
    const unsigned char* inEnd;

    // Makes at least `n` bits available; false at the end of the strip's data.
    inline bool Need(int n, TifCodecState* h)
    {
        if (bitCount >= n)
            return true;
        if (inEnd - in >= 8) {
            if (kOldStyle)
                bits |= LoadLittle64(in) << bitCount;
            else
                bits |= LoadBig64(in) >> bitCount;
            in += (63 - bitCount) >> 3;
            bitCount |= 56;
            return true;
        }
        return NeedSlow(n, h);
    }

    bool NeedSlow(int n, TifCodecState* h)
    {
        while (bitCount < n) {
            if (in == inEnd) {
                h->cursor = const_cast<unsigned char*>(in);
                h->available = 0;
                if (TifCodecFill(h) <= 0)
                    return false;
                in = h->cursor;
                inEnd = in + h->available;
            }
            if (kOldStyle)
                bits |= uint64_t(*in++) << bitCount;
            else
                bits |= uint64_t(*in++) << (56 - bitCount);
            bitCount += 8;
        }
        return true;
    }

    inline int Take(int n)
    {
        int code;
        if (kOldStyle) {
            code = static_cast<int>(bits & ((uint64_t(1) << n) - 1));
            bits >>= n;
        } else {
            code = static_cast<int>(bits >> (64 - n));
            bits <<= n;
        }
        bitCount -= n;
        return code;
    }
};

template <bool kOldStyle>
int LzwDecodeRows(TifCodec* codec, void* rows, int count)
{
    TifLzwDecoderState* s = LzwState(codec);
    TifCodecState* h = &s->header;
    if (count <= 0 || s->ended)
        return 0;
    LzwEntry* const table = s->table;
    CodeReader<kOldStyle> rd{s->bits, s->bitCount, h->cursor, h->cursor + h->available};
    int nbits = s->nbits;
    int freeEntry = s->freeEntry;
    int maxEntry = s->maxEntry;
    int oldEntry = s->oldEntry;
    int restart = s->restart;
    const int rowBytes = h->rowBytes;
    const long step = TifRowStep(h);

    auto* row = static_cast<unsigned char*>(rows);
    int done = 0;
    bool ended = false;
    for (; done < count; ++done, row += step) {
        unsigned char* p = row;
        unsigned char* const end = row + rowBytes;
        if (restart != 0) {
            const LzwEntry* e = &table[s->restartEntry];
            const int residue = e->length - restart;
            if (residue > rowBytes) {
                WriteStringPart(table, e, restart, restart + rowBytes, p);
                restart += rowBytes;
                continue;
            }
            WriteStringPart(table, e, restart, e->length, p);
            p += residue;
            restart = 0;
        }
        while (p < end) {
            if (!rd.Need(nbits, h)) {
                ended = true;
                break;
            }
            int code = rd.Take(nbits);
            if ((code & ~1) == kClear) {
                if (code == kEndOfInformation) {
                    ended = true;
                    break;
                }
                freeEntry = kFirstFree;
                nbits = 9;
                maxEntry = kOldStyle ? 511 : 510;
                if (!rd.Need(nbits, h)) {
                    ended = true;
                    break;
                }
                code = rd.Take(nbits);
                // EndOfInformation, or a code without a string (Clear again).
                if (TifDamaged(code > 255)) {
                    ended = true;
                    break;
                }
                *p++ = static_cast<unsigned char>(code);
                oldEntry = code;
                continue;
            }
            // The highest acceptable code is the entry this code defines.
            if (TifDamaged(code > freeEntry)) {
                ended = true;
                break;
            }
            // New entry: the previous string plus the first byte of this one
            // (of the previous one when this code is the entry being defined).
            const LzwEntry* old = &table[oldEntry];
            LzwEntry* added = &table[freeEntry];
            const uint8_t c = code < freeEntry ? table[code].first : old->first;
            const int oldLength = old->length;
            const int k = oldLength & 7;
            // One whole-word store: a string read right after it is defined
            // then loads what was stored, without piecing bytes together.
            if (k != 0) {
                added->tail = old->tail | ChunkByte(c, k);
                added->skip = old->skip;
            } else {
                added->tail = ChunkByte(c, 0);
                added->skip = static_cast<uint16_t>(oldEntry);
            }
            added->length = static_cast<uint16_t>(oldLength + 1);
            added->first = old->first;
            if (++freeEntry > maxEntry) {
                if (nbits < kMaxBits)
                    ++nbits;
                maxEntry = kOldStyle ? (1 << nbits) - 1 : (1 << nbits) - 2;
                if (TifDamaged(freeEntry == TIF_LZW_TABLE_SIZE))
                    freeEntry = kNoFreeEntry;  // table full: only Clear may follow
            }
            oldEntry = code;

            const LzwEntry* e = &table[code];
            const int length = e->length;
            const long room = end - p;
            if (length <= room) {
                if (length <= 8 && room >= 8)
                    std::memcpy(p, &e->tail, 8);
                else
                    WriteString(table, e, p, end);
                p += length;
            } else {
                // The string runs into the next row.
                WriteStringPart(table, e, 0, static_cast<int>(room), p);
                s->restartEntry = code;
                restart = static_cast<int>(room);
                p = end;
            }
        }
        if (ended)
            break;
    }
    s->bits = rd.bits;
    s->bitCount = rd.bitCount;
    h->cursor = const_cast<unsigned char*>(rd.in);
    h->available = static_cast<int>(rd.inEnd - rd.in);
    s->nbits = nbits;
    s->freeEntry = freeEntry;
    s->maxEntry = maxEntry;
    s->oldEntry = oldEntry;
    s->restart = restart;
    s->ended = ended;
    return done;
}

int LzwDecodeRows(TifCodec* codec, void* rows, int count)
{
    return LzwState(codec)->oldStyle ? LzwDecodeRows<true>(codec, rows, count)
                                     : LzwDecodeRows<false>(codec, rows, count);
}

int LzwBeginStrip(TifCodec* codec)
{
    TifLzwDecoderState* s = LzwState(codec);
    TifCodecState* h = &s->header;
    s->ended = 0;
    h->cursor = h->buffer;
    h->available = 0;
    if (TifCodecFill(h) == 1) {
        // The kind shows in two bytes: a source that hands out one byte per
        // transfer must not hide an old-style strip.
        const int more = h->ioProc(h->buffer + 1, h->bufferSize - 1, h->ioContext);
        if (more > 0)
            h->available += more;
    }
    const int n = h->available;
    // TIFF 6.0 opens with Clear high bit first (0x80); old-style streams with
    // Clear low bit first: 0x00, then a byte with bit 0 set.
    s->oldStyle = n >= 2 && h->buffer[0] == 0 && (h->buffer[1] & 1) != 0;
    s->bits = 0;
    s->bitCount = 0;
    s->nbits = 9;
    s->freeEntry = kNoFreeEntry;
    s->maxEntry = s->oldStyle ? 511 : 510;
    s->oldEntry = 0;
    s->restart = 0;
    return 1;
}

int LzwSetParam(TifCodec* codec, int tag, int value)
{
    return TifPredictorSetParam(codec, tag, value, LzwDecodeRows, true);
}

void LzwDestroy(TifCodec* codec)
{
    std::free(LzwState(codec)->table);
    TifCodecDestroy(codec);
}

}  // namespace

TifCodec* TifNewLzwDecoder(const TifCodecParams* params)
{
    TifCodec* codec = TifNewDecoderBase(params, sizeof(TifLzwDecoderState));
    if (codec == nullptr)
        return nullptr;
    TifLzwDecoderState* s = LzwState(codec);
    s->pred.predictor = 1;
    s->table = static_cast<LzwEntry*>(std::calloc(TIF_LZW_TABLE_SIZE, sizeof(LzwEntry)));
    if (s->table == nullptr) {
        TifCodecDestroy(codec);
        return nullptr;
    }
    for (int i = 0; i < 256; ++i) {
        s->table[i].tail = ChunkByte(static_cast<uint8_t>(i), 0);
        s->table[i].length = 1;
        s->table[i].first = static_cast<uint8_t>(i);
    }
    s->freeEntry = kNoFreeEntry;
    s->ended = 1;  // no strip yet
    codec->Destroy = LzwDestroy;
    codec->SetParam = LzwSetParam;
    codec->BeginStrip = LzwBeginStrip;
    codec->DecodeRows = LzwDecodeRows;
    return codec;
}
