// tif_fax_encode_tables.h — the constant tables of the fax encoder: run-length
// and mode code words built at compile time from the same T.4 code list as the
// decoder's lookup tables, and the leading-bits tables that measure spans.
#pragma once

#include <cstdint>

#include "codec/fax/tif_fax_codes.h"

struct TifFaxCodeWord {
    uint16_t codeLength;  // bits
    uint16_t codeWord;    // right-aligned, first transmitted bit most significant
    uint16_t runLength;
};

// Entry r (0..63): the terminating code of run r; entry 63 + n (n = 1..40): the
// make-up code of 64 × n (from 1792 on the extended codes common to both colours).
constexpr int TIF_FAX_RUN_CODES = 104;
constexpr int TIF_FAX_MAKEUP_2560 = 103;

struct TifFaxRunCodes {
    TifFaxCodeWord entry[TIF_FAX_RUN_CODES];
};

struct TifFaxModeCodes {
    TifFaxCodeWord pass;
    TifFaxCodeWord horizontal;
    TifFaxCodeWord vertical[7];  // indexed by b1 − a1 + 3: VR3 .. V0 .. VL3
    TifFaxCodeWord eol;
};

namespace tif_fax_detail {

constexpr TifFaxCodeWord Word(const TifFaxCode& c)
{
    return TifFaxCodeWord{c.length, c.code, c.param};
}

// The entry a code of one colour's list belongs at, or -1.
constexpr int RunIndex(bool black, const TifFaxCode& c)
{
    const unsigned char term = black ? TIF_FAX_BLACK_TERM : TIF_FAX_WHITE_TERM;
    const unsigned char makeUp = black ? TIF_FAX_BLACK_MAKEUP : TIF_FAX_WHITE_MAKEUP;
    if (c.kind == term)
        return c.param < 64 ? c.param : TIF_FAX_RUN_CODES;
    if (c.kind == makeUp || c.kind == TIF_FAX_EXT_MAKEUP)
        return c.param % 64 == 0 ? 63 + c.param / 64 : TIF_FAX_RUN_CODES;
    return -1;
}

struct BuiltRunCodes {
    TifFaxRunCodes table;
    bool ok;  // every entry present once, with the run its index stands for
};

constexpr BuiltRunCodes BuildRunCodes(bool black)
{
    BuiltRunCodes b{};
    b.ok = true;
    for (const TifFaxCode& c : TifFaxCodes) {
        const int i = RunIndex(black, c);
        if (i < 0)
            continue;
        if (i >= TIF_FAX_RUN_CODES || b.table.entry[i].codeLength != 0) {
            b.ok = false;
            continue;
        }
        b.table.entry[i] = Word(c);
    }
    for (int i = 0; i < TIF_FAX_RUN_CODES; ++i) {
        const TifFaxCodeWord& e = b.table.entry[i];
        if (e.codeLength == 0 || e.codeLength > 13 || e.runLength != (i < 64 ? i : (i - 63) * 64))
            b.ok = false;
    }
    return b;
}

struct BuiltModeCodes {
    TifFaxModeCodes table;
    bool ok;
};

constexpr BuiltModeCodes BuildModeCodes()
{
    BuiltModeCodes b{};
    int found = 0;
    for (const TifFaxCode& c : TifFaxCodes) {
        switch (c.kind) {
        case TIF_FAX_PASS: b.table.pass = Word(c); ++found; break;
        case TIF_FAX_HORIZONTAL: b.table.horizontal = Word(c); ++found; break;
        case TIF_FAX_V0: b.table.vertical[3] = Word(c); ++found; break;
        case TIF_FAX_VR: b.table.vertical[3 - c.param] = Word(c); ++found; break;  // a1 right of b1
        case TIF_FAX_VL: b.table.vertical[3 + c.param] = Word(c); ++found; break;
        case TIF_FAX_EOL: b.table.eol = Word(c); ++found; break;
        default: break;
        }
    }
    b.ok = found == 10 && b.table.eol.codeLength == 12 && b.table.eol.codeWord == 1;
    for (const TifFaxCodeWord& v : b.table.vertical)
        b.ok = b.ok && v.codeLength != 0;
    return b;
}

constexpr BuiltRunCodes kWhiteCodes = BuildRunCodes(false);
constexpr BuiltRunCodes kBlackCodes = BuildRunCodes(true);
constexpr BuiltModeCodes kModeCodes = BuildModeCodes();
static_assert(kWhiteCodes.ok && kBlackCodes.ok && kModeCodes.ok, "T.4 code list incomplete for the encoder");

struct LeadingBits {
    uint8_t n[256];
};

// Leading `bit`s of every byte value, counted from bit 7.
constexpr LeadingBits BuildLeading(unsigned bit)
{
    LeadingBits t{};
    for (unsigned v = 0; v < 256; ++v) {
        uint8_t k = 0;
        while (k < 8 && ((v >> (7 - k)) & 1u) == bit)
            ++k;
        t.n[v] = k;
    }
    return t;
}

}  // namespace tif_fax_detail

// Every run under 2624 as one code: its make-up code (none under 64) followed
// by its terminating code, at most 25 bits, left-aligned in bits 31 down to 7;
// bits 4..0 hold the length. White runs first, then black:
// code[colour × TIF_FAX_JOINED_RUNS + run].
constexpr int TIF_FAX_JOINED_RUNS = 2624;

struct TifFaxJoinedCodes {
    uint32_t code[2 * TIF_FAX_JOINED_RUNS];
};

namespace tif_fax_detail {

constexpr uint32_t Joined(const TifFaxRunCodes& t, int run)
{
    const TifFaxCodeWord& e = t.entry[run & 63];
    uint32_t bits = e.codeWord;
    uint32_t length = e.codeLength;
    if (run >= 64) {
        const TifFaxCodeWord& m = t.entry[63 + (run >> 6)];
        bits |= uint32_t(m.codeWord) << e.codeLength;
        length += m.codeLength;
    }
    return length > 25 ? 0 : bits << (32 - length) | length;
}

constexpr TifFaxJoinedCodes BuildJoinedCodes(const TifFaxRunCodes& white, const TifFaxRunCodes& black)
{
    TifFaxJoinedCodes j{};
    for (int run = 0; run < TIF_FAX_JOINED_RUNS; ++run) {
        j.code[run] = Joined(white, run);
        j.code[TIF_FAX_JOINED_RUNS + run] = Joined(black, run);
    }
    return j;
}

constexpr bool JoinedFit(const TifFaxJoinedCodes& j)
{
    for (uint32_t c : j.code)
        if (c == 0)
            return false;
    return true;
}

}  // namespace tif_fax_detail

inline constexpr TifFaxRunCodes TifFaxWhiteCodes = tif_fax_detail::kWhiteCodes.table;
inline constexpr TifFaxRunCodes TifFaxBlackCodes = tif_fax_detail::kBlackCodes.table;
inline constexpr TifFaxModeCodes TifFaxModeCodeWords = tif_fax_detail::kModeCodes.table;

inline constexpr tif_fax_detail::LeadingBits TifFaxLeadingZeros = tif_fax_detail::BuildLeading(0);
inline constexpr tif_fax_detail::LeadingBits TifFaxLeadingOnes = tif_fax_detail::BuildLeading(1);

inline constexpr TifFaxJoinedCodes TifFaxJoinedRunCodes = tif_fax_detail::BuildJoinedCodes(TifFaxWhiteCodes, TifFaxBlackCodes);
static_assert(tif_fax_detail::JoinedFit(TifFaxJoinedRunCodes), "a joined run code longer than 25 bits");
