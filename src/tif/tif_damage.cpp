// tif_damage.cpp — see tif_damage.h.
#include "tif/tif_damage.h"

#include <climits>
#include <cstdlib>

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

// Rows of the last call noted as damaged, among the `done` delivered.
int DamagedRows(const TifRowDamage& d, int done)
{
    // Only the row in progress when the call stopped can lie past the rows done.
    return d.rows > 0 && d.last >= done ? d.rows - 1 : d.rows;
}

// Lines from `from` to the end of its strip cannot be decoded.
void LinesLost(CTifFile* f, int from, int stop)
{
    TifDamageTally& t = State(f)->tally;
    const int64_t strip = int64_t(from) / f->m_nRowsPerStrip;
    const int64_t end64 = (strip + 1) * f->m_nRowsPerStrip;
    const int end = end64 < f->m_nHeight ? int(end64) : f->m_nHeight;
    const int begin = from > t.seen ? from : t.seen;
    Count(t, begin, end - begin);
    if (end > t.seen)
        t.seen = end;
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
    const int seen = State(f)->tally.seen;
    return line < seen && seen - line < count ? seen - line : count;
}

void TifLeaveLine(CTifFile* f)
{
    TifDamageTally& t = State(f)->tally;
    if (f->m_nCurLine > t.seen)
        t.seen = f->m_nCurLine;
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
    if (s->damage.rows > 0 && line >= t.seen)
        Count(t, line + s->damage.first, DamagedRows(s->damage, done));
    if (line + done > t.seen)
        t.seen = line + done;
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
