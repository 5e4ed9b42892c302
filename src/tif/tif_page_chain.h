// tif_page_chain.h — the stream of a file being written, with the chain of
// the directories (pages) written into it so far.
//
// Each page's directory is written as the page finishes, with a zero
// next-directory offset; the links and the header, which names the first
// directory, are written last, so that a file whose writing failed never
// begins with a TIFF header. The data starts at 16, where a BigTIFF header
// ends. A directory is written in classic form while the file so far ends
// below 4 GiB, else in BigTIFF form; at the end the file is classic when it
// ends below 4 GiB (8 bytes after the header unused), else BigTIFF, and the
// classic directories of its first pages are then written again in BigTIFF
// form behind the rest. In a file of more than one page every directory
// carries PageNumber (index, total); the totals are known only at the end
// and written then. Memory: 24 bytes per page, and the tags the caller set
// on the page being written.
#pragma once

#include <cstdint>

#include "tif/tif_wide.h"

// A tag set on the page being written (CTifFile::SetTag).
struct TifPageTag {
    int tag;
    int type;
    int count;
    unsigned char* bytes;  // count values in file byte order, malloc'd
};

// Fills `out` (8 + 20n + 8 bytes) with the BigTIFF form of the `n` classic
// entries at `entries` (file byte order `swap`), whose values of more than 4
// bytes lie at valueAt[i] (null: at the offsets the entries give): values of
// up to 8 bytes are read back from `s` into the entries. 0 when a read fails.
int TifBigEntries(CTifStream* s, const unsigned char* entries, int n, const uint64_t* valueAt, int swap,
                  unsigned char* out);

class CTifPageChain : public CTifWideStream {
public:
    CTifPageChain() = default;
    ~CTifPageChain() override;

    // Chains the directory just written at `ifdOffset` with `entries` entries
    // (in BigTIFF form when `big`) behind the previous page's; its PageNumber
    // value lies at `pageNumberAt` (0: none). `end` is where the directory
    // ends. 0 without memory.
    int Link(uint64_t ifdOffset, int entries, bool big, uint64_t pageNumberAt, uint64_t end);
    // The totals of every PageNumber, the BigTIFF form where the file needs
    // it, the links, then the header. 0 when no page was chained or a write
    // fails.
    int Finish(int swap);
    // Whether a directory written now, ending at `end`, takes BigTIFF form.
    bool BigFrom(uint64_t end) const { return forceBig || end > classicEnd; }

    // Keeps `bytes` (malloc'd) as tag `tag` of the page being written,
    // replacing an earlier one; 0 without memory (`bytes` is then freed).
    int PutTag(int tag, int type, int count, unsigned char* bytes);
    const TifPageTag* FindTag(int tag) const;
    int TagCount() const { return tagCount_; }
    const TifPageTag& TagAt(int i) const { return tags_[i]; }
    // Forgets the page's tags: its directory is written.
    void ClearTags();

    int pages = 0;          // directories chained
    bool numbered = false;  // more than one page: every directory gets PageNumber
    bool forceBig = false;  // BigTIFF whatever the size (CTifFile::SetBigTiff)
    // The last offset a classic file may reach. Tests lower it so that the
    // BigTIFF form is chosen without writing gigabytes.
    uint64_t classicEnd = TIF_CLASSIC_END;

private:
    struct Page {
        uint64_t ifd;
        uint64_t pageNumberAt;
        uint32_t entries;
        bool big;
    };
    int Rewrite(Page* page, int swap);
    int WriteLinks(int swap, bool big);

    Page* pages_ = nullptr;
    int capacity_ = 0;
    uint64_t end_ = 0;  // the end of the last directory
    TifPageTag* tags_ = nullptr;
    int tagCount_ = 0;
    int tagCapacity_ = 0;
};
