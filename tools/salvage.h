// salvage.h — reading a page whose data is damaged, the same way in every
// command: the whole page is written, lines that cannot be decoded at all
// become paper (white), lines decoded from damaged data stay as decoded,
// and one warning per damaged page says where and how much.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tif/tif_file.h"

// What a page's reading met.
struct PageDamage {
    int lines = 0;           // damaged or undecodable lines (CTifFile::GetDamagedLines)
    int first = -1;          // the first of them, from 0
    bool endsEarly = false;  // a line could not be read because the data ended
};

// The one warning for a damaged page, for every command:
// "warning: page 2: 7 lines damaged, the first line 656 (damaged data)".
// `page` from 1, 0 when the file has one page.
std::string DamageWarning(const PageDamage& d, int page);

// The page number for DamageWarning: `page` (from 1) when `path` has several.
int PageToName(const std::string& path, int page);

// Reads the page of `in` in bands of rows, salvaging: a line that cannot be
// decoded is written as paper, and reading goes on at the next strip (or
// tile row), where the library has counted the lines in between already.
class Salvager {
public:
    explicit Salvager(CTifFile& in);
    // Rows first .. first + count − 1 into `rows`, RowBytes() apart.
    void Read(unsigned char* rows, int first, int count);
    // A paper row of the page, as stored: what an undecodable line becomes.
    const std::vector<unsigned char>& Paper() const { return paper_; }
    size_t RowBytes() const { return paper_.size(); }
    // What the page met so far.
    PageDamage Damage();

private:
    CTifFile& in_;
    std::vector<unsigned char> paper_;
    int unit_ = 1;       // rows per strip or tile row
    int height_ = 0;
    int position_ = 0;   // the line the reader is at; -1 when unknown
    bool endsEarly_ = false;
};
