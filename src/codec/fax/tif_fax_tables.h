// tif_fax_tables.h — the constant lookup tables of the fax decoder, built at
// compile time from the T.4 code list.
//
// A table of n bits is indexed by the next n bits of the stream with the first
// of them in bit 0. The entry of a code of L bits stands at every index whose
// low L bits spell the code in stream order, so one lookup identifies a code
// word, its length and its meaning.
#pragma once

#include <cstdint>

#include "codec/fax/tif_fax_codes.h"

struct TifFaxEntry {
    uint8_t kind;      // TifFaxKind
    uint8_t codeBits;  // bits consumed after the lookup; 0 for invalid entries
    uint16_t param;    // run length, or the offset of a vertical code
};

template <int Bits>
struct TifFaxLookup {
    static constexpr int kSize = 1 << Bits;
    static constexpr unsigned kMask = kSize - 1;
    TifFaxEntry entry[kSize];
};

namespace tif_fax_detail {

constexpr unsigned ReverseBits(unsigned code, int length)
{
    unsigned r = 0;
    for (int i = 0; i < length; ++i)
        r |= ((code >> i) & 1u) << (length - 1 - i);
    return r;
}

// Colour tables hold the terminating and make-up codes of one colour plus the
// common extended make-up codes; the mode table holds the 2D mode codes.
constexpr bool InTable(int table, unsigned char kind)
{
    switch (table) {
    case 0: return kind == TIF_FAX_WHITE_TERM || kind == TIF_FAX_WHITE_MAKEUP || kind == TIF_FAX_EXT_MAKEUP;
    case 1: return kind == TIF_FAX_BLACK_TERM || kind == TIF_FAX_BLACK_MAKEUP || kind == TIF_FAX_EXT_MAKEUP;
    default: return kind >= TIF_FAX_PASS && kind <= TIF_FAX_EXTENSION;
    }
}

// Builds a table; `ok` turns false if two code words claim one index (the list
// would not be prefix-free) or a code is longer than the index.
template <int Bits>
struct Built {
    TifFaxLookup<Bits> table;
    bool ok;
};

//
// A first-level table (Full false) leaves out the codes longer than its index
// and the EOL: their entries stay invalid (codeBits 0), which sends the
// decoder on to the full table.
template <int Bits, bool Full = true>
constexpr Built<Bits> Build(int which)
{
    Built<Bits> b{};
    b.ok = true;
    for (const TifFaxCode& c : TifFaxCodes) {
        if (!InTable(which, c.kind))
            continue;
        if (c.length > Bits) {
            b.ok = b.ok && !Full;
            continue;
        }
        const unsigned low = ReverseBits(c.code, c.length);
        for (unsigned high = 0; high < (1u << (Bits - c.length)); ++high) {
            TifFaxEntry& e = b.table.entry[low | (high << c.length)];
            if (e.codeBits != 0)
                b.ok = false;
            e = TifFaxEntry{c.kind, c.length, c.param};
        }
    }
    // EOL: recognised by its leading zeros alone (eleven in the colour tables,
    // seven in the mode table); fill and the final 1 bit stay in the stream.
    const int zeros = which == 2 ? 7 : 11;
    for (unsigned i = 0; Full && i < (1u << Bits); i += 1u << zeros) {
        if (b.table.entry[i].codeBits != 0)
            b.ok = false;
        b.table.entry[i] = TifFaxEntry{TIF_FAX_EOL, static_cast<uint8_t>(zeros), 0};
    }
    return b;
}

constexpr Built<12> kWhite = Build<12>(0);
constexpr Built<13> kBlack = Build<13>(1);
constexpr Built<7> kMode = Build<7>(2);
constexpr Built<13> kWhite13 = Build<13>(0);
static_assert(kWhite.ok && kBlack.ok && kMode.ok && kWhite13.ok, "T.4 code list is not prefix-free");

// First-level colour tables: every white code but the extended make-ups and
// every black run up to 15 fit in 9 bits.
constexpr int kShortBits = 9;
constexpr Built<kShortBits> kWhiteShort = Build<kShortBits, false>(0);
constexpr Built<kShortBits> kBlackShort = Build<kShortBits, false>(1);
static_assert(kWhiteShort.ok && kBlackShort.ok, "T.4 code list is not prefix-free");

// A white terminating code followed by a black one, both within kPairBits
// bits: the commonest pair of a one-dimensional row (text, thin lines) in one
// lookup instead of two that follow each other. codeBits 0: no such pair.
constexpr int kPairBits = 12;

struct PairEntry {
    uint8_t codeBits;  // bits of both codes
    uint8_t white;     // the runs, 0..63
    uint8_t black;
    uint8_t unused;
};

struct PairTable {
    PairEntry entry[1 << kPairBits];
};

// A black entry found from only the bits after the white code (the rest read
// as 0) is that code's when it is no longer than those bits: the codes are
// prefix-free, so the unknown bits cannot change it.
constexpr PairTable BuildPairs(const TifFaxLookup<kShortBits>& white, const TifFaxLookup<kShortBits>& black)
{
    PairTable t{};
    for (unsigned i = 0; i < (1u << kPairBits); ++i) {
        const TifFaxEntry w = white.entry[i & TifFaxLookup<kShortBits>::kMask];
        if (w.kind != TIF_FAX_WHITE_TERM || w.codeBits == 0)
            continue;
        const TifFaxEntry b = black.entry[(i >> w.codeBits) & TifFaxLookup<kShortBits>::kMask];
        if (b.kind != TIF_FAX_BLACK_TERM || b.codeBits == 0 || b.codeBits > kPairBits - w.codeBits)
            continue;
        t.entry[i] = PairEntry{static_cast<uint8_t>(w.codeBits + b.codeBits), static_cast<uint8_t>(w.param),
                               static_cast<uint8_t>(b.param), 0};
    }
    return t;
}

struct RunTables {
    TifFaxLookup<13> colour[2];
};

struct ShortRunTables {
    TifFaxLookup<kShortBits> colour[2];
};

// The mode table with VRk and VLk also as a signed offset from b1 and the
// step that brings b1's pointer to the entry where the next search starts
// (right past b1, or back before it for VLk, whose a1 may lie left of it).
struct ModeStep {
    uint8_t kind;  // TifFaxKind
    uint8_t codeBits;
    int8_t offset;
    int8_t step;
};

struct ModeSteps {
    ModeStep entry[1 << 7];
};

constexpr ModeSteps BuildModeSteps(const TifFaxLookup<7>& mode)
{
    ModeSteps m{};
    for (int i = 0; i < (1 << 7); ++i) {
        const TifFaxEntry& e = mode.entry[i];
        const bool left = e.kind == TIF_FAX_VL;
        const bool vertical = left || e.kind == TIF_FAX_VR;
        m.entry[i] = ModeStep{e.kind, e.codeBits, static_cast<int8_t>(!vertical ? 0 : left ? -e.param : e.param),
                              static_cast<int8_t>(!vertical ? 0 : left ? -1 : 1)};
    }
    return m;
}

struct BitRev {
    uint8_t b[512];
};

constexpr BitRev BuildBitRev()
{
    BitRev t{};
    for (unsigned i = 0; i < 256; ++i) {
        t.b[i] = static_cast<uint8_t>(ReverseBits(i, 8));
        t.b[256 + i] = static_cast<uint8_t>(i);
    }
    return t;
}

}  // namespace tif_fax_detail

