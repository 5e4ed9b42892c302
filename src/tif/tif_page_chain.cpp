// tif_page_chain.cpp — linking the directories of a file being written and
// writing its header last.
#include "tif/tif_page_chain.h"

#include <cstdio>
#include <cstdlib>

#include "tif/tif_bytes.h"

namespace {

int WriteAt(CTifStream* s, uint32_t offset, const unsigned char* bytes, int size)
{
    return s->Seek(int64_t(offset), SEEK_SET) == int64_t(offset) &&
           s->Write(bytes, size) == size;
}

}  // namespace

CTifPageChain::~CTifPageChain()
{
    std::free(pageNumbers_);
    ClearTags();
    std::free(tags_);
}

int CTifPageChain::PutTag(int tag, int type, int count, unsigned char* bytes)
{
    TifPageTag* slot = const_cast<TifPageTag*>(FindTag(tag));
    if (slot == nullptr) {
        if (tagCount_ == tagCapacity_) {
            const int grown = tagCapacity_ == 0 ? 16 : tagCapacity_ * 2;
            auto* p = static_cast<TifPageTag*>(std::realloc(tags_, size_t(grown) * sizeof(TifPageTag)));
            if (p == nullptr) {
                std::free(bytes);
                return 0;
            }
            tags_ = p;
            tagCapacity_ = grown;
        }
        slot = &tags_[tagCount_++];
    } else {
        std::free(slot->bytes);
    }
    *slot = TifPageTag{tag, type, count, bytes};
    return 1;
}

const TifPageTag* CTifPageChain::FindTag(int tag) const
{
    for (int i = 0; i < tagCount_; ++i)
        if (tags_[i].tag == tag)
            return &tags_[i];
    return nullptr;
}

void CTifPageChain::ClearTags()
{
    for (int i = 0; i < tagCount_; ++i)
        std::free(tags_[i].bytes);
    tagCount_ = 0;
}

int CTifPageChain::Link(uint32_t ifdOffset, int entries, int swap)
{
    if (pages > 0) {
        unsigned char link[4];
        TifPut32(link, ifdOffset, swap);
        if (!WriteAt(this, lastLink_, link, 4))
            return 0;
    } else {
        firstIfd_ = ifdOffset;
    }
    lastLink_ = ifdOffset + 2 + 12 * uint32_t(entries);
    ++pages;
    return 1;
}

int CTifPageChain::NotePageNumber(uint32_t valueOffset)
{
    if (noted_ == capacity_) {
        const int grown = capacity_ == 0 ? 64 : capacity_ * 2;
        auto* p = static_cast<uint32_t*>(std::realloc(pageNumbers_, size_t(grown) * sizeof(uint32_t)));
        if (p == nullptr)
            return 0;
        pageNumbers_ = p;
        capacity_ = grown;
    }
    pageNumbers_[noted_++] = valueOffset;
    return 1;
}

int CTifPageChain::Finish(int swap)
{
    if (pages == 0)
        return 0;
    // PageNumber is two SHORTs in the entry's value field: index, then total.
    unsigned char total[2];
    TifPut16(total, uint32_t(pages), swap);
    for (int i = 0; i < noted_; ++i)
        if (!WriteAt(this, pageNumbers_[i] + 2, total, 2))
            return 0;
    unsigned char header[8] = {'I', 'I', 0, 0, 0, 0, 0, 0};
    if (swap)
        header[0] = header[1] = 'M';
    TifPut16(header + 2, 42, swap);
    TifPut32(header + 4, firstIfd_, swap);
    return WriteAt(this, 0, header, 8);
}
