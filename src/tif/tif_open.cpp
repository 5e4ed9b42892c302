// tif_open.cpp — opening a TIFF file: header, first directory, image description.
//
// Only the first directory is read. Every directory value that sizes an array or
// a buffer is checked before use: strip and tile arrays must hold a value for
// every strip or tile, tile geometry must be positive and byte-aligned, and no
// single allocation may exceed TIF_MAX_ALLOC.
#include <climits>
#include <cstdlib>
#include <new>

#include "codec/tif_codec.h"
#include "codec/tif_compression.h"
#include "codec/tif_limits.h"
#include "codec/tif_tiff.h"
#include "io/tif_stream.h"
#include "tif/tif_bytes.h"
#include "tif/tif_file.h"

namespace {

// The public image type for a PhotometricInterpretation, or -1.
int ImageTypeOf(int photometric)
{
    switch (photometric) {
    case 0: return VXIMG_MINISWHITE;
    case 1: return VXIMG_MINISBLACK;
    case 2: case 6: return VXIMG_RGB;
    case 3: return VXIMG_PALETTE;
    case 5: return VXIMG_CMYK;
    default: return -1;
    }
}

// A resolution in pixels per unit, or 0.0 when absent or unusable.
double Resolution(CTifFile* f, int tag)
{
    int count;
    uint32_t* r;
    double value = 0.0;
    if (f->GetTagRationals(tag, &count, &r) && count > 0 && r[1] != 0) {
        // RATIONAL is two unsigned LONGs (writers use numerators above 2^31);
        // only SRATIONAL (type 10) is signed.
        if (TifGet16(f->FindTag(tag) + 2, f->m_bSwap) == 10)
            value = double(int32_t(r[0])) / double(int32_t(r[1]));
        else
            value = double(r[0]) / double(r[1]);
    }
    std::free(r);
    return value;
}

}  // namespace

int CTifFile::Open(const char* path)
{
    if (m_pStream != nullptr || path == nullptr)
        return 0;  // never overwrite a file that is open
    ResetImage();

    m_pStream = new (std::nothrow) CTifFileStream;
    if (m_pStream == nullptr || !m_pStream->Open(path, 0)) {
        FreeAll();
        return 0;
    }
    m_bWrite = 0;
    unsigned char header[8];
    if (m_pStream->Seek(0, 0) != 0 || m_pStream->Read(header, 8) != 8 ||
        !((header[0] == 'I' && header[1] == 'I') || (header[0] == 'M' && header[1] == 'M'))) {
        FreeAll();
        return 0;
    }
    m_bSwap = header[0] == 'M';
    if (TifGet16(header + 2, m_bSwap) != 42 || !ReadIfd(TifGet32(header + 4, m_bSwap))) {
        FreeAll();
        return 0;
    }
    m_nImageType = ImageTypeOf(m_nPhotometric);
    if (m_nImageType < 0) {
        FreeAll();
        return 0;
    }
    m_nCurLine = 0;
    m_nCurStrip = 0;
    m_nRowBytes = m_nBufRowBytes =
        static_cast<int>(TifRowBytes(m_nWidth, m_nSamplesPerPixel, m_nBitsPerSample));
    if (!(m_bTiled ? LoadTileRow(0) : LoadStrip(0))) {
        FreeAll();
        return 0;
    }
    return 1;
}

