// tif_page_chain.h — the stream of a file being written, with the chain of
// the directories (pages) written into it so far.
//
// Each page's directory is written as the page finishes, with a zero
// next-directory offset that the following page's directory replaces. The
// header, which names the first directory, is written last, so that a file
// whose writing failed never begins with a TIFF header. In a file of more
// than one page every directory carries PageNumber (index, total); the totals
// are known only at the end and written then. Memory: 4 bytes per page, and
// the tags the caller set on the page being written.
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

class CTifPageChain : public CTifWideStream {
public:
    CTifPageChain() = default;
    ~CTifPageChain() override;

    // Chains the directory just written at `ifdOffset` with `entries` entries
    // behind the previous page's. 0 when the link cannot be written.
    int Link(uint32_t ifdOffset, int entries, int swap);
    // Remembers where this page's PageNumber value lies (its entry's value
    // field), so that Finish can write the total. 0 without memory.
    int NotePageNumber(uint32_t valueOffset);
    // The totals of every PageNumber, then the header. 0 when no page was
    // chained or a write fails.
    int Finish(int swap);

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

private:
    uint32_t firstIfd_ = 0;
    uint32_t lastLink_ = 0;  // the next-directory field of the last directory
    uint32_t* pageNumbers_ = nullptr;
    int noted_ = 0;
    int capacity_ = 0;
    TifPageTag* tags_ = nullptr;
    int tagCount_ = 0;
    int tagCapacity_ = 0;
};
