// tif_ifd_read.cpp — reading a page's directory: its entries, what they
// describe, the decoder and the strip or tile arrays.
//
// Every directory value that sizes an array or a buffer is checked before
// use: strip and tile arrays must hold a value for every strip or tile, tile
// geometry must be positive and byte-aligned, and no single allocation may
// exceed TIF_MAX_ALLOC. A BigTIFF directory (8-byte counts and offsets,
// 20-byte entries) is held in the classic form (12-byte entries) that every
// tag reader takes, its 64-bit value positions beside it (tif_wide.h).
#include <climits>
#include <cstdlib>
#include <cstring>

#include "codec/tif_codec.h"
#include "codec/tif_compression.h"
#include "codec/tif_limits.h"
#include "codec/tif_tiff.h"
#include "io/tif_io.h"
#include "io/tif_stream.h"
#include "tif/tif_bytes.h"
#include "tif/tif_failure.h"
#include "tif/tif_file.h"
#include "tif/tif_wide.h"

namespace {

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

// True when an out-of-line value of the directory lies past the end of the
// file: a directory that looks damaged because the file was cut short.
bool ValuesPastEnd(CTifFile* f)
{
    const int64_t length = f->m_pStream->GetLength();
    if (f->m_pEntries == nullptr || length < 0)
        return false;
    for (int i = 0; i < f->m_nEntries; ++i) {
        const unsigned char* e = f->m_pEntries + 12 * i;
        const int64_t bytes = int64_t(TifGet32(e + 4, f->m_bSwap)) * TifTypeSize(TifGet16(e + 2, f->m_bSwap));
        if (bytes > 4 && (bytes > length || TifValueAt(f, e) > uint64_t(length - bytes)))
            return true;
    }
    return false;
}

// Records a damaged directory, or data cut short when that explains it.
int Damaged(CTifFile* f)
{
    return TifFail(ValuesPastEnd(f) ? VXTIFF_FAIL_CUT_SHORT : VXTIFF_FAIL_DAMAGED);
}

// The size, compression, photometric interpretation, samples and rows per
// strip, with their defaults; false without a size, or with an empty one.
bool ReadImageTags(CTifFile* f)
{
    if (!f->GetTagValue(TIF_TAG_IMAGEWIDTH, &f->m_nWidth) || !f->GetTagValue(TIF_TAG_IMAGELENGTH, &f->m_nHeight))
        return false;
    f->m_nCompression = 1;  // TIFF 6.0's default: a page without the tag is uncompressed
    f->GetTagValue(TIF_TAG_COMPRESSION, &f->m_nCompression);
    f->m_nPhotometric = 0;
    f->GetTagValue(TIF_TAG_PHOTOMETRIC, &f->m_nPhotometric);
    f->m_nSamplesPerPixel = 1;
    f->GetTagValue(TIF_TAG_SAMPLESPERPIXEL, &f->m_nSamplesPerPixel);
    f->m_nRowsPerStrip = -1;
    f->GetTagValue(TIF_TAG_ROWSPERSTRIP, &f->m_nRowsPerStrip);
    return f->m_nWidth > 0 && f->m_nHeight > 0;
}

// BitsPerSample (one value per sample when there are several: the first is
// taken); false when it is missing where needed or not positive, or when
// there are no samples.
bool ReadBitsPerSample(CTifFile* f)
{
    if (f->m_nSamplesPerPixel > 1) {
        int n;
        uint32_t* bits;
        const bool ok = f->GetTagLongs(TIF_TAG_BITSPERSAMPLE, &n, &bits) && n > 0;
        if (ok)
            f->m_nBitsPerSample = static_cast<int>(bits[0]);
        std::free(bits);
        if (!ok)
            return false;
    } else {
        f->m_nBitsPerSample = 1;
        f->GetTagValue(TIF_TAG_BITSPERSAMPLE, &f->m_nBitsPerSample);
    }
    return f->m_nBitsPerSample > 0 && f->m_nSamplesPerPixel > 0;
}

// The resolutions in dots per inch (0 when not given).
void ReadResolution(CTifFile* f)
{
    f->m_dXResolution = Resolution(f, TIF_TAG_XRESOLUTION);
    f->m_dYResolution = Resolution(f, TIF_TAG_YRESOLUTION);
    int unit = 2;
    if (f->GetTagValue(TIF_TAG_RESOLUTIONUNIT, &unit) && unit == 3) {
        f->m_dXResolution *= 2.54;
        f->m_dYResolution *= 2.54;
    }
}

// A directory with TileOffsets is read as tiled, whatever else it holds: the
// decoder must be made for one geometry, and the tile tags name it. Takes the
// tile size of such a directory; 0 (the failure recorded) when it is unusable.
int ReadTileSize(CTifFile* f)
{
    int nTileOffsets;
    uint64_t* tileOffsets;
    int tiled = TifGetTagWide(f, TIF_TAG_TILEOFFSETS, &nTileOffsets, &tileOffsets) && nTileOffsets > 0;
    std::free(tileOffsets);
    if (!tiled)
        return 1;
    if (!f->GetTagValue(TIF_TAG_TILEWIDTH, &f->m_nTileWidth) ||
        !f->GetTagValue(TIF_TAG_TILELENGTH, &f->m_nTileLength) || f->m_nTileWidth <= 0 || f->m_nTileLength <= 0)
        return Damaged(f);
    // Tile rows are assembled byte-wise, so a tile row must end on a byte
    // (TIFF 6.0 asks for tile widths that are multiples of 16).
    int64_t tileBits = TifCheckedSize(int64_t(f->m_nTileWidth) * f->m_nSamplesPerPixel, f->m_nBitsPerSample);
    if (tileBits < 0)
        return TifFail(VXTIFF_FAIL_TOO_LARGE);
    if (tileBits % 8 != 0)
        return Damaged(f);
    f->m_bTiled = 1;
    return 1;
}

// A directory of up to 41 entries comes whole with its count, in one read.
constexpr int kHeadBytes = 8 + 41 * 20 + 8;

// Holds the BigTIFF entries `raw` (20 bytes each) as classic ones at `out`,
// each value's position in `at`: inside the entry when it takes 8 bytes or
// fewer, else the offset it gives. The classic value field keeps values of up
// to 4 bytes, else the position cut to 32 bits.
void NarrowEntries(const unsigned char* raw, int n, uint64_t offset, int swap, unsigned char* out, uint64_t* at)
{
    for (int i = 0; i < n; ++i, raw += 20, out += 12) {
        const uint64_t count = TifGet64(raw + 4, swap);
        const int unit = TifTypeSize(TifGet16(raw + 2, swap));
        const bool inEntry = count <= 8 && count * unit <= 8;
        std::memcpy(out, raw, 4);  // tag and type
        TifPut32(out + 4, TifCut32(count), swap);
        at[i] = inEntry ? offset + 8 + 20 * uint64_t(i) + 12 : TifGet64(raw + 12, swap);
        if (inEntry && count * unit <= 4)
            std::memcpy(out + 8, raw + 12, 4);
        else
            TifPut32(out + 8, TifCut32(at[i]), swap);
    }
}

// A BigTIFF directory of `n` entries whose `raw` block (entries, next
// offset) lies at `offset`: narrowed into f's directory.
int TakeBigEntries(CTifFile* f, const unsigned char* raw, int n, uint64_t offset)
{
    CTifWideStream* wide = TifWide(f);
    std::free(wide->valueAt);
    f->m_pIfd = static_cast<unsigned char*>(std::malloc(size_t(n) * 12 + 6));
    wide->valueAt = static_cast<uint64_t*>(std::malloc(size_t(n > 0 ? n : 1) * sizeof(uint64_t)));
    if (f->m_pIfd == nullptr || wide->valueAt == nullptr)
        return TifFail(VXTIFF_FAIL_MEMORY);
    TifPut16(f->m_pIfd, uint32_t(n), f->m_bSwap);
    NarrowEntries(raw, n, offset, f->m_bSwap, f->m_pIfd + 2, wide->valueAt);
    wide->nextIfd = TifGet64(raw + size_t(n) * 20, f->m_bSwap);
    TifPut32(f->m_pIfd + 2 + size_t(n) * 12, TifCut32(wide->nextIfd), f->m_bSwap);
    return 1;
}

// The entry count at the directory's start and the bytes that follow it
// (entries and next offset); 0 (the failure recorded) for a count no
// directory can have: above 65535, or past the end of the file.
int EntryBlock(CTifFile* f, const TifForm& form, const unsigned char* head, uint64_t offset, int* n, int* size)
{
    const uint64_t count = form.countBytes == 8 ? TifGet64(head, f->m_bSwap) : TifGet16(head, f->m_bSwap);
    const int64_t length = f->m_pStream->GetLength();
    if (count > 0xFFFF) {
        const bool past = length < 0 || uint64_t(length) < offset ||
                          count > (uint64_t(length) - offset) / uint64_t(form.entryBytes);
        return TifFail(past ? VXTIFF_FAIL_CUT_SHORT : VXTIFF_FAIL_DAMAGED);
    }
    *n = int(count);
    *size = *n * form.entryBytes + form.linkBytes;
    return 1;
}

// The `size` bytes behind a directory's count, in a block with `start` bytes
// free in front: the `have` bytes already read at `behind`, the rest read
// from the stream. Null (the failure recorded) when cut short.
unsigned char* ReadBlock(CTifFile* f, const unsigned char* behind, int have, int size, int start)
{
    auto* raw = static_cast<unsigned char*>(std::malloc(size_t(start + size)));
    if (raw == nullptr) {
        TifFail(VXTIFF_FAIL_MEMORY);
        return nullptr;
    }
    have = have < size ? have : size;
    std::memcpy(raw + start, behind, size_t(have));
    if (have < size && f->m_pStream->ReadMeta(raw + start + have, size - have) != size - have) {
        std::free(raw);
        TifFail(VXTIFF_FAIL_CUT_SHORT);
        return nullptr;
    }
    return raw;
}

// The page's compression scheme and decoder, reading from the file as the
// page's FillOrder asks; 0 (the failure recorded) when there is none.
int MakeDecoder(CTifFile* f)
{
    f->m_pCompression = TifCreateCompression(f);
    if (f->m_pCompression == nullptr)
        return TifFail(VXTIFF_FAIL_MEMORY);
    f->m_pDecoder = f->m_pCompression->CreateDecoder();
    if (f->m_pDecoder == nullptr)
        return TifFail(VXTIFF_FAIL_COMPRESSION, f->m_nCompression);
    if (!f->m_pCompression->ReadTags()) {
        int predictor = 1;
        f->GetTagValue(TIF_TAG_PREDICTOR, &predictor);
        return TifFail(VXTIFF_FAIL_PREDICTOR, predictor);
    }
    // FillOrder 2 stores every byte least significant bit first, whatever the
    // compression (TIFF 6.0); the bytes are turned as they are read, so that
    // every way of reading gets the same rows.
    int fillOrder = 1;
    f->GetTagValue(TIF_TAG_FILLORDER, &fillOrder);
    const bool reversed = fillOrder == 2 && !f->m_pCompression->DecodesFillOrder();
    f->m_pDecoder->SetIoProc(f->m_pDecoder, reversed ? TifReadProcReversed : TifReadProc, f);
    if (f->m_bTiled)  // tiles are decoded whole, right after BeginStrip
        f->m_pDecoder->SetParam(f->m_pDecoder, TIF_PARAM_WHOLE_STRIPS, 1);
    return 1;
}

// The offsets and byte counts of a BigTIFF page: the 64-bit arrays, and the
// 32-bit ones cut from them. Bit 1 of the result: offsets read; bit 2:
// counts read; -1 without memory.
int ReadWideArrays(CTifFile* f, int offsetsTag, int countsTag, int* nOffsets, int* nCounts)
{
    CTifWideStream* wide = TifWide(f);
    const int got = (TifGetTagWide(f, offsetsTag, nOffsets, &wide->offsets) ? 1 : 0) |
                    (TifGetTagWide(f, countsTag, nCounts, &wide->counts) ? 2 : 0);
    f->m_pStripOffsets = static_cast<uint32_t*>(std::malloc(size_t(*nOffsets > 0 ? *nOffsets : 1) * 4));
    f->m_pStripByteCounts = static_cast<uint32_t*>(std::malloc(size_t(*nCounts > 0 ? *nCounts : 1) * 4));
    if (f->m_pStripOffsets == nullptr || f->m_pStripByteCounts == nullptr)
        return -1;
    for (int i = 0; i < *nOffsets; ++i)
        f->m_pStripOffsets[i] = TifCut32(wide->offsets[i]);
    for (int i = 0; i < *nCounts; ++i)
        f->m_pStripByteCounts[i] = TifCut32(wide->counts[i]);
    return got;
}

// The offsets and byte counts as ReadWideArrays gives them, for either form.
int ReadArrays(CTifFile* f, int offsetsTag, int countsTag, int* nOffsets, int* nCounts)
{
    if (TifWide(f) != nullptr && TifWide(f)->big)
        return ReadWideArrays(f, offsetsTag, countsTag, nOffsets, nCounts);
    return (f->GetTagLongs(offsetsTag, nOffsets, &f->m_pStripOffsets) ? 1 : 0) |
           (f->GetTagLongs(countsTag, nCounts, &f->m_pStripByteCounts) ? 2 : 0);
}

// A single strip without byte count runs to the end of the file.
int CountToEnd(CTifFile* f)
{
    CTifWideStream* wide = TifWide(f);
    const bool big = wide != nullptr && wide->offsets != nullptr;
    std::free(f->m_pStripByteCounts);
    f->m_pStripByteCounts = static_cast<uint32_t*>(std::malloc(sizeof(uint32_t)));
    if (big) {
        std::free(wide->counts);
        wide->counts = static_cast<uint64_t*>(std::malloc(sizeof(uint64_t)));
    }
    const int64_t length = f->m_pStream->GetLength();
    if (f->m_pStripByteCounts == nullptr || length < 0 || (big && wide->counts == nullptr))
        return TifFail(VXTIFF_FAIL_MEMORY);
    const uint64_t offset = TifStripOffset(f, 0);
    const uint64_t bytes = uint64_t(length) > offset ? uint64_t(length) - offset : 0;
    if (big)
        wide->counts[0] = bytes;
    f->m_pStripByteCounts[0] = TifCut32(bytes);
    return 1;
}

}  // namespace

