// tif_damage.cpp — see tif_damage.h.
#include "tif/tif_damage.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "codec/general/tif_check.h"
#include "codec/tif_codec.h"
#include "tif/tif_failure.h"
#include "tif/tif_file.h"

namespace {

TifCodecState* State(const CTifFile* f)
{
    return TifState(f->m_pDecoder);
}

void Count(TifDamageTally& t, int first, int lines)
{
    if (lines <= 0)
        return;
    if (t.first < 0 || first < t.first)
        t.first = first;
    t.lines = lines > INT_MAX - t.lines ? INT_MAX : t.lines + lines;
}

void Fail(int stop)
{
    TifFail(stop == TIF_STOP_BAD_DATA ? VXTIFF_FAIL_BAD_DATA : VXTIFF_FAIL_CUT_SHORT);
}

// Rows of the last call noted as damaged, among the `done` delivered: rows
// noted past them are not counted here (the lines lost from there are).
int DamagedRows(const TifRowDamage& d, int done)
{
    if (d.rows <= 0 || d.first >= done)
        return 0;
    if (d.last < done)
        return d.rows;
    const int past = d.last - done + 1;  // at most so many noted rows lie past the rows done
    return d.rows - past > 1 ? d.rows - past : 1;
}

// The most spans of lines passed over unread that are remembered; with as
// many, SeekLine decodes the lines it passes, which leaves no span.
constexpr int kMostGaps = 4096;

// The first gap that ends after `line` (t.gaps when none does).
int GapAfter(const TifDamageTally& t, int line)
{
    int lo = 0, hi = t.gaps;
    while (lo < hi) {
        const int mid = (lo + hi) / 2;
        if (t.gap[2 * mid + 1] > line)
            hi = mid;
        else
            lo = mid + 1;
    }
    return lo;
}

bool Unaccounted(const TifDamageTally& t, int line)
{
    if (line >= t.seen)
        return true;
    const int i = t.gaps > 0 ? GapAfter(t, line) : 0;
    return i < t.gaps && t.gap[2 * i] <= line;
}

// Room for one more gap; false at kMostGaps or without memory.
bool GapRoom(TifDamageTally& t)
{
    if (t.gaps < t.gapRoom)
        return true;
    if (t.gapRoom >= kMostGaps)
        return false;
    const int room = t.gapRoom > 0 ? 2 * t.gapRoom : 8;
    void* grown = std::realloc(t.gap, size_t(room) * 2 * sizeof(int));
    if (grown == nullptr)
        return false;
    t.gap = static_cast<int*>(grown);
    t.gapRoom = room;
    return true;
}

// Puts [from, to) at gap index `i` (GapRoom said yes).
void InsertGap(TifDamageTally& t, int i, int from, int to)
{
    std::memmove(t.gap + 2 * i + 2, t.gap + 2 * i, size_t(t.gaps - i) * 2 * sizeof(int));
    t.gap[2 * i] = from;
    t.gap[2 * i + 1] = to;
    ++t.gaps;
}

// Lines [from, to), all below seen, are accounted for: the gaps lose them.
// Without room to split a gap its part past `to` is taken as accounted too.
void FillGaps(TifDamageTally& t, int from, int to)
{
    int i = GapAfter(t, from);
    while (i < t.gaps && t.gap[2 * i] < to) {
        int* g = t.gap + 2 * i;
        if (g[0] < from) {
            if (g[1] > to && GapRoom(t)) {
                InsertGap(t, i + 1, to, t.gap[2 * i + 1]);
                g = t.gap + 2 * i;
            }
            g[1] = from;
            ++i;
        } else if (g[1] > to) {
            g[0] = to;
            return;
        } else {
            std::memmove(g, g + 2, size_t(t.gaps - i - 1) * 2 * sizeof(int));
            --t.gaps;
        }
    }
}

// Lines [from, to) are accounted for. Lines between seen and `from` were
// passed over unread: they become a gap (without room, they are taken as
// accounted: a damaged one would then never count).
void Account(TifDamageTally& t, int from, int to)
{
    if (from >= to)
        return;
    if (from > t.seen) {
        if (GapRoom(t))
            InsertGap(t, t.gaps, t.seen, from);
    } else if (t.gaps > 0) {
        FillGaps(t, from, to < t.seen ? to : t.seen);
    }
    if (to > t.seen)
        t.seen = to;
}

// Counts the lines of [from, to) not accounted for yet.
void CountUnaccounted(TifDamageTally& t, int from, int to)
{
    const int below = to < t.seen ? to : t.seen;
    for (int i = t.gaps > 0 ? GapAfter(t, from) : 0; i < t.gaps && t.gap[2 * i] < below; ++i) {
        const int a = t.gap[2 * i] > from ? t.gap[2 * i] : from;
        const int b = t.gap[2 * i + 1] < below ? t.gap[2 * i + 1] : below;
        Count(t, a, b - a);
    }
    const int a = from > t.seen ? from : t.seen;
    Count(t, a, to - a);
}

// Lines from `from` to the end of its strip cannot be decoded.
void LinesLost(CTifFile* f, int from, int stop)
{
    TifDamageTally& t = State(f)->tally;
    const int64_t strip = int64_t(from) / f->m_nRowsPerStrip;
    const int64_t end64 = (strip + 1) * f->m_nRowsPerStrip;
    const int end = end64 < f->m_nHeight ? int(end64) : f->m_nHeight;
    CountUnaccounted(t, from, end);
    Account(t, t.runFrom < from ? t.runFrom : from, end);
    Fail(stop);
}

// Marks tile `tile` as counted; false when it was already. Without memory for
// the marks every tile counts.
bool FirstTime(CTifFile* f, int tile)
{
    TifDamageTally& t = State(f)->tally;
    if (t.tileBits == nullptr)
        t.tileBits = static_cast<uint32_t*>(std::calloc(size_t(f->m_nStrips) / 32 + 1, sizeof(uint32_t)));
    if (t.tileBits == nullptr || tile < 0 || tile >= f->m_nStrips)
        return true;
    const uint32_t bit = 1u << (tile & 31);
    uint32_t& word = t.tileBits[tile >> 5];
    const bool first = (word & bit) == 0;
    word |= bit;
    return first;
}

}  // namespace

