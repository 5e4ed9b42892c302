// bench_pages_run.cpp — the multi-page rows: their files, written by libtiff
// from generated fax pages, and the runs of both sides, checked page by page.
#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>

#include "bench_files.h"
#include "bench_image.h"
#include "bench_pages.h"
#include "bench_report.h"

namespace {

constexpr int kPages = 50;

struct PageSet {
    const char* name;  // the label's file part, and the file or folder under the images' folder
    const char* job;
    int compression;   // of the stored pages
    bool document;     // one file of every page, else a file per page
    double floor;      // the least ratio accepted, 0 for none
};

// Fax pages as a document scanner or fax server files them: one strip each.
const PageSet kSets[] = {
    {"fax50-g4", "merge", 4, false, 2.0},
    {"fax50-mh", "merge-g4", 2, false, 2.0},
    {"fax50-g4-doc", "split", 4, true, 0.0},
};

std::string Label(const PageSet& s) { return std::string(s.name) + " " + s.job; }

// `count` numbered files "<stem>-NN.tif" in `dir`.
std::vector<std::string> Numbered(const std::filesystem::path& dir, const std::string& stem, int count)
{
    std::vector<std::string> files;
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "-%02d.tif", i);
        files.push_back((dir / (stem + name)).string());
    }
    return files;
}

// The set's files: one per page in its folder, or the one document.
std::vector<std::string> InputsOf(const PageSet& s, const std::filesystem::path& dir)
{
    if (s.document)
        return {(dir / (std::string(s.name) + ".tif")).string()};
    return Numbered(dir / s.name, "page", kPages);
}

std::vector<PageRef> PagesOf(const std::string& path, int count)
{
    std::vector<PageRef> refs;
    for (int i = 0; i < count; ++i)
        refs.push_back({path, i});
    return refs;
}

std::vector<PageRef> FirstPagesOf(const std::vector<std::string>& files)
{
    std::vector<PageRef> refs;
    for (const auto& f : files)
        refs.push_back({f, 0});
    return refs;
}

void RemoveAll(const std::vector<std::string>& files)
{
    for (const auto& f : files)
        std::remove(f.c_str());
}

class PageRunner {
public:
    PageRunner(const BenchOptions& o, const std::filesystem::path& dir, Tally* tally)
        : o_(o), dir_(dir), tally_(tally)
    {
    }

    void Run(const PageSet& s)
    {
        const std::vector<std::string> in = InputsOf(s, dir_);
        Geometry g;
        if (!ProbeGeometry(in[0], &g)) {
            std::printf("%-29s libtiff cannot read %s\n", s.name, in[0].c_str());
            return;
        }
        Row row;
        row.file = s.name;
        row.job = s.job;
        row.agree = "same pixels";
        row.bytes = g.Bytes() * kPages;  // every page is one image of the same size
        row.floor = s.floor;
        const std::string job = s.job;
        if (job == "merge")
            Merge(in, &row);
        else if (job == "merge-g4")
            MergeLines(in, &row);
        else
            Split(in[0], &row);
    }

private:
    std::string Out(const std::string& name) const { return o_.writeDir + "/" + name; }

    // Runs both sides once untimed and checks each output (the reference's
    // first); fills the row's status, note and probe.
    void Verify(Row* row, const std::function<VxResult()>& vx, const std::function<bool()>& ref,
                const std::function<std::string()>& checkVx, const std::function<std::string()>& checkRef)
    {
        bool ok = true;
        const double refTime = Seconds(ref, 1, &ok);
        std::string err = ok ? checkRef() : "failed";
        if (!err.empty()) {
            row->status = "ref fail";
            row->note = "    libtiff: " + err;
            return;
        }
        VxResult r = VxResult::Ok;
        const double vxTime = Seconds([&] { return (r = vx()) == VxResult::Ok; }, 1, &ok);
        if (r != VxResult::Ok) {
            row->status = StatusOf(r);
            return;
        }
        row->probe = std::min(refTime, vxTime);
        err = checkVx();
        if (!err.empty()) {
            row->status = "WRONG";
            row->note = "    " + err;
        }
    }

    // Below the row when vxtiff wrote lines where it was to copy.
    static void NoteCopied(Row* row, int copied)
    {
        if (copied != kPages && row->status.empty())
            row->note = "    CopyPageData took " + std::to_string(copied) + " of " + std::to_string(kPages) +
                        " pages; vxtiff wrote the others' lines";
    }

