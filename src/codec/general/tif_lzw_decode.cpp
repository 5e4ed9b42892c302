// tif_lzw_decode.cpp — LZW decoding straight into the caller's rows.
//
// String table in two arrays. `hot` holds one 8-byte word per code, all that
// a string of up to 7 bytes needs: its bytes in memory order, then 8 times its
// length in the last byte (the shift that appends a byte to it). Such a word
// goes out with one 8-byte store (the length byte lands where later codes
// write) and a new entry is its old string's word plus one byte and one count.
// A longer string has a word holding its first byte and its own entry (length
// byte 0), and `lng` holds the rest: its last chunk of 1..8 bytes and the
// entry whose chunk holds the 8 bytes before it. So the words of the 4096
// codes (32 KiB) stay in the first-level cache, long strings still go out one
// 8-byte store per chunk, and the previous code is remembered by its word
// alone.
//
// Codes run through a loop specialised for each code width that handles the
// common case only: a code naming an existing entry, the strip's data and the
// row with room to spare, no width change. Anything else (Clear,
// EndOfInformation, the entry being defined, damage, the end of a row or of
// the buffered data) leaves that loop before the code is taken, for the
// general step that handles every case.
//
// Untrusted input: every code is checked against the table before use. A code
// beyond the next free entry, a first code that is not Clear, Clear followed by
// Clear (or by any code without a string), or a stream that would assign more
// entries than the table holds ends the strip as EndOfInformation does: the
// rows completed so far are delivered, nothing outside the table or the row is
// touched, and later calls return 0 until the next strip.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "codec/general/tif_check.h"
#include "codec/general/tif_lzw.h"
#include "codec/general/tif_predictor.h"
#include "codec/tif_bits.h"

namespace {

enum { kClear = 256, kEndOfInformation = 257, kFirstFree = 258, kMaxBits = 12 };

// Codes are at most 12 bits: entries from here on are counted but never read.
constexpr int kCodes = 1 << kMaxBits;

// freeEntry before the first Clear of a strip and once the table is full:
// every code but Clear and EndOfInformation is then beyond it.
constexpr int kNoFreeEntry = -1;

// The rest of a string longer than 7 bytes.
struct LzwLong {
    unsigned char tail[8];  // the last chunk, left-aligned (zero past it)
    uint16_t length;        // bytes in the whole string
    uint16_t skip;          // entry whose last 8 bytes precede this chunk (length > 8)
};

struct TifLzwDecoderState {
    TifCodecState header;
    TifPredictorState pred;
    uint64_t bits;     // bit accumulator; next code at the top (at the bottom for old-style)
    int bitCount;      // bits of `bits` not yet consumed
    int nbits;         // current code width, 9..12
    int freeEntry;     // next entry to assign, or kNoFreeEntry
    int maxEntry;      // width grows when freeEntry passes it
    uint64_t oldWord;  // hot word of the previous code's string
    int restartEntry;  // string cut at the end of a row
    int restart;       // bytes of it already delivered; 0 when none pending
    int oldStyle;      // this strip is old-style
    int ended;         // EndOfInformation, damage or end of data: the strip is over
    uint64_t* hot;     // kCodes words
    LzwLong* lng;      // kCodes entries, valid where the word's length is 0
};

inline TifLzwDecoderState* LzwState(TifCodec* codec)
{
    return static_cast<TifLzwDecoderState*>(codec->state);
}

// The word with byte `c` at byte position `k` of its memory image.
inline uint64_t ChunkByte(uint8_t c, int k)
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return uint64_t(c) << (56 - 8 * k);
#else
    return uint64_t(c) << (8 * k);
#endif
}

// Parts of a hot word; see the file comment.
inline unsigned HotLength(uint64_t w)
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return static_cast<unsigned>(w & 0xFF) >> 3;
#else
    return static_cast<unsigned>(w >> 59);
#endif
}

inline uint8_t HotFirst(uint64_t w)
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return static_cast<uint8_t>(w >> 56);
#else
    return static_cast<uint8_t>(w);
