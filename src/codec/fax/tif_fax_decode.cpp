// tif_fax_decode.cpp — the CCITT fax decoder: Modified Huffman (Compression 2),
// Group 3 one- and two-dimensional (3) and Group 4 (4), after ITU-T T.4 / T.6.
//
// Each row is decoded into a list of runs (white, black, white, ..., starting
// with white), kept as the positions where they end, and then painted into the
// caller's row; in the 2D variants that list is the reference row of the next
// one. Bits are read through a 64-bit accumulator whose next unread bit is
// bit 0, so a table index is simply its low bits.
//
// Hostile data: every run list write is checked against a fixed limit, make-up
// codes cannot carry a row past its width, a vertical code never moves left of
// a0, so a finished list rises to exactly the row width and painting stays in
// the row; reference reads stay inside the array (guard entries follow it).
// Every row consumes bits or stops, so a call ends in time proportional to its
// data and its row count.
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <cpuid.h>
#include <immintrin.h>
#endif

#include "codec/fax/tif_fax.h"
#include "codec/fax/tif_fax_state.h"
#include "codec/fax/tif_fax_tables.h"
#include "codec/tif_limits.h"

namespace {

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

// The first block of a strip is read small, and turned for the reader only
// when decoding begins: opening a page loads its first strip only to check
// that its data is there, and a program copying the stored bytes decodes
// nothing. The reader refills whole buffers after it.
constexpr int kFirstBlock = 4096;

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

constexpr bool kLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

const uint8_t* const kMsbFirstMap = TifFaxBitRevTable.b;
const uint8_t* const kLsbFirstMap = TifFaxBitRevTable.b + 256;

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
// Once per byte instead of once per refill, and the reader never asks.
void ToLsbFirst(uint8_t* p, int n)
{
    for (; n >= 8; n -= 8, p += 8) {
        uint64_t w;
        std::memcpy(&w, p, 8);
        w = ReverseByteBits(w);
        std::memcpy(p, &w, 8);
    }
    for (; n > 0; --n, ++p)
        *p = kMsbFirstMap[*p];
}

// Tops acc up to 56..63 bits from at least 8 buffered bytes. Bits above n may
// then hold the start of the next byte; they are the same bits that byte
// brings when it is added, so the OR is harmless.
[[gnu::always_inline]] inline void FillFast(Reader& r)
{
    uint64_t w;
    std::memcpy(&w, r.cur, 8);
    if (!kLittleEndian)
        w = __builtin_bswap64(w);
    r.acc |= w << r.n;
    const int k = (63 - r.n) >> 3;
    r.cur += k;
    r.avail -= k;
    r.n |= 56;
}

// Byte-wise filling near the end of the buffer, refilling it through ioProc.
// Returns n >= need, or n == 0 when the data is exhausted; when the data ends
// with some bits left, the missing bits read as zeros.
// Not cloned per `need`: GCC's clones moved register allocation in the hot
// loops of the variants calling them, a few percent either way by chance.
#if defined(__clang__)
[[gnu::noinline]]
#else
[[gnu::noinline, gnu::noclone]]
#endif
Reader FillSlow(Reader r, int need, const Ctx& c)
{
    TifCodecState* h = &c.s->header;
    while (r.n < need) {
        if (r.avail <= 0) {
            int got = h->ioProc(h->buffer, h->bufferSize, h->ioContext);
            r.cur = h->buffer;
            if (got <= 0) {
                r.avail = 0;
                if (r.n != 0) {
                    r.pad = (r.pad < r.n ? r.pad : r.n) + need - r.n;
                    r.n = need;
                }
                return r;
            }
            r.avail = got < h->bufferSize ? got : h->bufferSize;
            ++r.fills;
            if (c.msbFirst)
                ToLsbFirst(h->buffer, r.avail);
        }
        if (r.avail >= 8) {
            FillFast(r);
            return r;
        }
        r.acc |= uint64_t(*r.cur++) << r.n;
        r.n += 8;
        r.avail -= 1;
    }
    return r;
}

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

// Completes the list of a row, also one stopped early or running past the
// row: pending pixels become a run, runs ending beyond rowPixels are dropped
// and the rest of the row is white. Positions never fall (a vertical code that
// would step left of a0 stops the row), so the result rises to rowPixels.
// Returns the end of the list.
int32_t* FinishRow(RowRuns& w, int rowPixels)
{
    int32_t* wp = w.wp;
    if (w.a0 != wp[-1])
        Emit(wp, w.words, w.a0);
    while (wp > w.start && wp[-1] > rowPixels)
        Toggle(w.words, *--wp);  // undone: the words hold the list's toggles only
    const int last = wp[-1];
    if (last < rowPixels) {
        if ((wp - w.start) & 1)
            Emit(wp, w.words, last);  // a black run of 0 keeps the white rest white
        Emit(wp, w.words, rowPixels);
    }
    return wp;
}

// Turns toggle word k into pixels of the row (the word left zero) and moves
// the carried colour past it.
[[gnu::always_inline]] inline void TurnWord(uint8_t* row, uint64_t* words, int k, uint64_t& carry)
{
    const uint64_t t = words[k];
    const uint64_t v = t ^ carry;
    words[k] = 0;
    carry ^= 0 - (t & 1);
    const uint64_t out = kLittleEndian ? __builtin_bswap64(v) : v;
    std::memcpy(row + size_t(k) * 8, &out, 8);
}

// Paints a finished list into a row: white 0, black 1, pixel 0 in the most
// significant bit; bits of the last byte beyond rowPixels are kept.
//
// Every position toggles the colour from there to the row end. Each toggle
// has flipped the rest of its own 64-pixel word in `words` (pixel 0 in bit 63,
// see Toggle; zero before the row's first); a word's bit 0 then tells whether
// it holds an odd number of toggles, so one pass in order turns the words into
// pixels, carrying the colour of each word's last pixel into the next, and
// leaves them zero again.
// Words before the first toggle are white and words after the last one take
// the colour it leaves: blank rows and margins cost a store per word, and so
// do words without a toggle on rows with fewer toggles than words. Kept out
// of line: inside DecodeRows it would crowd the decoding loops' registers.
template <int (*Turn)(uint8_t*, uint64_t*, int, int, uint64_t&)>
[[gnu::always_inline]] inline void FillRunsBody(uint8_t* row, const int32_t* runs, const int32_t* end,
                                                int rowPixels, int rowBytes, uint64_t* words)
{
    // Positions of a finished list never exceed rowPixels, so only words
    // 0 .. rowPixels / 64 hold toggles.
    const int whole = rowPixels >> 6;  // words holding only pixels of the row
    // The list ends with rowPixels; the toggles before it span words first .. last.
    const int first = runs[0] >> 6;
    const int last = end - runs >= 2 ? end[-2] >> 6 : -1;
    const int toggled = last + 1 < whole ? last + 1 : whole;
    int i = first < whole ? first : whole;
    // A short margin by a fixed 32-byte clear (the words after it are all
    // painted below) instead of a call.
    if (i <= 4 && whole >= 4)
        std::memset(row, 0, 32);
    else
        std::memset(row, 0, size_t(i) * 8);
    // All ones after a black pixel. Updated from the word alone (an odd word
    // flips it), not from the turned word: one XOR per word on the chain
    // from word to word instead of three.
    uint64_t carry = 0;
    if (Turn != nullptr)
        i = Turn(row, words, i, toggled, carry);
    else if (end - runs < toggled - i) {
        // Fewer changes than words (drawings): many words hold none, and
        // need no turning. Tested four at a time: one branch per group, and
        // a group with a change is turned whole, without a branch per word.
        for (; i + 4 <= toggled; i += 4) {
            if ((words[i] | words[i + 1] | words[i + 2] | words[i + 3]) == 0) {
                for (int k = 0; k < 4; ++k)
                    std::memcpy(row + size_t(i + k) * 8, &carry, 8);
                continue;
            }
            for (int k = i; k < i + 4; ++k)
                TurnWord(row, words, k, carry);
        }
    }
#pragma GCC unroll 4
    for (; i < toggled; ++i)
        TurnWord(row, words, i, carry);
    for (; i < whole; ++i)
        std::memcpy(row + size_t(i) * 8, &carry, 8);
    const uint64_t v = words[whole] ^ carry;
    words[whole] = 0;
    const int bytes = rowBytes - whole * 8;  // 0 .. 8
    if (bytes == 0)
        return;
    uint8_t* at = row + size_t(whole) * 8;
    const uint8_t keep = (rowPixels & 7) ? static_cast<uint8_t>(0xFFu >> (rowPixels & 7)) : 0;
    const uint8_t old = at[bytes - 1];
    for (int k = 0; k < bytes; ++k)
        at[k] = static_cast<uint8_t>(v >> (56 - 8 * k));
    at[bytes - 1] = static_cast<uint8_t>((at[bytes - 1] & ~keep) | (old & keep));
}

[[gnu::noinline]] void FillRuns(uint8_t* row, const int32_t* runs, const int32_t* end, int rowPixels,
                                int rowBytes, uint64_t* words)
{
    FillRunsBody<nullptr>(row, runs, end, rowPixels, rowBytes, words);
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
// The parities of four toggle words (bit k: word k odd) give, for each word,
// whether an odd number of the group's earlier words flip its colour
// (`before`), and whether the group as a whole does (`all`): all ones or 0
// per 64-bit lane.
struct ParityMasks {
    uint64_t before[16][4];
    uint64_t all[16][4];
};

constexpr ParityMasks BuildParityMasks()
{
    ParityMasks m{};
    for (unsigned bits = 0; bits < 16; ++bits) {
        unsigned odd = 0;
        for (unsigned k = 0; k < 4; ++k) {
            m.before[bits][k] = odd ? ~0ull : 0;
            odd ^= (bits >> k) & 1;
        }
        for (unsigned k = 0; k < 4; ++k)
            m.all[bits][k] = odd ? ~0ull : 0;
    }
    return m;
}

alignas(32) constexpr ParityMasks kParityMasks = BuildParityMasks();

// TurnWord for words [i, end) four at a time: the colour carried into each
// word of a group comes from the group's parities in one lookup, so the only
// chain from group to group is one XOR. Returns the first word not turned.
[[gnu::target("avx2")]] int TurnWordsAvx2(uint8_t* row, uint64_t* words, int i, int end, uint64_t& carry)
{
    const __m256i zero = _mm256_setzero_si256();
    // Each 64-bit lane's bytes reversed: pixel 0 first in memory.
    const __m256i swap = _mm256_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2,
                                          1, 0, 15, 14, 13, 12, 11, 10, 9, 8);
    __m256i c = _mm256_set1_epi64x(static_cast<long long>(carry));
    for (; i + 4 <= end; i += 4) {
        auto* const at = reinterpret_cast<__m256i*>(words + i);
        const __m256i t = _mm256_loadu_si256(at);
        _mm256_storeu_si256(at, zero);
        const unsigned bits = static_cast<unsigned>(_mm256_movemask_pd(_mm256_castsi256_pd(_mm256_slli_epi64(t, 63))));
        const __m256i before = _mm256_load_si256(reinterpret_cast<const __m256i*>(kParityMasks.before[bits]));
        const __m256i v = _mm256_xor_si256(_mm256_xor_si256(t, c), before);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + size_t(i) * 8), _mm256_shuffle_epi8(v, swap));
        c = _mm256_xor_si256(c, _mm256_load_si256(reinterpret_cast<const __m256i*>(kParityMasks.all[bits])));
    }
    carry = static_cast<uint64_t>(_mm256_extract_epi64(c, 0));
    return i;
}

