// tif_jpeg_scheme.cpp — the tags of a JPEG page, for its decoder.
#include "codec/tif_jpeg_scheme.h"

#include <cstdint>
#include <cstdlib>

#include "codec/general/tif_jpeg.h"
#include "io/tif_stream.h"
#include "tif/tif_failure.h"
#include "tif/tif_file.h"

bool CTifJpegCompression::WholeStream() const
{
    int offset = 0;
    return m_pFile->m_nCompression == 6 && m_pFile->GetTagValue(TIF_TAG_JPEGIFOFFSET, &offset) && offset != 0;
}

bool CTifJpegCompression::Refused() const
{
    const CTifFile* f = m_pFile;
    if (f->m_nCompression != 6)
        return false;
    if (WholeStream())
        return f->m_bTiled != 0;  // one stream for the image: strips only
    // Old-style tiles, and tables stored apart from the streams.
    return f->m_bTiled || m_pFile->FindTag(TIF_TAG_JPEGQTABLES) != nullptr ||
           m_pFile->FindTag(TIF_TAG_JPEGDCTABLES) != nullptr || m_pFile->FindTag(TIF_TAG_JPEGACTABLES) != nullptr;
}

// The page as its directory describes it; the caller frees page.tables.
TifJpegPage CTifJpegCompression::Page() const
{
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
    } else {
        std::free(tables);
    }
    return page;
}

TifCodec* CTifJpegCompression::CreateDecoder()
{
    if (Refused())
        return nullptr;
    if (WholeStream())
        m_pFile->m_nRowsPerStrip = m_pFile->m_nHeight;
    TifCodec* decoder = CTifCompression::CreateDecoder();
    if (decoder == nullptr)
        return nullptr;
    const TifJpegPage page = Page();
    const int ok = TifJpegSetPage(decoder, &page);
    std::free(const_cast<unsigned char*>(page.tables));
    if (!ok) {
        decoder->Destroy(decoder);
        return nullptr;
    }
    if (m_pFile->m_nPhotometric == 6)
        m_pFile->m_nPhotometric = 2;  // YCbCr is delivered as RGB
    return decoder;
}

int CTifJpegCompression::ReadOwnLayout()
{
    if (!WholeStream())
        return -1;
    CTifFile* f = m_pFile;
    int offset = 0, bytes = -1;
    f->GetTagValue(TIF_TAG_JPEGIFOFFSET, &offset);
    const int64_t at = uint32_t(offset), length = f->m_pStream->GetLength();
    if (!f->GetTagValue(TIF_TAG_JPEGIFBYTECOUNT, &bytes) || bytes == 0)
        bytes = static_cast<int>(length > at && length - at < INT32_MAX ? length - at : 0);
    std::free(f->m_pStripOffsets);
    std::free(f->m_pStripByteCounts);
    f->m_pStripOffsets = static_cast<uint32_t*>(std::malloc(sizeof(uint32_t)));
    f->m_pStripByteCounts = static_cast<uint32_t*>(std::malloc(sizeof(uint32_t)));
    if (f->m_pStripOffsets == nullptr || f->m_pStripByteCounts == nullptr)
        return TifFail(VXTIFF_FAIL_MEMORY);
    f->m_nStrips = 1;
    f->m_pStripOffsets[0] = uint32_t(offset);
    f->m_pStripByteCounts[0] = uint32_t(bytes);
    return 1;
}
