// write_commands.h — `vxtiff convert` and `vxtiff rotate`: every page of a
// TIFF file (or those --page chooses) written anew, stored data copied where
// nothing asks for another coding, lines re-encoded or turned otherwise.
#pragma once

namespace CLI {
class App;  // <CLI/CLI.hpp>, in the files that build a command line
}

// Adds both commands to `app`; running one sets *status to its exit status
// (tool_common.h).
void AddWriteCommands(CLI::App* app, int* status);