[[gnu::noinline, gnu::target("avx2")]] void FillRunsAvx2(uint8_t* row, const int32_t* runs, const int32_t* end,
                                                         int rowPixels, int rowBytes, uint64_t* words)
{
    FillRunsBody<TurnWordsAvx2>(row, runs, end, rowPixels, rowBytes, words);
}
#endif

// ---------------------------------------------------------------- rows

// Whether a colour table entry is a terminating code (either colour: each
// table holds only its own) or a make-up code.
constexpr bool IsTerminating(unsigned kind)
{
    return kind - TIF_FAX_WHITE_TERM <= TIF_FAX_BLACK_TERM - TIF_FAX_WHITE_TERM;
}
constexpr bool IsMakeUp(unsigned kind)
{
    return kind - TIF_FAX_WHITE_MAKEUP <= TIF_FAX_EXT_MAKEUP - TIF_FAX_WHITE_MAKEUP;
}
static_assert(TIF_FAX_BLACK_TERM == TIF_FAX_WHITE_TERM + 1 && TIF_FAX_BLACK_MAKEUP == TIF_FAX_WHITE_MAKEUP + 1 &&
              TIF_FAX_EXT_MAKEUP == TIF_FAX_BLACK_MAKEUP + 1, "colour kinds are contiguous");

