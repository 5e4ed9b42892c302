// output_file.h — a TIFF file written page by page under a temporary name
// beside its final one, and renamed into place only once it is complete: a
// failure at any point (or an interrupt) leaves OUT as it was.
#pragma once

#include <string>

#include "tif/tif_file.h"

// The new file under a temporary name beside OUT (same directory, so the final
// rename cannot cross file systems), removed unless Commit renamed it.
class PendingOutput {
public:
    explicit PendingOutput(std::string out) : out_(std::move(out)) {}
    ~PendingOutput();
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;

    // Makes the temporary file; false (errno set) when the directory takes none.
    bool Reserve();
    const std::string& path() const { return tmp_; }
    // Puts the finished file in OUT's place; false (why set) when it cannot.
    bool Commit(std::string* why);

private:
    std::string out_;
    std::string tmp_;
    int slot_ = -1;  // where the interrupt handler finds the name
};

// The pages of one output file: the first begins with Create, the next with
// AddPage; Finish closes the file and renames it into place.
class DocumentWriter {
public:
    explicit DocumentWriter(std::string out) : pending_(std::move(out)) {}
    // Makes the temporary file; "" or why not.
    std::string Reserve();
    // Begins the next page as `info` describes (tile sizes stored back); false
    // when refused (the first page: nothing lost; a later one: the write failed).
    bool NextPage(VXIMGINFO* info);
    // Whether a page refused as a first page could be described again.
    bool Empty() const { return pages_ == 0; }
    int pages() const { return pages_; }
    CTifFile& file() { return file_; }
    // Closes and renames; "" or why not.
    std::string Finish();

private:
    PendingOutput pending_;  // declared before the file: removed after it lets go
    CTifFile file_;
    int pages_ = 0;
};
