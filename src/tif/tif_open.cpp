// tif_open.cpp — opening a TIFF file: header, first directory, image description.
//
// Open reads the first directory, OpenPage any directory along the chain of
// next-directory offsets. Every directory value that sizes an array or
// a buffer is checked before use: strip and tile arrays must hold a value for
// every strip or tile, tile geometry must be positive and byte-aligned, and no
// single allocation may exceed TIF_MAX_ALLOC.
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include "codec/tif_codec.h"
#include "codec/tif_compression.h"
#include "codec/tif_limits.h"
#include "codec/tif_tiff.h"
#include "io/tif_stream.h"
#include "tif/tif_bytes.h"
#include "tif/tif_failure.h"
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

// Reads the 8-byte header: byte order and the first directory's offset. A
// VXTIFF_FAIL_ code, VXTIFF_FAIL_NONE when it is a TIFF header.
int ReadHeader(CTifStream* s, int* swap, uint32_t* first)
{
    unsigned char h[8];
    const int n = s->Seek(0, 0) == 0 ? s->ReadMeta(h, 8) : -1;
    const bool order = n >= 2 && ((h[0] == 'I' && h[1] == 'I') || (h[0] == 'M' && h[1] == 'M'));
    if (!order)
        return VXTIFF_FAIL_NOT_TIFF;
    *swap = h[0] == 'M';
    if (n >= 4) {
        const int version = TifGet16(h + 2, *swap);
        if (version == 43)
            return VXTIFF_FAIL_BIGTIFF;
        if (version != 42)
            return VXTIFF_FAIL_NOT_TIFF;
    }
    if (n < 8)
        return VXTIFF_FAIL_CUT_SHORT;  // a TIFF header that the file's end cuts off
    *first = TifGet32(h + 4, *swap);
    return VXTIFF_FAIL_NONE;
}

// The directory offsets already visited, in an open-addressing table that
// doubles when half full, so that a file of few pages costs a few slots (0
// marks a free slot: offset 0 ends a chain, it is never added). A plain
// array, not a standard container: no template code of the standard library
// leaks into the shared library's exports.
class OffsetSet {
public:
    OffsetSet() : slots_(static_cast<uint32_t*>(std::calloc(size_, sizeof(uint32_t)))) {}
    ~OffsetSet() { std::free(slots_); }
    OffsetSet(const OffsetSet&) = delete;
    OffsetSet& operator=(const OffsetSet&) = delete;

    // False without memory.
    bool ok() const { return slots_ != nullptr; }
    // 1 when `offset` was not there before (it is now), 0 when it was, -1
    // without memory to hold it.
    int Insert(uint32_t offset)
    {
        if (2 * (count_ + 1) > size_ && !Grow())
            return -1;
        uint32_t i = Slot(slots_, size_, offset);
        if (slots_[i] == offset)
            return 0;
        slots_[i] = offset;
        ++count_;
        return 1;
    }

private:
    // Where `offset` is, or the free slot where it goes.
    static uint32_t Slot(const uint32_t* slots, uint32_t size, uint32_t offset)
    {
        uint32_t i = (offset * 2654435761u) & (size - 1);
        while (slots[i] != 0 && slots[i] != offset)
            i = (i + 1) & (size - 1);
        return i;
    }
    bool Grow()
    {
        auto* bigger = static_cast<uint32_t*>(std::calloc(size_t(size_) * 2, sizeof(uint32_t)));
        if (bigger == nullptr)
            return false;
        for (uint32_t i = 0; i < size_; ++i)
            if (slots_[i] != 0)
                bigger[Slot(bigger, size_ * 2, slots_[i])] = slots_[i];
        std::free(slots_);
        slots_ = bigger;
        size_ *= 2;
        return true;
    }

    uint32_t size_ = 64;
    uint32_t count_ = 0;
    uint32_t* slots_;
};

// A directory of up to 41 entries comes with its next offset in one read.
constexpr int kDirectoryBlock = 2 + 41 * 12 + 4;

// Reads the start of the directory at `offset` into b (*want bytes) and
// returns where its next offset lies, or -1 when it is not counted: it has
// no entries, or they or the next offset run past the end of the file.
int64_t DirectoryEnd(CTifStream* s, int swap, long length, uint32_t offset, unsigned char* b, int* want)
{
    *want = length < 0 ? 0 : int(std::min<int64_t>(kDirectoryBlock, length - int64_t(offset)));
    if (*want < 2 || s->Seek(long(offset), 0) != long(offset) || s->ReadMeta(b, *want) != *want)
        return -1;
    const int entries = TifGet16(b, swap);
    const int64_t next = int64_t(offset) + 2 + int64_t(entries) * 12;
    return entries == 0 || next + 4 > length ? -1 : next;
}

