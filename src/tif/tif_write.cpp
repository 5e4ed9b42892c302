// tif_write.cpp — creating a file and writing its lines, strip by strip or a
// row of tiles at a time, in one forward pass from offset 8.
//
// A write that fails (a short write, an encoder failure, the 4 GiB offset
// limit) destroys the encoder: the data already in the file no longer matches
// what a directory would say, so every later WriteLine, WriteLines and Close
// of that file returns 0, and the file never gets a header.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "codec/tif_codec.h"
#include "codec/tif_compression.h"
#include "codec/tif_limits.h"
#include "io/tif_io.h"
#include "io/tif_stream.h"
#include "tif/tif_codec_call.h"
#include "tif/tif_failure.h"
#include "tif/tif_ifd_write.h"
#include "tif/tif_file.h"
#include "tif/tif_page_chain.h"
#include "tif/tif_tiles.h"
#include "tif/tif_wide.h"

namespace {

// PhotometricInterpretation written for a public image type, or -1.
int PhotometricOf(int imageType)
{
    switch (imageType) {
    case VXIMG_MINISWHITE: return 0;
    case VXIMG_MINISBLACK: return 1;
    case VXIMG_RGB: return 2;
    case VXIMG_PALETTE: return 3;
    case VXIMG_CMYK: return 5;
    default: return -1;
    }
}

// A tile size raised to a multiple of 32 (0 stays 0); -1 when negative or too large.
int RoundTileSize(int v)
{
    if (v < 0 || v > INT_MAX - 31)
        return -1;
    return (v + 31) & ~31;
}

// Runs one EncodeRows call; a write failure gives -1.
int Encode(TifCodec* encoder, void* rows, int count)
{
    return TifCodecCall([&] { return encoder->EncodeRows(encoder, rows, count); }, -1);
}

// Takes the page's description into the file object: VXTIFF_FAIL_NONE, or
// the VXTIFF_FAIL_ code of what is wrong with it. *rowBytes: the bytes of one
// image row.
int TakeDescription(CTifFile* f, const VXIMGINFO* info, int photometric, int64_t* rowBytes)
{
    f->m_bWrite = 1;
    f->m_nImageType = info->nImageType;
    f->m_nWidth = info->nWidth;
    f->m_nHeight = info->nHeight;
    f->m_nSamplesPerPixel = info->nSamplesPerPixel;
    f->m_nBitsPerSample = info->nBitsPerSample;
    f->m_nPhotometric = photometric;
    f->m_nCompression = info->nCompression;
    *rowBytes = TifRowBytes(f->m_nWidth, f->m_nSamplesPerPixel, f->m_nBitsPerSample);
    if (f->m_nHeight <= 0 || f->m_nWidth <= 0 || f->m_nSamplesPerPixel <= 0 || f->m_nBitsPerSample <= 0 ||
        info->nRowsPerStrip < 0)
        return VXTIFF_FAIL_INVALID;
    if (*rowBytes < 0)
        return VXTIFF_FAIL_TOO_LARGE;
    // A palette has 2^BitsPerSample colours.
    if (photometric == 3 && f->m_nBitsPerSample > 16)
        return VXTIFF_FAIL_INVALID;
    uint32_t num, den;
    if ((info->dXResolution != 0.0 && !TifResolutionRational(info->dXResolution, &num, &den)) ||
        (info->dYResolution != 0.0 && !TifResolutionRational(info->dYResolution, &num, &den)))
        return VXTIFF_FAIL_INVALID;
    f->m_dXResolution = info->dXResolution;
    f->m_dYResolution = info->dYResolution;
    f->m_nRowsPerStrip = info->nRowsPerStrip != 0 ? info->nRowsPerStrip : f->m_nHeight;
    return VXTIFF_FAIL_NONE;
}

// Lays the page out in tiles of the size asked, raised to a multiple of 32
// (which `info` is told back; 0 gives 128), and allocates the tile row:
// VXTIFF_FAIL_NONE or the VXTIFF_FAIL_ code. *tiles: how many there are.
int PlanTiles(CTifFile* f, VXIMGINFO* info, int64_t* tiles)
{
    const int width = RoundTileSize(info->nTileWidth), length = RoundTileSize(info->nTileLength);
    if (width < 0 || length < 0)
        return VXTIFF_FAIL_INVALID;
    info->nTileWidth = width;
    info->nTileLength = length;
    f->m_bTiled = 1;
    f->m_nTileWidth = width != 0 ? width : 128;
    f->m_nTileLength = length != 0 ? length : 128;
    f->m_nRowsPerStrip = f->m_nTileLength;
    const int64_t across = (int64_t(f->m_nWidth) + f->m_nTileWidth - 1) / f->m_nTileWidth;
    const int64_t down = (int64_t(f->m_nHeight) + f->m_nTileLength - 1) / f->m_nTileLength;
    *tiles = TifCheckedSize(across, down);
    if (*tiles < 0 || *tiles > INT_MAX)
        return VXTIFF_FAIL_TOO_LARGE;
    f->m_nTilesAcross = static_cast<int>(across);
    f->m_nTilesDown = static_cast<int>(down);
    f->m_nTiles = static_cast<int>(*tiles);
    if (!f->AllocTileRow())  // zeroed: no heap memory reaches the file
        return VXTIFF_FAIL_TOO_LARGE;
    return VXTIFF_FAIL_NONE;
}

// Allocates the offsets and byte counts of the strips (or tiles) and begins
// the first at `start`: VXTIFF_FAIL_NONE or the VXTIFF_FAIL_ code.
int BeginData(CTifFile* f, uint64_t start)
{
    f->m_pStripOffsets = static_cast<uint32_t*>(std::calloc(size_t(f->m_nStrips), sizeof(uint32_t)));
    f->m_pStripByteCounts = static_cast<uint32_t*>(std::calloc(size_t(f->m_nStrips), sizeof(uint32_t)));
    if (f->m_pStripOffsets == nullptr || f->m_pStripByteCounts == nullptr)
        return VXTIFF_FAIL_MEMORY;
    f->m_pWriteOffsets = f->m_pStripOffsets;
    f->m_pWriteByteCounts = f->m_pStripByteCounts;
    TifSetWriteOffset(f, start);
    f->m_nCurLine = 0;
    f->m_nCurStrip = 0;
    return f->BeginWriteStrip(0) ? VXTIFF_FAIL_NONE : VXTIFF_FAIL_CREATE;
}

// Everything of Create after the file is open, for a page whose data starts
// at `start`: VXTIFF_FAIL_NONE, or the VXTIFF_FAIL_ code of what went wrong.
int SetUp(CTifFile* f, VXIMGINFO* info, int photometric, uint64_t start)
{
    int64_t rowBytes = 0;
    if (const int failure = TakeDescription(f, info, photometric, &rowBytes); failure != VXTIFF_FAIL_NONE)
        return failure;
    f->m_pCompression = TifCreateCompression(f);
    if (f->m_pCompression == nullptr)
        return VXTIFF_FAIL_MEMORY;
    if (const int rows = f->m_pCompression->StripRows(f->m_nRowsPerStrip); rows != f->m_nRowsPerStrip)
        info->nRowsPerStrip = f->m_nRowsPerStrip = rows;  // told back
    int64_t strips = (int64_t(f->m_nHeight) + f->m_nRowsPerStrip - 1) / f->m_nRowsPerStrip;
    if (info->bTiled) {
        if (const int failure = PlanTiles(f, info, &strips); failure != VXTIFF_FAIL_NONE)
            return failure;
    }
    if (TifCheckedSize(strips, sizeof(uint32_t)) < 0)
        return VXTIFF_FAIL_TOO_LARGE;
    f->m_nStrips = static_cast<int>(strips);
    f->m_pEncoder = f->m_pCompression->CreateEncoder();
    const int hasEncoder = f->m_pCompression->HasEncoder();
    if (f->m_pEncoder == nullptr)
        return hasEncoder ? VXTIFF_FAIL_MEMORY : VXTIFF_FAIL_NO_ENCODER;
    f->m_pEncoder->SetIoProc(f->m_pEncoder, TifWriteProc, f);
    f->m_nRowBytes = f->m_nBufRowBytes = static_cast<int>(rowBytes);
    return BeginData(f, start);
}

// Encodes n rows of the strip in progress (n > 0, no more than it lacks)
// and begins the next strip when they finish it; false when they cannot be
// encoded or the strip cannot be finished, whose rows then do not count.
bool EncodeStripLines(CTifFile* f, unsigned char* rows, int n)
{
    if (n <= 0 || Encode(f->m_pEncoder, rows, n) != n)
        return false;
    f->m_nCurLine += n;
    f->m_nStripLinesLeft -= n;
    return f->m_nStripLinesLeft != 0 || f->NextWriteStrip();
}

}  // namespace

