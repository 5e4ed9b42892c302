// tif_lzw_encode.cpp — LZW encoding (TIFF Compression 5) straight from the
// caller's rows into the transfer buffer.
//
// TIFF 6.0 code streams: 9- to 12-bit codes packed most significant bit first,
// Clear at the start of every strip and after code 4093 is assigned, the width
// growing one code early, EndOfInformation at the end. Every strip is a stream
// of its own. Strings are found through an open-addressing hash table keyed by
// (byte, prefix code); the table is allocated once per codec.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "codec/general/tif_lzw.h"
#include "codec/general/tif_predictor.h"
#include "codec/tif_bits.h"

namespace {

// A slot holds (key << 12) | code, key = (byte << 12) + prefix code + 1: 20
// bits of key and 12 of code in one word keep the table at 36 KB, near the
// first level cache. No key is 0, so an empty slot is 0 and every filled one
// is 4096 or more.
using TifLzwHashSlot = uint32_t;

struct TifLzwEncoderState {
    TifCodecState header;
    TifPredictorState pred;
    int nbits;                  // current code width, 9..12
    int maxCode;                // (1 << nbits) - 1
    uint64_t nextData;          // bit accumulator of the output, pending bits at the bottom
    int nextBits;               // bits of nextData not yet written, 0..7 between codes
    TifLzwHashSlot* hashTable;  // TIF_LZW_HASH_SIZE slots
    uint16_t* codes;            // kCodeSlots, after the table in the same block
    uint16_t freeCode;          // next code to assign, 258..4093
    uint16_t prefixCode;        // code of the string matched so far, kNoPrefix at a strip's start
};

enum {
    kLastCode = 4093,  // assigning it ends the table: Clear follows
    kNoPrefix = 0xFFFF,
    // Unchecked stretches: n input bytes give at most n codes (1.5 bytes
    // each) and one Clear per 3836 codes, plus the 8-byte store in flight.
    kSlack = 8,
    // Below this many unchecked bytes, the checked loop fills the buffer up.
    kMinStretch = 64,
    // The branch-light loop files each code it writes under the number of the
    // string it assigns: slots up to kLastCode.
    kCodeSlots = kLastCode + 1,
};

// Every key's home slot lies inside the table: no reduction modulo its size.
static_assert(((255 << 5) ^ 4095) < TIF_LZW_HASH_SIZE, "home slot beyond the table");

inline uint32_t Min(uint32_t a, uint32_t b) { return a < b ? a : b; }

// Conditional moves where a compiler might branch on outcomes that photos
// make unpredictable.

// The second probe's slot, difference and end test when the home slot ended
// nothing (`*ends` 4096 or more).
[[gnu::always_inline]] inline void Pick(size_t slot2, uint32_t diff2, uint32_t ends2, size_t* slot, uint32_t* diff,
                                        uint32_t* ends)
{
#if TIF_GNU_X86_64
    __asm__("cmpl $4095, %[e]\n\t"
            "cmova %[s2], %[s]\n\t"
            "cmova %[d2], %[d]\n\t"
            "cmova %[e2], %[e]"
            : [s] "+r"(*slot), [d] "+r"(*diff), [e] "+r"(*ends)
            : [s2] "r"(slot2), [d2] "r"(diff2), [e2] "r"(ends2)
            : "cc");
#else
    if (*ends >= 4096) {
        *slot = slot2;
        *diff = diff2;
        *ends = ends2;
    }
#endif
}

// After a lookup that found the string (`diff`, its code, below 4096) or an
// empty slot: the next prefix (the string's code, or the byte on a miss), the
// slot's value (unchanged, or the new string) and the next free code (one on
// after a miss).
[[gnu::always_inline]] inline void Take(uint32_t diff, uint32_t byte, uint32_t keyHi, uint32_t* pre,
                                        uint32_t* value, uint32_t* code)
{
#if TIF_GNU_X86_64
    uint32_t low = diff;
    *pre = diff;
    // cmp sets the carry on a hit; sbb $-1 adds 1 less the carry.
    __asm__("cmpl $4096, %[d]\n\t"
            "cmovae %[b], %[p]\n\t"
            "cmovae %[c], %[l]\n\t"
            "sbbl $-1, %[c]"
            : [p] "+r"(*pre), [l] "+r"(low), [c] "+r"(*code)
            : [d] "r"(diff), [b] "r"(byte)
            : "cc");
    *value = keyHi | low;
#else
    const bool miss = diff >= 4096;
    *pre = miss ? byte : diff;
    *value = keyHi | (miss ? *code : diff);
    *code += miss;
#endif
}

inline TifLzwEncoderState* LzwState(TifCodec* codec)
{
    return static_cast<TifLzwEncoderState*>(codec->state);
}

void TifLzwClearHash(TifLzwHashSlot* table)
{
    std::memset(table, 0, sizeof(TifLzwHashSlot) * TIF_LZW_HASH_SIZE);
}

// The output side, kept in locals while rows are coded. Codes gather in a
// 64-bit accumulator, pending bits at the bottom, fewer than 8 between codes:
// each code is followed by one unconditional 8-byte store of the accumulator's
// top, most significant byte first, and the cursor moves past the whole bytes.
// No branch on the bit count, so no misprediction; the bytes are those of
// writing every code as soon as it is made.
struct CodeWriter {
    TifCodecState* h;
    unsigned char* cursor;
    int available;
    uint64_t data;
    int bits;

