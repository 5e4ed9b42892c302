// tif_ifd_write.cpp — building and writing the directory of a page being written.
//
// The directory is built in m_pIfd in the same form a read directory has (file
// byte order), from the base entries plus what the image needs; entries are
// sorted by tag, values that do not fit an entry go behind the image data at
// multiples of 4, the directory behind them, chained behind the previous
// page's (CTifPageChain, which writes the header at offset 0 last: until then
// the file does not begin with a TIFF header). Out-of-line values keep their
// 64-bit places beside the entries (tif_wide.h); a page that ends past the
// classic limit gets its directory in BigTIFF form, its strip or tile arrays
// as LONG8 when its data passes the limit.
#include "tif/tif_ifd_write.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "codec/tif_compression.h"
#include "codec/tif_limits.h"
#include "codec/tif_tiff.h"
#include "io/tif_io.h"
#include "io/tif_stream.h"
#include "tif/tif_bytes.h"
#include "tif/tif_file.h"
#include "tif/tif_page_chain.h"
#include "tif/tif_wide.h"

namespace {

constexpr int kEntryBytes = 12;

struct BaseEntry {
    int tag;
    int type;
};

// Every written directory starts with these, in this order.
constexpr BaseEntry kBaseEntries[] = {
    {TIF_TAG_NEWSUBFILETYPE, TIF_TYPE_LONG},  {TIF_TAG_IMAGEWIDTH, TIF_TYPE_LONG},
    {TIF_TAG_IMAGELENGTH, TIF_TYPE_LONG},     {TIF_TAG_BITSPERSAMPLE, TIF_TYPE_SHORT},
    {TIF_TAG_COMPRESSION, TIF_TYPE_SHORT},    {TIF_TAG_PHOTOMETRIC, TIF_TYPE_SHORT},
    {TIF_TAG_SAMPLESPERPIXEL, TIF_TYPE_SHORT},
};
constexpr int kBaseCount = sizeof(kBaseEntries) / sizeof(kBaseEntries[0]);

// Writes `size` bytes at the next free offset raised to a multiple of 4 and
// returns that offset in *at. 0 when the write falls short.
int WriteAligned(CTifFile* f, const void* bytes, int64_t size, uint64_t* at)
{
    const uint64_t offset = (TifWriteOffset(f) + 3) & ~uint64_t(3);
    if (size < 0 || size > INT_MAX)
        return 0;
    if (f->m_pStream->Seek(int64_t(offset), SEEK_SET) != int64_t(offset) ||
        f->m_pStream->Write(bytes, static_cast<int>(size)) != size)
        return 0;
    TifSetWriteOffset(f, offset + uint64_t(size));
    *at = offset;
    return 1;
}

// Points the entry `e` at its values written at `at`.
void PutValueAt(CTifFile* f, unsigned char* e, uint64_t at)
{
    TifPut32(e + 8, TifCut32(at), f->m_bSwap);
    if (CTifWideStream* wide = TifWide(f); wide->valueAt != nullptr)
        wide->valueAt[(e - f->m_pEntries) / kEntryBytes] = at;
}

// Writes the `size` bytes of entry `e`'s values (`out`, from malloc, freed
// here) out of line, and points the entry at them.
int WriteOutOfLine(CTifFile* f, unsigned char* e, unsigned char* out, int64_t size)
{
    uint64_t at = 0;
    const int ok = WriteAligned(f, out, size, &at);
    std::free(out);
    if (ok)
        PutValueAt(f, e, at);
    return ok;
}

// The strip or tile offsets (or byte counts) of a page past the classic
// limit, as LONG8 values, out of line (a BigTIFF entry holds one in its
// field; the directory's BigTIFF form takes it in).
int SetLong8s(CTifFile* f, int tag, bool offsets)
{
    unsigned char* e = f->FindTag(tag);
    const int64_t size = TifCheckedSize(f->m_nStrips, 8);
    auto* out = e != nullptr && size > 0 ? static_cast<unsigned char*>(std::malloc(size_t(size))) : nullptr;
    if (out == nullptr)
        return 0;
    for (int i = 0; i < f->m_nStrips; ++i)
        TifPut64(out + 8 * i, offsets ? TifStripOffset(f, i) : TifStripBytes(f, i), f->m_bSwap);
    TifPut32(e + 4, uint32_t(f->m_nStrips), f->m_bSwap);
    return WriteOutOfLine(f, e, out, size);
}

// The strip or tile arrays, as LONG or as LONG8 (AddLayoutTags chose).
int SetStripArrays(CTifFile* f, int offsetsTag, int countsTag)
{
    if (TifGet16(f->FindTag(offsetsTag) + 2, f->m_bSwap) == TIF_TYPE_LONG8)
        return SetLong8s(f, offsetsTag, true) && SetLong8s(f, countsTag, false);
    return f->SetTagLongs(offsetsTag, f->m_nStrips, f->m_pStripOffsets) &&
           f->SetTagLongs(countsTag, f->m_nStrips, f->m_pStripByteCounts);
}

// Makes the entry hold `count` values of `unit` bytes (1, 2, 4; 8 for RATIONAL
// pairs) given in host order: in its value field when they take at most 4
// bytes (RATIONALs never do), else out of line.
int SetTagArray(CTifFile* f, int tag, int count, int unit, const void* values)
{
    unsigned char* e = f->FindTag(tag);
    const int64_t size = TifCheckedSize(count, unit);
    if (e == nullptr || size < 0 || (count > 0 && values == nullptr))
        return 0;
    TifPut32(e + 4, static_cast<uint32_t>(count), f->m_bSwap);
    const bool inLine = size <= 4 && (unit != 8 || count == 0);
    unsigned char* out = inLine ? e + 8 : static_cast<unsigned char*>(std::malloc(static_cast<size_t>(size)));
    if (out == nullptr)
        return 0;
    if (unit == 1) {
        std::memcpy(out, values, static_cast<size_t>(size));
    } else if (unit == 2) {
        const auto* v = static_cast<const uint16_t*>(values);
        for (int i = 0; i < count; ++i)
            TifPut16(out + 2 * i, v[i], f->m_bSwap);
    } else {
        const auto* v = static_cast<const uint32_t*>(values);
        for (int64_t i = 0; i < size / 4; ++i)
            TifPut32(out + 4 * i, v[i], f->m_bSwap);
    }
    if (inLine)
        return 1;
    return WriteOutOfLine(f, e, out, size);
}

// Writes a resolution held in pixels per inch in ResolutionUnit `unit`.
int SetResolution(CTifFile* f, int tag, double value, int unit)
{
    uint32_t pair[2];
    if (value == 0.0)
        return 1;
    if (unit == 3)
        value /= 2.54;
    return TifResolutionRational(value, &pair[0], &pair[1]) && f->SetTagRationals(tag, 1, pair);
}

// The ResolutionUnit the caller set (SetTag), else inch.
int ResolutionUnit(const CTifPageChain* chain, int swap)
{
    const TifPageTag* unit = chain != nullptr ? chain->FindTag(TIF_TAG_RESOLUTIONUNIT) : nullptr;
    return unit != nullptr ? TifGet16(unit->bytes, swap) : 2;
}

// Whether a tag the caller set goes into the directory as it was given:
// ResolutionUnit goes with the resolutions, and the writer numbers the
// pages of a file of several.
bool WrittenAsSet(const CTifPageChain* chain, int tag)
{
    return tag != TIF_TAG_RESOLUTIONUNIT && (tag != TIF_TAG_PAGENUMBER || !chain->numbered);
}

// Samples beyond those the photometric interpretation names (alpha and
// others), which ExtraSamples describes.
int ExtraSamples(const CTifFile* f)
{
    const int colour = f->m_nPhotometric == 2 ? 3 : f->m_nPhotometric == 5 ? 4 : 1;
    return f->m_nSamplesPerPixel > colour ? f->m_nSamplesPerPixel - colour : 0;
}

// The entries of the tags the caller set, with their values in file byte
// order: in the value field when they fit, else out of line. ExtraSamples
// that the caller did not describe are written unspecified (0).
int WritePageTags(CTifFile* f, const CTifPageChain* chain)
{
    for (int i = 0; i < chain->TagCount(); ++i) {
        const TifPageTag& t = chain->TagAt(i);
        unsigned char* e = f->FindTag(t.tag);
        if (!WrittenAsSet(chain, t.tag) || e == nullptr)
            continue;
        const int64_t size = int64_t(t.count) * TifTypeSize(t.type);
        TifPut32(e + 4, uint32_t(t.count), f->m_bSwap);
        uint64_t at = 0;
        if (size <= 4)
            std::memcpy(e + 8, t.bytes, size_t(size));
        else if (!WriteAligned(f, t.bytes, size, &at))
            return 0;
        else
            PutValueAt(f, e, at);
    }
    const int extra = ExtraSamples(f);
    if (extra == 0 || chain->FindTag(TIF_TAG_EXTRASAMPLES) != nullptr)
        return 1;
    auto* unspecified = static_cast<uint16_t*>(std::calloc(size_t(extra), sizeof(uint16_t)));
    const int ok = unspecified != nullptr && f->SetTagShorts(TIF_TAG_EXTRASAMPLES, extra, unspecified);
    std::free(unspecified);
    return ok;
}

// The entries of the strip or tile layout; the arrays as LONG8 when the
// data passes the classic limit (or BigTIFF is asked for).
bool AddLayoutTags(CTifFile* f, const CTifPageChain* chain)
{
    const int arrays = chain->BigFrom(TifWriteOffset(f)) ? TIF_TYPE_LONG8 : TIF_TYPE_LONG;
    if (f->m_bTiled)
        return f->AddTag(TIF_TAG_TILEOFFSETS, arrays) && f->AddTag(TIF_TAG_TILEWIDTH, TIF_TYPE_LONG) &&
               f->AddTag(TIF_TAG_TILELENGTH, TIF_TYPE_LONG) && f->AddTag(TIF_TAG_TILEBYTECOUNTS, arrays);
    return f->AddTag(TIF_TAG_STRIPOFFSETS, arrays) && f->AddTag(TIF_TAG_ROWSPERSTRIP, TIF_TYPE_LONG) &&
           f->AddTag(TIF_TAG_STRIPBYTECOUNTS, arrays);
}

// The resolution entries, for the directions given; the unit with either.
bool AddResolutionTags(CTifFile* f)
{
    const bool x = f->m_dXResolution != 0.0;
    const bool y = f->m_dYResolution != 0.0;
    return (!x || f->AddTag(TIF_TAG_XRESOLUTION, TIF_TYPE_RATIONAL)) &&
           (!y || f->AddTag(TIF_TAG_YRESOLUTION, TIF_TYPE_RATIONAL)) &&
           (!(x || y) || f->AddTag(TIF_TAG_RESOLUTIONUNIT, TIF_TYPE_SHORT));
}

// PageNumber when pages are numbered, the caller's tags, ExtraSamples.
bool AddPageTags(CTifFile* f, const CTifPageChain* chain)
{
    if (chain->numbered && !f->AddTag(TIF_TAG_PAGENUMBER, TIF_TYPE_SHORT))
        return false;
    for (int i = 0; i < chain->TagCount(); ++i)
        if (WrittenAsSet(chain, chain->TagAt(i).tag) && !f->AddTag(chain->TagAt(i).tag, chain->TagAt(i).type))
            return false;
    return ExtraSamples(f) == 0 || f->AddTag(TIF_TAG_EXTRASAMPLES, TIF_TYPE_SHORT);
}

// The entries that describe the image: size, compression, photometric
// interpretation, samples and their bits (one value per sample).
int SetDescriptionTags(CTifFile* f)
{
    if (!f->SetTagValue(TIF_TAG_NEWSUBFILETYPE, 0) || !f->SetTagValue(TIF_TAG_IMAGEWIDTH, f->m_nWidth) ||
        !f->SetTagValue(TIF_TAG_IMAGELENGTH, f->m_nHeight) || !f->SetTagValue(TIF_TAG_COMPRESSION, f->m_nCompression) ||
        !f->SetTagValue(TIF_TAG_PHOTOMETRIC, f->m_nPhotometric) ||
        !f->SetTagValue(TIF_TAG_SAMPLESPERPIXEL, f->m_nSamplesPerPixel))
        return 0;
    if (f->m_nSamplesPerPixel < 2)
        return f->SetTagValue(TIF_TAG_BITSPERSAMPLE, f->m_nBitsPerSample);
    auto* bits = static_cast<uint16_t*>(std::malloc(size_t(f->m_nSamplesPerPixel) * sizeof(uint16_t)));
    if (bits == nullptr)
        return 0;
    for (int i = 0; i < f->m_nSamplesPerPixel; ++i)
        bits[i] = static_cast<uint16_t>(f->m_nBitsPerSample);
    const int ok = f->SetTagShorts(TIF_TAG_BITSPERSAMPLE, f->m_nSamplesPerPixel, bits);
    std::free(bits);
    return ok;
}

// Resolutions are held in pixels per inch, and written in the unit asked.
int SetResolutionTags(CTifFile* f, const CTifPageChain* chain)
{
    const int unit = ResolutionUnit(chain, f->m_bSwap);
    if (!SetResolution(f, TIF_TAG_XRESOLUTION, f->m_dXResolution, unit) ||
        !SetResolution(f, TIF_TAG_YRESOLUTION, f->m_dYResolution, unit))
        return 0;
    return (f->m_dXResolution == 0.0 && f->m_dYResolution == 0.0) || f->SetTagValue(TIF_TAG_RESOLUTIONUNIT, unit);
}

// Where the data lies: the tiles' size, offsets and byte counts, or the
// strips' rows, offsets and byte counts.
int SetLayoutTags(CTifFile* f)
{
    if (f->m_bTiled)
        return f->SetTagValue(TIF_TAG_TILEWIDTH, f->m_nTileWidth) &&
               f->SetTagValue(TIF_TAG_TILELENGTH, f->m_nTileLength) &&
               SetStripArrays(f, TIF_TAG_TILEOFFSETS, TIF_TAG_TILEBYTECOUNTS);
    return f->SetTagValue(TIF_TAG_ROWSPERSTRIP, f->m_nRowsPerStrip) &&
           SetStripArrays(f, TIF_TAG_STRIPOFFSETS, TIF_TAG_STRIPBYTECOUNTS);
}

}  // namespace