int CTifFile::ReadEntries(uint64_t offset)
{
    if (offset == 0)
        return TifFail(VXTIFF_FAIL_DAMAGED);
    if (offset > uint64_t(INT64_MAX))
        return TifFail(VXTIFF_FAIL_CUT_SHORT);  // past the end of any file
    const bool big = TifWide(this) != nullptr && TifWide(this)->big;
    const TifForm& form = big ? kTifBig : kTifClassic;
    unsigned char head[kHeadBytes];
    const int want = big ? kHeadBytes : 2 + 41 * 12 + 4;
    const int got = m_pStream->Seek(int64_t(offset), 0) == int64_t(offset) ? m_pStream->ReadMeta(head, want) : -1;
    int n = 0, size = 0;
    if (got < form.countBytes)
        return TifFail(VXTIFF_FAIL_CUT_SHORT);
    if (!EntryBlock(this, form, head, offset, &n, &size))
        return 0;
    std::free(m_pIfd);
    m_pIfd = m_pEntries = nullptr;
    m_nEntries = 0;
    // Classic entries are kept as read, with their count in front.
    unsigned char* raw = ReadBlock(this, head + form.countBytes, got - form.countBytes, size, big ? 0 : 2);
    if (raw == nullptr)
        return 0;
    if (big) {
        const int ok = TakeBigEntries(this, raw, n, offset);
        std::free(raw);
        if (!ok)
            return 0;
    } else {
        TifPut16(raw, uint32_t(n), m_bSwap);
        m_pIfd = raw;
    }
    m_nEntries = uint16_t(n);
    m_pEntries = m_pIfd + 2;
    return 1;
}

