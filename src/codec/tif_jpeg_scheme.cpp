// tif_jpeg_scheme.cpp — the tags of a JPEG page, for its decoder.
#include "codec/tif_jpeg_scheme.h"

#include <cstdlib>

#include "codec/general/tif_jpeg.h"
#include "tif/tif_file.h"

TifCodec* CTifJpegCompression::CreateDecoder()
{
    TifCodec* decoder = CTifCompression::CreateDecoder();
    if (decoder == nullptr)
        return nullptr;
    TifJpegPage page{};
    page.photometric = m_pFile->m_nPhotometric;
    page.subsampleH = page.subsampleV = 2;  // TIFF 6.0's default
    int count = 0;
    uint16_t* sampling = nullptr;
    if (m_pFile->GetTagShorts(TIF_TAG_YCBCRSUBSAMPLING, &count, &sampling) && count >= 2) {
        page.subsampleH = sampling[0];
        page.subsampleV = sampling[1];
    }
    std::free(sampling);
    page.maxRows = m_pFile->m_nRowsPerStrip;  // the tile length for tiles
    unsigned char* tables = nullptr;
    if (m_pFile->GetTagBytes(TIF_TAG_JPEGTABLES, &count, &tables) && count > 0) {
        page.tables = tables;
        page.tablesSize = count;
    }
    const int ok = TifJpegSetPage(decoder, &page);
    std::free(tables);
    if (!ok) {
        decoder->Destroy(decoder);
        return nullptr;
    }
    if (m_pFile->m_nPhotometric == 6)
        m_pFile->m_nPhotometric = 2;  // YCbCr is delivered as RGB
    return decoder;
}