#endif
}

// The word of a long string: its first byte, its entry in bytes 1 and 2.
inline uint64_t LongWord(uint8_t first, int entry)
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return ChunkByte(first, 0) | (uint64_t(entry) << 32);
#else
    return ChunkByte(first, 0) | (uint64_t(entry) << 8);
#endif
}

inline int LongEntry(uint64_t w)
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return static_cast<int>((w >> 32) & 0xFFFF);
#else
    return static_cast<int>((w >> 8) & 0xFFFF);
#endif
}

inline uint64_t HotWord(uint64_t bytes, unsigned length)
{
    return bytes | ChunkByte(static_cast<uint8_t>(length << 3), 7);
}

// The string of `w` is 1..6 bytes: one more still makes a short string.
// Tested on the length byte as HotAppend shifts by it.
inline bool HotAppendable(uint64_t w)
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return static_cast<unsigned>(w & 0xFF) - 8 <= 40;
#else
    return static_cast<unsigned>(w >> 56) - 8 <= 40;
#endif
}

// The string of `w` (length 1..6) with `c` appended.
inline uint64_t HotAppend(uint64_t w, uint8_t c)
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return w + 8 + (uint64_t(c) << (56 - (w & 0xFF)));
#else
    return w + (uint64_t(1) << 59) + (uint64_t(c) << (w >> 56));
#endif
}

inline uint64_t LoadTail(const LzwLong& e)
{
    uint64_t v;
    std::memcpy(&v, e.tail, 8);
    return v;
}

inline int ChunkBytes(int length) { return ((length - 1) & 7) + 1; }

inline int StringLength(const uint64_t* hot, const LzwLong* lng, int code)
{
    const unsigned n = HotLength(hot[code]);
    return n != 0 ? static_cast<int>(n) : lng[code].length;
}

// Entry `e` = the string of word `oldWord` plus byte `c`, for e < kCodes.
// The caller has checked that the old string is not 1..6 bytes when it calls
// the long form directly.
void AddLongEntry(uint64_t* hot, LzwLong* lng, int e, uint64_t oldWord, uint8_t c)
{
    hot[e] = LongWord(HotFirst(oldWord), e);
    LzwLong& n = lng[e];
    uint64_t tail;
    if (HotLength(oldWord) == 7) {
        tail = (oldWord & ~ChunkByte(0xFF, 7)) | ChunkByte(c, 7);
        n.length = 8;
        n.skip = 0;
    } else {
        const int oldEntry = LongEntry(oldWord);
        const LzwLong& o = lng[oldEntry];
        const int k = o.length & 7;
        // One whole-word store: a string read right after it is defined
        // then loads what was stored, without piecing bytes together.
        if (k != 0) {
            tail = LoadTail(o) | ChunkByte(c, k);
            n.skip = o.skip;
        } else {
            tail = ChunkByte(c, 0);
            n.skip = static_cast<uint16_t>(oldEntry);
        }
        n.length = static_cast<uint16_t>(o.length + 1);
    }
    std::memcpy(n.tail, &tail, 8);
}

inline void AddEntry(uint64_t* hot, LzwLong* lng, int e, uint64_t oldWord, uint8_t c)
{
    if (HotAppendable(oldWord))
        hot[e] = HotAppend(oldWord, c);
    else
        AddLongEntry(hot, lng, e, oldWord, c);
}

// Writes the whole long string of `code` at `dst`; dst + length <= end.
inline void WriteLong(const LzwLong* lng, int code, unsigned char* dst, const unsigned char* end)
{
    const LzwLong* e = &lng[code];
    const int length = e->length;
    const int k = ChunkBytes(length);
    int pos = length - k;
    if (end - (dst + pos) >= 8)
        std::memcpy(dst + pos, e->tail, 8);  // the zero padding lands where later codes write
    else
        std::memcpy(dst + pos, e->tail, static_cast<size_t>(k));
    for (pos -= 8; pos >= 0; pos -= 8) {
        e = &lng[e->skip];
        std::memcpy(dst + pos, e->tail, 8);
    }
}