    void Merge(const std::vector<std::string>& in, Row* row)
    {
        const std::string vxPath = Out("merge-vx.tif"), ltPath = Out("merge-lt.tif");
        int copied = 0;
        auto vx = [&] { return VxMerge(in, vxPath, &copied); };
        auto ref = [&] { return LtMergeRaw(in, ltPath); };
        const std::vector<PageRef> want = FirstPagesOf(in);
        Verify(row, vx, ref, [&] { return ComparePages(want, PagesOf(vxPath, kPages), 4); },
               [&] { return ComparePages(want, PagesOf(ltPath, kPages), 4); });
        NoteCopied(row, copied);
        row->reference = "libtiff raw strip copy";
        ReportRow(o_, *row, [&] { return vx() == VxResult::Ok; }, ref, tally_);
        RemoveAll({vxPath, ltPath});
    }

    void MergeLines(const std::vector<std::string>& in, Row* row)
    {
        const std::string vxPath = Out("merge-vx.tif"), ltPath = Out("merge-lt.tif");
        auto vx = [&] { return VxMergeLines(in, vxPath, 4); };
        auto ref = [&] { return LtMergeScanlines(in, ltPath, 4); };
        const std::vector<PageRef> want = FirstPagesOf(in);
        Verify(row, vx, ref, [&] { return ComparePages(want, PagesOf(vxPath, kPages), 4); },
               [&] { return ComparePages(want, PagesOf(ltPath, kPages), 4); });
        row->reference = "libtiff ReadScanline+Write";
        ReportRow(o_, *row, [&] { return vx() == VxResult::Ok; }, ref, tally_);
        RemoveAll({vxPath, ltPath});
    }

    void Split(const std::string& in, Row* row)
    {
        const std::vector<std::string> vxFiles = Numbered(o_.writeDir, "split-vx", kPages);
        const std::vector<std::string> ltFiles = Numbered(o_.writeDir, "split-lt", kPages);
        int copied = 0;
        auto vx = [&] { return VxSplit(in, vxFiles, &copied); };
        auto ref = [&] { return LtSplitRaw(in, ltFiles); };
        const std::vector<PageRef> want = PagesOf(in, kPages);
        Verify(row, vx, ref, [&] { return ComparePages(want, FirstPagesOf(vxFiles), 4); },
               [&] { return ComparePages(want, FirstPagesOf(ltFiles), 4); });
        NoteCopied(row, copied);
        row->reference = "libtiff raw strip copy";
        ReportRow(o_, *row, [&] { return vx() == VxResult::Ok; }, ref, tally_);
        RemoveAll(vxFiles);
        RemoveAll(ltFiles);
    }

    const BenchOptions& o_;
    const std::filesystem::path dir_;
    Tally* tally_;
};

}  // namespace

std::string PreparePageSets(const BenchOptions& o, const std::filesystem::path& dir)
{
    // Page i of every set is the fax page drawn from seed + i: page 0 is the
    // fax-* files' page, the others differ in text, rules and table rows.
    std::vector<std::unique_ptr<BenchImage>> pages(kPages);
    auto page = [&](int i) {
        if (!pages[size_t(i)])
            pages[size_t(i)] = std::make_unique<BenchImage>(MakeFaxPage(kFaxPageSeed + uint64_t(i)));
        return pages[size_t(i)].get();
    };
    for (const PageSet& s : kSets) {
        if (!Selected(o, Label(s)))
            continue;
        const BenchFile desc = {s.name, BenchSource::FaxPage, s.compression, 0, 1, 0};
        const std::vector<std::string> files = InputsOf(s, dir);
        std::error_code ec;
        std::filesystem::create_directories(std::filesystem::path(files[0]).parent_path(), ec);
        for (size_t f = 0; f < files.size(); ++f) {
            if (!o.regen && std::filesystem::exists(files[f]))
                continue;
            std::fprintf(stderr, "writing %s\n", files[f].c_str());
            std::vector<const BenchImage*> content;
            for (int i = 0; i < (s.document ? kPages : 1); ++i)
                content.push_back(page(s.document ? i : int(f)));
            const std::string err = WriteBenchDocument(files[f], content, desc);
            if (!err.empty())
                return err;
        }
    }
    return {};
}

void RunPageJobs(const BenchOptions& o, const std::filesystem::path& dir, Tally* tally)
{
    PageRunner runner(o, dir, tally);
    for (const PageSet& s : kSets)
        if (Selected(o, Label(s)))
            runner.Run(s);
}
