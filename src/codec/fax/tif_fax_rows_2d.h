// tif_fax_rows_2d.h — the two-dimensional codes of a fax row (Group 3 2D and
// Group 4): pass, horizontal and vertical modes against the reference row.
// Inline: each row loop of tif_fax_decode_rows.cpp takes them in whole.
//
// Hostile data: reference reads stay inside the finished reference list and
// its guard entries; a vertical code left of a0 or before the row start, an
// invalid code, an extension (uncompressed mode) or the end of the data stops
// the row; the run list's limit is checked whenever a code could reach it.
#pragma once

#include "codec/fax/tif_fax_rows_1d.h"

namespace tif_fax_decode {

// Whether a mode code is VRk or VLk.
constexpr bool IsSideways(unsigned kind)
{
    return kind - TIF_FAX_VR <= TIF_FAX_VL - TIF_FAX_VR;
}
static_assert(TIF_FAX_VL == TIF_FAX_VR + 1, "VRk and VLk are contiguous");

// Horizontal mode, its code consumed: two runs of the colours that follow
// from the list's parity, then b1 moved on. The caller tests Crowded after.
[[gnu::always_inline]] inline RowStatus Horizontal2D(Reader& r, const Ctx& c, RowRuns& w, const int32_t*& b)
{
    // The colour of the run in progress follows from the list's parity;
    // choosing the tables by it avoids an unpredictable branch.
    const size_t black = static_cast<size_t>(w.wp - w.start) & 1;
    RowStatus st = TableRun(r, c, w, black);
    if (st == kRowDone)
        st = TableRun(r, c, w, black ^ 1);
    if (st != kRowDone)
        return st == kRowEod ? kRowEod : kRowStop;  // an EOL inside a run is invalid
    if (w.a0 < c.rowPixels)
        while (*b <= w.a0)
            b += 2;
    return kRowDone;
}

// The rarer codes of Step2D, their code consumed and b1 found: VRk, VLk (also
// those whose a1 does not lie right of a0, and all of them in a row's first
// code), pass, extension and EOL.
template <bool Checked>
[[gnu::always_inline]] inline RowStatus Rare2D(Reader& r, const Ctx& c, RowRuns& w, const int32_t* ref,
                                               const int32_t*& b, int& eolPending, const tif_fax_detail::ModeStep e)
{
    const int rowPixels = c.rowPixels;
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
        if (TIF_LIKELY(a1 > w.a0)) {
            Consume(r, e.codeBits);
            w.a0 = a1;
            Emit(w, a1);
            b += e.step;
            return kRowDone;
        }
    }
    Consume(r, e.codeBits);
    if (e.kind == TIF_FAX_HORIZONTAL) {
        const RowStatus st = Horizontal2D(r, c, w, b);
        if (st != kRowDone)
            return st;
        return !Checked && Crowded(w) ? kRowCrowded : kRowDone;
    }
    if (!Empty)
        while (*b <= w.a0)
            b += 2;
    return Rare2D<Checked>(r, c, w, ref, b, eolPending, e);
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

}  // namespace tif_fax_decode
