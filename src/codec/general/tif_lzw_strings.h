// tif_lzw_strings.h — the LZW decoder's string table: how each code's string
// is held, extended by one byte and written out.
//
// Two arrays. `hot` holds one 8-byte word per code, all that a string of up to
// 7 bytes needs: its bytes in memory order, then 8 times its length in the last
// byte (the shift that appends a byte to it). Such a word goes out with one
// 8-byte store (the length byte lands where later codes write) and a new entry
// is its old string's word plus one byte and one count. A longer string has a
// word holding its first byte and its own entry (length byte 0), and `lng`
// holds the rest: its last chunk of 1..8 bytes and the entry whose chunk holds
// the 8 bytes before it. So the words of the 4096 codes (32 KiB) stay in the
// first-level cache, long strings still go out one 8-byte store per chunk, and
// the previous code is remembered by its word alone.
//
// Nothing here checks a code: the decoder hands in only entries it has defined.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "codec/general/tif_lzw.h"

namespace tif_lzw_detail {

// Codes are at most 12 bits: entries from here on are counted but never read.
constexpr int kCodes = 1 << TIF_LZW_MAX_BITS;

// The rest of a string longer than 7 bytes.
struct LzwLong {
    unsigned char tail[8];  // the last chunk, left-aligned (zero past it)
    uint16_t length;        // bytes in the whole string
    uint16_t skip;          // entry whose last 8 bytes precede this chunk (length > 8)
};

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
inline void AddLongEntry(uint64_t* hot, LzwLong* lng, int e, uint64_t oldWord, uint8_t c)
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
inline void WriteStringPart(const uint64_t* hot, const LzwLong* lng, int code, int from, int to, unsigned char* dst)
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

}  // namespace tif_lzw_detail