    void Load()
    {
        cursor = h->cursor;
        available = h->available;
    }

    void Store()
    {
        h->cursor = cursor;
        h->available = available;
    }

    // Near the buffer's end: a full buffer is handed over.
    inline void Byte(unsigned char b)
    {
        if (available <= 0) {
            Store();
            TifCodecHandOver(h);
            Load();
        }
        *cursor++ = b;
        --available;
    }

    // Stores the pending whole bytes; 8 bytes at the cursor must be writable.
    // `bits` is 9..19 here, so the shift stays below 64.
    [[gnu::always_inline]] inline static void Put(unsigned char*& at, uint64_t acc, int& nb)
    {
        const uint64_t top = acc << (64 - nb);
        const uint64_t be = kTifLittleEndian ? TifByteSwap64(top) : top;
        std::memcpy(at, &be, 8);
        at += nb >> 3;
        nb &= 7;
    }

    // `kChecked` false: the caller made sure that the buffer has room.
    template <bool kChecked>
    [[gnu::always_inline]] inline void Code(int code, int nbits)
    {
        data = (data << nbits) | static_cast<uint64_t>(code);
        bits += nbits;
        if (!kChecked || available >= 8) {
            unsigned char* const was = cursor;
            Put(cursor, data, bits);
            available -= int(cursor - was);
        } else {
            for (; bits >= 8; bits -= 8)
                Byte(static_cast<unsigned char>(data >> (bits - 8)));
        }
    }

    // Writes the pending bits, the last byte padded with zero bits.
    void Flush()
    {
        for (; bits >= 8; bits -= 8)
            Byte(static_cast<unsigned char>(data >> (bits - 8)));
        if (bits > 0)
            Byte(static_cast<unsigned char>(data << (8 - bits)));
        bits = 0;
    }
};

// The coder's registers while rows are coded.
struct LzwCoder {
    TifLzwHashSlot* table;
    uint16_t* codes;
    CodeWriter out;
    int nbits;
    int limit;  // the code whose assignment widens the codes or ends the table
    int freeCode;
    int prefix;