bool TifResolutionRational(double value, uint32_t* numerator, uint32_t* denominator)
{
    // RATIONAL holds two unsigned 32-bit numbers.
    if (!(value >= 0.0) || value > double(UINT32_MAX))
        return false;  // NaN fails the first test, infinity the second
    // The nearest thousandth: a value that was a whole number in another
    // unit (200 per centimetre, 508 per inch) comes back whole.
    const double thousandths = std::round(value * 1000.0);
    const double whole = std::round(value);
    if (value == std::trunc(value) || thousandths == whole * 1000.0) {
        *numerator = static_cast<uint32_t>(whole);
        *denominator = 1;
        return true;
    }
    if (thousandths > double(UINT32_MAX))
        return false;
    *numerator = static_cast<uint32_t>(thousandths);
    *denominator = 1000;
    return true;
}

int CTifFile::AddTag(int tag, int type)
{
    if (FindTag(tag) != nullptr)
        return 1;
    if (m_pIfd == nullptr || m_nEntries == 0xFFFF)
        return 0;
    const size_t old = size_t(m_nEntries) * kEntryBytes;
    auto* block = static_cast<unsigned char*>(std::malloc(old + kEntryBytes + 6));
    if (block == nullptr)
        return 0;
    std::memcpy(block, m_pIfd, 2 + old);
    unsigned char* e = block + 2 + old;
    std::memset(e, 0, kEntryBytes);
    TifPut16(e, static_cast<uint32_t>(tag), m_bSwap);
    TifPut16(e + 2, static_cast<uint32_t>(type), m_bSwap);
    std::memcpy(e + kEntryBytes, m_pIfd + 2 + old, 4);  // next-directory offset
    std::free(m_pIfd);
    m_pIfd = block;
    m_pEntries = block + 2;
    ++m_nEntries;
    TifPut16(block, m_nEntries, m_bSwap);
    return 1;
}

