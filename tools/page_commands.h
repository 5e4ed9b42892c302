// page_commands.h — `vxtiff merge` (the pages of several files joined into
// one) and `vxtiff split` (one file per page), their stored data copied
// unchanged unless a compression or layout is asked for.
#pragma once

namespace CLI {
class App;  // <CLI/CLI.hpp>, in the files that build a command line
}

// Adds both commands to `app`; running one sets *status to its exit status.
void AddPageCommands(CLI::App* app, int* status);