int TifDecodeLimit(const CTifFile* f, int line, int count)
{
    const TifDamageTally& t = State(f)->tally;
    if (line >= t.seen)
        return count;
    int edge = t.seen;  // where the line's state (accounted or not) changes
    const int i = t.gaps > 0 ? GapAfter(t, line) : 0;
    if (i < t.gaps)
        edge = t.gap[2 * i] <= line ? t.gap[2 * i + 1] : t.gap[2 * i];
    return edge - line < count ? edge - line : count;
}

void TifLeaveLine(CTifFile* f, int next)
{
    TifDamageTally& t = State(f)->tally;
    Account(t, t.runFrom, f->m_nCurLine);
    t.runFrom = next;
}

int TifSkipLines(CTifFile* f, int count)
{
    TifCodec* const decoder = f->m_pDecoder;
    TifCodecState* const s = TifState(decoder);
    TifDamageTally& t = s->tally;
    if (decoder->SkipRows == nullptr || count >= f->m_nStripLinesLeft || !GapRoom(t))
        return -1;
    const int line = f->m_nCurLine;
    Account(t, t.runFrom, line);
    s->damage.rows = 0;
    int done = TifCodecCall([&] { return decoder->SkipRows(decoder, count); });
    const int stop = done != TIF_CODEC_THREW && s->damage.stop == TIF_STOP_BAD_DATA ? TIF_STOP_BAD_DATA
                                                                                    : TIF_STOP_CUT_SHORT;
    done = done < 0 ? 0 : done > count ? count : done;
    // The lines passed stay unaccounted: reading goes on from past them.
    t.runFrom = line + done;
    f->m_nCurLine = line + done;
    f->m_nStripLinesLeft -= done;
    if (done < count)
        LinesLost(f, line + done, stop);
    return done;
}

int TifCountDecoded(CTifFile* f, int count, int line, int done)
{
    if (done == TIF_CODEC_THREW) {
        if (count > 1)
            return -1;  // counted when the caller decodes the rows again one at a time
        done = -1;
    }
    TifCodecState* s = State(f);
    const int stop = done >= 0 && s->damage.stop == TIF_STOP_BAD_DATA ? TIF_STOP_BAD_DATA : TIF_STOP_CUT_SHORT;
    if (done < 0)
        done = 0;  // a read failure: the file ends before the line
    else if (done > count)
        done = count;
    TifDamageTally& t = s->tally;
    if (s->damage.rows > 0 && Unaccounted(t, line))
        Count(t, line + s->damage.first, DamagedRows(s->damage, done));
    Account(t, t.runFrom < line ? t.runFrom : line, line + done);
    if (done < count)
        LinesLost(f, line + done, stop);
    return done;
}

void TifStripLost(CTifFile* f, int line)
{
    LinesLost(f, line - line % f->m_nRowsPerStrip, TIF_STOP_CUT_SHORT);
}

int TifLoadTile(CTifFile* f, int tile, void* buffer)
{
    TifCodecState* s = State(f);
    const int length = f->m_nTileLength;
    const int line = tile / f->m_nTilesAcross * length;
    const int lines = f->m_nHeight - line < length ? f->m_nHeight - line : length;
    int done = -1;
    int stop = TIF_STOP_CUT_SHORT;
    if (f->LoadStrip(tile)) {
        s->damage.rows = 0;
        TifCodec* const decoder = f->m_pDecoder;
        done = TifCodecCall([&] { return decoder->DecodeRows(decoder, buffer, length); });
        if (done != TIF_CODEC_THREW && s->damage.stop == TIF_STOP_BAD_DATA)
            stop = TIF_STOP_BAD_DATA;
    }
    if (done != length) {
        // The tile row's lines cannot be assembled: they count once.
        if (FirstTime(f, tile)) {
            Count(s->tally, line, lines);
            const int row = tile - tile % f->m_nTilesAcross;
            for (int i = 0; i < f->m_nTilesAcross; ++i)
                FirstTime(f, row + i);
        }
        Fail(stop);
        return 0;
    }
    // Rows of the padding below the image do not count.
    const TifRowDamage& d = s->damage;
    if (TifDamaged(d.rows > 0) && d.first < lines && FirstTime(f, tile)) {
        int n = d.rows;
        if (d.last >= lines)
            n = n - (d.last - lines + 1) > 1 ? n - (d.last - lines + 1) : 1;
        Count(s->tally, line + d.first, n);
    }
    return 1;
}

int CTifFile::GetDamagedLines(int* firstLine)
{
    const bool reading = m_pDecoder != nullptr && !m_bWrite;
    if (firstLine != nullptr)
        *firstLine = reading ? State(this)->tally.first : -1;
    return reading ? State(this)->tally.lines : 0;
}
