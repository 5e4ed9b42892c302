// info_command.h — `vxtiff info`: every page of TIFF files described, as
// text or as one JSON document.
#pragma once

namespace CLI {
class App;  // <CLI/CLI.hpp>, in the files that build a command line
}

void AddInfoCommand(CLI::App* app, int* status);
