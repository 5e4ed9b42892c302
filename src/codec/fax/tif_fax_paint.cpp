// tif_fax_paint.cpp — painting a decoded row: completing its run list
// (FinishRow) and turning the toggle words its positions flipped into the
// caller's pixels, in plain code (FillRuns) and, for processors with AVX2,
// four words at a time (FillRunsAvx2, picked at run time with the row loops).
//
// Hostile data: a finished list rises to exactly rowPixels whatever the codes
// were, so painting writes rowBytes bytes and no more, and reads only the
// toggle words of the row, which it leaves zero for the next.
#include "codec/fax/tif_fax_decode_internal.h"

#if TIF_GNU_X86_64
#include <immintrin.h>
#endif

namespace tif_fax_decode {

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

namespace {

// Turns toggle word k into pixels of the row (the word left zero) and moves
// the carried colour past it.
[[gnu::always_inline]] inline void TurnWord(uint8_t* row, uint64_t* words, int k, uint64_t& carry)
{
    const uint64_t t = words[k];
    const uint64_t v = t ^ carry;
    words[k] = 0;
    carry ^= 0 - (t & 1);
    const uint64_t out = kTifLittleEndian ? TifByteSwap64(v) : v;
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

}  // namespace

[[gnu::noinline]] void FillRuns(uint8_t* row, const int32_t* runs, const int32_t* end, int rowPixels,
                                int rowBytes, uint64_t* words)
{
    FillRunsBody<nullptr>(row, runs, end, rowPixels, rowBytes, words);
}

#if TIF_GNU_X86_64
namespace {

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

}  // namespace

[[gnu::noinline, gnu::target("avx2")]] void FillRunsAvx2(uint8_t* row, const int32_t* runs, const int32_t* end,
                                                         int rowPixels, int rowBytes, uint64_t* words)
{
    FillRunsBody<TurnWordsAvx2>(row, runs, end, rowPixels, rowBytes, words);
}
#endif

}  // namespace tif_fax_decode