// Colour codes are looked up first in a small first-level table; the few
// long codes (and EOL or no code), whose entries there have codeBits 0, in the
// full one, whose 32 KB would otherwise be spread over the cache by the bits
// past the code. A terminating code, the commonest, passes one test.
[[gnu::always_inline]] inline TifFaxEntry FirstEntry(uint64_t acc, const TifFaxEntry* first)
{
    return first[acc & ((1u << TifFaxShortBits) - 1)];
}

// Run1D through the tables of a colour known at run time only (horizontal mode).
[[gnu::always_inline]] inline RowStatus TableRun(Reader& r, const Ctx& c, RowRuns& w, size_t colour)
{
    const TifFaxEntry* const first = TifFaxShortRunTables.colour[colour].entry;
    const TifFaxEntry* const full = TifFaxRunTables.colour[colour].entry;
    for (;;) {
        if (!Need(r, 13, c))
            return kRowEod;
        TifFaxEntry e = FirstEntry(r.acc, first);
        if (__builtin_expect(!IsTerminating(e.kind), 0)) {
            if (e.codeBits == 0)
                e = full[r.acc & TifFaxLookup<13>::kMask];
            if (!IsTerminating(e.kind))
                goto other;
        }
        Consume(r, e.codeBits);
        w.a0 += e.param;
        Emit(w, w.a0);
        return kRowDone;
    other:
        Consume(r, e.codeBits);
        if (IsMakeUp(e.kind)) {
            if (!MakeUp(w, e.param, c.rowPixels))
                return kRowStop;
            continue;
        }
        return e.kind == TIF_FAX_EOL ? kRowEol : kRowStop;
    }
}

