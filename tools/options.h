// options.h — the command line every command shares, in one place: the CLI11
// set-up of the write options, page lists, and the batch options with the
// names of a batch's outputs.
#pragma once

#include <string>
#include <vector>

namespace CLI {
class App;  // <CLI/CLI.hpp>, in the files that build a command line
}

#include "codec/tif_compressions.h"

// A compression as the tool names it: a row of the library's one table of
// them (codec/tif_compressions.h), which serves --compression, its help, and
// info's names. The tool writes the rows that have an encoder.
using Codec = TifCompressionRow;

// The written codec that --compression `name` asks for: a name or alias in
// any case, or the TIFF number; null when there is none.
const Codec* CodecNamed(const std::string& name);
// The same for `text` that may end in ":Q", a quality from 1 to 100, for the
// codec whose own tag is the JPEG quality: *quality is Q, or 0 without it.
const Codec* CodecNamed(const std::string& text, int* quality);
// The codec that writes what an input holds; null when there is none.
const Codec* CodecOfInput(int compression, int t4Options);
// The name info gives a TIFF Compression code: "CCITT Group 4", "unknown".
const char* CompressionTitle(int compression);

// How convert, rotate and merge write each page.
struct WriteOptions {
    int angle = 0;                 // rotate: 90, 180 or 270
    const Codec* codec = nullptr;  // null: the input's
    int predictor = 0;             // 0: the input's
    int quality = 0;               // jpeg:Q; 0: the encoder's default
    int rowsPerStrip = 0;          // 0: the input's layout
    int tileWidth = 0, tileLength = 0;
    bool tiled = false;
    bool bigTiff = false;          // BigTIFF whatever the size
    // Only the input's own coding is asked for: its stored data may be copied.
    bool KeepsCoding() const { return angle == 0 && codec == nullptr && predictor == 0 && rowsPerStrip == 0 && !tiled; }
};

// Adds --compression, --predictor, --rows-per-strip, --tile and --bigtiff to `cmd`.
void AddWriteOptions(CLI::App* cmd, WriteOptions* o);
// What the options cannot say alone; "" when they agree.
std::string CheckWriteOptions(const WriteOptions& o);

// Pages chosen by --page LIST ("2", "1-3,7", "4-"): counted from 1, in the
// order given. `last` 0: to the file's last page.
struct PageRange {
    int first, last;
};
// False when `text` is not such a list.
bool ParsePageList(const std::string& text, std::vector<PageRange>* ranges);
// The pages of a file of `pages` pages that `ranges` choose (all when empty),
// counted from 0; "" or why not (a page past the last).
std::string SelectPages(const std::vector<PageRange>& ranges, int pages, std::vector<int>* chosen);
// Adds --page LIST to `cmd`, parsed into `ranges`.
void AddPageList(CLI::App* cmd, std::vector<PageRange>* ranges);

// "X" or "XxY" pixels per inch: finite numbers from `least` to 1,000,000.
// *y is 0 when only X is given; x and y may be null. False when `text` is
// not such.
bool ParseResolution(const std::string& text, double least, double* x, double* y);

// Makes `cmd`'s --help begin "Usage: " and `usage` (lines after the first
// indented to match) in place of CLI11's generic line.
void SetUsage(CLI::App* cmd, const std::string& usage);

// Adds --page N (one page, counted from 1) to `cmd`.
void AddPageNumber(CLI::App* cmd, int* page);

// Several inputs, each written to its own file in a directory.
struct BatchOptions {
    std::string outDir;  // empty: IN OUT, one file
    int jobs = 1;        // files worked on at once
};
void AddBatchOptions(CLI::App* cmd, BatchOptions* b);
// Splits a command's files into inputs and the output: IN OUT without
// --out-dir, IN... with it (`out` then empty). "" or why they do not fit.
std::string SplitFiles(const std::vector<std::string>& files, const BatchOptions& b, const char* command,
                       std::vector<std::string>* inputs, std::string* out);
// The output of `in` in `dir`: its base name with the extension `ext`.
std::string OutputIn(const std::string& dir, const std::string& in, const char* ext);
