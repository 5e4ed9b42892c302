// output_format.h — the image formats an output's extension names, and the
// command that writes each: one row per format (output_format.cpp). A name
// without an extension, or with one no row names, is written in the
// command's own format.
#pragma once

#include <string>
#include <vector>

// Writes pages `pages` (from 0, in order) of `in` to `out`; the exit status.
using PagesWriter = int (*)(const std::string& in, const std::string& out, const std::vector<int>& pages,
                            bool progress);

struct OutputFormat {
    const char* name;        // "PNG"
    const char* extensions;  // ".png", or several: ".tif .tiff"
    const char* command;     // the command that writes it; null: vxtiff does not
    bool severalPages;       // one file holds several pages
    PagesWriter write;       // how convert writes it; null: not by convert (TIFF is convert's own)
};

// The format OUT's extension names, case-insensitive; null when none does.
const OutputFormat* FormatOf(const std::string& out);

// Why `command`, which writes `own` ("PNG"), refuses OUT: "" when OUT names
// `own`, no format, or a format convert writes when `command` is convert.
std::string RefuseFormat(const std::string& out, const char* command, const char* own);