int CTifFile::Create(const char* path, VXIMGINFO* info)
{
    if (path == nullptr || info == nullptr)
        return TifFail(VXTIFF_FAIL_ARGUMENT);
    if (m_pStream != nullptr)
        return TifFail(VXTIFF_FAIL_BUSY);  // an open file stays as it is
    const int photometric = PhotometricOf(info->nImageType);
    if (photometric < 0)
        return TifFail(VXTIFF_FAIL_INVALID);
    ResetImage();
    CTifPageChain* stream = new (std::nothrow) CTifPageChain;
    m_pStream = stream;
    if (stream == nullptr)
        return TifFail(VXTIFF_FAIL_MEMORY);
    if (!stream->Open(path, TIF_OPEN_CREATE)) {
        // Not ours to remove: the path may be a file that another stream holds.
        const int failure = TifStreamFailure(stream->failure, true);
        FreeAll();
        return TifFail(failure);
    }
    // The header comes last: the first page's data starts behind its place,
    // 16 bytes (a BigTIFF header's; a classic one leaves 8 of them unused).
    if (const int failure = SetUp(this, info, photometric, 16); failure != VXTIFF_FAIL_NONE) {
        const int compression = m_nCompression;
        FreeAll();
        m_bWrite = 0;
        std::remove(path);  // this Create made or truncated it
        return TifFail(failure, failure == VXTIFF_FAIL_NO_ENCODER ? compression : 0);
    }
    TifFail(VXTIFF_FAIL_NONE);
    return 1;
}

