// tif_read.cpp — positioning the decoder and reading lines from strips and tiles.
//
// Strips are decoded strictly forward; a seek forward passes over lines with
// the decoder's SkipRows where it has one, a seek backwards restarts the strip. A
// tiled image keeps one tile row decoded, one whole-tile buffer per tile across,
// and lines are assembled from slices of those buffers. No strip or tile past
// the arrays is ever indexed.
#include <climits>
#include <cstdlib>
#include <cstring>

#include "codec/tif_codec.h"
#include "io/tif_stream.h"
#include "tif/tif_codec_call.h"
#include "tif/tif_damage.h"
#include "tif/tif_file.h"
#include "tif/tif_tiles.h"
#include "tif/tif_wide.h"

namespace {

// A read failure inside a DecodeRows call of several rows loses the count of
// the rows it completed: the strip is decoded again from its start, and the
// call's rows taken one at a time up to the failure. Returns them; the
// position within the strip is left as it was for the caller to advance.
// Only damaged files come here, at the cost of one strip's decoding.
int RedoRowByRow(CTifFile* f, unsigned char* dst, int count)
{
    const int left = f->m_nStripLinesLeft;
    const int consumed = f->m_nRowsPerStrip - left;
    const int line = f->m_nCurLine;
    int done = 0;
    TifLeaveLine(f, line);
    if (f->LoadStrip(f->m_nCurStrip)) {
        void* scratch = std::malloc(static_cast<size_t>(f->m_nRowBytes));
        int skipped = 0;
        while (scratch != nullptr && skipped < consumed &&
               TifDecodeLines(f, scratch, 1, line - consumed + skipped) == 1)
            ++skipped;
        std::free(scratch);
        if (skipped == consumed)
            while (done < count && TifDecodeLines(f, dst + long(done) * f->m_nBufRowBytes, 1, line + done) == 1)
                ++done;
    }
    f->m_nStripLinesLeft = left;
    return done;
}

}  // namespace

int CTifFile::LoadStrip(int index)
{
    if (m_pDecoder == nullptr || index < 0 || index >= m_nStrips)
        return 0;
    m_nStripLinesLeft = m_nRowsPerStrip;
    TifState(m_pDecoder)->damage = TifRowDamage{};  // nothing of the last strip carries over
    // TifStripOffset and TifStripBytes, with one look at the stream per strip.
    CTifWideStream* wide = TifWide(this);
    const uint64_t offset = wide != nullptr && wide->offsets != nullptr ? wide->offsets[index] : m_pStripOffsets[index];
    const uint64_t bytes = wide != nullptr && wide->counts != nullptr ? wide->counts[index] : m_pStripByteCounts[index];
    if (wide != nullptr)
        wide->stripOffset = offset;
    m_nStripOffset = TifCut32(offset);
    m_nStripBytes = bytes > uint64_t(INT_MAX) ? INT_MAX : static_cast<int>(bytes);
    int ok = 1;
    if (offset > uint64_t(INT64_MAX) || m_pStream->Seek(int64_t(offset), 0) != int64_t(offset)) {
        // Still restart the decoder, on an empty strip: bytes left over from the
        // previous strip must not be decoded as this one's.
        m_nStripBytes = 0;
        ok = 0;
    }
    TifCodec* const decoder = m_pDecoder;
    if (TifCodecCall([&] { return decoder->BeginStrip(decoder); }) != TIF_CODEC_THREW)
        return ok;
    // The strip's first block could not be read, and the decoder may have
    // stopped before resetting itself: restart it on an empty strip, so that
    // nothing of the previous strip is decoded as this one's rows.
    m_nStripBytes = 0;
    TifCodecCall([&] { return decoder->BeginStrip(decoder); });
    return 0;
}

int CTifFile::LoadTileRow(int first)
{
    // Tiles listed beyond the image's last tile row are never read as image.
    if (!m_bTiled || first < 0 || first % m_nTilesAcross != 0 ||
        int64_t(first) + m_nTilesAcross > m_nStrips || first / m_nTilesAcross >= m_nTilesDown)
        return 0;  // no such tile row
    m_nCurStrip = first;
    m_nCurLine = (first / m_nTilesAcross) * m_nTileLength;
    TifUseStride(m_pDecoder, TifTileLineBytes(this));  // the tile buffers' lines are packed
    for (int i = 0; i < m_nTilesAcross; ++i) {
        if (!TifLoadTile(this, first + i, m_ppTileRow[i])) {
            // The buffers now hold part of a tile row: none is held.
            m_nCurStrip = TIF_NO_TILE_ROW;
            m_nStripLinesLeft = 0;
            return 0;
        }
    }
    m_nCurStrip = first + m_nTilesAcross;
    return 1;
}

