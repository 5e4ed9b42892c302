// tif_fax_decode_rows.cpp — the row loops of the fax decoder, one per variant
// (Modified Huffman, Group 3 1D, Group 3 2D, Group 4): each row decoded into a
// run list (tif_fax_rows_1d.h, tif_fax_rows_2d.h), finished and painted
// (tif_fax_paint.cpp), the list then serving as the next row's reference.
// Each loop is built twice on x86-64: in plain code and for processors with
// BMI2 and AVX2; tif_fax_decode.cpp picks one at run time.
//
// Hostile data: rows are painted in whole whatever their codes; a damaged row
// is delivered and noted, and a call ends at the end of the data or where a
// row that cannot resynchronise (Modified Huffman, Group 4) stops without
// consuming a bit, so it takes time proportional to its data and row count.
#include "codec/fax/tif_fax_decode_internal.h"
#include "codec/fax/tif_fax_rows_2d.h"
#include "codec/tif_codec.h"

namespace tif_fax_decode {
namespace {

// The codes of one row of variant V, from its framing on.
template <Variant V>
[[gnu::always_inline]] inline RowStatus DecodeRow(Reader& r, const Ctx& c, RowRuns& w, const int32_t* ref,
                                                  int& eolPending)
{
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
    return st;
}

// A row that did not end cleanly (status st, the reader at `start` before it
// and at r after it): true when the call ends with it, the row painted but
// not counted; else the row is delivered as decoded, but noted.
template <Variant V>
[[gnu::always_inline]] inline bool EndsCall(TifFaxDecoderState* s, RowStatus st, const Reader& start, const Reader& r,
                                            int& eolPending, int done)
{
    eolPending = eolPending < 0 ? 0 : eolPending;
    // A row that stops where it began (an invalid code at the very start
    // of a Modified Huffman or Group 4 row, which no EOL search moves
    // past) would repeat for every row asked for: the data ends there.
    // Group 3 rows resynchronise on the next EOL, so they always move on.
    if (st == kRowEod || ((V == kMH || V == kG4) && st == kRowStop && SamePlace(start, r))) {
        if (st == kRowStop)
            TifNoteBadData(&s->header);
        return true;
    }
    // An invalid code, an EOL inside the row, runs short of the width or past
    // it, no EOL before it.
    TifNoteDamagedRow(&s->header, done);
    return false;
}

// Puts the locals of a call back into the decoder's state.
[[gnu::always_inline]] inline void SaveState(TifFaxDecoderState* s, const Reader& r, int eolPending, int32_t* cur,
                                             int32_t* ref)
{
    s->header.cursor = const_cast<unsigned char*>(r.cur);
    s->header.available = r.avail;
    s->bitAcc = r.acc;
    s->bitCount = r.n;
    s->bitPad = r.pad;
    s->eolPending = eolPending;
    s->curRuns = cur;
    s->refRuns = ref;
    s->togglesDirty = 0;
}

// The tuned row loop of every variant: the row decoders above inline into it
// so that the reader and the run list live in registers across a call.
template <Variant V, FillProc Fill>
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
        const RowStatus st = DecodeRow<V>(r, c, w, ref, eolPending);
        int32_t* end = FinishRow(w, c.rowPixels);
        Fill(row, cur, end, c.rowPixels, rowBytes, toggleWords);
        constexpr bool kEols = V == kG3_1D || V == kG3_2D;
        if (TIF_UNLIKELY(st != kRowDone || w.a0 != c.rowPixels || (kEols && eolPending < 0)) &&
            EndsCall<V>(s, st, start, r, eolPending, done))
            break;
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
    SaveState(s, r, eolPending, cur, ref);
    return done;
}

template <Variant V>
int DecodeRows(TifCodec* codec, void* rows, int count)
{
    return DecodeRowsBody<V, FillRuns>(codec, rows, count);
}

#if TIF_GNU_X86_64
// The same for processors with BMI2 and AVX2, chosen at run time: BMI2's
// shifts by a register count (the bit reader's, every colour change's toggle
// mask) take fewer instructions, and AVX2 turns four toggle words at a time.
template <Variant V>
[[gnu::target("bmi,bmi2")]] int DecodeRowsBmi2(TifCodec* codec, void* rows, int count)
{
    return DecodeRowsBody<V, FillRunsAvx2>(codec, rows, count);
}
#endif

}  // namespace

TifRowsProc PlainDecodeRows(Variant v)
{
    switch (v) {
    case kMH:
        return DecodeRows<kMH>;
    case kG3_1D:
        return DecodeRows<kG3_1D>;
    case kG3_2D:
        return DecodeRows<kG3_2D>;
    default:
        return DecodeRows<kG4>;
    }
}

#if TIF_GNU_X86_64
TifRowsProc Bmi2DecodeRows(Variant v)
{
    switch (v) {
    case kMH:
        return DecodeRowsBmi2<kMH>;
    case kG3_1D:
        return DecodeRowsBmi2<kG3_1D>;
    case kG3_2D:
        return DecodeRowsBmi2<kG3_2D>;
    default:
        return DecodeRowsBmi2<kG4>;
    }
}
#endif

}  // namespace tif_fax_decode
