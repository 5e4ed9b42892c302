// tif_damage.h — counting the damaged lines of the page being read.
//
// Decoders note what they meet (TifRowDamage in the codec state); these
// functions run the decoder for the file object and turn those notes into
// the page's tally (TifDamageTally, also in the decoder's state), which
// CTifFile::GetDamagedLines reports. A line counts once, however often it is
// decoded again: strips count by line number from a high-water mark on (a
// call never spans it, see TifDecodeLimit), tiles once per tile. The mark is
// raised to the read position only when the position moves back or away
// (TifLeaveLine), which keeps it off the path of every line.
//
// Lines that were never decoded, because SeekLine passed over them with the
// decoder's SkipRows or went to a later strip, were not delivered: they are
// not accounted for. They stay as gaps below the mark, and the reading that
// later decodes them counts their damage then.
#pragma once

#include "codec/tif_bits.h"
#include "codec/tif_codec.h"
#include "tif/tif_codec_call.h"
#include "tif/tif_file.h"

// How many of `count` rows from image line `line` one decoding call may take
// so that it does not span the high-water mark: lines below it are counted
// already, lines from it on not yet.
int TifDecodeLimit(const CTifFile* f, int line, int count);

// The read position is about to move from m_nCurLine to another strip or
// back: the lines read since the reading began are accounted for, and the
// next reading begins at line `next`.
void TifLeaveLine(CTifFile* f, int next);

// Passes over `count` lines of the current strip with the decoder's SkipRows,
// moving the read position; the lines passed stay unaccounted. Returns the
// lines passed: short when the strip stops there (the lines from there to its
// end counted, the failure recorded); -1, touching nothing, when the decoder
// cannot skip, the lines reach the strip's end, or no gap can be remembered.
int TifSkipLines(CTifFile* f, int count);

// One DecodeRows call of `count` rows of the current strip, the first being
// image line `line`. Returns the rows delivered. Rows decoded from damaged
// data are counted; when fewer rows come than asked, the lines from there to
// the strip's end cannot be decoded: they are counted and the failure
// recorded for GetLastFailure. A read failure (the file cut short) gives -1,
// counting nothing, for a call of several rows: the caller decodes them again
// one at a time to learn where. Inline: on valid data its whole cost is a
// store and two tests.
// The rest, out of line; `done` is TIF_CODEC_THREW when the read failed.
int TifCountDecoded(CTifFile* f, int count, int line, int done);
inline int TifDecodeLines(CTifFile* f, void* rows, int count, int line)
{
    TifCodec* const decoder = f->m_pDecoder;
    TifCodecState* const s = TifState(decoder);
    s->damage.rows = 0;
    const int done = TifCodecCall([&] { return decoder->DecodeRows(decoder, rows, count); });
    if (TIF_UNLIKELY(done != count || s->damage.rows != 0))
        return TifCountDecoded(f, count, line, done);
    return done;
}

// The strip holding `line` cannot be loaded: its lines are counted from its
// first and the failure recorded.
void TifStripLost(CTifFile* f, int line);

// Loads tile `tile` and decodes it whole into `buffer`. 1 when decoded; 0
// when it cannot be, after counting its tile row's lines and recording the
// failure. A tile decoded from damaged data counts its damaged rows.
int TifLoadTile(CTifFile* f, int tile, void* buffer);
