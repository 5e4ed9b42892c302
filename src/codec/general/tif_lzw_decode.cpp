// tif_lzw_decode.cpp — LZW decoding straight into the caller's rows, through
// the string table of tif_lzw_strings.h.
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
#include "codec/general/tif_lzw_strings.h"
#include "codec/general/tif_predictor.h"
#include "codec/tif_bits.h"

namespace {

using namespace tif_lzw_detail;

// freeEntry before the first Clear of a strip and once the table is full:
// every code but Clear and EndOfInformation is then beyond it.
constexpr int kNoFreeEntry = -1;

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
            if (code < TIF_LZW_FIRST_FREE)
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
        if (nbits < TIF_LZW_MAX_BITS)
            ++nbits;
        maxEntry = kOldStyle ? (1 << nbits) - 1 : (1 << nbits) - 2;
        if (TifDamaged(freeEntry == TIF_LZW_TABLE_SIZE))
            freeEntry = kNoFreeEntry;  // table full: only Clear may follow
    }
}

// The decoder's registers during one DecodeRows call. Its steps are inlined
// into DecodeRows: the state stays in registers as in one function.
template <bool kOldStyle>
struct LzwRun {
    TifLzwDecoderState* s;
    TifCodecState* h;
    uint64_t* hot;
    LzwLong* lng;
    CodeReader<kOldStyle> rd;
    int nbits;
    int freeEntry;
    int maxEntry;
    uint64_t oldWord;
    int restart;

    explicit LzwRun(TifLzwDecoderState* st)
        : s(st), h(&st->header), hot(st->hot), lng(st->lng),
          rd{st->bits, st->bitCount, st->header.cursor, st->header.cursor + st->header.available},
          nbits(st->nbits), freeEntry(st->freeEntry), maxEntry(st->maxEntry), oldWord(st->oldWord),
          restart(st->restart)
    {
    }

    void Save(bool ended)
    {
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
    }

    // The rest of the string cut at the previous row's end, from p on; false
    // when it fills all `rowBytes` and goes on into the next row.
    [[gnu::always_inline]] inline bool Resume(unsigned char*& p, ptrdiff_t rowBytes)
    {
        const int length = StringLength(hot, lng, s->restartEntry);
        const int residue = length - restart;
        if (residue > rowBytes) {
            WriteStringPart(hot, lng, s->restartEntry, restart, restart + static_cast<int>(rowBytes), p);
            restart += static_cast<int>(rowBytes);
            return false;
        }
        WriteStringPart(hot, lng, s->restartEntry, restart, length, p);
        p += residue;
        restart = 0;
        return true;
    }

    // The fast loop at the current width, then the width it may have reached.
    [[gnu::always_inline]] inline void Fast(unsigned char*& p, unsigned char* end)
    {
        LzwCursor c{rd.bits, rd.bitCount, rd.in, p, freeEntry, oldWord};
        RunFast<kOldStyle>(nbits, c, hot, lng, rd.inEnd, end);
        rd.bits = c.bits;
        rd.bitCount = c.bitCount;
        rd.in = c.in;
        p = c.p;
        freeEntry = c.freeEntry;
        oldWord = c.oldWord;
        AfterAssign<kOldStyle>(freeEntry, nbits, maxEntry);
    }

    // After Clear: 9-bit codes, an empty table and a single byte. False when
    // the strip ends there.
    [[gnu::always_inline]] inline bool AfterClear(unsigned char*& p)
    {
        freeEntry = TIF_LZW_FIRST_FREE;
        nbits = 9;
        maxEntry = kOldStyle ? 511 : 510;
        if (!rd.Need(nbits, h))
            return false;
        const int code = rd.Take(nbits);
        // EndOfInformation, or a code without a string (Clear again).
        if (TifDamaged(code > 255)) {
            TifNoteBadData(h);
            return false;
        }
        *p++ = static_cast<unsigned char>(code);
        oldWord = hot[code];
        return true;
    }

    // The string of `code` (word `w`) at p; what passes `end` waits for the
    // next row.
    [[gnu::always_inline]] inline void Put(int code, uint64_t w, unsigned char*& p, unsigned char* end)
    {
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
            WriteStringPart(hot, lng, code, 0, static_cast<int>(room), p);
            s->restartEntry = code;
            restart = static_cast<int>(room);
            p = end;
        }
    }

    // One code, whatever it is. False when the strip ends.
    [[gnu::always_inline]] inline bool Step(unsigned char*& p, unsigned char* end)
    {
        if (!rd.Need(nbits, h))
            return false;
        const int code = rd.Take(nbits);
        if ((code & ~1) == TIF_LZW_CLEAR)
            return code != TIF_LZW_END_OF_INFORMATION && AfterClear(p);
        // The highest acceptable code is the entry this code defines.
        if (TifDamaged(code > freeEntry)) {
            TifNoteBadData(h);
            return false;
        }
        // New entry: the previous string plus the first byte of this one (of
        // the previous one when this code is the entry being defined).
        const uint8_t first = HotFirst(code < freeEntry ? hot[code] : oldWord);
        if (freeEntry < kCodes)
            AddEntry(hot, lng, freeEntry, oldWord, first);
        ++freeEntry;
        AfterAssign<kOldStyle>(freeEntry, nbits, maxEntry);
        oldWord = hot[code];
        Put(code, oldWord, p, end);
        return true;
    }

    // Fills [p, end); false when the strip ends first.
    [[gnu::always_inline]] inline bool Fill(unsigned char*& p, unsigned char* end)
    {
        while (p < end) {
            if (end - p >= 8 && freeEntry >= TIF_LZW_FIRST_FREE) {
                Fast(p, end);
                if (p >= end)
                    break;
            }
            if (!Step(p, end))
                return false;
        }
        return true;
    }
};

template <bool kOldStyle>
int LzwDecodeRows(TifCodec* codec, void* rows, int count)
{
    TifLzwDecoderState* s = LzwState(codec);
    const TifCodecState* h = &s->header;
    if (count <= 0 || s->ended)
        return 0;
    LzwRun<kOldStyle> run(s);
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
        if (run.restart != 0 && !run.Resume(p, rowBytes))
            continue;
        if (!run.Fill(p, row + rowBytes)) {
            ended = true;
            break;
        }
    }
    run.Save(ended);
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
