// line_salvage.h — reading a page whose data is damaged, the same way in
// every converter and command: the whole page is read, lines that cannot be
// decoded at all become paper (white), lines decoded from damaged data stay
// as decoded, and what the page met is told once it is read (internal to the
// library: the PDF converter and the tool's commands use it).
#pragma once

#include <cstddef>
#include <vector>

#include "tif/tif_file.h"

// What a page's reading met.
struct PageDamage {
    int lines = 0;           // damaged or undecodable lines (CTifFile::GetDamagedLines)
    int first = -1;          // the first of them, from 0
    bool endsEarly = false;  // a line could not be read because the data ended
    int claimed = 0;         // when the page was cut: the height it claims, else 0
    int rows = 0;            // the rows the page was given (Salvager::Height)

    bool any() const { return lines > 0 || claimed > 0; }
};

// Reads the page of `in` in bands of rows, salvaging: a line that cannot be
// decoded is written as paper, and reading goes on at the next strip (or
// tile row), where the library has counted the lines in between already.
// The rest of a strip whose decoding stopped is not tried again (its data
// would stop at the same place): it costs no more than its paper.
class Salvager {
public:
    explicit Salvager(CTifFile& in);
    // The rows the page is given: its height, cut after the last row its
    // stored data could decode to at most (TifMostRows), so that a tiny file
    // claiming billions of rows costs no more than its data.
    int Height() const { return rows_; }
    // Rows first .. first + count − 1 into `rows`, RowBytes() apart.
    void Read(unsigned char* rows, int first, int count);
    // A paper row of the page, as stored: what an undecodable line becomes.
    const std::vector<unsigned char>& Paper() const { return paper_; }
    size_t RowBytes() const { return paper_.size(); }
    // What the page met so far.
    PageDamage Damage();
    // The end of the run of paper that row `y` is known to lie in (the rest
    // of a strip whose decoding stopped at or before `y`), `y` when none is
    // known: a reader may skip those rows.
    int PaperTo(int y) const { return y >= paperFrom_ && y < paperTo_ ? paperTo_ : y; }
    // One past the last row read from data so far (decoded, damaged or not).
    int DataEnd() const { return dataEnd_; }

private:
    CTifFile& in_;
    std::vector<unsigned char> paper_;
    int unit_ = 1;       // rows per strip or tile row
    int height_ = 0;     // the page's claimed height
    int rows_ = 0;       // Height()
    int position_ = 0;   // the line the reader is at; -1 when unknown
    int paperFrom_ = 0;  // the last strip's rows that cannot be decoded
    int paperTo_ = 0;
    int dataEnd_ = 0;
    bool endsEarly_ = false;
};
