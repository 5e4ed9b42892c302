// batch.h — a command run over many files, each written to its own output in
// a directory, several at a time. Every file is independent: its own
// objects, its own temporary output, its own messages.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "options.h"

// Writes OUT from IN; the exit status. `progress`: a bar may be drawn.
using FileTask = std::function<int(const std::string& in, const std::string& out, bool progress)>;

// One file (`out` given) or a batch into b.outDir, outputs named after the
// inputs with the extension `ext` (".tif"). A batch goes on after a failed
// file and ends with "N files converted, M failed"; it returns 0, the status
// of the first failed file in the inputs' order, or 3 when files were only
// damaged.
int RunFiles(const std::vector<std::string>& inputs, const std::string& out, const BatchOptions& b, const char* ext,
             const FileTask& task);
