// tool_run.h — the built vxtiff tool run as a user runs it, and the images the
// tool tests feed it (written by libtiff).
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/libtiff_util.h"
#include "support/temp_dir.h"

#ifndef VXTIFF_TOOL
#define VXTIFF_TOOL ""
#endif

namespace tiftest {

struct ToolResult {
    int status;
    std::string out, err;
};

// Runs the tool with `args` (each quoted): its exit status, stdout and stderr.
inline ToolResult Tool(const TempDir& dir, const std::vector<std::string>& args)
{
    std::string cmd = "'" VXTIFF_TOOL "'";
    for (const auto& a : args)
        cmd += " '" + a + "'";
    const std::string outPath = dir.Path("stdout.txt"), errPath = dir.Path("stderr.txt");
    const int rc = std::system((cmd + " >'" + outPath + "' 2>'" + errPath + "'").c_str());
    const Bytes out = ReadFileBytes(outPath), err = ReadFileBytes(errPath);
    std::filesystem::remove(outPath);
    std::filesystem::remove(errPath);
    return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, std::string(out.begin(), out.end()),
            std::string(err.begin(), err.end())};
}

// An image in strips of 8 rows, without resolution.
inline LibtiffPage Shape(uint32_t w, uint32_t h, uint16_t samples, uint16_t bits, uint16_t photometric)
{
    LibtiffPage s;
    s.width = w, s.height = h, s.samples = samples, s.bits = bits, s.photometric = photometric;
    s.rowsPerStrip = 8;
    return s;
}

// Rows that differ from row to row and image to image.
inline std::vector<Bytes> Pattern(const LibtiffPage& s, uint32_t seed = 0)
{
    std::vector<Bytes> rows(s.height);
    for (uint32_t y = 0; y < s.height; ++y)
        rows[y] = PatternRows(s.RowBytes(), 1, y * 13 + s.width + seed);
    return rows;
}

}  // namespace tiftest
