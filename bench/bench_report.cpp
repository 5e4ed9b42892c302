// bench_report.cpp — timing two sides round by round and printing the rows.
//
// Each round times both sides one after the other, alternating which goes
// first. The ratio is the median of the rounds' ratios (both sides of a round
// see about the same machine load), and is the figure held against the row's
// floor.
#include "bench_report.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

bool Selected(const BenchOptions& o, const std::string& label)
{
    if (o.filters.empty())
        return true;
    for (const auto& s : o.filters)
        if (s[0] == '=' ? label == s.substr(1) : label.find(s) != std::string::npos)
            return true;
    return false;
}

double Seconds(const std::function<bool()>& run, int times, bool* ok)
{
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < times; ++i)
        *ok = run() && *ok;
    const auto t1 = std::chrono::steady_clock::now();
    return std::chrono::duration<double>(t1 - t0).count() / times;
}

namespace {

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n == 0 ? 0.0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Times of two sides over `reps` rounds; each round runs both, alternating
// which goes first. Each sample repeats a fast job until it lasts about
// kMinSample, so that clock resolution and scheduling noise stay small against
// it. `probe` is how long one run took (the untimed one).
struct PairTime {
    double a = 0, b = 0;  // median seconds per run of each side
    double ratio = 0;     // median over the rounds of b/a: a's speed over b's
    bool ok = true;
};

constexpr double kMinSample = 0.03;

PairTime TimeBoth(const std::function<bool()>& a, const std::function<bool()>& b, int reps, double probe)
{
    PairTime t;
    const int times = probe >= kMinSample ? 1 : int(std::min(1000.0, kMinSample / std::max(probe, 1e-6)) + 1);
    std::vector<double> ta, tb, ratio;
    for (int r = 0; r < reps; ++r) {
        double sa, sb;
        if (r % 2 == 0) {
            sa = Seconds(a, times, &t.ok);
            sb = Seconds(b, times, &t.ok);
        } else {
            sb = Seconds(b, times, &t.ok);
            sa = Seconds(a, times, &t.ok);
        }
        ta.push_back(sa);
        tb.push_back(sb);
        ratio.push_back(sb / sa);
    }
    t.a = Median(ta);
    t.b = Median(tb);
    t.ratio = Median(ratio);
    return t;
}

constexpr const char* kRowFormat = "%-29s %-12s %11s  %-28s %9s %9s  %5s  %s\n";

// One line of the table. vxStatus is empty when both sides produced a figure;
// `ratio` is vxtiff's speed over the reference's, the figure held against the
// floor.
void PrintRow(const Row& row, double vxMBs, double refMBs, double ratio, Tally* tally)
{
    const std::string& vxStatus = row.status;
    const std::string vxCell = vxStatus.empty() ? Fmt("%.1f", vxMBs) : vxStatus;
    const std::string refCell = refMBs > 0 ? Fmt("%.1f", refMBs) : "-";
    const bool have = vxStatus.empty() && refMBs > 0 && ratio > 0;
    std::string ratioCell = "-";
    if (have)
        ratioCell = row.job == "bmp" ? Fmt("time %.2f", 1.0 / ratio) : Fmt("%.2f", ratio);
    std::string floorCell = "-", status = vxStatus;
    if (row.floor > 0) {
        floorCell = Fmt("%.2f", row.floor);
        if (have) {
            const bool met = ratio >= row.floor;
            status = met ? "met" : "MISSED";
            ++(met ? tally->met : tally->missed);
        } else if (vxStatus == "WRONG" || vxStatus == "fail") {
            ++tally->missed;
        } else {
            status = vxStatus.empty() ? "?" : vxStatus;
            ++tally->open;
        }
    }
    std::printf(kRowFormat, row.file.c_str(), row.job.c_str(), vxCell.c_str(), row.reference.c_str(),
                refCell.c_str(), ratioCell.c_str(), floorCell.c_str(), status.c_str());
    std::fflush(stdout);
}

}  // namespace

std::string Fmt(const char* format, double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, format, v);
    return buf;
}

void PrintHeader()
{
    std::printf(kRowFormat, "file", "job", "vxtiff MB/s", "reference", "ref MB/s", "ratio", "floor", "status");
    std::printf("%s\n", std::string(119, '-').c_str());
}

const char* StatusOf(VxResult r)
{
    return r == VxResult::Unsupported ? "n/a" : r == VxResult::Failed ? "fail" : "";
}

void ReportRow(const BenchOptions& o, const Row& row, const std::function<bool()>& vx,
               const std::function<bool()>& ref, Tally* tally)
{
    if (o.verifyOnly) {
        const std::string& shown = !row.status.empty() ? row.status : row.agree;
        std::printf("%-29s %-12s %12zu %s\n", row.file.c_str(), row.job.c_str(), row.bytes, shown.c_str());
        if (!row.note.empty())
            std::printf("%s\n", row.note.c_str());
        std::fflush(stdout);
        return;
    }
    Row shown = row;
    double vxMBs = 0, refMBs = 0, ratio = 0;
    if (row.status.empty()) {
        bool ok = true;
        const double probe = row.probe > 0 ? row.probe : std::min(Seconds(vx, 1, &ok), Seconds(ref, 1, &ok));
        const PairTime t = TimeBoth(vx, ref, o.reps, probe);
        if (!t.ok || !ok)
            shown.status = "fail";
        vxMBs = row.bytes / t.a / 1e6;
        refMBs = row.bytes / t.b / 1e6;
        ratio = t.ratio;
    } else if (row.status != "ref fail") {
        // Time the reference alone, so that the row still shows its speed.
        bool ok = true;
        const double secs = Seconds(ref, 1, &ok);
        refMBs = ok ? row.bytes / secs / 1e6 : 0;
    }
    PrintRow(shown, vxMBs, refMBs, ratio, tally);
    if (!row.note.empty())
        std::printf("%s\n", row.note.c_str());
}
