// tif_wide.cpp — the 64-bit positions kept beside CTifFile's 32-bit fields.
#include "tif/tif_wide.h"

#include <cstdlib>
#include <cstring>

#include "tif/tif_bytes.h"
#include "tif/tif_file.h"

CTifWideStream::~CTifWideStream() { FreePage(); }

void CTifWideStream::FreePage()
{
    std::free(offsets);
    std::free(counts);
    std::free(valueAt);
    offsets = counts = valueAt = nullptr;
    nextIfd = 0;
}

CTifWideStream* TifWide(const CTifFile* f)
{
    // Every stream a CTifFile opens is one (FindPage, Create); a caller may
    // still have put another in its place.
    return dynamic_cast<CTifWideStream*>(f->m_pStream);
}

uint64_t TifStripOffset(const CTifFile* f, int i)
{
    const CTifWideStream* w = TifWide(f);
    return w != nullptr && w->offsets != nullptr ? w->offsets[i] : f->m_pStripOffsets[i];
}

uint64_t TifStripBytes(const CTifFile* f, int i)
{
    const CTifWideStream* w = TifWide(f);
    return w != nullptr && w->counts != nullptr ? w->counts[i] : f->m_pStripByteCounts[i];
}

int TifSetStrip(CTifFile* f, int i, uint64_t offset, uint64_t bytes)
{
    CTifWideStream* w = TifWide(f);
    if (w->offsets == nullptr && offset + bytes > TIF_CLASSIC_END) {
        // The first strip past 4 GiB: from now on the 64-bit arrays hold them.
        const size_t n = size_t(f->m_nStrips);
        w->offsets = static_cast<uint64_t*>(std::malloc(n * sizeof(uint64_t)));
        w->counts = static_cast<uint64_t*>(std::malloc(n * sizeof(uint64_t)));
        if (w->offsets == nullptr || w->counts == nullptr) {
            w->FreePage();
            return 0;
        }
        for (size_t k = 0; k < n; ++k) {
            w->offsets[k] = f->m_pStripOffsets[k];
            w->counts[k] = f->m_pStripByteCounts[k];
        }
    }
    if (w->offsets != nullptr) {
        w->offsets[i] = offset;
        w->counts[i] = bytes;
    }
    f->m_pStripOffsets[i] = TifCut32(offset);
    f->m_pStripByteCounts[i] = TifCut32(bytes);
    return 1;
}

uint64_t TifValueAt(const CTifFile* f, const unsigned char* entry)
{
    const CTifWideStream* w = TifWide(f);
    if (w != nullptr && w->valueAt != nullptr)
        return w->valueAt[(entry - f->m_pEntries) / kTifClassic.entryBytes];
    return TifGet32(entry + 8, f->m_bSwap);
}

uint64_t TifWriteOffset(const CTifFile* f) { return TifWide(f)->writeOffset; }

void TifSetWriteOffset(CTifFile* f, uint64_t offset)
{
    TifWide(f)->writeOffset = offset;
    f->m_nWriteOffset = TifCut32(offset);
}

uint64_t TifGetLink(const unsigned char* p, const TifForm& form, int swap)
{
    return form.linkBytes == 8 ? TifGet64(p, swap) : TifGet32(p, swap);
}
