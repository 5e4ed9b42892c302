// tif_fax_decode_internal.h — what the pieces of the fax decoder share: the
// bit reader (a 64-bit accumulator whose next unread bit is bit 0, so a table
// index is simply its low bits), the run list of the row being decoded with
// its toggle words, and the functions each piece offers the others. Hot
// helpers are inline here so that the row loops keep them inlined.
//
// The decoder's files: tif_fax_bit_reader.cpp (refills, bit order),
// tif_fax_rows_1d.h and tif_fax_rows_2d.h (the codes of one row),
// tif_fax_paint.cpp (run lists into pixels), tif_fax_decode_rows.cpp (the
// row loops of each variant) and tif_fax_decode.cpp (the decoder record).
//
// Hostile data: every run list write is checked against a fixed limit, make-up
// codes cannot carry a row past its width, a vertical code never moves left of
// a0, so a finished list rises to exactly the row width and painting stays in
// the row; reference reads stay inside the array (guard entries follow it).
// Every row consumes bits or stops, so a call ends in time proportional to its
// data and its row count.
#pragma once

#include <cstdint>
#include <cstring>

#include "codec/fax/tif_fax_state.h"
#include "codec/fax/tif_fax_tables.h"
#include "codec/tif_bits.h"

namespace tif_fax_decode {

// A valid row needs at most rowPixels + 1 runs (a leading white 0, then one run
// per pixel). Runs beyond rowPixels + kEmitSlack stop the row as an invalid
// code; the array keeps room after that limit for the finishing runs, the
// padding 0, the terminator and the guard entries.
constexpr int kEmitSlack = 4;
constexpr int kArraySlack = 32;
constexpr int kGuardEntries = 7;  // rowPixels entries after a reference list

// How far an emitted position may lie past the row before FinishRow drops it:
// a run starts below rowPixels, make-ups stop at it, and a terminating code
// adds at most 63; horizontal mode adds a second run without a check between.
constexpr int kMaxOvershoot = 2 * 63;

// Toggle words for rows of rowPixels pixels: every position up to
// rowPixels + kMaxOvershoot has its word.
inline size_t ToggleWordCount(int64_t rowPixels)
{
    return static_cast<size_t>((rowPixels + kMaxOvershoot) >> 6) + 1;
}

// kRowCrowded: the code was decoded and the row goes on, but from now on the
// run list's limit must be checked before every code (Decode2DRow).
enum RowStatus { kRowDone, kRowStop, kRowEol, kRowEod, kRowCrowded };

enum Variant { kMH, kG3_1D, kG3_2D, kG4 };

inline constexpr const uint8_t* kMsbFirstMap = TifFaxBitRevTable.b;
inline constexpr const uint8_t* kLsbFirstMap = TifFaxBitRevTable.b + 256;

inline TifFaxDecoderState* FaxState(TifCodec* codec)
{
    return static_cast<TifFaxDecoderState*>(codec->state);
}

// ---------------------------------------------------------------- bit reader

struct Reader {
    uint64_t acc;  // unread bits, the next one in bit 0
    int n;         // valid bits in acc
    const uint8_t* cur;
    int avail;     // unread bytes at cur
    int fills = 0; // blocks pulled through ioProc
    int pad = 0;   // zero bits added at the top of acc after the data ended
};

// Whether no bit was consumed between two states of a reader: bytes moved
// into the accumulator by a refill do not count.
inline bool SamePlace(const Reader& a, const Reader& b)
{
    return a.fills == b.fills && (a.cur - b.cur) * 8 == a.n - b.n;
}

struct Ctx {
    TifFaxDecoderState* s;
    bool msbFirst;  // FillOrder 1: new blocks are turned by ToLsbFirst
    int rowPixels;
    uint64_t* words;  // the state's toggle words
};

// Reverses the bit order inside each byte of a 64-bit word.
inline uint64_t ReverseByteBits(uint64_t w)
{
    w = ((w >> 1) & 0x5555555555555555ull) | ((w & 0x5555555555555555ull) << 1);
    w = ((w >> 2) & 0x3333333333333333ull) | ((w & 0x3333333333333333ull) << 2);
    return ((w >> 4) & 0x0F0F0F0F0F0F0F0Full) | ((w & 0x0F0F0F0F0F0F0F0Full) << 4);
}

// Turns FillOrder 1 data, as it arrives in the buffer, into the order the
// reader takes: the first bit of each byte in its least significant place.
void ToLsbFirst(uint8_t* p, int n);

// Tops acc up to 56..63 bits from at least 8 buffered bytes. Bits above n may
// then hold the start of the next byte; they are the same bits that byte
// brings when it is added, so the OR is harmless.
[[gnu::always_inline]] inline void FillFast(Reader& r)
{
    uint64_t w;
    std::memcpy(&w, r.cur, 8);
    if (!kTifLittleEndian)
        w = TifByteSwap64(w);
    r.acc |= w << r.n;
    const int k = (63 - r.n) >> 3;
    r.cur += k;
    r.avail -= k;
    r.n |= 56;
}

// Byte-wise filling near the end of the buffer, refilling it through ioProc.
// Returns n >= need, or n == 0 when the data is exhausted; when the data ends
// with some bits left, the missing bits read as zeros.
Reader FillSlow(Reader r, int need, const Ctx& c);

// Makes at least `need` bits (need <= 13) available; false at end of data.
[[gnu::always_inline]] inline bool Need(Reader& r, int need, const Ctx& c)
{
    if (r.n >= need)
        return true;
    if (r.avail >= 8) {
        FillFast(r);
        return true;
    }
    r = FillSlow(r, need, c);
    return r.n != 0;
}

[[gnu::always_inline]] inline void Consume(Reader& r, int bits)
{
    r.acc >>= bits;
    r.n -= bits;
}

// ---------------------------------------------------------------- run lists
//
// A row's runs are held as the positions where they end: entry i is the sum of
// runs 0..i (white, black, white, ...), so entry 2k - 1 .. 2k spans a white run
// and entry 2k .. 2k + 1 a black one. Entry -1 of each array is a fixed 0 (the
// row start). A finished list rises monotonically to rowPixels; in the
// reference row it is followed by guard entries equal to rowPixels, which is
// where every reference position past the row lies.

struct RowRuns {
    int32_t* start;  // curRuns
    int32_t* wp;     // next entry to write
    int32_t* limit;  // no run is emitted at or beyond this entry
    int a0;          // pixels accounted for; above the last entry by pending make-ups or a pass
    uint64_t* words; // toggle words: every entry in the list has flipped its word (see FillRuns)
};

// The mask that flips the pixels of x's word from x on (pixel 0 in bit 63).
[[gnu::always_inline]] inline uint64_t FlipMask(unsigned x)
{
    return ~0ull >> (x & 63);
}

// Flips the pixels of x's 64-pixel word from x on, in memory.
[[gnu::always_inline]] inline void Toggle(uint64_t* words, int x)
{
    const unsigned u = static_cast<unsigned>(x);
    words[u >> 6] ^= FlipMask(u);
}

// Appends x to the list and flips its word. Done as each position is
// decoded, the flip's chain through memory (when several positions fall in
// one word) overlaps the bit reader's work instead of making a loop of its
// own. The list's positions never exceed rowPixels + kMaxOvershoot.
[[gnu::always_inline]] inline void Emit(int32_t*& wp, uint64_t* words, int x)
{
    *wp++ = x;
    Toggle(words, x);
}

[[gnu::always_inline]] inline void Emit(RowRuns& w, int x)
{
    Emit(w.wp, w.words, x);
}

// Whether codes that each add one entry and raise a0 (V0, VRk; pass adds
// none) could reach the list's limit before a0 reaches rowPixels: only when
// the list holds kEmitSlack or more entries beyond a0, which takes runs of 0.
// While it is false, every code starts below the limit.
[[gnu::always_inline]] inline bool Crowded(const RowRuns& w)
{
    return (w.wp - w.start) - w.a0 >= kEmitSlack;
}

// A make-up code that would carry the row past its width is damaged data; it
// stops the row, which also keeps a0 far from overflow.
[[gnu::always_inline]] inline bool MakeUp(RowRuns& w, int m, int rowPixels)
{
    if (m > rowPixels - w.a0)
        return false;
    w.a0 += m;
    return true;
}

// ---------------------------------------------------------------- painting

// Completes the list of a row, also one stopped early or running past the
// row: pending pixels become a run, runs ending beyond rowPixels are dropped
// and the rest of the row is white. Returns the end of the list.
int32_t* FinishRow(RowRuns& w, int rowPixels);

// Paints a finished list [runs, end) into a row of rowBytes bytes (white 0,
// black 1, pixel 0 in the most significant bit), leaving the toggle words zero.
using FillProc = void (*)(uint8_t* row, const int32_t* runs, const int32_t* end, int rowPixels, int rowBytes,
                          uint64_t* words);
void FillRuns(uint8_t* row, const int32_t* runs, const int32_t* end, int rowPixels, int rowBytes,
              uint64_t* words);
#if TIF_GNU_X86_64
// The same with AVX2: only for processors that have it. The attribute is the
// definition's: GCC would take a declaration without it for another version.
[[gnu::target("avx2")]] void FillRunsAvx2(uint8_t* row, const int32_t* runs, const int32_t* end, int rowPixels, int rowBytes,
                  uint64_t* words);
#endif

// ---------------------------------------------------------------- row loops

// The DecodeRows slot of each variant, in plain code.
TifRowsProc PlainDecodeRows(Variant v);
#if TIF_GNU_X86_64
// The same for processors with BMI2 and AVX2.
TifRowsProc Bmi2DecodeRows(Variant v);
#endif

}  // namespace tif_fax_decode