int CTifFile::SetTagValue(int tag, int value)
{
    unsigned char* e = FindTag(tag);
    if (e == nullptr)
        return 0;
    const auto v = static_cast<uint32_t>(value);
    switch (TifGet16(e + 2, m_bSwap)) {
    case TIF_TYPE_BYTE: case TIF_TYPE_ASCII: case TIF_TYPE_SBYTE: case TIF_TYPE_UNDEFINED:
        e[8] = static_cast<unsigned char>(v);
        break;
    case TIF_TYPE_SHORT: case TIF_TYPE_SSHORT:
        TifPut16(e + 8, v & 0xFFFFu, m_bSwap);
        break;
    case TIF_TYPE_LONG: case TIF_TYPE_SLONG:
        TifPut32(e + 8, v, m_bSwap);
        break;
    default:
        return 0;  // RATIONAL or unknown: no single value
    }
    TifPut32(e + 4, 1, m_bSwap);
    return 1;
}

int CTifFile::SetTagBytes(int tag, int count, const unsigned char* bytes)
{
    return SetTagArray(this, tag, count, 1, bytes);
}

int CTifFile::SetTagShorts(int tag, int count, const uint16_t* values)
{
    return SetTagArray(this, tag, count, 2, values);
}

int CTifFile::SetTagLongs(int tag, int count, const uint32_t* values)
{
    return SetTagArray(this, tag, count, 4, values);
}