inline constexpr TifFaxLookup<12> TifFaxWhiteTable = tif_fax_detail::kWhite.table;
inline constexpr TifFaxLookup<13> TifFaxBlackTable = tif_fax_detail::kBlack.table;
inline constexpr TifFaxLookup<7> TifFaxModeTable = tif_fax_detail::kMode.table;

// Both colour tables indexed by 13 bits, white then black: in horizontal mode
// the colour follows from the data, and picks its table by an offset.
inline constexpr tif_fax_detail::RunTables TifFaxRunTables{{tif_fax_detail::kWhite13.table, tif_fax_detail::kBlack.table}};

// The same in kShortBits bits, white then black, for a first lookup that
// stays in a few cache lines: an entry with codeBits 0 (a longer code, an EOL
// or no code) is looked up again in TifFaxRunTables.
inline constexpr tif_fax_detail::ShortRunTables TifFaxShortRunTables{
    {tif_fax_detail::kWhiteShort.table, tif_fax_detail::kBlackShort.table}};
inline constexpr int TifFaxShortBits = tif_fax_detail::kShortBits;

// White and black terminating codes in pairs (see BuildPairs).
inline constexpr tif_fax_detail::PairTable TifFaxPairTable =
    tif_fax_detail::BuildPairs(tif_fax_detail::kWhiteShort.table, tif_fax_detail::kBlackShort.table);
inline constexpr int TifFaxPairBits = tif_fax_detail::kPairBits;

// TifFaxModeTable with the offsets and steps of VRk and VLk, for one path through both.
inline constexpr tif_fax_detail::ModeSteps TifFaxModeSteps = tif_fax_detail::BuildModeSteps(TifFaxModeTable);

// Entry b is b with its bits reversed, entry 256 + b is b itself: FillOrder 1
// reads the first half so that a byte's most significant bit comes first.
inline constexpr tif_fax_detail::BitRev TifFaxBitRevTable = tif_fax_detail::BuildBitRev();
