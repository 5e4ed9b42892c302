// bench_pages.h — the multi-page jobs: single-page files joined into one
// document, copied as stored or decoded and encoded again, and a document
// split into single-page files; vxtiff against libtiff doing the same.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "bench_jobs.h"

struct BenchOptions;
struct Tally;

// Job "merge": every input's stored strips copied into one file, page after
// page. vxtiff: OpenPage, GetImgInfo, Create or AddPage, CopyPageData (the
// page's lines when CopyPageData refuses; *copied counts the pages it took),
// Close. libtiff: the tags, TIFFReadRawStrip and TIFFWriteRawStrip of every
// strip, TIFFWriteDirectory; then the file flushed to disk as Close does.
VxResult VxMerge(const std::vector<std::string>& in, const std::string& out, int* copied);
bool LtMergeRaw(const std::vector<std::string>& in, const std::string& out);

// Job "merge-g4": every input's lines decoded and encoded again in
// `compression`. vxtiff: ReadLines into WriteLines, 64 lines at a time;
// libtiff: TIFFReadScanline into TIFFWriteScanline.
VxResult VxMergeLines(const std::vector<std::string>& in, const std::string& out, int compression);
bool LtMergeScanlines(const std::vector<std::string>& in, const std::string& out, int compression);

// Job "split": every page of `in` copied as stored into a file of its own.
// vxtiff: CountPages, then OpenPage, Create, CopyPageData, Close per page;
// libtiff: TIFFReadDirectory along the file, the raw strips as for "merge".
VxResult VxSplit(const std::string& in, const std::vector<std::string>& out, int* copied);
bool LtSplitRaw(const std::string& in, const std::vector<std::string>& out);

// A page of a file: its directory counted from 0.
struct PageRef {
    std::string path;
    int page = 0;
};

// What libtiff decodes of each `got` page against the `want` page beside it:
// "" when the sizes and rows agree, every `got` page has `compression`, and a
// file holding several of them has exactly that many pages, each with
// PageNumber (index, count); else what differs.
std::string ComparePages(const std::vector<PageRef>& want, const std::vector<PageRef>& got, int compression);

// Writes the page sets the selected multi-page jobs read, under `dir`
// (missing ones only, unless --regen); "" on success, else what went wrong.
std::string PreparePageSets(const BenchOptions& o, const std::filesystem::path& dir);
// Runs the selected multi-page jobs, one row each.
void RunPageJobs(const BenchOptions& o, const std::filesystem::path& dir, Tally* tally);
