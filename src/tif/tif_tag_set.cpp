// tif_tag_set.cpp — tags the caller sets on the page being written (SetTag):
// checked, then kept in file byte order by the write stream until the page's
// directory takes them (tif_ifd_write.cpp).
#include <cstdlib>
#include <cstring>

#include "codec/tif_limits.h"
#include "codec/tif_tiff.h"
#include "tif/tif_bytes.h"
#include "tif/tif_file.h"
#include "tif/tif_page_chain.h"

namespace {

// Tags the writer makes itself, or whose values would not describe the data
// it writes (structure, coding, offsets into another file).
bool OwnedByWriter(int tag)
{
    static const int kOwned[] = {
        254, 255, 256, 257, 258, 259, 262, 266,  // subfile, size, samples, compression, photometric, fill order
        273, 277, 278, 279, 282, 283, 284,       // strips, samples per pixel, resolutions, planar
        288, 289, 292, 293, 317, 320,            // free space, fax options, predictor, colour map
        322, 323, 324, 325, 330,                 // tiles, SubIFDs
        347, 512, 513, 514, 515, 517, 518, 519,  // JPEG tables and old-style JPEG
        520, 521, 529, 530, 531, 532,            // YCbCr coding, ReferenceBlackWhite
        34665, 34853, 40965,                     // Exif, GPS and interoperability directories
    };
    for (int owned : kOwned)
        if (tag == owned)
            return true;
    return false;
}

// The samples of each pixel that PhotometricInterpretation accounts for.
int ColourSamples(int photometric)
{
    return photometric == 2 ? 3 : photometric == 5 ? 4 : 1;
}

// Whether `count` SHORTs are all within [lo, hi].
bool Shorts(int type, int count, int want, const void* values, int lo, int hi)
{
    if (type != TIF_TYPE_SHORT || count != want)
        return false;
    const auto* v = static_cast<const uint16_t*>(values);
    for (int i = 0; i < count; ++i)
        if (v[i] < lo || v[i] > hi)
            return false;
    return true;
}

bool FloatBits(int bits) { return bits == 16 || bits == 24 || bits == 32 || bits == 64; }

// SampleFormat: one value, or one per sample; the same format (1 to 3) for
// all samples, and floating point only at a size that has one.
bool SampleFormatFits(const CTifFile* f, int type, int count, const void* values)
{
    if (type != TIF_TYPE_SHORT || (count != 1 && count != f->m_nSamplesPerPixel))
        return false;
    const auto* v = static_cast<const uint16_t*>(values);
    if (!Shorts(type, count, count, values, v[0], v[0]) || v[0] < 1 || v[0] > 3)
        return false;  // one format for all samples
    return v[0] != 3 || FloatBits(f->m_nBitsPerSample);
}

// Whether the values of the tags whose meaning the writer depends on fit
// the page; other tags only need ASCII to end with its NUL.
bool Acceptable(const CTifFile* f, const CTifPageChain* chain, int tag, int type, int count, const void* values)
{
    switch (tag) {
    case TIF_TAG_RESOLUTIONUNIT:
        return Shorts(type, count, 1, values, 1, 3);
    case TIF_TAG_ORIENTATION:
        return Shorts(type, count, 1, values, 1, 8);
    case TIF_TAG_PAGENUMBER:
        return !chain->numbered && Shorts(type, count, 2, values, 0, 0xFFFF);
    case TIF_TAG_EXTRASAMPLES: {
        const int extra = f->m_nSamplesPerPixel - ColourSamples(f->m_nPhotometric);
        return extra > 0 && Shorts(type, count, extra, values, 0, 2);
    }
    case TIF_TAG_SAMPLEFORMAT:
        return SampleFormatFits(f, type, count, values);
    default:
        return type != TIF_TYPE_ASCII || static_cast<const unsigned char*>(values)[count - 1] == 0;
    }
}

// Host-order values in file byte order; RATIONAL and SRATIONAL are pairs of
// 32-bit numbers, DOUBLE one 64-bit number.
void ToFileOrder(unsigned char* out, const void* values, int count, int type, int swap)
{
    const int unit = TifTypeSize(type);
    const bool pairs = type == TIF_TYPE_RATIONAL || type == TIF_TYPE_SRATIONAL;
    std::memcpy(out, values, size_t(count) * size_t(unit));
    for (int i = 0; i < count; ++i, out += unit) {
        if (unit == 2) {
            uint16_t x;
            std::memcpy(&x, out, 2);
            TifPut16(out, x, swap);
        } else if (unit == 4 || pairs) {
            for (int k = 0; k < unit; k += 4) {
                uint32_t x;
                std::memcpy(&x, out + k, 4);
                TifPut32(out + k, x, swap);
            }
        } else if (unit == 8) {
            uint64_t x;
            std::memcpy(&x, out, 8);
            TifPut32(out + (swap ? 4 : 0), uint32_t(x), swap);
            TifPut32(out + (swap ? 0 : 4), uint32_t(x >> 32), swap);
        }
    }
}

}  // namespace

int CTifFile::SetTag(int tag, int type, int count, const void* values)
{
    auto* chain = dynamic_cast<CTifPageChain*>(m_pStream);
    const int unit = TifTypeSize(type);
    const int64_t size = TifCheckedSize(count, unit);
    if (!m_bWrite || chain == nullptr || m_pEncoder == nullptr || values == nullptr || unit == 0 ||
        type > TIF_TYPE_DOUBLE || count < 1 ||
        size < 0 || tag < 1 || tag > 0xFFFF || OwnedByWriter(tag) ||
        !Acceptable(this, chain, tag, type, count, values))
        return 0;
    auto* bytes = static_cast<unsigned char*>(std::malloc(size_t(size)));
    if (bytes == nullptr)
        return 0;
    ToFileOrder(bytes, values, count, type, m_bSwap);
    return chain->PutTag(tag, type, count, bytes);
}
