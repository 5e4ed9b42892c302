// bench_pdf.h — the PDF rows: `vxtiff topdf` against tiff2pdf and img2pdf as
// whole processes, with their peak memory and PDF sizes.
#pragma once

#include <filesystem>
#include <string>

struct BenchOptions;
struct Tally;

// Writes the documents the selected PDF rows read, under `dir` (missing ones
// only, unless --regen); "" on success, else what went wrong.
std::string PreparePdfSets(const BenchOptions& o, const std::filesystem::path& dir);
// Runs the selected PDF rows.
void RunPdfJobs(const BenchOptions& o, const std::filesystem::path& dir, Tally* tally);
