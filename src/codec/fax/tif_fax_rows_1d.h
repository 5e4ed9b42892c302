// tif_fax_rows_1d.h — the one-dimensional codes of a fax row: the white and
// black runs of Modified Huffman and Group 3 1D rows (make-up codes, then a
// terminating code, looked up in the tables of tif_fax_tables.h), the runs of
// horizontal mode in 2D rows, and the search for the EOL that opens each
// Group 3 row. Inline: each row loop of tif_fax_decode_rows.cpp takes them
// in whole.
//
// Hostile data: a row stops at the run list's limit, at a make-up code that
// would carry it past its width, at an invalid code or at the end of the
// data; the EOL search consumes bits on every step, so it ends with the data.
#pragma once

#include "codec/fax/tif_fax_decode_internal.h"

namespace tif_fax_decode {

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
        if (TIF_UNLIKELY(!IsTerminating(e.kind))) {
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
        if (TIF_UNLIKELY(e.kind != kTerm)) {
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
            Consume(r, 32 - TifCountLeadingZeros32(low));
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
    Consume(r, TifCountTrailingZeros64(r.acc) + 1);
    eolPending = eolPending < 0 ? -1 : 0;
    return kRowDone;
}

}  // namespace tif_fax_decode
