// info_command.h — `vxtiff info`: every page of TIFF files described, as
// text or as one JSON document.
#pragma once

#include <CLI/CLI.hpp>

void AddInfoCommand(CLI::App* app, int* status);