int CTifFile::AddPage(VXIMGINFO* info)
{
    auto* chain = dynamic_cast<CTifPageChain*>(m_pStream);
    if (!m_bWrite || chain == nullptr || m_pEncoder == nullptr)
        return TifFail(VXTIFF_FAIL_ARGUMENT);  // nothing being written, or an earlier write failed
    if (info == nullptr)
        return TifFail(VXTIFF_FAIL_ARGUMENT);
    int failure = VXTIFF_FAIL_CREATE;
    const int photometric = PhotometricOf(info->nImageType);
    if (chain->pages + 2 > TIF_MAX_WRITTEN_PAGES) {
        failure = VXTIFF_FAIL_TOO_MANY_PAGES;
    } else if (photometric < 0 || m_nCurLine == 0) {
        failure = VXTIFF_FAIL_INVALID;
    } else {
        chain->numbered = true;  // this page too: it is now one of several
        const bool finished = FinishData() && BuildIfd() && WriteIfd();
        chain->ClearTags();  // the next page sets its own
        if (finished) {
            const uint64_t start = TifWriteOffset(this);
            FreePage();
            ResetImage();
            failure = SetUp(this, info, photometric, start);
        }
    }
    if (failure == VXTIFF_FAIL_NONE) {
        TifFail(VXTIFF_FAIL_NONE);
        return 1;
    }
    // The pages before are written, but the file can no longer be finished.
    const int compression = m_nCompression;
    FailWrite();
    return TifFail(failure, failure == VXTIFF_FAIL_NO_ENCODER ? compression : 0);
}

int CTifFile::SetBigTiff(int force)
{
    auto* chain = dynamic_cast<CTifPageChain*>(m_pStream);
    if (!m_bWrite || chain == nullptr)
        return 0;
    chain->forceBig = force != 0;
    return 1;
}

