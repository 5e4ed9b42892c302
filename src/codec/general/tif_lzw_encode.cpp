// tif_lzw_encode.cpp — LZW encoding (TIFF Compression 5) straight from the
// caller's rows into the transfer buffer.
//
// TIFF 6.0 code streams: 9- to 12-bit codes packed most significant bit first,
// Clear at the start of every strip and after code 4093 is assigned, the width
// growing one code early, EndOfInformation at the end. Every strip is a stream
// of its own. Strings are found through an open-addressing hash table keyed by
// (byte, prefix code); the table is allocated once per codec.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "codec/general/tif_lzw.h"
#include "codec/general/tif_predictor.h"

namespace {

// A slot holds (key << 12) | code, key = (byte << 12) + prefix code: 20 bits
// of key and 12 of code in one word keep the table at 36 KB, near the first
// level cache. No key is 0xFFFFF (prefix codes stop at 4093), so all ones
// marks an empty slot.
using TifLzwHashSlot = uint32_t;
constexpr uint32_t kEmptySlot = 0xFFFFFFFFu;

struct TifLzwEncoderState {
    TifCodecState header;
    TifPredictorState pred;
    int nbits;                  // current code width, 9..12
    int maxCode;                // (1 << nbits) - 1
    uint64_t nextData;          // bit accumulator of the output, pending bits at the bottom
    int nextBits;               // bits of nextData not yet written, 0..7 between codes
    TifLzwHashSlot* hashTable;  // TIF_LZW_HASH_SIZE slots
    uint16_t freeCode;          // next code to assign, 258..4093
    uint16_t prefixCode;        // code of the string matched so far, kNoPrefix at a strip's start
};

enum {
    kClear = 256,
    kEndOfInformation = 257,
    kFirstCode = 258,
    kLastCode = 4093,  // assigning it ends the table: Clear follows
    kMaxBits = 12,
    kNoPrefix = 0xFFFF,
    // Unchecked stretches: n input bytes give at most n codes (1.5 bytes
    // each) and one Clear per 3836 codes, plus the 8-byte store in flight.
    kSlack = 8,
    // Below this many unchecked bytes, the checked loop fills the buffer up.
    kMinStretch = 64,
};

// Every key's home slot lies inside the table: no reduction modulo its size.
static_assert(((255 << 5) ^ 4095) < TIF_LZW_HASH_SIZE, "home slot beyond the table");

inline TifLzwEncoderState* LzwState(TifCodec* codec)
{
    return static_cast<TifLzwEncoderState*>(codec->state);
}

void TifLzwClearHash(TifLzwHashSlot* table)
{
    std::memset(table, 0xFF, sizeof(TifLzwHashSlot) * TIF_LZW_HASH_SIZE);
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
        const uint64_t be = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? __builtin_bswap64(top) : top;
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
    CodeWriter out;
    int nbits;
    int limit;  // the code whose assignment widens the codes or ends the table
    int freeCode;
    int prefix;

    // Codes the bytes [p, end). Unchecked, the buffer must have room for
    // 2 × (end - p) + kSlack bytes.
    template <bool kChecked>
    [[gnu::always_inline]] inline void Bytes(const unsigned char* p, const unsigned char* end)
    {
        TifLzwHashSlot* const t = table;
        // Unsigned 32-bit indices: no sign extension between the table's load
        // and the next byte's address, the chain that bounds a run of hits.
        uint32_t pre = uint32_t(prefix);
        for (; p < end; ++p) {
            const uint32_t b = *p;
            const uint32_t key = (b << 12) | pre;
            uint32_t slot = (b << 5) ^ pre;
            uint32_t found = t[slot];
            if ((found >> 12) == key) {
                pre = found & 0xFFF;
                continue;
            }
            if (found != kEmptySlot) {
                const uint32_t d = slot == 0 ? 1 : TIF_LZW_HASH_SIZE - slot;
                do {
                    slot -= d;  // below 0 wraps, and adding the size wraps back
                    if (int32_t(slot) < 0)
                        slot += TIF_LZW_HASH_SIZE;
                    found = t[slot];
                } while ((found >> 12) != key && found != kEmptySlot);
                if (found != kEmptySlot) {
                    pre = found & 0xFFF;
                    continue;
                }
            }
            // A new string: the prefix goes out, the string gets the next code.
            out.Code<kChecked>(int(pre), nbits);
            pre = b;
            t[slot] = key << 12 | uint32_t(freeCode);
            if (++freeCode > limit)
                NextWidth<kChecked>();
        }
        prefix = int(pre);
    }

    // After `limit` was assigned: one bit wider, or Clear after the last code.
    template <bool kChecked>
    [[gnu::always_inline]] inline void NextWidth()
    {
        if (freeCode > kLastCode) {
            TifLzwClearHash(table);
            out.Code<kChecked>(kClear, nbits);
            freeCode = kFirstCode;
            nbits = 9;
        } else {
            // The decoder, one entry behind, widens after reading this code.
            ++nbits;
        }
        limit = nbits < kMaxBits ? (1 << nbits) - 1 : kLastCode;
    }
};

int TifLzwEncodeRows(TifCodec* codec, void* rows, int count)
{
    TifLzwEncoderState* s = LzwState(codec);
    TifCodecState* h = &s->header;
    if (count <= 0)
        return 0;
    const int nbits = s->nbits;
    LzwCoder c{s->hashTable, CodeWriter{h, h->cursor, h->available, s->nextData, s->nextBits}, nbits,
               nbits < kMaxBits ? (1 << nbits) - 1 : kLastCode, s->freeCode, s->prefixCode};
    const int rowBytes = h->rowBytes;
    const long step = TifRowStep(h);
    const auto* row = static_cast<const unsigned char*>(rows);
    int skip = 0;
    if (c.prefix == kNoPrefix) {
        // The buffer is empty at a strip's start.
        c.out.Code<true>(kClear, c.nbits);
        c.prefix = row[0];
        skip = 1;
    }
    for (int r = 0; r < count; ++r, row += step, skip = 0) {
        const unsigned char* const end = row + rowBytes;
        for (const unsigned char* p = row + skip; p < end;) {
            long stretch = (c.out.available - kSlack) / 2;
            if (stretch >= kMinStretch) {
                const unsigned char* stop = end - p > stretch ? p + stretch : end;
                c.Bytes<false>(p, stop);
                p = stop;
            } else {
                // Near the buffer's end (or in a small caller's buffer): code
                // with checks, so that it is handed over nearly full.
                const unsigned char* stop = end - p > kMinStretch ? p + kMinStretch : end;
                c.Bytes<true>(p, stop);
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
    s->freeCode = kFirstCode;
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
        if (s->freeCode == s->maxCode && s->nbits < kMaxBits)
            ++eoiBits;
    }
    out.Code<true>(kEndOfInformation, eoiBits);
    out.Flush();
    out.Store();
    s->nextData = 0;
    s->nextBits = 0;
    return h->ioProc(h->buffer, h->bufferSize - h->available, h->ioContext);
}

int TifLzwEncoderSetParam(TifCodec* codec, int tag, int value)
{
    return TifPredictorSetParam(codec, tag, value, TifLzwEncodeRows, false);
}

void TifLzwEncoderDestroy(TifCodec* codec)
{
    std::free(LzwState(codec)->hashTable);
    TifCodecDestroy(codec);
}

}  // namespace

TifCodec* TifNewLzwEncoder(const TifCodecParams* params)
{
    TifCodec* codec = TifNewEncoderBase(params, sizeof(TifLzwEncoderState));
    if (codec == nullptr)
        return nullptr;
    TifLzwEncoderState* s = LzwState(codec);
    s->pred.predictor = 1;
    s->hashTable = static_cast<TifLzwHashSlot*>(std::malloc(sizeof(TifLzwHashSlot) * TIF_LZW_HASH_SIZE));
    if (s->hashTable == nullptr) {
        TifCodecDestroy(codec);
        return nullptr;
    }
    TifLzwEncoderBeginStrip(codec);  // a sound coder even before the first strip
    codec->Destroy = TifLzwEncoderDestroy;
    codec->SetParam = TifLzwEncoderSetParam;
    codec->BeginStrip = TifLzwEncoderBeginStrip;
    codec->EncodeRows = TifLzwEncodeRows;
    codec->EndStrip = TifLzwEncoderEndStrip;
    return codec;
}
