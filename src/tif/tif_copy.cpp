// tif_copy.cpp — filling a page being written with another file's stored
// strips or tiles, byte for byte: no decoding, no encoding.
//
// Only data that means the same in the new file is copied: the same image,
// layout, compression and coding parameters, bit order most significant
// first, and samples of at most 8 bits unless the source is little-endian as
// well (the new file is). Anything else is refused before a byte is written,
// so that the caller can write the page's lines instead.
#include <cstdio>
#include <cstdlib>

#include "codec/tif_compression.h"
#include "codec/tif_compressions.h"
#include "codec/tif_tiff.h"
#include "io/tif_io.h"
#include "io/tif_stream.h"
#include "tif/tif_file.h"
#include "tif/tif_wide.h"

namespace {

constexpr int kCopyBlock = 65536;

int TagOr(CTifFile* f, int tag, int absent)
{
    int v = absent;
    return f->GetTagValue(tag, &v) ? v : absent;
}

bool SameImage(CTifFile* to, CTifFile* from)
{
    if (from->m_nWidth != to->m_nWidth || from->m_nHeight != to->m_nHeight ||
        from->m_nPhotometric != to->m_nPhotometric || from->m_nSamplesPerPixel != to->m_nSamplesPerPixel ||
        from->m_nBitsPerSample != to->m_nBitsPerSample ||
        !TifSameCompressedData(from->m_nCompression, to->m_nCompression) ||
        from->m_bTiled != to->m_bTiled || from->m_nStrips != to->m_nStrips)
        return false;
    if (from->m_bTiled)
        return from->m_nTileWidth == to->m_nTileWidth && from->m_nTileLength == to->m_nTileLength;
    return to->m_nStrips == 1 || from->m_nRowsPerStrip == to->m_nRowsPerStrip;
}

// Takes over the source's coding parameters, as SetEncodeParams would.
bool SameCoding(CTifFile* to, CTifFile* from)
{
    if (TagOr(from, TIF_TAG_FILLORDER, 1) != 1 || (from->m_bSwap && from->m_nBitsPerSample > 8))
        return false;
    const int predictor = TagOr(from, TIF_TAG_PREDICTOR, 1);
    if (predictor != 1 && !to->SetEncodeParams(TIF_TAG_PREDICTOR, unsigned(predictor)))
        return false;
    if (TifCompressionHasTag(to->m_nCompression, TIF_TAG_T4OPTIONS) &&
        to->SetEncodeParams(TIF_TAG_T4OPTIONS, unsigned(TagOr(from, TIF_TAG_T4OPTIONS, 0))) != 1)
        return false;
    return to->m_pCompression->TakeCoding(from) == 1;  // tables the strips lean on
}

// Copies `bytes` from the source's `offset` to the end of the new file.
bool CopyBytes(CTifFile* to, CTifFile* from, uint64_t offset, uint32_t bytes, unsigned char* block)
{
    const int64_t at = int64_t(TifWriteOffset(to));
    if (from->m_pStream->Seek(int64_t(offset), SEEK_SET) != int64_t(offset) ||
        to->m_pStream->Seek(at, SEEK_SET) != at)
        return false;
    for (uint32_t done = 0; done < bytes;) {
        const int n = bytes - done < uint32_t(kCopyBlock) ? int(bytes - done) : kCopyBlock;
        if (from->m_pStream->Read(block, n) != n || to->m_pStream->Write(block, n) != n)
            return false;
        done += uint32_t(n);
    }
    return true;
}

// Every stored strip lies inside the source file: a file cut short is
// refused before anything is written, so its lines can be salvaged instead.
bool WhollyInside(CTifFile* from, int strips)
{
    const int64_t length = from->m_pStream->GetLength();
    for (int i = 0; i < strips; ++i)
        if (length < 0 || TifStripOffset(from, i) + TifStripBytes(from, i) > uint64_t(length))
            return false;
    return true;
}

// A new page of `to` with nothing written yet, and a page of another file
// open for reading whose image, coding and strips can be copied to it.
bool CanCopyFrom(CTifFile* to, CTifFile* from)
{
    if (!to->m_bWrite || to->m_pEncoder == nullptr || to->m_nCurLine != 0 || from == nullptr || from == to ||
        from->m_bWrite || from->m_pStream == nullptr || from->m_pStripOffsets == nullptr)
        return false;
    return SameImage(to, from) && WhollyInside(from, to->m_nStrips) && SameCoding(to, from);
}

// Copies the stored strips at the write offset, recording where each went;
// false at the first one that cannot be written.
bool CopyStrips(CTifFile* to, CTifFile* from, unsigned char* block)
{
    bool ok = true;
    for (int i = 0; i < to->m_nStrips && ok; ++i) {
        const uint64_t bytes = TifStripBytes(from, i), at = TifWriteOffset(to);
        ok = bytes <= TIF_MAX_STRIP_BYTES && CopyBytes(to, from, TifStripOffset(from, i), uint32_t(bytes), block) &&
             TifSetStrip(to, i, at, bytes);
        if (ok)
            TifSetWriteOffset(to, at + bytes);
    }
    return ok;
}

}  // namespace

int CTifFile::CopyPageData(CTifFile* source)
{
    if (!CanCopyFrom(this, source))
        return 0;
    auto* block = static_cast<unsigned char*>(std::malloc(kCopyBlock));
    if (block == nullptr)
        return 0;
    const int64_t readAt = source->m_pStream->Tell();  // a strip being decoded goes on from there
    const bool ok = CopyStrips(this, source, block);
    std::free(block);
    source->m_pStream->Seek(readAt, SEEK_SET);
    if (!ok) {
        FailWrite();  // part of the data is written: the file cannot be finished
        return 0;
    }
    // The page is complete: Close or AddPage finishes it without encoding.
    m_nCurLine = m_nHeight;
    m_nCurStrip = m_nStrips;
    m_nStripLinesLeft = 0;
    return 1;
}