int CTifFile::CopyTileLines(void* dst, int line, int count)
{
    // Each tile gives its slice of the line, but no row of the caller's gets
    // more than m_nBufRowBytes bytes: the last tile gives only what remains of
    // the row, and a stride narrower than the line cuts it.
    const int tileLineBytes = TifTileLineBytes(this);
    auto* out = static_cast<unsigned char*>(dst);
    for (; line < m_nTileLength && count > 0; ++line, --count, out += m_nBufRowBytes) {
        const size_t at = size_t(line) * size_t(tileLineBytes);
        int room = m_nBufRowBytes;
        for (int i = 0; i < m_nTilesAcross && room > 0; ++i, room -= tileLineBytes) {
            const int n = room < tileLineBytes ? room : tileLineBytes;
            std::memcpy(out + size_t(i) * tileLineBytes, m_ppTileRow[i] + at, size_t(n));
        }
    }
    return 1;
}

namespace {

// Makes the tile row holding m_nCurLine the held one, keeping the read position.
int EnsureTileRow(CTifFile* f)
{
    const int line = f->m_nCurLine;
    if (!f->LoadTileRow((line / f->m_nTileLength) * f->m_nTilesAcross))
        return 0;
    f->m_nCurLine = line;
    f->m_nStripLinesLeft = f->m_nTileLength - line % f->m_nTileLength;
    return 1;
}

// Lines of a tile row: copied from the decoded tiles, the next row decoded
// when one runs out. Returns the lines read.
int ReadTileLines(CTifFile* f, unsigned char* dst, int count)
{
    int remaining = count;
    while (remaining > 0) {
        if (f->m_nStripLinesLeft <= 0 && !EnsureTileRow(f))
            break;
        const int k = remaining < f->m_nStripLinesLeft ? remaining : f->m_nStripLinesLeft;
        f->CopyTileLines(dst, f->m_nCurLine % f->m_nTileLength, k);
        f->m_nCurLine += k;
        dst += long(k) * f->m_nBufRowBytes;
        remaining -= k;
        f->m_nStripLinesLeft -= k;
    }
    return count - remaining;
}

// How many of `wanted` lines one decoding step of the current strip takes:
// no more than the strip and the image hold, nor than the decoder may give.
int StripLinesAhead(CTifFile* f, int wanted)
{
    int k = wanted < f->m_nStripLinesLeft ? wanted : f->m_nStripLinesLeft;
    if (k > f->m_nHeight - f->m_nCurLine)
        k = f->m_nHeight - f->m_nCurLine;
    return k <= 0 ? k : TifDecodeLimit(f, f->m_nCurLine, k);
}

// Decodes k lines of the current strip into dst, in one call at the caller's
// stride or row by row; returns the lines the decoder completed.
int DecodeStripLines(CTifFile* f, unsigned char* dst, int k, bool sameStride)
{
    if (sameStride) {
        const int done = TifDecodeLines(f, dst, k, f->m_nCurLine);
        return done < 0 ? RedoRowByRow(f, dst, k) : done;
    }
    int done = 0;
    while (done < k && TifDecodeLines(f, dst + long(done) * f->m_nBufRowBytes, 1, f->m_nCurLine + done) == 1)
        ++done;
    return done;
}

// Positions a tiled image at `line`, decoding its tile row unless it is the
// one held and the line lies ahead in it.
int SeekTileLine(CTifFile* f, int line)
{
    if (line == f->m_nCurLine && line != 0)
        return 1;
    const int first = (line / f->m_nTileLength) * f->m_nTilesAcross;
    const bool held = first == f->m_nCurStrip - f->m_nTilesAcross && line >= f->m_nCurLine && first != 0;
    if (!held && !f->LoadTileRow(first))
        return 0;
    f->m_nCurLine = line;
    f->m_nStripLinesLeft = f->m_nTileLength - line % f->m_nTileLength;
    return 1;
}

// Starts `strip` again from its first line, on the way to `line`.
bool RestartStrip(CTifFile* f, int strip, int line)
{
    TifLeaveLine(f, strip * f->m_nRowsPerStrip);
    f->m_nCurStrip = strip;
    if (!f->LoadStrip(strip)) {
        TifStripLost(f, line);
        return false;
    }
    f->m_nCurLine = strip * f->m_nRowsPerStrip;
    return true;
}

// Passes over `skip` lines of the current strip (none when skip <= 0): skipped
// by the decoder where it can, else read and dropped.
int SkipLines(CTifFile* f, int skip)
{
    if (skip <= 0)
        return 1;
    const int skipped = TifSkipLines(f, skip);
    if (skipped >= 0)
        return skipped == skip;
    void* scratch = std::malloc(static_cast<size_t>(f->m_nRowBytes));
    if (scratch == nullptr)
        return 0;
    int ok = 1;
    while (skip-- > 0 && ok)
        ok = f->ReadLine(scratch);
    std::free(scratch);
    return ok;
}

}  // namespace