    // Codes the bytes [p, end) with checks, a code at a time. Used near the
    // buffer's end, where every byte may need a hand-over.
    void Checked(const unsigned char* p, const unsigned char* end)
    {
        TifLzwHashSlot* const t = table;
        uint32_t pre = uint32_t(prefix);
        for (; p < end; ++p) {
            const uint32_t b = *p;
            const uint32_t keyHi = (((b << 12) | pre) + 1) << 12;
            const uint32_t home = (b << 5) ^ pre, found = t[home];
            size_t slot = home;
            uint32_t diff = found - keyHi;
            if (Min(diff, found) >= 4096)
                Probe(keyHi, Step(home), &slot, &diff);
            if (diff < 4096) {
                pre = diff;
                continue;
            }
            out.Code<true>(int(pre), nbits);
            pre = b;
            t[slot] = keyHi | uint32_t(freeCode);
            if (++freeCode > limit)
                NextWidth<true>();
        }
        prefix = int(pre);
    }

    // The step between probes from home slot `home`: the table size less the
    // home slot, 1 from slot 0. With a prime size every slot is reached.
    static uint32_t Step(uint32_t home) { return home == 0 ? 1 : TIF_LZW_HASH_SIZE - home; }

    // The probe after `slot`: `d` lower, wrapping below 0. A mask rather than
    // a condition: both outcomes are common.
    static uint32_t Next(uint32_t slot, uint32_t d)
    {
        slot -= d;
        return slot + (TIF_LZW_HASH_SIZE & uint32_t(int32_t(slot) >> 31));
    }

    // Follows the probe sequence on from a slot holding another string, up to
    // the string's slot or an empty one, two probes at a time: long chains
    // are common on grainy photos.
    void Probe(uint32_t keyHi, uint32_t d, size_t* slotIo, uint32_t* diffIo) const
    {
        // Both probes are a step from the last one: 2d modulo the size apart.
        const uint32_t d2 = 2 * d < TIF_LZW_HASH_SIZE ? 2 * d : 2 * d - TIF_LZW_HASH_SIZE;
        size_t slot = *slotIo;
        uint32_t diff, ends;
        do {
            const size_t next = Next(uint32_t(slot), d), after = Next(uint32_t(slot), d2);
            const uint32_t f1 = table[next], f2 = table[after];
            const uint32_t diff2 = f2 - keyHi;
            slot = next;
            diff = f1 - keyHi;
            ends = Min(diff, f1);
            Pick(after, diff2, Min(diff2, f2), &slot, &diff, &ends);
        } while (ends >= 4096);
        *slotIo = slot;
        *diffIo = diff;
    }

    // Codes the bytes [p, end) without a branch on whether a string goes on:
    // on photos that outcome is close to a coin toss, and a mispredicted
    // branch costs more than doing both sides' work. The home slot and the
    // next one on the probe sequence are read together and the first that
    // holds the string or is empty is taken: a quarter of the lookups on
    // photos pass the home slot, one in ten the second. A hit keeps the slot
    // as it was and takes its code; a miss fills it, files the prefix in
    // codes[freeCode] and moves freeCode on. The filed codes go out together
    // at the end, all at the current width: the caller sees to it that the
    // stretch cannot assign `limit` before its last byte (end - p <= limit +
    // 1 - freeCode) and that the buffer has room for 2 × (end - p) + kSlack
    // bytes.
    void Stretch(const unsigned char* p, const unsigned char* end)
    {
        TifLzwHashSlot* const t = table;
        uint16_t* const filed = codes;
        uint32_t pre = uint32_t(prefix);
        uint32_t code = uint32_t(freeCode);
        const uint32_t first = code;
        for (; p < end; ++p) {
            const uint32_t b = *p;
            // A slot's difference from key << 12 is the code when the keys
            // match, 4096 or more otherwise; an empty slot is 0 and a filled
            // one 4096 or more. The smaller of the two is below 4096 when the
            // lookup ends at that slot.
            const uint32_t keyHi = (((b << 12) | pre) + 1) << 12;
            const size_t home = size_t(b << 5) ^ size_t(pre);
            // 2 × home modulo the size: the second probe of any home slot but
            // 0, whose second probe the loop below finds after reading slot 0
            // twice.
            const size_t twice = 2 * home, second = twice < TIF_LZW_HASH_SIZE ? twice : twice - TIF_LZW_HASH_SIZE;
            const uint32_t f1 = t[home], f2 = t[second];
            const uint32_t diff1 = f1 - keyHi, diff2 = f2 - keyHi;
            size_t slot = home;
            uint32_t diff = diff1, ends = Min(diff1, f1);
            Pick(second, diff2, Min(diff2, f2), &slot, &diff, &ends);
            if (TIF_UNLIKELY(ends >= 4096))
                Probe(keyHi, Step(uint32_t(home)), &slot, &diff);
            filed[code] = uint16_t(pre);
            uint32_t value;
            Take(diff, b, keyHi, &pre, &value, &code);
            t[slot] = value;
        }
        prefix = int(pre);
        freeCode = int(code);
        Emit(filed + first, filed + code);
    }