int CTifFile::ReadIfd(uint64_t offset)
{
    if (!ReadEntries(offset))
        return 0;
    int planar = 1;
    GetTagValue(TIF_TAG_PLANARCONFIG, &planar);
    if (planar == 2)
        return TifFail(VXTIFF_FAIL_PLANAR);
    if (planar != 1)
        return Damaged(this);
    if (!ReadDescription() || !MakeDecoder(this))
        return 0;
    ReadColorMap();
    if (const int own = m_pCompression->ReadOwnLayout(); own >= 0)
        return own;
    return m_bTiled ? ReadTileLayout() : ReadStripLayout();
}

int CTifFile::ReadDescription()
{
    if (!ReadImageTags(this) || !ReadBitsPerSample(this))
        return Damaged(this);
    if (TifRowBytes(m_nWidth, m_nSamplesPerPixel, m_nBitsPerSample) < 0)
        return TifFail(VXTIFF_FAIL_TOO_LARGE);

    if (!ReadTileSize(this))
        return 0;

    if (m_nRowsPerStrip <= 0 || m_nRowsPerStrip > m_nHeight)
        m_nRowsPerStrip = m_nHeight;
    ReadResolution(this);
    if (m_bTiled)
        m_nRowsPerStrip = m_nTileLength;
    return 1;
}