int CTifFile::ReadIfd(uint32_t offset)
{
    unsigned char count[2];
    if (m_pStream->Seek(static_cast<long>(offset), 0) != static_cast<long>(offset) ||
        m_pStream->Read(count, 2) != 2)
        return 0;
    m_nEntries = TifGet16(count, m_bSwap);
    int size = m_nEntries * 12 + 6;
    std::free(m_pIfd);
    m_pIfd = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(size)));
    m_pEntries = nullptr;
    if (m_pIfd == nullptr)
        return 0;
    if (m_pStream->Seek(static_cast<long>(offset), 0) != static_cast<long>(offset) ||
        m_pStream->Read(m_pIfd, size) != size)
        return 0;
    m_pEntries = m_pIfd + 2;

    int planar = 1;
    GetTagValue(TIF_TAG_PLANARCONFIG, &planar);
    if (planar != 1 || !GetTagValue(TIF_TAG_IMAGEWIDTH, &m_nWidth) ||
        !GetTagValue(TIF_TAG_IMAGELENGTH, &m_nHeight))
        return 0;
    m_nCompression = 0;
    GetTagValue(TIF_TAG_COMPRESSION, &m_nCompression);
    m_nPhotometric = 0;
    GetTagValue(TIF_TAG_PHOTOMETRIC, &m_nPhotometric);
    m_nSamplesPerPixel = 1;
    GetTagValue(TIF_TAG_SAMPLESPERPIXEL, &m_nSamplesPerPixel);
    m_nRowsPerStrip = -1;
    GetTagValue(TIF_TAG_ROWSPERSTRIP, &m_nRowsPerStrip);
    if (m_nWidth <= 0 || m_nHeight <= 0)
        return 0;

    if (m_nSamplesPerPixel > 1) {
        int n;
        uint32_t* bits;
        int ok = GetTagLongs(TIF_TAG_BITSPERSAMPLE, &n, &bits) && n > 0;
        if (ok)
            m_nBitsPerSample = static_cast<int>(bits[0]);
        std::free(bits);
        if (!ok)
            return 0;
    } else {
        m_nBitsPerSample = 1;
        GetTagValue(TIF_TAG_BITSPERSAMPLE, &m_nBitsPerSample);
    }
    if (TifRowBytes(m_nWidth, m_nSamplesPerPixel, m_nBitsPerSample) < 0)
        return 0;

    m_pCompression = TifCreateCompression(this);
    if (m_pCompression == nullptr)
        return 0;

    // A directory with TileOffsets is read as tiled, whatever else it holds: the
    // decoder must be made for one geometry, and the tile tags name it.
    int nTileOffsets;
    uint32_t* tileOffsets;
    int tiled = GetTagLongs(TIF_TAG_TILEOFFSETS, &nTileOffsets, &tileOffsets) && nTileOffsets > 0;
    std::free(tileOffsets);
    if (tiled) {
        if (!GetTagValue(TIF_TAG_TILEWIDTH, &m_nTileWidth) || !GetTagValue(TIF_TAG_TILELENGTH, &m_nTileLength) ||
            m_nTileWidth <= 0 || m_nTileLength <= 0)
            return 0;
        // Tile rows are assembled byte-wise, so a tile row must end on a byte
        // (TIFF 6.0 asks for tile widths that are multiples of 16).
        int64_t tileBits = TifCheckedSize(int64_t(m_nTileWidth) * m_nSamplesPerPixel, m_nBitsPerSample);
        if (tileBits < 0 || tileBits % 8 != 0)
            return 0;
        m_bTiled = 1;
    }

    // The codec works on rows of one tile.
    int width = m_nWidth;
    if (m_bTiled)
        m_nWidth = m_nTileWidth;
    m_pDecoder = m_pCompression->CreateDecoder();
    m_nWidth = width;
    if (m_pDecoder == nullptr || !m_pCompression->ReadTags())
        return 0;
    ReadColorMap();
    m_pDecoder->SetIoProc(m_pDecoder, TifReadProc, this);

    if (m_nRowsPerStrip <= 0 || m_nRowsPerStrip > m_nHeight)
        m_nRowsPerStrip = m_nHeight;
    m_nStrips = static_cast<int>((int64_t(m_nRowsPerStrip) + m_nHeight - 1) / m_nRowsPerStrip);

    m_dXResolution = Resolution(this, TIF_TAG_XRESOLUTION);
    m_dYResolution = Resolution(this, TIF_TAG_YRESOLUTION);
    int unit = 2;
    if (GetTagValue(TIF_TAG_RESOLUTIONUNIT, &unit) && unit == 3) {
        m_dXResolution *= 2.54;
        m_dYResolution *= 2.54;
    }

    int nOffsets, nCounts;
    if (!m_bTiled) {
        if (!GetTagLongs(TIF_TAG_STRIPOFFSETS, &nOffsets, &m_pStripOffsets) || nOffsets < m_nStrips)
            return 0;
        if (GetTagLongs(TIF_TAG_STRIPBYTECOUNTS, &nCounts, &m_pStripByteCounts))
            return nCounts >= m_nStrips;
        if (FindTag(TIF_TAG_STRIPBYTECOUNTS) != nullptr || m_nStrips != 1)
            return 0;  // unreadable, or several strips of unknown size
        // A single strip without byte count runs to the end of the file.
        std::free(m_pStripByteCounts);
        m_pStripByteCounts = static_cast<uint32_t*>(std::malloc(sizeof(uint32_t)));
        long length = m_pStream->GetLength();
        if (m_pStripByteCounts == nullptr || length < 0)
            return 0;
        m_pStripByteCounts[0] =
            length > long(m_pStripOffsets[0]) ? static_cast<uint32_t>(length - long(m_pStripOffsets[0])) : 0;
        return 1;
    }

    if (!GetTagLongs(TIF_TAG_TILEOFFSETS, &nOffsets, &m_pStripOffsets) ||
        !GetTagLongs(TIF_TAG_TILEBYTECOUNTS, &nCounts, &m_pStripByteCounts) || nCounts < nOffsets)
        return 0;
    m_nStrips = nOffsets;
    int64_t across = (int64_t(m_nWidth) + m_nTileWidth - 1) / m_nTileWidth;
    int64_t down = (int64_t(m_nHeight) + m_nTileLength - 1) / m_nTileLength;
    if (across * down > m_nStrips)
        return 0;
    m_nTilesAcross = static_cast<int>(across);
    m_nTilesDown = static_cast<int>(down);
    m_nRowsPerStrip = m_nTileLength;
    return AllocTileRow();
}

int CTifFile::ReadColorMap()
{
    if (m_nPhotometric != 3)
        return 1;
    int count;
    std::free(m_pRedMap);
    m_pRedMap = m_pGreenMap = m_pBlueMap = nullptr;
    m_nColors = 0;
    if (GetTagShorts(TIF_TAG_COLORMAP, &count, &m_pRedMap) && count >= 3) {
        m_nColors = count / 3;
        m_pGreenMap = m_pRedMap + m_nColors;
        m_pBlueMap = m_pRedMap + 2 * m_nColors;
    } else {
        // A palette image without a usable ColorMap opens with no colours.
        std::free(m_pRedMap);
        m_pRedMap = nullptr;
    }
    return 1;
}
