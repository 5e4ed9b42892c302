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

struct TifLzwHashSlot {
    int32_t hashKey;   // (byte << 12) + prefix code; -1 when empty
    uint16_t slotCode; // code assigned to that string
};

struct TifLzwEncoderState {
    TifCodecState header;
    TifPredictorState pred;
    int nbits;                  // current code width, 9..12
    int maxCode;                // (1 << nbits) - 1
    uint64_t nextData;          // bit accumulator of the output, pending bits at the bottom
    int nextBits;               // bits of nextData not yet written, 0..31 between codes
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
    // Room for one code and the Clear that may follow it: one 32-bit store.
    kReserve = 5,
    // Room for the last code, EndOfInformation and every pending bit.
    kEndReserve = 8,
};

// Every key's home slot lies inside the table: no reduction modulo its size.
static_assert(((255 << 5) ^ 4095) < TIF_LZW_HASH_SIZE, "home slot beyond the table");

inline TifLzwEncoderState* LzwState(TifCodec* codec)
{
    return static_cast<TifLzwEncoderState*>(codec->state);
}

void TifLzwClearHash(TifLzwHashSlot* table)
{
    // The keys alone mark slots empty; a code is always written with its key.
    // Four keys a turn: this runs at every strip and every Clear.
    int i = 0;
    for (; i + 4 <= TIF_LZW_HASH_SIZE; i += 4) {
        table[i].hashKey = -1;
        table[i + 1].hashKey = -1;
        table[i + 2].hashKey = -1;
        table[i + 3].hashKey = -1;
    }
    for (; i < TIF_LZW_HASH_SIZE; ++i)
        table[i].hashKey = -1;
}

// The output side, kept in locals while rows are coded. Codes gather in a
// 64-bit accumulator and go to the buffer 32 bits at a time, most significant
// byte first; the bytes are those of writing every code as soon as it is made.
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

    // Hands the buffer over when fewer than `need` bytes are free. An empty
    // buffer is never handed over, even a caller's buffer smaller than `need`.
    inline void Reserve(int need)
    {
        if (available < need && available < h->bufferSize) {
            Store();
            TifCodecHandOver(h);
            Load();
        }
    }

    // Only a caller's buffer smaller than the reserve fills up here.
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

    inline void Code(int code, int nbits)
    {
        data = (data << nbits) | static_cast<uint64_t>(code);
        bits += nbits;
        if (bits < 32)
            return;
        bits -= 32;
        const auto word = static_cast<uint32_t>(data >> bits);
        if (available >= 4) {
            cursor[0] = static_cast<unsigned char>(word >> 24);
            cursor[1] = static_cast<unsigned char>(word >> 16);
            cursor[2] = static_cast<unsigned char>(word >> 8);
            cursor[3] = static_cast<unsigned char>(word);
            cursor += 4;
            available -= 4;
        } else {
            for (int shift = 24; shift >= 0; shift -= 8)
                Byte(static_cast<unsigned char>(word >> shift));
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

int TifLzwEncodeRows(TifCodec* codec, void* rows, int count)
{
    TifLzwEncoderState* s = LzwState(codec);
    TifCodecState* h = &s->header;
    if (count <= 0)
        return 0;
    TifLzwHashSlot* const table = s->hashTable;
    CodeWriter out{h, h->cursor, h->available, s->nextData, s->nextBits};
    int nbits = s->nbits;
    int maxCode = s->maxCode;
    int freeCode = s->freeCode;
    int prefix = s->prefixCode;
    const int rowBytes = h->rowBytes;
    const long step = TifRowStep(h);
    const auto* row = static_cast<const unsigned char*>(rows);
    int skip = 0;
    if (prefix == kNoPrefix) {
        // The buffer is empty at a strip's start.
        out.Code(kClear, nbits);
        prefix = row[0];
        skip = 1;
    }
    for (int r = 0; r < count; ++r, row += step, skip = 0) {
        const unsigned char* const end = row + rowBytes;
        for (const unsigned char* p = row + skip; p < end; ++p) {
            const int b = *p;
            const int32_t key = (b << 12) + prefix;
            int slot = (b << 5) ^ prefix;
            int32_t found = table[slot].hashKey;
            if (found == key) {
                prefix = table[slot].slotCode;
                continue;
            }
            if (found >= 0) {
                const int d = slot == 0 ? 1 : TIF_LZW_HASH_SIZE - slot;
                do {
                    slot -= d;
                    if (slot < 0)
                        slot += TIF_LZW_HASH_SIZE;
                    found = table[slot].hashKey;
                } while (found != key && found >= 0);
                if (found == key) {
                    prefix = table[slot].slotCode;
                    continue;
                }
            }
            // A new string: the prefix goes out, the string gets the next code.
            out.Reserve(kReserve);
            out.Code(prefix, nbits);
            prefix = b;
            table[slot].hashKey = key;
            table[slot].slotCode = static_cast<uint16_t>(freeCode);
            // One test for both events: at 12 bits the limit is the last code.
            if (++freeCode > (maxCode < kLastCode ? maxCode : kLastCode)) {
                if (freeCode > kLastCode) {
                    TifLzwClearHash(table);
                    out.Code(kClear, nbits);
                    freeCode = kFirstCode;
                    nbits = 9;
                    maxCode = 511;
                } else {
                    // The decoder, one entry behind, widens after reading this code.
                    ++nbits;
                    maxCode = (1 << nbits) - 1;
                }
            }
        }
    }
    out.Store();
    s->nextData = out.data;
    s->nextBits = out.bits;
    s->nbits = nbits;
    s->maxCode = maxCode;
    s->freeCode = static_cast<uint16_t>(freeCode);
    s->prefixCode = static_cast<uint16_t>(prefix);
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
    out.Reserve(kEndReserve);
    int eoiBits = s->nbits;
    if (s->prefixCode != kNoPrefix) {
        out.Code(s->prefixCode, s->nbits);
        s->prefixCode = kNoPrefix;
        // A decoder adds an entry for this last code (freeCode - 1, as the
        // decoder runs one entry behind); when that entry is 510, 1022 or
        // 2046 it reads the next code one bit wider.
        if (s->freeCode == s->maxCode && s->nbits < kMaxBits)
            ++eoiBits;
    }
    out.Code(kEndOfInformation, eoiBits);
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
