// bench_report.h — what every job of the table shares: the options, the
// timing of two sides round by round, and the printing of a row.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "bench_jobs.h"

struct BenchOptions {
    std::string dir = BENCH_DEFAULT_DIR;
    std::string writeDir;  // empty: /dev/shm when it exists, else dir
    std::vector<std::string> filters;
    int reps = 5;
    bool regen = false;
    bool heap = true;
    bool verifyOnly = false;
};

// Whether the row labelled "file job" passes the --filter strings.
bool Selected(const BenchOptions& o, const std::string& label);

// Seconds per run of `run`, repeated `times` times in a row.
double Seconds(const std::function<bool()>& run, int times, bool* ok);

// Rows met, missed and not measured against their floors.
struct Tally {
    int met = 0, missed = 0, open = 0;
};

// `v` printed with a printf format.
std::string Fmt(const char* format, double v);

void PrintHeader();

// "n/a" or "fail" for a vxtiff run that did not finish, "" for Ok.
const char* StatusOf(VxResult r);

// One row of the table, once both sides have run untimed and been compared.
struct Row {
    std::string file, job, reference;
    std::string status;  // "" when both sides ran and agree, else what the vxtiff cell shows
    std::string note;    // printed under the row when not empty
    std::string agree = "same bytes";  // what --verify-only prints when both sides agree
    size_t bytes = 0;    // the bytes MB/s count
    double probe = 0;    // seconds of the untimed run, 0 when not known
    double floor = 0;    // the least ratio accepted, 0 for none
};

// Prints the row: with --verify-only its status alone; otherwise both sides
// timed over the rounds (only the reference when vxtiff has no figure).
void ReportRow(const BenchOptions& o, const Row& row, const std::function<bool()>& vx,
               const std::function<bool()>& ref, Tally* tally);
