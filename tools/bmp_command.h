// bmp_command.h — `vxtiff tobmp`: a bilevel page to a 1-bit BMP.
#pragma once

#include <CLI/CLI.hpp>

// Adds the command to `app`; running it sets *status to its exit status.
void AddBmpCommand(CLI::App* app, int* status);
