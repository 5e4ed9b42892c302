// tif_open.cpp — opening a TIFF file: the header, the chain of directories to
// the page, and what follows reading its directory (tif_ifd_read).
//
// Open reads the first directory, OpenPage any directory along the chain of
// next-directory offsets, in classic TIFF (32-bit offsets) or BigTIFF
// (64-bit offsets, version 43).
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
#include "tif/tif_wide.h"

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

// Reads the header, 8 bytes (16 for BigTIFF): byte order, form and the
// first directory's offset. A VXTIFF_FAIL_ code, VXTIFF_FAIL_NONE when it is
// a TIFF header.
int ReadHeader(CTifStream* s, int* swap, bool* big, uint64_t* first)
{
    unsigned char h[16];
    const int n = s->Seek(0, 0) == 0 ? s->ReadMeta(h, 16) : -1;
    const bool order = n >= 2 && ((h[0] == 'I' && h[1] == 'I') || (h[0] == 'M' && h[1] == 'M'));
    if (!order)
        return VXTIFF_FAIL_NOT_TIFF;
    *swap = h[0] == 'M';
    *big = n >= 4 && TifGet16(h + 2, *swap) == 43;
    if (n >= 4 && !*big && TifGet16(h + 2, *swap) != 42)
        return VXTIFF_FAIL_NOT_TIFF;
    // BigTIFF: the size of an offset (8), then 0; other sizes are not read.
    if (*big && n >= 8 && (TifGet16(h + 4, *swap) != 8 || TifGet16(h + 6, *swap) != 0))
        return VXTIFF_FAIL_BIGTIFF;
    if (n < (*big ? 16 : 8))
        return VXTIFF_FAIL_CUT_SHORT;  // a TIFF header that the file's end cuts off
    *first = *big ? TifGet64(h + 8, *swap) : TifGet32(h + 4, *swap);
    return VXTIFF_FAIL_NONE;
}

// The directory offsets already visited, in an open-addressing table that
// doubles when half full, so that a file of few pages costs a few slots (0
// marks a free slot: offset 0 ends a chain, it is never added). A plain
// array, not a standard container: no template code of the standard library
// leaks into the shared library's exports.
class OffsetSet {
public:
    OffsetSet() : slots_(static_cast<uint64_t*>(std::calloc(size_, sizeof(uint64_t)))) {}
    ~OffsetSet() { std::free(slots_); }
    OffsetSet(const OffsetSet&) = delete;
    OffsetSet& operator=(const OffsetSet&) = delete;

    // False without memory.
    bool ok() const { return slots_ != nullptr; }
    // 1 when `offset` was not there before (it is now), 0 when it was, -1
    // without memory to hold it.
    int Insert(uint64_t offset)
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
    static uint32_t Slot(const uint64_t* slots, uint32_t size, uint64_t offset)
    {
        uint32_t i = (uint32_t(offset ^ (offset >> 32)) * 2654435761u) & (size - 1);
        while (slots[i] != 0 && slots[i] != offset)
            i = (i + 1) & (size - 1);
        return i;
    }
    bool Grow()
    {
        auto* bigger = static_cast<uint64_t*>(std::calloc(size_t(size_) * 2, sizeof(uint64_t)));
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
    uint64_t* slots_;
};

// A file's chain of directories as the walk sees it.
struct Chain {
    CTifStream* s;
    int swap;
    TifForm form;
    int64_t length;
};

// A directory of up to 41 entries comes with its next offset in one read.
constexpr int kDirectoryBlock = 8 + 41 * 20 + 8;

// Reads the start of the directory at `offset` into b (*want bytes) and
// returns where its next offset lies, or -1 when it is not counted: it has
// no entries, or they or the next offset run past the end of the file.
int64_t DirectoryEnd(const Chain& c, uint64_t offset, unsigned char* b, int* want)
{
    const TifForm& form = c.form;
    const int block = form.countBytes + 41 * form.entryBytes + form.linkBytes;
    *want = c.length < 0 || offset >= uint64_t(c.length) ? 0 : int(std::min<uint64_t>(block, c.length - offset));
    if (*want < form.countBytes || c.s->Seek(int64_t(offset), 0) != int64_t(offset) ||
        c.s->ReadMeta(b, *want) != *want)
        return -1;
    const uint64_t entries = form.countBytes == 8 ? TifGet64(b, c.swap) : TifGet16(b, c.swap);
    const uint64_t room = (uint64_t(c.length) - offset - form.countBytes) / uint64_t(form.entryBytes);
    if (entries == 0 || entries > room)
        return -1;
    const int64_t next = int64_t(offset) + form.countBytes + int64_t(entries) * form.entryBytes;
    return next + form.linkBytes > c.length ? -1 : next;
}

// The next offset at `next`: in the block read from `offset`, or read on
// its own past it; false when it cannot be read.
bool NextOffset(const Chain& c, uint64_t offset, int64_t next, unsigned char* b, int want, uint64_t* out)
{
    const unsigned char* link = b;
    if (next + c.form.linkBytes - int64_t(offset) <= want)
        link = b + (next - int64_t(offset));
    else if (c.s->Seek(next, 0) != next || c.s->ReadMeta(b, c.form.linkBytes) != c.form.linkBytes)
        return false;
    *out = TifGetLink(link, c.form, c.swap);
    return true;
}

// Follows the chain of directories from `first` and returns how many it
// counts, stopping after page `stop` (whose offset goes to *at). A directory
// is counted when its entries and next offset lie inside the file and it has
// at least one entry; the chain ends at offset 0, at a directory seen before,
// at one that is not counted, or after TIF_MAX_PAGES.
int WalkPages(const Chain& c, uint64_t first, int stop, uint64_t* at)
{
    const int most = stop < TIF_MAX_PAGES ? stop + 1 : TIF_MAX_PAGES;
    OffsetSet seen;
    if (!seen.ok())
        return 0;
    uint64_t offset = first;
    int pages = 0;
    while (offset != 0 && pages < most) {
        const int fresh = seen.Insert(offset);
        if (fresh < 0)
            return 0;  // without memory, as when the set could not be made
        if (fresh == 0)
            break;
        unsigned char b[kDirectoryBlock];
        int want;
        const int64_t next = DirectoryEnd(c, offset, b, &want);
        if (next < 0)
            break;
        if (pages == stop) {
            *at = offset;
            return pages + 1;
        }
        if (!NextOffset(c, offset, next, b, want, &offset))
            break;
        ++pages;
    }
    return pages;
}

// The reason the first strip or tile row could not be loaded: its bytes run
// past the end of the file, or they do not decode.
int FirstDataFailure(CTifFile* f)
{
    const int64_t length = f->m_pStream->GetLength();
    const int units = f->m_bTiled ? f->m_nTilesAcross : 1;
    for (int i = 0; i < units && i < f->m_nStrips; ++i)
        if (length < 0 || TifStripOffset(f, i) + TifStripBytes(f, i) > uint64_t(length))
            return VXTIFF_FAIL_CUT_SHORT;
    return VXTIFF_FAIL_BAD_DATA;
}

}  // namespace