// One run of the given colour: make-up codes, then a terminating code, on
// the row loop's locals. The caller makes sure the list has room for the run.
template <bool Black>
[[gnu::always_inline]] inline RowStatus Run1D(Reader& r, const Ctx& c, int32_t*& wp, int& a0, int rowPixels)
{
    for (;;) {
        if (!Need(r, Black ? 13 : 12, c))
            return kRowEod;
        constexpr unsigned kTerm = Black ? TIF_FAX_BLACK_TERM : TIF_FAX_WHITE_TERM;
        TifFaxEntry e = FirstEntry(r.acc, TifFaxShortRunTables.colour[Black].entry);
        if (__builtin_expect(e.kind != kTerm, 0)) {
            if (e.codeBits == 0)
                e = Black ? TifFaxBlackTable.entry[r.acc & TifFaxLookup<13>::kMask]
                          : TifFaxWhiteTable.entry[r.acc & TifFaxLookup<12>::kMask];
            if (e.kind != kTerm)
                goto other;
        }
        Consume(r, e.codeBits);
        a0 += e.param;
        Emit(wp, c.words, a0);
        return kRowDone;
    other:
        Consume(r, e.codeBits);
        if (e.kind == (Black ? TIF_FAX_BLACK_MAKEUP : TIF_FAX_WHITE_MAKEUP) || e.kind == TIF_FAX_EXT_MAKEUP) {
            // As MakeUp: a make-up code past the row's width is damaged data.
            if (e.param > rowPixels - a0)
                return kRowStop;
            a0 += e.param;
            continue;
        }
        return e.kind == TIF_FAX_EOL ? kRowEol : kRowStop;
    }
}

// A one-dimensional row: white and black runs until the row is full. The
// reader, the list's pointer and limit and a0 are held in locals and written
// back once: through references, each run stored to the list (an int32_t
// store that may alias them) sent them to memory and back.
//
// Pairs: white and black codes in pairs (see below). Not in Group 3 2D
// rows, whose 1D rows are few: there the longer loop cost the 2D loop its
// register allocation, and more time than it saved.
template <bool Pairs>
[[gnu::always_inline]] inline RowStatus Decode1DRow(Reader& reader, const Ctx& c, RowRuns& w, int& eolPending)
{
    Reader r = reader;
    int32_t* wp = w.wp;
    int32_t* const limit = w.limit;
    int a0 = w.a0;
    const int rowPixels = c.rowPixels;
    RowStatus st;
    for (;;) {
        if (wp >= limit) {
            st = kRowStop;
            break;
        }
        if constexpr (Pairs) {
            // A refill makes room for a pair; it moves no bit.
            if (r.n < 12 + 13 && r.avail >= 8)
                FillFast(r);
            if (!Need(r, 12, c)) {
                st = kRowEod;
                break;
            }
            // A white and a black terminating code in one lookup, when the
            // white run leaves the row open. Only with bits enough for both
            // single lookups without a refill, so the reader ends where
            // they would.
            if (r.n >= 12 + 13) {
                const tif_fax_detail::PairEntry p = TifFaxPairTable.entry[r.acc & ((1u << TifFaxPairBits) - 1)];
                if (p.codeBits != 0 && p.white < rowPixels - a0) {
                    Consume(r, p.codeBits);
                    a0 += p.white;
                    Emit(wp, c.words, a0);
                    a0 += p.black;
                    Emit(wp, c.words, a0);
                    if (a0 >= rowPixels) {
                        st = kRowDone;
                        break;
                    }
                    continue;
                }
            }
        }
        st = Run1D<false>(r, c, wp, a0, rowPixels);
        if (st != kRowDone || a0 >= rowPixels)
            break;
        st = Run1D<true>(r, c, wp, a0, rowPixels);
        if (st != kRowDone || a0 >= rowPixels)
            break;
    }
    reader = r;
    w.wp = wp;
    w.a0 = a0;
    if (st == kRowEol)
        eolPending = 1;
    return st;
}

// Whether a mode code is VRk or VLk.
constexpr bool IsSideways(unsigned kind)
{
    return kind - TIF_FAX_VR <= TIF_FAX_VL - TIF_FAX_VR;
}
static_assert(TIF_FAX_VL == TIF_FAX_VR + 1, "VRk and VLk are contiguous");