int CTifFile::SetTagRationals(int tag, int count, const uint32_t* pairs)
{
    return SetTagArray(this, tag, count, 8, pairs);
}

void CTifFile::SortTags()
{
    // Insertion sort: a directory holds a handful of entries, and equal tags
    // (which the writer never makes) keep their order.
    unsigned char tmp[kEntryBytes];
    for (int i = 1; i < m_nEntries; ++i) {
        unsigned char* e = m_pEntries + i * kEntryBytes;
        const uint16_t tag = TifGet16(e, m_bSwap);
        int j = i;
        while (j > 0 && TifGet16(m_pEntries + (j - 1) * kEntryBytes, m_bSwap) > tag)
            --j;
        if (j == i)
            continue;
        std::memcpy(tmp, e, kEntryBytes);
        std::memmove(m_pEntries + (j + 1) * kEntryBytes, m_pEntries + j * kEntryBytes,
                     size_t(i - j) * kEntryBytes);
        std::memcpy(m_pEntries + j * kEntryBytes, tmp, kEntryBytes);
    }
}

int CTifFile::AddColorMapTag()
{
    return m_nPhotometric == 3 ? AddTag(TIF_TAG_COLORMAP, TIF_TYPE_SHORT) : 1;
}

int CTifFile::WriteColorMap()
{
    if (m_nPhotometric != 3)
        return 1;
    // TIFF 6.0 wants exactly 3 × 2^BitsPerSample values; readers ignore a map
    // of any other size. The caller's colours are cut or padded with black.
    if (m_nBitsPerSample <= 0 || m_nBitsPerSample > 16)
        return 0;
    const int n = 1 << m_nBitsPerSample;
    auto* map = static_cast<uint16_t*>(std::calloc(size_t(3) * n, sizeof(uint16_t)));
    if (map == nullptr)
        return 0;
    const int have = m_pRedMap == nullptr ? 0 : m_nColors < n ? m_nColors : n;
    for (int plane = 0; plane < 3; ++plane)
        for (int i = 0; i < have; ++i)
            map[plane * n + i] = m_pRedMap[plane * m_nColors + i];
    const int ok = SetTagShorts(TIF_TAG_COLORMAP, 3 * n, map);
    std::free(map);
    return ok;
}