int CTifFile::ReadStripLayout()
{
    m_nStrips = static_cast<int>((int64_t(m_nRowsPerStrip) + m_nHeight - 1) / m_nRowsPerStrip);
    int nOffsets = 0, nCounts = 0;
    const int got = ReadArrays(this, TIF_TAG_STRIPOFFSETS, TIF_TAG_STRIPBYTECOUNTS, &nOffsets, &nCounts);
    if (got < 0)
        return TifFail(VXTIFF_FAIL_MEMORY);
    if (!(got & 1) || nOffsets < m_nStrips)
        return Damaged(this);
    if (got & 2)
        return nCounts >= m_nStrips ? 1 : Damaged(this);
    if (FindTag(TIF_TAG_STRIPBYTECOUNTS) != nullptr || m_nStrips != 1)
        return Damaged(this);  // unreadable, or several strips of unknown size
    return CountToEnd(this);
}

int CTifFile::ReadTileLayout()
{
    int nOffsets = 0, nCounts = 0;
    const int got = ReadArrays(this, TIF_TAG_TILEOFFSETS, TIF_TAG_TILEBYTECOUNTS, &nOffsets, &nCounts);
    if (got < 0)
        return TifFail(VXTIFF_FAIL_MEMORY);
    if (got != 3 || nCounts < nOffsets)
        return Damaged(this);
    m_nStrips = nOffsets;
    int64_t across = (int64_t(m_nWidth) + m_nTileWidth - 1) / m_nTileWidth;
    int64_t down = (int64_t(m_nHeight) + m_nTileLength - 1) / m_nTileLength;
    if (across * down > m_nStrips)
        return Damaged(this);
    m_nTilesAcross = static_cast<int>(across);
    m_nTilesDown = static_cast<int>(down);
    return AllocTileRow() ? 1 : TifFail(VXTIFF_FAIL_TOO_LARGE);
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
