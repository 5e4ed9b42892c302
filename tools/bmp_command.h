// bmp_command.h — `vxtiff tobmp`: a bilevel page to a 1-bit BMP.
#pragma once

#include <string>

namespace CLI {
class App;  // <CLI/CLI.hpp>, in the files that build a command line
}

// Adds the command to `app`; running it sets *status to its exit status.
void AddBmpCommand(CLI::App* app, int* status);

// Writes page `page` (from 0) of `in` to `out` as tobmp does without options:
// the source's horizontal resolution. The exit status.
int ToBmpPage(const std::string& in, const std::string& out, int page, bool progress);
