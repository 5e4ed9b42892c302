// bench_huge.h — the peak memory of reading a 20,000 x 28,000 RGB JPEG page in
// one strip (`rgb-jpeg-huge peak`): vxtiff's ReadLine against libtiff's
// TIFFReadScanline with JPEGCOLORMODE_RGB, each side in a process of its own.
#pragma once

#include <filesystem>
#include <string>

struct BenchOptions;
struct Tally;

// Writes the page under `dir` when missing (or with --regen), runs the sides
// through bench_peak and prints their peaks against the floor: vxtiff's
// under 5 % of libtiff's. Skipped with --no-heap and --verify-only.
void RunHugeJob(const BenchOptions& o, const std::filesystem::path& dir, Tally* tally);

// The measured process (vxtiff_bench --read-side SIDE PATH OUT): reads every
// row of PATH with SIDE ("vx", "lt" mapping the file, "lt-read" reading it,
// "none" nothing) and writes a hash of the rows to OUT. Returns the exit status.
int BenchReadSide(const std::string& side, const std::string& path, const std::string& out);