// One mode code of a two-dimensional row against the reference list (finished,
// with guards); b points at b1, and b == ref - 1 stands for the row start.
// kRowDone: go on with the row. While a0 < rowPixels every b1 at or left of a0
// is below rowPixels, so moving b1 right never passes the first guard, and no
// code reads more than one entry beyond it.
//
// Before the first run of a row (Empty) b1 is not moved: it may equal a0 when
// the reference row starts black.
//
// Unchecked, the list's limit is not tested: the caller keeps Crowded false
// between codes, which rules the limit out (see Crowded); codes that may break
// that return kRowCrowded.
template <bool Empty, bool Checked>
[[gnu::always_inline]] inline RowStatus Step2D(Reader& r, const Ctx& c, RowRuns& w, const int32_t* ref,
                                               const int32_t*& b, int& eolPending)
{
    const int rowPixels = c.rowPixels;
    if (!Need(r, 7, c))
        return kRowEod;
    if (Checked && w.wp >= w.limit)
        return kRowStop;
    // b1: the first changing element right of a0 with the colour opposite to
    // a0's (even entries end white runs).
    if (r.acc & 1) {
        // V0, the commonest code, without the table.
        Consume(r, 1);
        if (!Empty)
            while (*b <= w.a0)
                b += 2;
        w.a0 = *b++;
        Emit(w, w.a0);
        return kRowDone;
    }
    const tif_fax_detail::ModeStep e = TifFaxModeSteps.entry[r.acc & TifFaxLookup<7>::kMask];
    if (!Empty && IsSideways(e.kind)) {
        // VRk and VLk share one path; a VLk whose a1 does not lie right of a0
        // takes the general one below.
        while (*b <= w.a0)
            b += 2;
        const int a1 = *b + e.offset;
        if (__builtin_expect(a1 > w.a0, 1)) {
            Consume(r, e.codeBits);
            w.a0 = a1;
            Emit(w, a1);
            b += e.step;
            return kRowDone;
        }
    }
    Consume(r, e.codeBits);
    if (e.kind == TIF_FAX_HORIZONTAL) {
        // The colour of the run in progress follows from the list's parity;
        // choosing the tables by it avoids an unpredictable branch.
        const size_t black = static_cast<size_t>(w.wp - w.start) & 1;
        RowStatus st = TableRun(r, c, w, black);
        if (st == kRowDone)
            st = TableRun(r, c, w, black ^ 1);
        if (st != kRowDone)
            return st == kRowEod ? kRowEod : kRowStop;  // an EOL inside a run is invalid
        if (w.a0 < rowPixels)
            while (*b <= w.a0)
                b += 2;
        return !Checked && Crowded(w) ? kRowCrowded : kRowDone;
    }
    if (!Empty)
        while (*b <= w.a0)
            b += 2;
    const int param = e.offset < 0 ? -e.offset : e.offset;
    switch (e.kind) {
    case TIF_FAX_VR:
        w.a0 = *b++ + param;
        Emit(w, w.a0);
        return kRowDone;
    case TIF_FAX_VL: {
        const int a1 = *b - param;
        // A changing element left of a0, or a step before the row start, is damaged data.
        if (a1 < w.a0 || b == ref - 1)
            return kRowStop;
        w.a0 = a1;
        Emit(w, a1);
        --b;
        return !Checked && Crowded(w) ? kRowCrowded : kRowDone;
    }
    case TIF_FAX_PASS:
        // a0 moves under b2 without a change of colour.
        w.a0 = b[1];
        b += 2;
        return kRowDone;
    case TIF_FAX_EXTENSION:
        // Uncompressed mode is not supported: the run in progress fills the row.
        w.a0 = rowPixels;
        Emit(w, rowPixels);
        return kRowStop;
    case TIF_FAX_EOL:
        w.a0 = rowPixels;
        Emit(w, rowPixels);
        if (!Need(r, 5, c))
            return kRowEod;
        eolPending = 1;
        return kRowEol;
    default:
        return kRowStop;
    }
}

// The mode codes of a two-dimensional row, on Decode2DRow's locals.
[[gnu::always_inline]] inline RowStatus Codes2D(Reader& r, const Ctx& c, RowRuns& w, const int32_t* ref,
                                                int& eolPending)
{
    const int32_t* b = ref;
    const int rowPixels = c.rowPixels;
    while (w.a0 < rowPixels && w.wp == w.start) {
        const RowStatus st = Step2D<true, true>(r, c, w, ref, b, eolPending);
        if (st != kRowDone)
            return st;
    }
    if (!Crowded(w)) {
        while (w.a0 < rowPixels) {
            const RowStatus st = Step2D<false, false>(r, c, w, ref, b, eolPending);
            if (st == kRowCrowded)
                break;
            if (st != kRowDone)
                return st;
        }
    }
    while (w.a0 < rowPixels) {
        const RowStatus st = Step2D<false, true>(r, c, w, ref, b, eolPending);
        if (st != kRowDone)
            return st;
    }
    return kRowDone;
}

