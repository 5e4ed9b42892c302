// page_copy.h — one page of an input written as the next page of an output:
// its stored data copied unchanged where nothing asks for another coding,
// else its lines decoded and encoded anew, a band of rows at a time (turned
// a quarter or a half turn for rotate).
#pragma once

#include <string>

#include "convert/page_reader.h"
#include "options.h"
#include "output_file.h"
#include "tool_common.h"

using PageReader = TifPageReader;

// Writes page `page` (from 0) of `path` as the next page of `doc`, as `o`
// asks, reading it through `reader`. kExitOk; kExitDamaged when the page was
// written whole but some of its lines are damaged, *why the warning
// (salvage.h); or the exit status of the failure with *why set. Stored data
// copied unchanged is not decoded, so its damage is not seen.
int WritePage(const WriteOptions& o, const std::string& path, int page, PageReader& reader, DocumentWriter& doc,
              Progress& bar, std::string* why);

// Opens every page of `path` in turn to count them; 0 with *why set when the
// file cannot be read.
int PagesOf(const std::string& path, std::string* why);

// Reverses the order of the `width` pixels of `bits` bits each of a packed
// row (most significant bit first) from `src` into `dst`; bits past the width
// are 0 in `dst`.
void ReversePixels(const unsigned char* src, unsigned char* dst, int width, int bits);
