// tif_jpeg_scheme.cpp — the tags of a JPEG page, for its decoder.
#include "codec/tif_jpeg_scheme.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "codec/general/tif_jpeg.h"
#include "io/tif_stream.h"
#include "tif/tif_failure.h"
#include "tif/tif_file.h"
#include "tif/tif_wide.h"

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

// Writing.

CTifJpegCompression::~CTifJpegCompression()
{
    std::free(m_pTables);
}

int CTifJpegCompression::Written() const
{
    if (m_nTakenPhotometric >= 0)
        return m_nTakenPhotometric;
    const int p = m_pFile->m_nPhotometric, n = m_pFile->m_nSamplesPerPixel;
    if ((p == 0 || p == 1) && n == 1)
        return p;
    if (p == 2 && n == 3)
        return 6;  // what JPEG codes colour best in: luma at full size, chroma at a quarter
    return p == 5 && n == 4 ? 5 : -1;
}

TifJpegEncoding CTifJpegCompression::Encoding() const
{
    TifJpegEncoding e{};
    e.photometric = Written();
    e.subsampleH = m_aSampling[0];
    e.subsampleV = m_aSampling[1];
    e.maxRows = m_pFile->m_nRowsPerStrip;  // the tile length for tiles
    e.height = m_pFile->m_nHeight;
    e.tiledWidth = m_pFile->m_bTiled ? m_pFile->m_nWidth : 0;
    return e;
}

TifCodec* CTifJpegCompression::CreateEncoder()
{
    if (m_pFile->m_nCompression != 7 || Written() < 0)
        return nullptr;
    TifCodec* encoder = CTifCompression::CreateEncoder();
    const TifJpegEncoding e = Encoding();
    m_nFrameRows = e.height;
    if (encoder != nullptr && !TifJpegSetEncoding(encoder, &e)) {
        encoder->Destroy(encoder);
        return nullptr;
    }
    return encoder;
}

int CTifJpegCompression::HasEncoder() const
{
    return m_pFile->m_nCompression == 7 && Written() >= 0 && CTifCompression::HasEncoder();
}

int CTifJpegCompression::StripRows(int asked) const
{
    const int band = Written() == 6 ? 8 * m_aSampling[1] : 8;
    const int most = TIF_JPEG_MAX_DIMENSION / band * band;  // a frame's height is limited too
    if (asked >= m_pFile->m_nHeight)
        return m_pFile->m_nHeight <= TIF_JPEG_MAX_DIMENSION ? asked : most;
    const int64_t rows = (int64_t(asked) + band - 1) / band * band;
    return rows < most ? int(rows) : most;
}

int CTifJpegCompression::SetEncodeParam(int tag, int value)
{
    if (tag != TIF_TAG_JPEGQUALITY)
        return 1;
    TifCodec* encoder = m_pFile->m_pEncoder;
    return encoder != nullptr && encoder->SetParam(encoder, tag, value);
}

int CTifJpegCompression::AddTags()
{
    CTifFile* f = m_pFile;
    const bool tables = m_nTakenPhotometric < 0 || m_pTables != nullptr;
    if (tables && !f->AddTag(TIF_TAG_JPEGTABLES, TIF_TYPE_UNDEFINED))
        return 0;
    return Written() != 6 ||
           (f->AddTag(TIF_TAG_YCBCRSUBSAMPLING, TIF_TYPE_SHORT) && f->AddTag(TIF_TAG_REFERENCEBLACKWHITE, TIF_TYPE_RATIONAL));
}

int CTifJpegCompression::WriteTags()
{
    CTifFile* f = m_pFile;
    int size = m_nTablesSize;
    const unsigned char* tables = m_nTakenPhotometric >= 0 ? m_pTables : TifJpegTables(f->m_pEncoder, &size);
    if (f->FindTag(TIF_TAG_JPEGTABLES) != nullptr && (tables == nullptr || !f->SetTagBytes(TIF_TAG_JPEGTABLES, size, tables)))
        return 0;
    const int photometric = Written();
    if (!f->SetTagValue(TIF_TAG_PHOTOMETRIC, photometric))
        return 0;
    if (photometric != 6)
        return 1;
    // Full-range samples, chroma centred on 128: what JPEG's YCbCr is.
    static const uint32_t kBlackWhite[12] = {0, 1, 255, 1, 128, 1, 255, 1, 128, 1, 255, 1};
    return f->SetTagShorts(TIF_TAG_YCBCRSUBSAMPLING, 2, m_aSampling) &&
           f->SetTagRationals(TIF_TAG_REFERENCEBLACKWHITE, 6, kBlackWhite);
}

int CTifJpegCompression::TakeCoding(CTifFile* from)
{
    if (from->m_nCompression != 7)
        return 0;
    int photometric = -1, count = 0;
    from->GetTagValue(TIF_TAG_PHOTOMETRIC, &photometric);
    uint16_t* sampling = nullptr;
    if (photometric == 6 && from->GetTagShorts(TIF_TAG_YCBCRSUBSAMPLING, &count, &sampling) && count >= 2) {
        m_aSampling[0] = sampling[0];
        m_aSampling[1] = sampling[1];
    }
    std::free(sampling);
    unsigned char* tables = nullptr;
    std::free(m_pTables);
    m_pTables = nullptr;
    m_nTablesSize = 0;
    if (from->GetTagBytes(TIF_TAG_JPEGTABLES, &count, &tables) && count > 0) {
        m_pTables = tables;
        m_nTablesSize = count;
    } else {
        std::free(tables);
    }
    m_nTakenPhotometric = photometric;
    return photometric >= 0 ? 1 : 0;
}

int CTifJpegCompression::DataEnded()
{
    CTifFile* f = m_pFile;
    if (f->m_bTiled || m_nTakenPhotometric >= 0 || f->m_nStrips <= 0 || f->m_nHeight >= m_nFrameRows)
        return 1;  // tiles are whole tiles; copied strips are as they were
    const int last = f->m_nStrips - 1;
    const TifJpegStripEnd end = TifJpegLastStrip(f->m_pEncoder);
    const int64_t rows = int64_t(f->m_nHeight) - int64_t(last) * f->m_nRowsPerStrip;
    if (end.frameAt < 0 || rows <= 0 || rows > 0xFFFF || end.cutAt >= int64_t(TifStripBytes(f, last)))
        return 0;
    const unsigned char height[2] = {static_cast<unsigned char>(rows >> 8), static_cast<unsigned char>(rows)};
    static const unsigned char kEoi[2] = {0xFF, 0xD9};
    const uint64_t offset = TifStripOffset(f, last);
    const int64_t start = int64_t(offset);
    if (f->m_pStream->Seek(start + end.frameAt, SEEK_SET) != start + end.frameAt || f->m_pStream->Write(height, 2) != 2)
        return 0;
    if (end.cutAt < 0)
        return 1;
    TifSetStrip(f, last, offset, uint64_t(end.cutAt + 2));  // the rest stays unused
    return f->m_pStream->Seek(start + end.cutAt, SEEK_SET) == start + end.cutAt &&
           f->m_pStream->Write(kEoi, 2) == 2;
}
