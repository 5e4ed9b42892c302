// tif_wide.h — the 64-bit positions of a file, beside CTifFile's 32-bit fields.
//
// CTifFile's offsets and byte counts are 32-bit and its layout is fixed. A
// BigTIFF page, and a page written past 4 GiB, keep their true positions here,
// in the stream every open CTifFile reads or writes through (a CTifWideStream,
// or the CTifPageChain derived from it); the 32-bit fields then hold them cut
// to 0xFFFFFFFF. A classic page read leaves the arrays empty: its 32-bit
// fields are the truth.
#pragma once

#include <cstdint>

#include "io/tif_stream.h"

class CTifFile;

// The shape of a directory: classic TIFF or BigTIFF.
struct TifForm {
    int countBytes;  // the entry count before the entries
    int entryBytes;  // one entry
    int linkBytes;   // an offset: the value field, the next-directory link
};
constexpr TifForm kTifClassic{2, 12, 4};
constexpr TifForm kTifBig{8, 20, 8};

// The largest offset a classic file can hold.
constexpr uint64_t TIF_CLASSIC_END = 0xFFFFFFFFu;

class CTifWideStream : public CTifFileStream {
public:
    CTifWideStream() = default;
    ~CTifWideStream() override;
    // Frees what belongs to the page (between pages, or at the end).
    void FreePage();

    bool big = false;              // read: the file is BigTIFF
    uint64_t* offsets = nullptr;   // the strip (tile) offsets, when held in 64 bits
    uint64_t* counts = nullptr;    // their byte counts, likewise
    uint64_t* valueAt = nullptr;   // BigTIFF read: per entry, where its values lie
    uint64_t nextIfd = 0;          // BigTIFF read: the page's next-directory offset
    uint64_t stripOffset = 0;      // where the strip being read or written begins
    uint64_t writeOffset = 0;      // written file: where the next bytes go
};

// The stream of an open file; null when nothing is open (or the stream is
// another kind: the file then holds no 64-bit positions).
CTifWideStream* TifWide(const CTifFile* f);

// A 32-bit field's value for a 64-bit position.
inline uint32_t TifCut32(uint64_t v) { return v > TIF_CLASSIC_END ? uint32_t(TIF_CLASSIC_END) : uint32_t(v); }

// Strip (tile) `i`'s offset and byte count; i is in range.
uint64_t TifStripOffset(const CTifFile* f, int i);
uint64_t TifStripBytes(const CTifFile* f, int i);
// Records strip `i` of a file being written; 0 without memory for the 64-bit
// arrays a strip past 4 GiB needs.
int TifSetStrip(CTifFile* f, int i, uint64_t offset, uint64_t bytes);
// Where the values of `entry` (one of m_pEntries) lie in the file, when they
// do not fit its value field.
uint64_t TifValueAt(const CTifFile* f, const unsigned char* entry);
// The write position of a file being written, and setting it (the 32-bit
// m_nWriteOffset follows, cut).
uint64_t TifWriteOffset(const CTifFile* f);
void TifSetWriteOffset(CTifFile* f, uint64_t offset);
// Reads an offset (4 or 8 bytes, by the form) in the file's byte order.
uint64_t TifGetLink(const unsigned char* p, const TifForm& form, int swap);
// The values of a SHORT, LONG or LONG8 entry (or their signed and IFD8
// kinds) widened to 64 bits, as GetTagLongs reads SHORT and LONG: malloc'd,
// bounded by the file's size. 0 (count 0) when absent, of another type, or
// unreadable; *array may still hold a block to free.
int TifGetTagWide(CTifFile* f, int tag, int* count, uint64_t** array);