int CTifFile::Open(const char* path) { return OpenPage(path, 0); }

int CTifFile::OpenPage(const char* path, int page)
{
    uint64_t offset = 0;
    return FindPage(path, page, &offset) ? OpenDirectory(offset) : 0;
}

int CTifFile::DescribePage(const char* path, int page, VXIMGINFO* info)
{
    if (info == nullptr)
        return TifFail(VXTIFF_FAIL_ARGUMENT);
    CTifFile f;
    uint64_t offset = 0;
    if (!f.FindPage(path, page, &offset) || !f.ReadEntries(offset) || !f.ReadDescription())
        return 0;  // f frees what it holds
    f.m_nImageType = ImageTypeOf(f.m_nPhotometric);
    f.GetImgInfo(info);
    TifFail(VXTIFF_FAIL_NONE);
    return 1;
}

int CTifFile::FindPage(const char* path, int page, uint64_t* offset)
{
    if (path == nullptr)
        return TifFail(VXTIFF_FAIL_ARGUMENT);
    if (m_pStream != nullptr)
        return TifFail(VXTIFF_FAIL_BUSY);  // never overwrite a file that is open
    if (page < 0 || page >= TIF_MAX_PAGES)
        return TifFail(VXTIFF_FAIL_NO_PAGE);
    ResetImage();

    auto* stream = new (std::nothrow) CTifWideStream;
    m_pStream = stream;
    if (stream == nullptr)
        return TifFail(VXTIFF_FAIL_MEMORY);
    if (!stream->Open(path, 0)) {
        const int failure = TifStreamFailure(stream->failure, false);
        FreeAll();
        return TifFail(failure);
    }
    m_bWrite = 0;
    int failure = ReadHeader(m_pStream, &m_bSwap, &stream->big, offset);
    const Chain chain{m_pStream, m_bSwap, stream->big ? kTifBig : kTifClassic, m_pStream->GetLength()};
    // Page 0 is the header's directory, read whatever the chain holds.
    if (failure == VXTIFF_FAIL_NONE && page > 0 && WalkPages(chain, *offset, page, offset) <= page)
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
    // ReadEntries keeps the next-directory offset behind the entries (a
    // BigTIFF one beside them).
    const CTifWideStream* wide = TifWide(this);
    const uint64_t next =
        wide != nullptr && wide->big ? wide->nextIfd : TifGet32(m_pIfd + 2 + size_t(m_nEntries) * 12, m_bSwap);
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

int CTifFile::OpenDirectory(uint64_t offset)
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
    bool big = false;
    uint64_t first = 0, at = 0;
    if (int failure = ReadHeader(&stream, &swap, &big, &first); failure != VXTIFF_FAIL_NONE)
        return TifFail(failure);
    const Chain chain{&stream, swap, big ? kTifBig : kTifClassic, stream.GetLength()};
    const int pages = WalkPages(chain, first, TIF_MAX_PAGES, &at);
    if (pages == 0) {
        // Not even the first directory: none, empty, or gone with the file's end.
        unsigned char b[8];
        const int n = chain.form.countBytes;
        const bool read = first <= uint64_t(INT64_MAX) && stream.Seek(int64_t(first), 0) == int64_t(first) &&
                          stream.ReadMeta(b, n) == n;
        const bool empty = first == 0 || (read && (n == 8 ? TifGet64(b, swap) : TifGet16(b, swap)) == 0);
        return TifFail(empty ? VXTIFF_FAIL_DAMAGED : VXTIFF_FAIL_CUT_SHORT);
    }
    TifFail(VXTIFF_FAIL_NONE);
    return pages;
}