int CTifFile::BuildIfd()
{
    std::free(m_pIfd);
    m_pEntries = nullptr;
    m_nEntries = 0;
    m_pIfd = static_cast<unsigned char*>(std::calloc(2 + kBaseCount * kEntryBytes + 4, 1));
    if (m_pIfd == nullptr)
        return 0;
    m_nEntries = kBaseCount;
    m_pEntries = m_pIfd + 2;
    TifPut16(m_pIfd, kBaseCount, m_bSwap);
    for (int i = 0; i < kBaseCount; ++i) {
        TifPut16(m_pEntries + i * kEntryBytes, static_cast<uint32_t>(kBaseEntries[i].tag), m_bSwap);
        TifPut16(m_pEntries + i * kEntryBytes + 2, static_cast<uint32_t>(kBaseEntries[i].type), m_bSwap);
    }
    const auto* chain = dynamic_cast<const CTifPageChain*>(m_pStream);
    return chain != nullptr && AddLayoutTags(this, chain) && AddColorMapTag() && m_pCompression != nullptr &&
           m_pCompression->AddTags() && AddResolutionTags(this) && AddPageTags(this, chain);
}

int CTifFile::WriteIfd()
{
    if (m_pIfd == nullptr || m_pStream == nullptr)
        return 0;
    SortTags();
    auto* chain = dynamic_cast<CTifPageChain*>(m_pStream);  // a file made by Create
    if (chain == nullptr)
        return 0;
    // Where each entry's values go, in 64 bits, once the entries are in order.
    std::free(chain->valueAt);
    chain->valueAt = static_cast<uint64_t*>(std::calloc(m_nEntries, sizeof(uint64_t)));
    if (chain->valueAt == nullptr || !SetDescriptionTags(this) || !SetResolutionTags(this, chain) ||
        !SetLayoutTags(this) || !WriteColorMap() ||
        m_pCompression == nullptr || !m_pCompression->WriteTags() || !WritePageTags(this, chain))
        return 0;
    return WriteChained(chain);
}