// Writes bytes [from, to) of the string of `code` at `dst`.
void WriteStringPart(const uint64_t* hot, const LzwLong* lng, int code, int from, int to, unsigned char* dst)
{
    const uint64_t w = hot[code];
    if (HotLength(w) != 0) {
        unsigned char bytes[8];
        std::memcpy(bytes, &w, 8);
        std::memcpy(dst, bytes + from, static_cast<size_t>(to - from));
        return;
    }
    const LzwLong* e = &lng[code];
    int k = ChunkBytes(e->length);
    int start = e->length - k;
    for (;;) {
        const int a = start > from ? start : from;
        const int b = start + k < to ? start + k : to;
        if (a < b)
            std::memcpy(dst + (a - from), e->tail + (a - start), static_cast<size_t>(b - a));
        if (start <= from)
            return;
        e = &lng[e->skip];
        k = 8;
        start -= 8;
    }
}

inline uint64_t LoadBig64(const unsigned char* p)
{
    uint64_t v;
    std::memcpy(&v, p, 8);
#if TIF_GNU_BUILTINS && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
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
// Tops the bit buffer up to at least 56 bits from 8 bytes that are known to be
// there, taking whole bytes only (old-style codes fill from the bottom).
template <bool kOldStyle, typename Count>
[[gnu::always_inline]] inline void Refill64(uint64_t* bits, Count* bitCount, const unsigned char** in)
{
    if (kOldStyle)
        *bits |= LoadLittle64(*in) << *bitCount;
    else
        *bits |= LoadBig64(*in) >> *bitCount;
    *in += (63 - *bitCount) >> 3;
    *bitCount |= 56;
}

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
            Refill64<kOldStyle>(&bits, &bitCount, &in);
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

// Everything the code loop changes, passed to and from the fast loop.
struct LzwCursor {
    uint64_t bits;
    int bitCount;
    const unsigned char* in;
    unsigned char* p;
    int freeEntry;
    uint64_t oldWord;
};

// A long string in the fast loop: written when the row has room for it
// (returns the position after it), else nullptr and nothing written.
[[gnu::noinline]] unsigned char* PutLong(const LzwLong* lng, int code, unsigned char* p, unsigned char* end)
{
    const int n = lng[code].length;
    if (end - p < n)
        return nullptr;
    WriteLong(lng, code, p, end);
    return p + n;
}

[[gnu::noinline]] void AddLongEntryOutOfLine(uint64_t* hot, LzwLong* lng, int e, uint64_t oldWord, uint8_t c)
{
    AddLongEntry(hot, lng, e, oldWord, c);
}

// The common case at one code width: see the file comment. Returns at a code
// boundary, before the first code it does not handle, or once the entry that
// changes the width (or the last one a code can name) has been assigned.
// Needs end - c.p >= 8. Strings of 8 bytes or more go out of line: the loop
// keeps its values in registers.
template <bool kOldStyle, int kBits>
[[gnu::noinline]] void FastRun(LzwCursor& c, uint64_t* hot, LzwLong* lng, const unsigned char* inEnd,
                               unsigned char* end)
{
    constexpr int kMaxEntry = kOldStyle ? (1 << kBits) - 1 : (1 << kBits) - 2;
    constexpr int kLast = kMaxEntry < kCodes - 1 ? kMaxEntry : kCodes - 1;
    uint64_t bits = c.bits;
    long bitCount = c.bitCount;
    const unsigned char* in = c.in;
    unsigned char* p = c.p;
    // Machine words throughout: no copies between widths in the loop.
    size_t freeEntry = static_cast<size_t>(c.freeEntry);
    uint64_t oldWord = c.oldWord;
    unsigned char* const shortEnd = end - 8;  // short strings go out as 8 bytes
    while (freeEntry <= size_t(kLast)) {
        if (bitCount < kBits) {
            if (inEnd - in < 8)
                break;
            Refill64<kOldStyle>(&bits, &bitCount, &in);
        }
        const size_t code = kOldStyle ? static_cast<size_t>(bits & ((1u << kBits) - 1))
                                      : static_cast<size_t>(bits >> (64 - kBits));
        if (code >= freeEntry)
            break;
        const uint64_t w = hot[code];
        const unsigned length = HotLength(w);
        if (length != 0) {
            if (p > shortEnd)
                break;
            std::memcpy(p, &w, 8);
            p += length;
        } else {
            if (code < kFirstFree)
                break;  // Clear, EndOfInformation
            unsigned char* const q = PutLong(lng, static_cast<int>(code), p, end);
            if (q == nullptr)
                break;
            p = q;
        }
        if (kOldStyle)
            bits >>= kBits;
        else
            bits <<= kBits;
        bitCount -= kBits;
        if (HotAppendable(oldWord))
            hot[freeEntry] = HotAppend(oldWord, HotFirst(w));
        else
            AddLongEntryOutOfLine(hot, lng, static_cast<int>(freeEntry), oldWord, HotFirst(w));
        ++freeEntry;
        oldWord = w;
    }
    c.bits = bits;
    c.bitCount = static_cast<int>(bitCount);
    c.in = in;
    c.p = p;
    c.freeEntry = static_cast<int>(freeEntry);
    c.oldWord = oldWord;
}

template <bool kOldStyle>
inline void RunFast(int nbits, LzwCursor& c, uint64_t* hot, LzwLong* lng, const unsigned char* inEnd,
                    unsigned char* end)
{
    switch (nbits) {
    case 9: FastRun<kOldStyle, 9>(c, hot, lng, inEnd, end); break;
    case 10: FastRun<kOldStyle, 10>(c, hot, lng, inEnd, end); break;
    case 11: FastRun<kOldStyle, 11>(c, hot, lng, inEnd, end); break;
    default: FastRun<kOldStyle, 12>(c, hot, lng, inEnd, end); break;
    }
}

// After an entry is assigned: the width grows past maxEntry; past the table's
// end only Clear may follow.
template <bool kOldStyle>
inline void AfterAssign(int& freeEntry, int& nbits, int& maxEntry)
{
    if (freeEntry > maxEntry) {
        if (nbits < kMaxBits)
            ++nbits;
        maxEntry = kOldStyle ? (1 << nbits) - 1 : (1 << nbits) - 2;
        if (TifDamaged(freeEntry == TIF_LZW_TABLE_SIZE))
            freeEntry = kNoFreeEntry;  // table full: only Clear may follow
    }
}

template <bool kOldStyle>
int LzwDecodeRows(TifCodec* codec, void* rows, int count)
{
    TifLzwDecoderState* s = LzwState(codec);
    TifCodecState* h = &s->header;
    if (count <= 0 || s->ended)
        return 0;
    uint64_t* const hot = s->hot;
    LzwLong* const lng = s->lng;
    CodeReader<kOldStyle> rd{s->bits, s->bitCount, h->cursor, h->cursor + h->available};
    int nbits = s->nbits;
    int freeEntry = s->freeEntry;
    int maxEntry = s->maxEntry;
    uint64_t oldWord = s->oldWord;
    int restart = s->restart;
    const long step = TifRowStep(h);
    // Rows laid end to end are decoded as one: strings cross their boundaries
    // in one piece and the fast loop runs on.
    const bool joined = count > 1 && step == h->rowBytes;
    const ptrdiff_t rowBytes = joined ? ptrdiff_t(count) * h->rowBytes : h->rowBytes;
    const int spans = joined ? 1 : count;

    auto* row = static_cast<unsigned char*>(rows);
    unsigned char* p = row;
    int done = 0;
    bool ended = false;
    for (; done < spans; ++done, row += step) {
        p = row;
        unsigned char* const end = row + rowBytes;
        if (restart != 0) {
            const int length = StringLength(hot, lng, s->restartEntry);
            const int residue = length - restart;
            if (residue > rowBytes) {
                WriteStringPart(hot, lng, s->restartEntry, restart, restart + static_cast<int>(rowBytes), p);
                restart += static_cast<int>(rowBytes);
                continue;
            }
            WriteStringPart(hot, lng, s->restartEntry, restart, length, p);
            p += residue;
            restart = 0;
        }
        while (p < end) {
            if (end - p >= 8 && freeEntry >= kFirstFree) {
                LzwCursor c{rd.bits, rd.bitCount, rd.in, p, freeEntry, oldWord};
                RunFast<kOldStyle>(nbits, c, hot, lng, rd.inEnd, end);
                rd.bits = c.bits;
                rd.bitCount = c.bitCount;
                rd.in = c.in;
                p = c.p;
                freeEntry = c.freeEntry;
                oldWord = c.oldWord;
                AfterAssign<kOldStyle>(freeEntry, nbits, maxEntry);
                if (p >= end)
                    break;
            }
            // One code, whatever it is.
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
                    TifNoteBadData(h);
                    ended = true;
                    break;
                }
                *p++ = static_cast<unsigned char>(code);
                oldWord = hot[code];
                continue;
            }
            // The highest acceptable code is the entry this code defines.
            if (TifDamaged(code > freeEntry)) {
                TifNoteBadData(h);
                ended = true;
                break;
            }
            // New entry: the previous string plus the first byte of this one
            // (of the previous one when this code is the entry being defined).
            const uint8_t first = HotFirst(code < freeEntry ? hot[code] : oldWord);
            if (freeEntry < kCodes)
                AddEntry(hot, lng, freeEntry, oldWord, first);
            ++freeEntry;
            AfterAssign<kOldStyle>(freeEntry, nbits, maxEntry);

            const uint64_t w = hot[code];
            oldWord = w;
            const unsigned shortLength = HotLength(w);
            const int length = shortLength != 0 ? static_cast<int>(shortLength) : lng[code].length;
            const ptrdiff_t room = end - p;
            if (length <= room) {
                if (shortLength == 0)
                    WriteLong(lng, code, p, end);
                else if (room >= 8)
                    std::memcpy(p, &w, 8);
                else
                    std::memcpy(p, &w, static_cast<size_t>(length));
                p += length;
            } else {
                // The string runs into the next row.
                WriteStringPart(hot, lng, code, 0, static_cast<int>(room), p);
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
    s->oldWord = oldWord;
    s->restart = restart;
    s->ended = ended;
    if (joined)  // the rows completed before the strip ended
        return ended ? static_cast<int>((p - static_cast<unsigned char*>(rows)) / h->rowBytes) : count;
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
    s->oldWord = 0;
    s->restart = 0;
    return 1;
}

int LzwSetParam(TifCodec* codec, int tag, int value)
{
    return TifPredictorSetParam(codec, tag, value, LzwDecodeRows, true);
}

void LzwDestroy(TifCodec* codec)
{
    std::free(LzwState(codec)->hot);
    std::free(LzwState(codec)->lng);
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
    s->hot = static_cast<uint64_t*>(std::calloc(kCodes, sizeof(uint64_t)));
    s->lng = static_cast<LzwLong*>(std::calloc(kCodes, sizeof(LzwLong)));
    if (s->hot == nullptr || s->lng == nullptr) {
        LzwDestroy(codec);
        return nullptr;
    }
    for (int i = 0; i < 256; ++i)
        s->hot[i] = HotWord(ChunkByte(static_cast<uint8_t>(i), 0), 1);
    s->freeEntry = kNoFreeEntry;
    s->ended = 1;  // no strip yet
    codec->Destroy = LzwDestroy;
    codec->SetParam = LzwSetParam;
    codec->BeginStrip = LzwBeginStrip;
    codec->DecodeRows = LzwDecodeRows;
    return codec;
}
