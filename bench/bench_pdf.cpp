// bench_pdf.cpp — the PDF rows: `vxtiff topdf` against tiff2pdf and img2pdf,
// whole processes on the same 50-page documents, with each side's peak
// memory (the child's maximum resident set) and the size of its PDF.
#include "bench_pdf.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "../fuzz/pdf_check.h"
#include "bench_files.h"
#include "bench_image.h"
#include "bench_report.h"
#include "tif/tif_file.h"

extern char** environ;

namespace {

constexpr int kPages = 50;

// Runs `argv` to its end; whether it exited 0.
bool Spawn(const std::vector<std::string>& argv)
{
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int status = -1;
    if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0 ||
        waitpid(pid, &status, 0) != pid)
        status = -1;
    posix_spawn_file_actions_destroy(&actions);
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::vector<uint8_t> ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

long FileSize(const std::string& path)
{
    std::error_code ec;
    const auto n = std::filesystem::file_size(path, ec);
    return ec ? -1 : long(n);
}

// 50 copies of the bundled sample page (strips of 64 rows), copied as stored.
std::string WriteSampleDocument(const std::string& path)
{
    const std::string sample = BENCH_SAMPLE_DIR "/page-g4.tif";
    CTifFile doc;
    for (int i = 0; i < kPages; ++i) {
        CTifFile page;
        VXIMGINFO info;
        if (!page.Open(sample.c_str()))
            return "cannot read " + sample;
        page.GetImgInfo(&info);
        if (!(i == 0 ? doc.Create(path.c_str(), &info) : doc.AddPage(&info)) || !doc.CopyPageData(&page))
            return "cannot write " + path;
    }
    return doc.Close() ? "" : "cannot write " + path;
}

struct PdfSet {
    const char* name;  // the label's file part, and the file under the images' folder
    bool sample;       // the bundled sample 50 times; else the generated fax pages, one strip each
};

const PdfSet kSets[] = {{"fax50-g4-doc", false}, {"sample50-g4-s64", true}};

struct Peer {
    const char* job;
    const char* name;
    double floor;
};

}  // namespace

long PeakKiB(const std::vector<std::string>& argv, const std::string& report)
{
    std::vector<std::string> launched = {BENCH_PEAK, report};
    launched.insert(launched.end(), argv.begin(), argv.end());
    long kib = -1;
    if (Spawn(launched))
        if (std::FILE* f = std::fopen(report.c_str(), "r")) {
            if (std::fscanf(f, "%ld", &kib) != 1)
                kib = -1;
            std::fclose(f);
        }
    std::remove(report.c_str());
    return kib;
}

std::string PreparePdfSets(const BenchOptions& o, const std::filesystem::path& dir)
{
    for (const PdfSet& s : kSets) {
        const std::string path = (dir / (std::string(s.name) + ".tif")).string();
        if (!Selected(o, std::string(s.name) + " topdf") || (!o.regen && std::filesystem::exists(path)))
            continue;
        std::fprintf(stderr, "writing %s\n", path.c_str());
        if (s.sample) {
            if (std::string err = WriteSampleDocument(path); !err.empty())
                return err;
            continue;
        }
        // As the multi-page jobs' document: page i drawn from seed + i.
        std::vector<BenchImage> pages;
        for (int i = 0; i < kPages; ++i)
            pages.push_back(MakeFaxPage(kFaxPageSeed + uint64_t(i)));
        std::vector<const BenchImage*> content;
        for (const BenchImage& p : pages)
            content.push_back(&p);
        if (std::string err = WriteBenchDocument(path, content, {s.name, BenchSource::FaxPage, 4, 0, 1, 0});
            !err.empty())
            return err;
    }
    return {};
}

void RunPdfJobs(const BenchOptions& o, const std::filesystem::path& dir, Tally* tally)
{
    // img2pdf is far slower: only the single-strip document, where it copies too.
    const Peer peers[] = {{"topdf", "tiff2pdf", 2.0}, {"topdf-img2pdf", "img2pdf", 20.0}};
    for (const PdfSet& s : kSets) {
        const std::string in = (dir / (std::string(s.name) + ".tif")).string();
        for (const Peer& p : peers) {
            if (!Selected(o, std::string(s.name) + " " + p.job) || (s.sample && std::string(p.name) == "img2pdf"))
                continue;
            const std::string ours = o.writeDir + "/topdf-vx.pdf", theirs = o.writeDir + "/topdf-peer.pdf";
            const std::vector<std::string> vxArgs = {BENCH_VXTIFF_TOOL, "topdf", in, ours};
            const std::vector<std::string> refArgs =
                std::string(p.name) == "img2pdf" ? std::vector<std::string>{"img2pdf", "-o", theirs, in}
                                                 : std::vector<std::string>{"tiff2pdf", "-o", theirs, in};
            Row row;
            row.file = s.name;
            row.job = p.job;
            row.reference = p.name;
            row.agree = "valid, 50 pages";
            row.bytes = size_t(1728 * 2200 / 8) * kPages;
            row.floor = p.floor;
            const std::string report = o.writeDir + "/topdf-peak.txt";
            const auto t0 = std::chrono::steady_clock::now();
            const long vxKiB = PeakKiB(vxArgs, report);
            const auto t1 = std::chrono::steady_clock::now();
            const long refKiB = PeakKiB(refArgs, report);
            const auto t2 = std::chrono::steady_clock::now();
            row.probe = std::min(std::chrono::duration<double>(t1 - t0).count(),
                                 std::chrono::duration<double>(t2 - t1).count());
            const std::vector<uint8_t> pdf = ReadBytes(ours);
            if (refKiB < 0) {
                row.status = "ref fail";
            } else if (vxKiB < 0) {
                row.status = "fail";
            } else if (const std::string why = pdfcheck::StructureProblem(pdf); !why.empty()) {
                row.status = "WRONG";
                row.note = "    " + why;
            } else if (pdfcheck::PageCount(pdf) != kPages) {
                row.status = "WRONG";
                row.note = "    " + std::to_string(pdfcheck::PageCount(pdf)) + " pages";
            }
            if (row.note.empty())
                row.note = "    peak memory " + std::to_string(vxKiB) + " KiB vs " + std::to_string(refKiB) +
                           " KiB; PDF " + std::to_string(FileSize(ours)) + " bytes vs " +
                           std::to_string(FileSize(theirs)) + " (TIFF " + std::to_string(FileSize(in)) + ")";
            ReportRow(o, row, [&] { return Spawn(vxArgs); }, [&] { return Spawn(refArgs); }, tally);
            std::remove(ours.c_str());
            std::remove(theirs.c_str());
        }
    }
}