int CTifFile::WriteChained(CTifPageChain* chain)
{
    // PageNumber: this page's index now, the total when the file is finished.
    const unsigned char* pageNumber = chain->numbered ? FindTag(TIF_TAG_PAGENUMBER) : nullptr;
    const uint16_t index[2] = {static_cast<uint16_t>(chain->pages), 0};
    if (pageNumber != nullptr && !SetTagShorts(TIF_TAG_PAGENUMBER, 2, index))
        return 0;
    const uint64_t k = pageNumber != nullptr ? uint64_t(pageNumber - m_pEntries) / kEntryBytes : 0;
    const int64_t classicBytes = int64_t(m_nEntries) * kEntryBytes + 6;
    const bool big = chain->BigFrom(((TifWriteOffset(this) + 3) & ~uint64_t(3)) + uint64_t(classicBytes));
    uint64_t ifdOffset = 0;
    TifPut32(m_pEntries + size_t(m_nEntries) * kEntryBytes, 0, m_bSwap);  // the last directory so far
    if (big) {
        const size_t bytes = 8 + 20 * size_t(m_nEntries) + 8;
        auto* block = static_cast<unsigned char*>(std::malloc(bytes));
        const int ok = block != nullptr &&
                       TifBigEntries(chain, m_pEntries, m_nEntries, chain->valueAt, m_bSwap, block) &&
                       WriteAligned(this, block, int64_t(bytes), &ifdOffset);
        std::free(block);
        if (!ok)
            return 0;
    } else if (!WriteAligned(this, m_pIfd, classicBytes, &ifdOffset)) {
        return 0;
    }
    const uint64_t pageNumberAt = pageNumber == nullptr ? 0
                                  : big                 ? ifdOffset + 8 + 20 * k + 12
                                                        : ifdOffset + 2 + 12 * k + 8;
    return chain->Link(ifdOffset, m_nEntries, big, pageNumberAt, TifWriteOffset(this));
}