    // Writes the filed codes at the current width, four to each 8-byte store
    // (4 × 12 bits and the 7 pending fit in the 64-bit accumulator).
    void Emit(const uint16_t* c, const uint16_t* end)
    {
        const int nb = nbits;
        uint64_t data = out.data;
        int bits = out.bits;
        unsigned char* cursor = out.cursor;
        for (; end - c >= 4; c += 4) {
            data = (data << nb) | c[0];
            data = (data << nb) | c[1];
            data = (data << nb) | c[2];
            data = (data << nb) | c[3];
            bits += 4 * nb;
            CodeWriter::Put(cursor, data, bits);
        }
        for (; c < end; ++c) {
            data = (data << nb) | *c;
            bits += nb;
            CodeWriter::Put(cursor, data, bits);
        }
        out.available -= int(cursor - out.cursor);
        out.cursor = cursor;
        out.data = data;
        out.bits = bits;
    }

    // After `limit` was assigned: one bit wider, or Clear after the last code.
    template <bool kChecked>
    [[gnu::always_inline]] inline void NextWidth()
    {
        if (freeCode > kLastCode) {
            TifLzwClearHash(table);
            out.Code<kChecked>(TIF_LZW_CLEAR, nbits);
            freeCode = TIF_LZW_FIRST_FREE;
            nbits = 9;
        } else {
            // The decoder, one entry behind, widens after reading this code.
            ++nbits;
        }
        limit = nbits < TIF_LZW_MAX_BITS ? (1 << nbits) - 1 : kLastCode;
    }
};

int TifLzwEncodeRows(TifCodec* codec, void* rows, int count)
{
    TifLzwEncoderState* s = LzwState(codec);
    TifCodecState* h = &s->header;
    if (count <= 0)
        return 0;
    const int nbits = s->nbits;
    LzwCoder c{s->hashTable, s->codes, CodeWriter{h, h->cursor, h->available, s->nextData, s->nextBits}, nbits,
               nbits < TIF_LZW_MAX_BITS ? (1 << nbits) - 1 : kLastCode, s->freeCode, s->prefixCode};
    const int rowBytes = h->rowBytes;
    const long step = TifRowStep(h);
    const auto* row = static_cast<const unsigned char*>(rows);
    int skip = 0;
    if (c.prefix == kNoPrefix) {
        // The buffer is empty at a strip's start.
        c.out.Code<true>(TIF_LZW_CLEAR, c.nbits);
        c.prefix = row[0];
        skip = 1;
    }
    for (int r = 0; r < count; ++r, row += step, skip = 0) {
        const unsigned char* const end = row + rowBytes;
        for (const unsigned char* p = row + skip; p < end;) {
            const long stretch = (c.out.available - kSlack) / 2;
            if (stretch >= kMinStretch) {
                long n = end - p < stretch ? end - p : stretch;
                if (n > c.limit + 1 - c.freeCode)
                    n = c.limit + 1 - c.freeCode;
                c.Stretch(p, p + n);
                p += n;
                if (c.freeCode > c.limit)
                    c.NextWidth<false>();
            } else {
                // Near the buffer's end (or in a small caller's buffer): code
                // with checks, so that it is handed over nearly full.
                const unsigned char* stop = end - p > kMinStretch ? p + kMinStretch : end;
                c.Checked(p, stop);
                p = stop;
            }
        }
    }
    c.out.Store();
    s->nextData = c.out.data;
    s->nextBits = c.out.bits;
    s->nbits = c.nbits;
    s->maxCode = (1 << c.nbits) - 1;
    s->freeCode = static_cast<uint16_t>(c.freeCode);
    s->prefixCode = static_cast<uint16_t>(c.prefix);
    return count;
}

int TifLzwEncoderBeginStrip(TifCodec* codec)
{
    TifLzwEncoderState* s = LzwState(codec);
    TifCodecState* h = &s->header;
    h->cursor = h->buffer;
    h->available = h->bufferSize;
    s->nextData = 0;
    s->nextBits = 0;
    s->nbits = 9;
    s->maxCode = 511;
    s->freeCode = TIF_LZW_FIRST_FREE;
    TifLzwClearHash(s->hashTable);
    s->prefixCode = kNoPrefix;
    return 1;
}

int TifLzwEncoderEndStrip(TifCodec* codec)
{
    TifLzwEncoderState* s = LzwState(codec);
    TifCodecState* h = &s->header;
    CodeWriter out{h, h->cursor, h->available, s->nextData, s->nextBits};
    int eoiBits = s->nbits;
    if (s->prefixCode != kNoPrefix) {
        out.Code<true>(s->prefixCode, s->nbits);
        s->prefixCode = kNoPrefix;
        // A decoder adds an entry for this last code (freeCode - 1, as the
        // decoder runs one entry behind); when that entry is 510, 1022 or
        // 2046 it reads the next code one bit wider.
        if (s->freeCode == s->maxCode && s->nbits < TIF_LZW_MAX_BITS)
            ++eoiBits;
    }
    out.Code<true>(TIF_LZW_END_OF_INFORMATION, eoiBits);
    out.Flush();
    out.Store();
    s->nextData = 0;
    s->nextBits = 0;
    return TifCodecFlush(h);
}

int TifLzwEncoderSetParam(TifCodec* codec, int tag, int value)
{
    return TifPredictorSetParam(codec, tag, value, TifLzwEncodeRows, false);
}

void TifLzwEncoderDestroy(TifCodec* codec)
{
    std::free(LzwState(codec)->hashTable);
    TifPredictorDestroy(codec);
}

}  // namespace

TifCodec* TifNewLzwEncoder(const TifCodecParams* params)
{
    TifCodec* codec = TifNewEncoderBase(params, sizeof(TifLzwEncoderState));
    if (codec == nullptr)
        return nullptr;
    TifLzwEncoderState* s = LzwState(codec);
    s->pred.predictor = 1;
    s->hashTable = static_cast<TifLzwHashSlot*>(
        std::malloc(sizeof(TifLzwHashSlot) * TIF_LZW_HASH_SIZE + sizeof(uint16_t) * kCodeSlots));
    if (s->hashTable == nullptr) {
        TifCodecDestroy(codec);
        return nullptr;
    }
    s->codes = reinterpret_cast<uint16_t*>(s->hashTable + TIF_LZW_HASH_SIZE);
    TifLzwEncoderBeginStrip(codec);  // a sound coder even before the first strip
    codec->Destroy = TifLzwEncoderDestroy;
    codec->SetParam = TifLzwEncoderSetParam;
    codec->BeginStrip = TifLzwEncoderBeginStrip;
    codec->EncodeRows = TifLzwEncodeRows;
    codec->EndStrip = TifLzwEncoderEndStrip;
    return codec;
}
