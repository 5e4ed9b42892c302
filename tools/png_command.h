// png_command.h — `vxtiff topng IN OUT.png [--page N]`: any page the library
// reads, written as PNG so that a user can look at what it reads.
#pragma once

#include <string>

namespace CLI {
class App;  // <CLI/CLI.hpp>, in the files that build a command line
}

// Adds the command to `app`; running it sets *status to its exit status.
void AddPngCommand(CLI::App* app, int* status);

// Writes page `page` (from 1) of `in` to `out` ("-": standard output), with
// a progress bar on standard error when `progress`; the exit status
// (tool_common.h). The page's resolution goes into the pHYs chunk.
int ToPng(const std::string& in, const std::string& out, int page, bool progress);
