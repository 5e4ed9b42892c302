// bench_pdf.h — the PDF rows: `vxtiff topdf` against tiff2pdf and img2pdf as
// whole processes, with their peak memory and PDF sizes.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

struct BenchOptions;
struct Tally;

// Writes the documents the selected PDF rows read, under `dir` (missing ones
// only, unless --regen); "" on success, else what went wrong.
std::string PreparePdfSets(const BenchOptions& o, const std::filesystem::path& dir);
// Runs the selected PDF rows.
void RunPdfJobs(const BenchOptions& o, const std::filesystem::path& dir, Tally* tally);

// The peak memory of a run of `argv` to its end, in KiB (the maximum resident
// set, written by bench_peak into the file `report`); -1 when it failed.
long PeakKiB(const std::vector<std::string>& argv, const std::string& report);