// A two-dimensional row: mode codes until a0 reaches the row width. As in
// Decode1DRow, the reader and the list are copied to locals that nothing else
// can reach, so that they stay in registers instead of making a round trip
// through memory for every code.
[[gnu::always_inline]] inline RowStatus Decode2DRow(Reader& reader, const Ctx& c, RowRuns& runs, const int32_t* ref,
                                                    int& eolPending)
{
    Reader r = reader;
    RowRuns w = runs;
    int eol = eolPending;
    const RowStatus st = Codes2D(r, c, w, ref, eol);
    reader = r;
    runs = w;
    eolPending = eol;
    return st;
}

// Skips to the next EOL (unless one was just consumed), then past its fill and
// final 1 bit. Bits other than fill skipped on the way (no EOL where one is
// due) leave eolPending -1 (for the row's damage test) instead of 0.
[[gnu::always_inline]] inline RowStatus SyncEol(Reader& r, const Ctx& c, int& eolPending)
{
    if (!eolPending) {
        for (;;) {
            if (!Need(r, 11, c))
                return kRowEod;
            const unsigned low = static_cast<unsigned>(r.acc) & 0x7FFu;
            if (low == 0)
                break;
            // No run of eleven zeros can start at or below the highest 1 bit.
            Consume(r, 32 - __builtin_clz(low));
            eolPending = -1;
        }
    }
    for (;;) {
        if (!Need(r, 8, c))
            return kRowEod;
        if (r.acc & 0xFF)
            break;
        Consume(r, 8);
    }
    Consume(r, __builtin_ctzll(r.acc) + 1);
    eolPending = eolPending < 0 ? -1 : 0;
    return kRowDone;
}

template <Variant V, void (*Fill)(uint8_t*, const int32_t*, const int32_t*, int, int, uint64_t*)>
[[gnu::always_inline]] inline int DecodeRowsBody(TifCodec* codec, void* rows, int count)
{
    TifFaxDecoderState* s = FaxState(codec);
    if (count <= 0 || rows == nullptr)
        return 0;
    if (s->rawBlock) {  // the strip's first block, turned only now that it is decoded
        if (s->bitMap == kMsbFirstMap)
            ToLsbFirst(s->header.cursor, s->header.available);
        s->rawBlock = 0;
    }
    uint64_t* const toggleWords = s->toggleWords;
    const Ctx c{s, s->bitMap == kMsbFirstMap, s->rowPixels, toggleWords};
    Reader r{s->bitAcc, s->bitCount, s->header.cursor, s->header.available, 0, s->bitPad};
    int eolPending = s->eolPending;
    int32_t* cur = s->curRuns;
    int32_t* ref = s->refRuns;
    const int rowBytes = s->header.rowBytes;
    // A read that threw in the middle of a row left its toggles behind.
    if (s->togglesDirty)
        std::memset(toggleWords, 0, ToggleWordCount(c.rowPixels) * sizeof(uint64_t));
    s->togglesDirty = 1;
    const long step = TifRowStep(&s->header);
    auto* row = static_cast<uint8_t*>(rows);

    int done = 0;
    for (; done < count; ++done, row += step) {
        // Only the zero bits added after the end are left: no row starts here.
        if (r.pad > 0 && r.n <= r.pad && r.avail == 0)
            break;
        RowRuns w{cur, cur, cur + c.rowPixels + kEmitSlack, 0, toggleWords};
        const Reader start = r;
        RowStatus st;
        if constexpr (V == kMH) {
            st = Decode1DRow<true>(r, c, w, eolPending);
        } else if constexpr (V == kG3_1D) {
            st = SyncEol(r, c, eolPending);
            if (st == kRowDone)
                st = Decode1DRow<true>(r, c, w, eolPending);
        } else if constexpr (V == kG3_2D) {
            st = SyncEol(r, c, eolPending);
            if (st == kRowDone)
                st = Need(r, 1, c) ? kRowDone : kRowEod;
            if (st == kRowDone) {
                const bool oneD = r.acc & 1;
                Consume(r, 1);
                st = oneD ? Decode1DRow<false>(r, c, w, eolPending) : Decode2DRow(r, c, w, ref, eolPending);
            }
        } else {
            st = Decode2DRow(r, c, w, ref, eolPending);
        }
        int32_t* end = FinishRow(w, c.rowPixels);
        Fill(row, cur, end, c.rowPixels, rowBytes, toggleWords);
        // A row that stops where it began (an invalid code at the very start
        // of a Modified Huffman or Group 4 row, which no EOL search moves
        // past) would repeat for every row asked for: the data ends there.
        // Group 3 rows resynchronise on the next EOL, so they always move on.
        constexpr bool kEols = V == kG3_1D || V == kG3_2D;
        if (__builtin_expect(st != kRowDone || w.a0 != c.rowPixels || (kEols && eolPending < 0), 0)) {
            eolPending = eolPending < 0 ? 0 : eolPending;
            if (st == kRowEod || ((V == kMH || V == kG4) && st == kRowStop && SamePlace(start, r))) {
                if (st == kRowStop)
                    TifNoteBadData(&s->header);
                break;  // painted, but not counted
            }
            // Delivered as decoded, but noted: an invalid code, an EOL inside
            // the row, runs short of the width or past it, no EOL before it.
            TifNoteDamagedRow(&s->header, done);
        }
        if (V == kG3_2D || V == kG4) {
            for (int i = 0; i < kGuardEntries; ++i)
                end[i] = c.rowPixels;
            int32_t* t = cur;
            cur = ref;
            ref = t;
        }
        if (V == kMH)  // the next row starts on a byte boundary of the data
            Consume(r, (r.n - (r.pad < r.n ? r.pad : r.n)) & 7);
    }

    s->header.cursor = const_cast<unsigned char*>(r.cur);
    s->header.available = r.avail;
    s->bitAcc = r.acc;
    s->bitCount = r.n;
    s->bitPad = r.pad;
    s->eolPending = eolPending;
    s->curRuns = cur;
    s->refRuns = ref;
    s->togglesDirty = 0;
    return done;
}

