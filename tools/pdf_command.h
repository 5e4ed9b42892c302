// pdf_command.h — `vxtiff topdf IN... OUT.pdf`: the pages of TIFF files, in
// order, as the pages of one PDF file (through the library's converter,
// convert/tif2pdf_document.h), written under a temporary name and renamed
// into place once complete.
#pragma once

#include <string>
#include <vector>

namespace CLI {
class App;  // <CLI/CLI.hpp>, in the files that build a command line
}

#include "options.h"

struct PdfOptions {
    std::vector<PageRange> pages;  // of every input; empty: all
    double xDpi = 0.0, yDpi = 0.0; // pages without a resolution; 0: 200 dpi
    std::string title;             // empty: the first page's DocumentName or ImageDescription
    bool strict = false;           // a page skipped or a damaged line fails the whole
};

// Writes the chosen pages of `inputs` to the PDF file `out`; the exit status
// (tool_common.h): 3 when pages were skipped or damaged (one warning per
// damaged page, as every command says it: salvage.h).
int WritePdf(const std::vector<std::string>& inputs, const std::string& out, const PdfOptions& o);

// Adds the command to `app`; running it sets *status to its exit status.
void AddPdfCommand(CLI::App* app, int* status);