int CTifFile::BeginWriteStrip(int)
{
    m_nStripLinesLeft = m_nRowsPerStrip;
    const uint64_t at = TifWriteOffset(this);
    TifWide(this)->stripOffset = at;
    m_nStripOffset = TifCut32(at);
    m_nStripBytes = 0;
    if (m_pStream->Seek(int64_t(at), SEEK_SET) != int64_t(at))
        return 0;
    TifCodec* const encoder = m_pEncoder;
    return TifCodecCall([&] { return encoder->BeginStrip(encoder); }, 0) > 0 ? 1 : 0;
}

int CTifFile::EndWriteStrip(int index)
{
    if (index < 0 || index >= m_nStrips)
        return 0;
    TifCodec* const encoder = m_pEncoder;
    if (TifCodecCall([&] { return encoder->EndStrip(encoder); }, -1) < 0)
        return 0;
    // TifWriteProc kept the strip's bytes within a 32-bit count.
    const auto bytes = static_cast<uint32_t>(m_nStripBytes);
    const uint64_t at = TifWide(this)->stripOffset;
    if (!TifSetStrip(this, index, at, bytes))
        return 0;
    TifSetWriteOffset(this, at + bytes);
    return 1;
}

int CTifFile::NextWriteStrip()
{
    if (!EndWriteStrip(m_nCurStrip))
        return 0;
    ++m_nCurStrip;
    return m_nCurStrip < m_nStrips ? BeginWriteStrip(m_nCurStrip) : 1;
}

int CTifFile::EncodeTileRow()
{
    // Rows that the caller did not write (below the image, or after the last
    // line written) are zero, not what an earlier tile row left there.
    const int filled = m_nTileLength - m_nStripLinesLeft;
    const size_t tileLine = size_t(TifTileLineBytes(this));
    TifUseStride(m_pEncoder, int(tileLine));  // the tile buffers' lines are packed
    for (int i = 0; i < m_nTilesAcross; ++i) {
        if (filled < m_nTileLength)
            std::memset(m_ppTileRow[i] + size_t(filled) * tileLine, 0, size_t(m_nTileLength - filled) * tileLine);
        if (Encode(m_pEncoder, m_ppTileRow[i], m_nTileLength) != m_nTileLength || !NextWriteStrip())
            return 0;
    }
    return 1;
}

void CTifFile::FailWrite()
{
    if (m_pEncoder != nullptr)
        m_pEncoder->Destroy(m_pEncoder);
    m_pEncoder = nullptr;
}

int CTifFile::WriteLine(void* row)
{
    if (!m_bWrite || m_pEncoder == nullptr || row == nullptr || m_nCurLine >= m_nHeight)
        return 0;
    if (!m_bTiled)
        return WriteLines(row, 1);
    // Only the image row's bytes are read; the rest of the last tile's row,
    // down to the bits past the image width, is zero.
    const int tileLine = TifTileLineBytes(this);
    const size_t at = size_t(m_nCurLine % m_nTileLength) * size_t(tileLine);
    const auto* src = static_cast<const unsigned char*>(row);
    for (int i = 0; i < m_nTilesAcross; ++i) {
        unsigned char* dst = m_ppTileRow[i] + at;
        const int64_t start = int64_t(i) * tileLine;
        const int n = static_cast<int>(m_nRowBytes - start < tileLine ? m_nRowBytes - start : tileLine);
        std::memcpy(dst, src + start, size_t(n));
        // The last tile may end the row inside a byte even when the row's
        // bytes fill the tile's: the test is on pixels, not bytes.
        const int64_t pixels = int64_t(m_nWidth) - int64_t(i) * m_nTileWidth;
        if (pixels < m_nTileWidth) {
            const int64_t bits = pixels * m_nSamplesPerPixel * m_nBitsPerSample;
            if (bits % 8 != 0)
                dst[bits / 8] &= static_cast<unsigned char>(0xFF << (8 - bits % 8));
            std::memset(dst + n, 0, size_t(tileLine - n));
        }
    }
    ++m_nCurLine;
    if (--m_nStripLinesLeft > 0)
        return 1;
    if (!EncodeTileRow()) {
        FailWrite();
        return 0;
    }
    return 1;
}