// The next offset at `next`: in the block read from `offset`, or read on
// its own past it; false when it cannot be read.
bool NextOffset(CTifStream* s, int swap, uint32_t offset, int64_t next, unsigned char* b, int want, uint32_t* out)
{
    const unsigned char* link = b;
    if (next + 4 - int64_t(offset) <= want)
        link = b + (next - int64_t(offset));
    else if (s->Seek(long(next), 0) != long(next) || s->ReadMeta(b, 4) != 4)
        return false;
    *out = TifGet32(link, swap);
    return true;
}

// Follows the chain of directories from `first` and returns how many it
// counts, stopping after page `stop` (whose offset goes to *at). A directory
// is counted when its entries and next offset lie inside the file and it has
// at least one entry; the chain ends at offset 0, at a directory seen before,
// at one that is not counted, or after TIF_MAX_PAGES.
int WalkPages(CTifStream* s, int swap, uint32_t first, int stop, uint32_t* at)
{
    const long length = s->GetLength();
    const int most = stop < TIF_MAX_PAGES ? stop + 1 : TIF_MAX_PAGES;
    OffsetSet seen;
    if (!seen.ok())
        return 0;
    uint32_t offset = first;
    int pages = 0;
    while (offset != 0 && pages < most) {
        const int fresh = seen.Insert(offset);
        if (fresh < 0)
            return 0;  // without memory, as when the set could not be made
        if (fresh == 0)
            break;
        unsigned char b[kDirectoryBlock];
        int want;
        const int64_t next = DirectoryEnd(s, swap, length, offset, b, &want);
        if (next < 0)
            break;
        if (pages == stop) {
            *at = offset;
            return pages + 1;
        }
        if (!NextOffset(s, swap, offset, next, b, want, &offset))
            break;
        ++pages;
    }
    return pages;
}

