// output_file.h — how every command writes its output (OUT), in one place.
//
//  - A new or regular OUT is written under a temporary name beside it and
//    renamed over it once complete. An existing OUT keeps its permissions
//    (and, for root, its owner); a symbolic link is followed: its target is
//    replaced, the link kept.
//  - An OUT with other hard links stays the same file: the complete output is
//    copied into it. So is an OUT in a directory the user cannot write to,
//    when OUT itself is writable (with a note).
//  - A device, a FIFO or "-" (standard output) is written straight through; a
//    writer that must seek (TIFF, BMP) writes a temporary file in $TMPDIR
//    first, copied there once complete.
// A failure or an interrupt (SIGINT, SIGTERM, SIGHUP) leaves an existing OUT
// as it was and removes the temporary file. OUT may not be one of the inputs
// (the same file through any link).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "tif/tif_file.h"
#include "tool_common.h"

class OutputFile {
public:
    // How the writer reaches the file: by its name (it may seek), or through
    // a stream OutputFile opens (it only writes forward).
    enum Writer { kByName, kStream };

    explicit OutputFile(std::string out) : out_(std::move(out)) {}
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Refuses OUT when it is one of `inputs`, then makes what the writer
    // writes to; "" or why not. Nothing of OUT is changed yet.
    std::string Open(const std::vector<std::string>& inputs, Writer writer);
    // kByName: the file to create and write (a temporary one).
    const std::string& path() const { return tmp_; }
    // kStream: where to write; Commit closes it.
    std::FILE* stream() const { return stream_; }
    // Puts the complete output in OUT's place; "" or why not.
    std::string Commit();
    // The exit status of the last refusal: kExitFailed when OUT is an input,
    // else kExitOutput.
    int status() const { return status_; }

private:
    enum Mode { kReplace, kCopyIn, kStraight };
    std::string Decide(Writer writer);
    std::string OpenStraight(Writer writer);
    std::string OpenInPlace(Writer writer, const std::string& besideFailed);
    std::string MakeTemp(const std::string& beside, Writer writer);
    std::string CopyTo(int fd, bool inPlace);

    std::string out_;
    std::string target_;       // OUT with its links followed
    std::string tmp_;          // the temporary file, "" when none
    int slot_ = -1;            // where the interrupt handler finds tmp_
    Mode mode_ = kReplace;
    int fd_ = -1;              // OUT opened (kCopyIn, kStraight)
    std::FILE* stream_ = nullptr;
    bool existed_ = false;
    unsigned modeBits_ = 0;    // an existing OUT's permissions
    long owner_ = -1, group_ = -1;
    int status_ = kExitOutput;
};

// Why a write failed, from its errno: "No space left on device" (0: the
// cause is unknown).
std::string WriteCause(int err);
// "cannot write: " and the cause.
std::string CannotWrite(int err);

// The pages of one TIFF output file: the first begins with Create, the next
// with AddPage; Finish closes the file and puts it in place.
class DocumentWriter {
public:
    explicit DocumentWriter(std::string out) : output_(std::move(out)) {}
    // Refuses OUT when it is one of `inputs`, then makes the file; "" or why not.
    std::string Open(const std::vector<std::string>& inputs) { return output_.Open(inputs, OutputFile::kByName); }
    int status() const { return output_.status(); }
    // Begins the next page as `info` describes (tile sizes stored back); false
    // when refused (the first page: nothing lost; a later one: the write failed).
    bool NextPage(VXIMGINFO* info);
    int pages() const { return pages_; }
    CTifFile& file() { return file_; }
    // Closes and puts in place; "" or why not.
    std::string Finish();

private:
    OutputFile output_;  // declared before the file: removed after it lets go
    CTifFile file_;
    int pages_ = 0;
};