int CTifFile::WriteLines(void* rows, int count)
{
    if (!m_bWrite || m_pEncoder == nullptr || rows == nullptr || count <= 0)
        return 0;
    if (count > m_nHeight - m_nCurLine)
        count = m_nHeight - m_nCurLine;  // lines beyond the image are refused
    auto* p = static_cast<unsigned char*>(rows);
    int done = 0;
    if (m_bTiled) {
        for (; done < count && WriteLine(p); ++done)
            p += m_nBufRowBytes;
        return done;
    }
    TifUseStride(m_pEncoder, m_nBufRowBytes);
    while (done < count) {
        const int n = count - done < m_nStripLinesLeft ? count - done : m_nStripLinesLeft;
        if (!EncodeStripLines(this, p, n)) {
            FailWrite();
            break;
        }
        done += n;
        if (done < count)
            p += size_t(n) * size_t(m_nBufRowBytes);
    }
    return done;
}

// Ends the data with the last line written: the strip or tile row in
// progress is finished when it holds a line, and the image is as long as
// the lines written, so that a page that ended early (a fax page whose end is
// known only at the end) is exact. No line at all makes no image.
int CTifFile::FinishData()
{
    const int pending = m_nRowsPerStrip - m_nStripLinesLeft;  // lines in the strip or tile row begun
    if (m_nCurStrip < m_nStrips && pending > 0) {
        if (m_bTiled ? !EncodeTileRow() : !EndWriteStrip(m_nCurStrip++))
            return 0;
    }
    if (m_nCurLine <= 0)
        return 0;
    if (m_nCurLine < m_nHeight) {
        m_nHeight = m_nCurLine;
        m_nStrips = m_nCurStrip;  // the strips or tiles ended, in file order
        if (m_bTiled)
            m_nTilesDown = m_nStrips / m_nTilesAcross;
        else if (m_nRowsPerStrip > m_nHeight)
            m_nRowsPerStrip = m_nHeight;
    }
    return m_pCompression->DataEnded();
}

int CTifFile::CloseWrite()
{
    // No encoder: an earlier write failed and the file cannot be finished.
    auto* chain = dynamic_cast<CTifPageChain*>(m_pStream);
    int ok = m_pEncoder != nullptr && chain != nullptr && FinishData();
    ok = ok && BuildIfd() && WriteIfd() && chain->Finish(m_bSwap);
    if (ok && !m_pStream->Commit()) {
        // The header is written; take it back so no reader trusts the file.
        static const unsigned char zero[8] = {};
        if (m_pStream->Seek(0, SEEK_SET) == 0)
            m_pStream->Write(zero, 8);
        ok = 0;
    }
    if (ok)
        ok = m_pStream->Close();
    FreeAll();
    return ok;
}

void CTifFile::SetColorMap(int count, RGBQUAD* colors)
{
    if (m_pStream == nullptr || m_nImageType != VXIMG_PALETTE || count <= 0 || colors == nullptr)
        return;
    // Written maps hold at most 2^16 colours (16-bit samples).
    if (count > 65536)
        count = 65536;
    std::free(m_pRedMap);
    m_pRedMap = m_pGreenMap = m_pBlueMap = nullptr;
    m_nColors = 0;
    m_pRedMap = static_cast<uint16_t*>(std::malloc(size_t(3) * count * sizeof(uint16_t)));
    if (m_pRedMap == nullptr)
        return;
    m_nColors = count;
    m_pGreenMap = m_pRedMap + count;
    m_pBlueMap = m_pRedMap + 2 * count;
    for (int i = 0; i < count; ++i) {
        m_pRedMap[i] = static_cast<uint16_t>(colors[i].rgbRed * 257);  // 0..255 onto 0..65535
        m_pGreenMap[i] = static_cast<uint16_t>(colors[i].rgbGreen * 257);
        m_pBlueMap[i] = static_cast<uint16_t>(colors[i].rgbBlue * 257);
    }
}

int CTifFile::SetEncodeParams(unsigned int tag, unsigned int value)
{
    // Rows already encoded with another value would contradict the directory.
    if (!m_bWrite || m_pEncoder == nullptr || m_pCompression == nullptr || m_nCurLine > 0)
        return 0;
    return m_pCompression->SetEncodeParam(static_cast<int>(tag), static_cast<int>(value));
}