// True when an out-of-line value of the directory lies past the end of the
// file: a directory that looks damaged because the file was cut short.
bool ValuesPastEnd(CTifFile* f)
{
    const long length = f->m_pStream->GetLength();
    if (f->m_pEntries == nullptr || length < 0)
        return false;
    for (int i = 0; i < f->m_nEntries; ++i) {
        const unsigned char* e = f->m_pEntries + 12 * i;
        const int64_t bytes = int64_t(TifGet32(e + 4, f->m_bSwap)) * TifTypeSize(TifGet16(e + 2, f->m_bSwap));
        if (bytes > 4 && int64_t(TifGet32(e + 8, f->m_bSwap)) + bytes > length)
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
    f->m_nCompression = 0;
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

// The reason the first strip or tile row could not be loaded: its bytes run
// past the end of the file, or they do not decode.
int FirstDataFailure(CTifFile* f)
{
    const long length = f->m_pStream->GetLength();
    const int units = f->m_bTiled ? f->m_nTilesAcross : 1;
    for (int i = 0; i < units && i < f->m_nStrips; ++i)
        if (int64_t(f->m_pStripOffsets[i]) + f->m_pStripByteCounts[i] > length)
            return VXTIFF_FAIL_CUT_SHORT;
    return VXTIFF_FAIL_BAD_DATA;
}

// A directory with TileOffsets is read as tiled, whatever else it holds: the
// decoder must be made for one geometry, and the tile tags name it. Takes the
// tile size of such a directory; 0 (the failure recorded) when it is unusable.
int ReadTileSize(CTifFile* f)
{
    int nTileOffsets;
    uint32_t* tileOffsets;
    int tiled = f->GetTagLongs(TIF_TAG_TILEOFFSETS, &nTileOffsets, &tileOffsets) && nTileOffsets > 0;
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

}  // namespace

int CTifFile::Open(const char* path) { return OpenPage(path, 0); }

int CTifFile::OpenPage(const char* path, int page)
{
    uint32_t offset = 0;
    return FindPage(path, page, &offset) ? OpenDirectory(offset) : 0;
}

int CTifFile::DescribePage(const char* path, int page, VXIMGINFO* info)
{
    if (info == nullptr)
        return TifFail(VXTIFF_FAIL_ARGUMENT);
    CTifFile f;
    uint32_t offset = 0;
    if (!f.FindPage(path, page, &offset) || !f.ReadEntries(offset) || !f.ReadDescription())
        return 0;  // f frees what it holds
    f.m_nImageType = ImageTypeOf(f.m_nPhotometric);
    f.GetImgInfo(info);
    TifFail(VXTIFF_FAIL_NONE);
    return 1;
}

int CTifFile::FindPage(const char* path, int page, uint32_t* offset)
{
    if (path == nullptr)
        return TifFail(VXTIFF_FAIL_ARGUMENT);
    if (m_pStream != nullptr)
        return TifFail(VXTIFF_FAIL_BUSY);  // never overwrite a file that is open
    if (page < 0 || page >= TIF_MAX_PAGES)
        return TifFail(VXTIFF_FAIL_NO_PAGE);
    ResetImage();

    CTifFileStream* stream = new (std::nothrow) CTifFileStream;
    m_pStream = stream;
    if (stream == nullptr)
        return TifFail(VXTIFF_FAIL_MEMORY);
    if (!stream->Open(path, 0)) {
        const int failure = TifStreamFailure(stream->failure, false);
        FreeAll();
        return TifFail(failure);
    }
    m_bWrite = 0;
    int failure = ReadHeader(m_pStream, &m_bSwap, offset);
    // Page 0 is the header's directory, read whatever the chain holds.
    if (failure == VXTIFF_FAIL_NONE && page > 0 && WalkPages(m_pStream, m_bSwap, *offset, page, offset) <= page)
        failure = VXTIFF_FAIL_NO_PAGE;
    if (failure != VXTIFF_FAIL_NONE) {
        FreeAll();
        return TifFail(failure);
    }
    return 1;
}

int CTifFile::NextPage()
{
    if (m_pStream == nullptr || m_bWrite || m_pIfd == nullptr)
        return TifFail(VXTIFF_FAIL_ARGUMENT);
    // ReadEntries keeps the next-directory offset behind the entries.
    const uint32_t next = TifGet32(m_pIfd + 2 + size_t(m_nEntries) * 12, m_bSwap);
    const int swap = m_bSwap;
    FreePage();
    ResetImage();
    m_bSwap = swap;
    if (next == 0) {
        FreeAll();
        return TifFail(VXTIFF_FAIL_NO_PAGE);
    }
    return OpenDirectory(next);
}

int CTifFile::OpenDirectory(uint32_t offset)
{
    if (!ReadIfd(offset)) {  // it recorded why
        FreeAll();
        return 0;
    }
    m_nImageType = ImageTypeOf(m_nPhotometric);
    if (m_nImageType < 0) {
        FreeAll();
        return TifFail(VXTIFF_FAIL_PHOTOMETRIC, m_nPhotometric);
    }
    m_nCurLine = 0;
    m_nCurStrip = 0;
    m_nRowBytes = m_nBufRowBytes =
        static_cast<int>(TifRowBytes(m_nWidth, m_nSamplesPerPixel, m_nBitsPerSample));
    if (!(m_bTiled ? LoadTileRow(0) : LoadStrip(0))) {
        const int failure = FirstDataFailure(this);
        FreeAll();
        return TifFail(failure);
    }
    TifFail(VXTIFF_FAIL_NONE);
    return 1;
}

int CTifFile::CountPages(const char* path)
{
    if (path == nullptr)
        return TifFail(VXTIFF_FAIL_ARGUMENT);
    CTifFileStream stream;
    if (!stream.Open(path, 0))
        return TifFail(TifStreamFailure(stream.failure, false));
    int swap = 0;
    uint32_t first = 0, at = 0;
    if (int failure = ReadHeader(&stream, &swap, &first); failure != VXTIFF_FAIL_NONE)
        return TifFail(failure);
    const int pages = WalkPages(&stream, swap, first, TIF_MAX_PAGES, &at);
    if (pages == 0) {
        // Not even the first directory: none, empty, or gone with the file's end.
        unsigned char b[2];
        const bool empty = first == 0 || (stream.Seek(long(first), 0) == long(first) && stream.ReadMeta(b, 2) == 2 &&
                                          TifGet16(b, swap) == 0);
        return TifFail(empty ? VXTIFF_FAIL_DAMAGED : VXTIFF_FAIL_CUT_SHORT);
    }
    TifFail(VXTIFF_FAIL_NONE);
    return pages;
}

int CTifFile::ReadEntries(uint32_t offset)
{
    if (offset == 0)
        return TifFail(VXTIFF_FAIL_DAMAGED);
    // A directory of up to 41 entries comes whole with its count, in one read.
    unsigned char head[2 + 41 * 12 + 4];
    const int got = m_pStream->Seek(static_cast<long>(offset), 0) == static_cast<long>(offset)
                        ? m_pStream->ReadMeta(head, static_cast<int>(sizeof head))
                        : -1;
    if (got < 2)
        return TifFail(VXTIFF_FAIL_CUT_SHORT);
    m_nEntries = TifGet16(head, m_bSwap);
    const int size = m_nEntries * 12 + 6;
    std::free(m_pIfd);
    m_pIfd = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(size)));
    m_pEntries = nullptr;
    if (m_pIfd == nullptr)
        return TifFail(VXTIFF_FAIL_MEMORY);
    const int have = got < size ? got : size;
    std::memcpy(m_pIfd, head, static_cast<size_t>(have));
    if (have < size && m_pStream->ReadMeta(m_pIfd + have, size - have) != size - have)
        return TifFail(VXTIFF_FAIL_CUT_SHORT);
    m_pEntries = m_pIfd + 2;
    return 1;
}