int CTifFile::ReadLine(void* row)
{
    if (m_pDecoder == nullptr || m_bWrite || row == nullptr)
        return 0;
    if (m_bTiled) {
        if (m_nStripLinesLeft <= 0 && !EnsureTileRow(this))
            return 0;
        CopyTileLines(row, m_nCurLine % m_nTileLength, 1);
        ++m_nCurLine;
        --m_nStripLinesLeft;
        return 1;
    }
    if (m_nCurStrip >= m_nStrips || m_nCurLine >= m_nHeight)
        return 0;
    if (TifDecodeLines(this, row, 1, m_nCurLine) <= 0)
        return 0;
    ++m_nCurLine;
    if (--m_nStripLinesLeft <= 0) {
        // A failed load shows at the next read.
        if (++m_nCurStrip < m_nStrips)
            LoadStrip(m_nCurStrip);
    }
    return 1;
}

int CTifFile::ReadLines(void* rows, int count)
{
    if (m_pDecoder == nullptr || m_bWrite || rows == nullptr || count <= 0)
        return 0;
    auto* dst = static_cast<unsigned char*>(rows);
    if (m_bTiled)
        return ReadTileLines(this, dst, count);
    // One DecodeRows call moves several rows laid out at the caller's stride;
    // rows closer than a row overlap, and go one by one.
    const bool sameStride = m_nBufRowBytes >= m_nRowBytes;
    if (sameStride)
        TifUseStride(m_pDecoder, m_nBufRowBytes);
    int remaining = count;
    while (remaining > 0 && m_nCurStrip < m_nStrips) {
        const int k = StripLinesAhead(this, remaining);
        if (k <= 0)
            break;
        int done = DecodeStripLines(this, dst, k, sameStride);
        // The rows the decoder completed are counted even when it stopped early,
        // so that the position stays where the decoder is.
        if (done > k)
            done = k;
        dst += long(done) * m_nBufRowBytes;
        remaining -= done;
        m_nCurLine += done;
        m_nStripLinesLeft -= done;
        if (m_nStripLinesLeft <= 0 && ++m_nCurStrip < m_nStrips)
            LoadStrip(m_nCurStrip);
        if (done != k)
            break;
    }
    return count - remaining;
}

int CTifFile::SeekLine(int line)
{
    if (m_pDecoder == nullptr || m_bWrite)
        return 0;
    if (line < 0)
        line = 0;
    if (line >= m_nHeight)
        return 0;
    if (m_bTiled)
        return SeekTileLine(this, line);
    if (line == m_nCurLine)
        return 1;
    const int strip = line / m_nRowsPerStrip;
    if ((strip != m_nCurStrip || line < m_nCurLine) && !RestartStrip(this, strip, line))
        return 0;
    return SkipLines(this, line - m_nCurLine);
}

void CTifFile::SetBufRowBytes(int rowBytes)
{
    SetBufRowBytes(rowBytes, rowBytes);
}

void CTifFile::SetBufRowBytes(int rowBytes, int)
{
    if (rowBytes <= 0 || (m_bWrite && rowBytes < m_nRowBytes))
        return;  // rows cannot lie at or before each other, nor overlap when written
    // The codec gets its stride with each call it serves (TifUseStride), from
    // this value alone: a stride kept in the codec could outlive the caller's
    // buffer layout and make a codec read or write past it.
    m_nBufRowBytes = rowBytes;
}
