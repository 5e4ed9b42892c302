// tif_page_chain.cpp — linking the directories of a file being written,
// choosing its form, and writing its header last.
#include "tif/tif_page_chain.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "codec/tif_tiff.h"

#include "tif/tif_bytes.h"

namespace {

int WriteAt(CTifStream* s, uint64_t offset, const unsigned char* bytes, int size)
{
    return s->Seek(int64_t(offset), SEEK_SET) == int64_t(offset) &&
           s->Write(bytes, size) == size;
}

int ReadAt(CTifStream* s, uint64_t offset, unsigned char* bytes, int size)
{
    return s->Seek(int64_t(offset), SEEK_SET) == int64_t(offset) && s->Read(bytes, size) == size;
}

// The header, classic (8 bytes) or BigTIFF (16), naming the first directory.
int WriteHeader(CTifStream* s, int swap, bool big, uint64_t first)
{
    unsigned char header[16] = {'I', 'I'};
    if (swap)
        header[0] = header[1] = 'M';
    TifPut16(header + 2, big ? 43 : 42, swap);
    if (big) {
        TifPut16(header + 4, 8, swap);
        TifPut64(header + 8, first, swap);
    } else {
        TifPut32(header + 4, uint32_t(first), swap);
    }
    return WriteAt(s, 0, header, big ? 16 : 8);
}

}  // namespace

CTifPageChain::~CTifPageChain()
{
    std::free(pages_);
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

int TifBigEntries(CTifStream* s, const unsigned char* entries, int n, const uint64_t* valueAt, int swap,
                  unsigned char* out)
{
    TifPut64(out, uint64_t(n), swap);
    for (int i = 0; i < n; ++i) {
        const unsigned char* e = entries + 12 * i;
        unsigned char* to = out + 8 + 20 * i;
        const uint64_t bytes = uint64_t(TifGet32(e + 4, swap)) * TifTypeSize(TifGet16(e + 2, swap));
        const uint64_t at = valueAt != nullptr ? valueAt[i] : TifGet32(e + 8, swap);
        std::memcpy(to, e, 4);  // tag and type
        TifPut64(to + 4, TifGet32(e + 4, swap), swap);
        if (bytes <= 4)
            std::memcpy(to + 12, e + 8, 4);
        else if (bytes > 8)
            TifPut64(to + 12, at, swap);
        else if (!ReadAt(s, at, to + 12, int(bytes)))
            return 0;
    }
    TifPut64(out + 8 + 20 * size_t(n), 0, swap);  // the last directory so far
    return 1;
}

int CTifPageChain::Link(uint64_t ifdOffset, int entries, bool big, uint64_t pageNumberAt, uint64_t end)
{
    if (pages == capacity_) {
        const int grown = capacity_ == 0 ? 64 : capacity_ * 2;
        auto* p = static_cast<Page*>(std::realloc(pages_, size_t(grown) * sizeof(Page)));
        if (p == nullptr)
            return 0;
        pages_ = p;
        capacity_ = grown;
    }
    pages_[pages++] = Page{ifdOffset, pageNumberAt, uint32_t(entries), big};
    end_ = end;
    return 1;
}

// Writes the classic directory of `page` again, in BigTIFF form, behind the
// end of the file: values of up to 8 bytes come into the entries, the
// others stay where they are.
int CTifPageChain::Rewrite(Page* page, int swap)
{
    const size_t n = page->entries;
    auto* classic = static_cast<unsigned char*>(std::malloc(2 + 12 * n + 4));
    auto* big = static_cast<unsigned char*>(std::calloc(8 + 20 * n + 8, 1));
    const int ok = classic != nullptr && big != nullptr && ReadAt(this, page->ifd, classic, int(2 + 12 * n)) &&
                   TifBigEntries(this, classic + 2, int(n), nullptr, swap, big) &&
                   WriteAt(this, (end_ + 7) & ~uint64_t(7), big, int(8 + 20 * n + 8));
    const uint64_t at = (end_ + 7) & ~uint64_t(7);
    const int size = int(8 + 20 * n + 8);
    std::free(classic);
    std::free(big);
    if (ok) {
        page->ifd = at;
        page->big = true;
        end_ = at + uint64_t(size);
    }
    return ok;
}

int CTifPageChain::WriteLinks(int swap, bool big)
{
    for (int i = 0; i + 1 < pages; ++i) {
        const Page& p = pages_[i];
        unsigned char link[8];
        const uint64_t at = big ? p.ifd + 8 + 20 * uint64_t(p.entries) : p.ifd + 2 + 12 * uint64_t(p.entries);
        if (big)
            TifPut64(link, pages_[i + 1].ifd, swap);
        else
            TifPut32(link, uint32_t(pages_[i + 1].ifd), swap);
        if (!WriteAt(this, at, link, big ? 8 : 4))
            return 0;
    }
    return 1;
}

int CTifPageChain::Finish(int swap)
{
    if (pages == 0)
        return 0;
    // PageNumber is two SHORTs in the entry's value field: index, then total.
    unsigned char total[2];
    TifPut16(total, uint32_t(pages), swap);
    bool big = forceBig || end_ > classicEnd;
    for (int i = 0; i < pages; ++i) {
        if (pages_[i].pageNumberAt != 0 && !WriteAt(this, pages_[i].pageNumberAt + 2, total, 2))
            return 0;
        big = big || pages_[i].big;
    }
    for (int i = 0; big && i < pages; ++i)
        if (!pages_[i].big && !Rewrite(&pages_[i], swap))
            return 0;
    return WriteLinks(swap, big) && WriteHeader(this, swap, big, pages_[0].ifd);
}