int CTifFile::ReadIfd(uint32_t offset)
{
    if (!ReadEntries(offset))
        return 0;
    int planar = 1;
    GetTagValue(TIF_TAG_PLANARCONFIG, &planar);
    if (planar == 2)
        return TifFail(VXTIFF_FAIL_PLANAR);
    if (planar != 1)
        return Damaged(this);
    if (!ReadDescription())
        return 0;

    m_pCompression = TifCreateCompression(this);
    if (m_pCompression == nullptr)
        return TifFail(VXTIFF_FAIL_MEMORY);
    m_pDecoder = m_pCompression->CreateDecoder();
    if (m_pDecoder == nullptr)
        return TifFail(VXTIFF_FAIL_COMPRESSION, m_nCompression);
    if (!m_pCompression->ReadTags()) {
        int predictor = 1;
        GetTagValue(TIF_TAG_PREDICTOR, &predictor);
        return TifFail(VXTIFF_FAIL_PREDICTOR, predictor);
    }
    ReadColorMap();
    // FillOrder 2 stores every byte least significant bit first, whatever the
    // compression (TIFF 6.0); the bytes are turned as they are read, so that
    // every way of reading gets the same rows.
    int fillOrder = 1;
    GetTagValue(TIF_TAG_FILLORDER, &fillOrder);
    const bool reversed = fillOrder == 2 && !m_pCompression->DecodesFillOrder();
    m_pDecoder->SetIoProc(m_pDecoder, reversed ? TifReadProcReversed : TifReadProc, this);
    if (m_bTiled)  // tiles are decoded whole, right after BeginStrip
        m_pDecoder->SetParam(m_pDecoder, TIF_PARAM_WHOLE_STRIPS, 1);
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
    int nOffsets, nCounts;
    if (!GetTagLongs(TIF_TAG_STRIPOFFSETS, &nOffsets, &m_pStripOffsets) || nOffsets < m_nStrips)
        return Damaged(this);
    if (GetTagLongs(TIF_TAG_STRIPBYTECOUNTS, &nCounts, &m_pStripByteCounts))
        return nCounts >= m_nStrips ? 1 : Damaged(this);
    if (FindTag(TIF_TAG_STRIPBYTECOUNTS) != nullptr || m_nStrips != 1)
        return Damaged(this);  // unreadable, or several strips of unknown size
    // A single strip without byte count runs to the end of the file.
    std::free(m_pStripByteCounts);
    m_pStripByteCounts = static_cast<uint32_t*>(std::malloc(sizeof(uint32_t)));
    // In 64 bits: a 32-bit long (Windows) cannot hold every TIFF offset.
    const int64_t length = m_pStream->GetLength();
    if (m_pStripByteCounts == nullptr || length < 0)
        return TifFail(VXTIFF_FAIL_MEMORY);
    const int64_t offset = m_pStripOffsets[0];
    m_pStripByteCounts[0] = length > offset ? static_cast<uint32_t>(length - offset) : 0;
    return 1;
}

int CTifFile::ReadTileLayout()
{
    int nOffsets, nCounts;
    if (!GetTagLongs(TIF_TAG_TILEOFFSETS, &nOffsets, &m_pStripOffsets) ||
        !GetTagLongs(TIF_TAG_TILEBYTECOUNTS, &nCounts, &m_pStripByteCounts) || nCounts < nOffsets)
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
