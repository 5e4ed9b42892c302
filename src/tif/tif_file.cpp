// tif_file.cpp — CTifFile construction, release, description and palette.
#include "tif/tif_file.h"

#include <cstdlib>

#include "codec/tif_codec.h"
#include "codec/tif_compression.h"
#include "codec/tif_limits.h"
#include "io/tif_stream.h"
#include "tif/tif_wide.h"

CTifFile::CTifFile()
    : m_pStream(nullptr), m_bWrite(0), m_bSwap(0), m_pIfd(nullptr), m_nEntries(0),
      m_pEntries(nullptr), m_nImageType(0), m_nWidth(0), m_nHeight(0), m_nSamplesPerPixel(0),
      m_nBitsPerSample(0), m_nRowsPerStrip(0), m_nCompression(0), m_dXResolution(0.0),
      m_dYResolution(0.0), m_nPhotometric(0), m_nStrips(0), m_pStripOffsets(nullptr),
      m_pStripByteCounts(nullptr), m_nColors(0), m_pRedMap(nullptr), m_pGreenMap(nullptr),
      m_pBlueMap(nullptr), m_nRowBytes(0), m_nBufRowBytes(0), m_nWriteOffset(0), m_nCurLine(0),
      m_nCurStrip(0), m_nStripOffset(0), m_nStripBytes(0), m_nStripLinesLeft(0),
      m_pWriteOffsets(nullptr), m_pWriteByteCounts(nullptr), m_nTileLength(0), m_nTileWidth(0),
      m_nTilesAcross(0), m_nTilesDown(0), m_nTiles(0), m_ppTileRow(nullptr), m_bTiled(0),
      m_pCompression(nullptr), m_pEncoder(nullptr), m_pDecoder(nullptr)
{
}

CTifFile::~CTifFile() { FreeAll(); }

void CTifFile::FreeAll()
{
    delete m_pStream;  // closes an open handle
    m_pStream = nullptr;
    FreePage();
}

void CTifFile::FreePage()
{
    std::free(m_pIfd);
    m_pIfd = nullptr;
    m_pEntries = nullptr;
    m_nEntries = 0;
    std::free(m_pStripOffsets);
    m_pStripOffsets = nullptr;
    std::free(m_pStripByteCounts);
    m_pStripByteCounts = nullptr;
    if (m_ppTileRow != nullptr) {
        for (int i = 0; i < m_nTilesAcross; ++i)
            std::free(m_ppTileRow[i]);
        std::free(m_ppTileRow);
        m_ppTileRow = nullptr;
    }
    std::free(m_pRedMap);
    m_pRedMap = m_pGreenMap = m_pBlueMap = nullptr;
    if (m_pEncoder != nullptr)
        m_pEncoder->Destroy(m_pEncoder);
    m_pEncoder = nullptr;
    if (m_pDecoder != nullptr)
        m_pDecoder->Destroy(m_pDecoder);
    m_pDecoder = nullptr;
    delete m_pCompression;
    m_pCompression = nullptr;
    m_pWriteOffsets = m_pWriteByteCounts = nullptr;
    if (CTifWideStream* wide = TifWide(this))
        wide->FreePage();
}

void CTifFile::ResetImage()
{
    m_bSwap = 0;
    m_bTiled = 0;
    m_nTileWidth = m_nTileLength = 0;
    m_nTilesAcross = m_nTilesDown = m_nTiles = 0;
    m_dXResolution = m_dYResolution = 0.0;
    m_nColors = 0;
    m_nStrips = 0;
    m_nCurLine = m_nCurStrip = 0;
    m_nStripLinesLeft = 0;
    m_nWriteOffset = 0;
}

int CTifFile::AllocTileRow()
{
    // TifTileLineBytes, checked: the tile buffers' layout is within the limits from here on.
    int64_t tileLineBytes = TifRowBytes(m_nTileWidth, m_nSamplesPerPixel, m_nBitsPerSample);
    int64_t tileBytes = TifCheckedSize(tileLineBytes, m_nTileLength);
    if (m_nTilesAcross <= 0 || tileLineBytes < 0 || tileBytes <= 0 ||
        TifCheckedSize(tileBytes, m_nTilesAcross) < 0)
        return 0;  // the whole tile row stays within the limit
    m_ppTileRow = static_cast<unsigned char**>(
        std::calloc(static_cast<size_t>(m_nTilesAcross), sizeof(unsigned char*)));
    if (m_ppTileRow == nullptr)
        return 0;
    for (int i = 0; i < m_nTilesAcross; ++i) {
        m_ppTileRow[i] = static_cast<unsigned char*>(std::calloc(static_cast<size_t>(tileBytes), 1));
        if (m_ppTileRow[i] == nullptr)
            return 0;
    }
    return 1;
}

int CTifFile::Close()
{
    if (m_pStream == nullptr)
        return 0;
    if (m_bWrite)
        return CloseWrite();
    int result = m_pStream->Close();
    FreeAll();
    return result;
}

void CTifFile::GetImgInfo(VXIMGINFO* info)
{
    if (info == nullptr)
        return;
    info->nImageType = m_nImageType;
    info->bTiled = m_bTiled;
    info->nWidth = m_nWidth;
    info->nHeight = m_nHeight;
    info->nSamplesPerPixel = m_nSamplesPerPixel;
    info->nBitsPerSample = m_nBitsPerSample;
    info->nRowsPerStrip = m_nRowsPerStrip;
    info->nCompression = m_nCompression;
    info->nTileWidth = m_nTileWidth;
    info->nTileLength = m_nTileLength;
    info->dXResolution = m_dXResolution;
    info->dYResolution = m_dYResolution;
}

void CTifFile::GetColorMap(int count, RGBQUAD* colors)
{
    if (m_nImageType != VXIMG_PALETTE || colors == nullptr || m_pRedMap == nullptr)
        return;
    // A map whose values all stay below 256 was written with 8-bit entries.
    bool wide = false;
    for (int i = 0; i < 3 * m_nColors; ++i)
        if (m_pRedMap[i] >= 256)
            wide = true;
    if (count > m_nColors)
        count = m_nColors;
    for (int i = count - 1; i >= 0; --i) {
        unsigned r = m_pRedMap[i], g = m_pGreenMap[i], b = m_pBlueMap[i];
        if (wide) {
            r = r * 255 / 65535;
            g = g * 255 / 65535;
            b = b * 255 / 65535;
        }
        colors[i].rgbRed = static_cast<uint8_t>(r);
        colors[i].rgbGreen = static_cast<uint8_t>(g);
        colors[i].rgbBlue = static_cast<uint8_t>(b);
    }
}