template <Variant V>
int DecodeRows(TifCodec* codec, void* rows, int count)
{
    return DecodeRowsBody<V, FillRuns>(codec, rows, count);
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
// The same for processors with BMI2 and AVX2, chosen at run time: BMI2's
// shifts by a register count (the bit reader's, every colour change's toggle
// mask) take fewer instructions, and AVX2 turns four toggle words at a time.
template <Variant V>
[[gnu::target("bmi,bmi2")]] int DecodeRowsBmi2(TifCodec* codec, void* rows, int count)
{
    return DecodeRowsBody<V, FillRunsAvx2>(codec, rows, count);
}

// Whether the processor has BMI2 and AVX2 and the system saves the AVX
// registers. Asked here rather than through __builtin_cpu_supports, whose
// start-up routine asks the processor a dozen questions in every program
// linking the library, decoding or not: each CPUID is a trap to the
// hypervisor on a virtual machine, some 10 µs, more than a command that copies
// a page spends on the page.
bool HasBmi2Avx2()
{
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_OSXSAVE) || !(c & bit_AVX))
        return false;
    unsigned lo = 0, hi = 0;
    __asm__("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    return (lo & 6) == 6 && __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & bit_BMI2) && (b & bit_AVX2);
}

// The first call of a decoder picks its variant, once for the process: a
// decoder that decodes nothing (a page opened to copy its strips) asks nothing.
template <Variant V>
int DecodeRowsFirst(TifCodec* codec, void* rows, int count)
{
    static const bool bmi2Avx2 = HasBmi2Avx2();
    codec->DecodeRows = bmi2Avx2 ? DecodeRowsBmi2<V> : DecodeRows<V>;
    return codec->DecodeRows(codec, rows, count);
}

template <Variant V>
TifRowsProc PickDecodeRows()
{
    return DecodeRowsFirst<V>;
}
#else
template <Variant V>
TifRowsProc PickDecodeRows()
{
    return DecodeRows<V>;
}
#endif

// ---------------------------------------------------------------- slots

// An all-white reference row: one white run ending at rowPixels, and the guards.
void ResetReference(int32_t* ref, int rowPixels)
{
    for (int i = 0; i <= kGuardEntries; ++i)
        ref[i] = rowPixels;
}

// One block of `arrays` run arrays of `capacity` entries, each preceded by its
// fixed 0 entry; the second (if any) set up as an all-white reference row.
int32_t* NewRunArrays(int capacity, int arrays, int rowPixels)
{
    const int64_t entries = TifCheckedSize(int64_t(capacity) + 1, arrays);
    if (entries <= 0 || TifCheckedSize(entries, sizeof(int32_t)) < 0)
        return nullptr;
    auto* block = static_cast<int32_t*>(std::calloc(static_cast<size_t>(entries), sizeof(int32_t)));
    if (block != nullptr && arrays == 2)
        ResetReference(block + capacity + 2, rowPixels);
    return block;
}

void UseRunArrays(TifFaxDecoderState* s, int32_t* block, int arrays)
{
    s->runArrays = block;
    s->curRuns = block + 1;
    s->refRuns = arrays == 2 ? block + s->runCapacity + 2 : nullptr;
}

int FaxSetParam(TifCodec* codec, int tag, int value)
{
    TifFaxDecoderState* s = FaxState(codec);
    if (tag == TIF_TAG_FILLORDER) {
        const uint8_t* map = value == 1 ? kMsbFirstMap : kLsbFirstMap;
        // Bytes still in the buffer take the new order; turning them twice
        // brings them back. Bytes not yet turned are turned by the map in use.
        if (map != s->bitMap && s->header.available > 0 && !s->rawBlock)
            ToLsbFirst(s->header.cursor, s->header.available);
        s->bitMap = map;
        return 1;
    }
    if (tag != TIF_TAG_T4OPTIONS || s->header.compression != 3)
        return 0;
    const bool twoD = (value & T4OPT_2D) != 0;
    if (twoD != ((s->options & T4OPT_2D) != 0)) {
        const int arrays = twoD ? 2 : 1;
        int32_t* block = NewRunArrays(s->runCapacity, arrays, s->rowPixels);
        if (block == nullptr)
            return 0;
        std::free(s->runArrays);
        UseRunArrays(s, block, arrays);
        codec->DecodeRows = twoD ? PickDecodeRows<kG3_2D>() : PickDecodeRows<kG3_1D>();
    }
    s->options = value;
    return 1;
}

int FaxBeginStrip(TifCodec* codec)
{
    TifFaxDecoderState* s = FaxState(codec);
    // Reset before the read, which may throw: no bit of the last strip survives.
    s->header.cursor = s->header.buffer;
    s->header.available = 0;
    s->bitAcc = 0;
    s->bitCount = 0;
    s->bitPad = 0;
    s->eolPending = 0;
    if (s->refRuns != nullptr)
        ResetReference(s->refRuns, s->rowPixels);
    TifCodecState* h = &s->header;
    const int first = h->bufferSize < kFirstBlock ? h->bufferSize : kFirstBlock;
    const int got = h->ioProc(h->buffer, first, h->ioContext);
    h->available = got < 0 ? 0 : got > first ? first : got;
    s->rawBlock = 1;  // turned by the first decoding: a strip opened to be copied needs no turning
    return 1;
}

}  // namespace

void TifFaxDecoderRelease(TifCodec* codec)
{
    TifFaxDecoderState* s = FaxState(codec);
    if (s != nullptr) {
        std::free(s->runArrays);
        s->runArrays = s->curRuns = s->refRuns = nullptr;
        std::free(s->toggleWords);
        s->toggleWords = nullptr;
    }
}

TifCodec* TifNewFaxDecoder(const TifCodecParams* params)
{
    if (params == nullptr)
        return nullptr;
    const int compression = params->compression;
    if (compression != 2 && compression != 3 && compression != 4)
        return nullptr;
    // Every bit of a row is one pixel. The run arrays grow with the row; both
    // arrays must fit the allocation limit, since Compression 3 may switch to
    // two of them.
    const int64_t rowBytes = TifRowBytes(params->width, params->samplesPerPixel, params->bitsPerSample);
    if (rowBytes < 0)
        return nullptr;
    const int64_t rowPixels = int64_t(params->width) * params->samplesPerPixel * params->bitsPerSample;
    const int64_t capacity = rowPixels + kArraySlack;
    if (TifCheckedSize(TifCheckedSize(capacity, 2), sizeof(int32_t)) < 0 || capacity > INT_MAX)
        return nullptr;

    TifCodec* codec = TifNewDecoderBase(params, sizeof(TifFaxDecoderState));
    if (codec == nullptr)
        return nullptr;
    TifFaxDecoderState* s = FaxState(codec);
    s->rowPixels = static_cast<int32_t>(rowPixels);
    s->options = 0;
    s->runCapacity = static_cast<int32_t>(capacity);
    const int arrays = compression == 4 ? 2 : 1;
    int32_t* block = NewRunArrays(s->runCapacity, arrays, s->rowPixels);
    if (block == nullptr) {
        TifCodecDestroy(codec);
        return nullptr;
    }
    UseRunArrays(s, block, arrays);
    s->toggleWords = static_cast<uint64_t*>(std::calloc(ToggleWordCount(rowPixels), sizeof(uint64_t)));
    if (s->toggleWords == nullptr) {
        TifFaxDecoderRelease(codec);
        TifCodecDestroy(codec);
        return nullptr;
    }
    s->bitMap = kMsbFirstMap;

    codec->Destroy = TifFaxDestroy;
    codec->SetParam = FaxSetParam;
    codec->BeginStrip = FaxBeginStrip;
    switch (compression) {
    case 2:
        codec->DecodeRows = PickDecodeRows<kMH>();
        s->framing = FAX_FRAMING_BYTEALIGN;
        break;
    case 3:
        codec->DecodeRows = PickDecodeRows<kG3_1D>();
        s->framing = FAX_FRAMING_EOL;
        break;
    default:
        codec->DecodeRows = PickDecodeRows<kG4>();
        s->framing = 0;
        break;
    }
    return codec;
}
