// bench_main.cpp — vxtiff against libtiff (and zlib) in one process, on the
// same generated files, printed as one table.
//
// Every job runs once untimed on each side (warming the page cache and the
// allocator alike, and checking that vxtiff delivers the bytes libtiff
// delivers), then a number of timed rounds, each timing both sides one after
// the other and alternating which goes first. The ratio is the median of the
// rounds' ratios (both sides of a round see about the same machine load), and
// is the figure held against the row's floor. MB/s are 10^6 bytes per second of
// raw image bytes (rows x row bytes), of output bytes for the rotation.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench_files.h"
#include "bench_huge.h"
#include "bench_image.h"
#include "bench_jobs.h"
#include "bench_pages.h"
#include "bench_pdf.h"
#include "bench_report.h"
#include "bench_write.h"

namespace {

constexpr const char* kImageVersion = "v2";  // bump when a generator changes

void Usage()
{
    std::printf(
        "usage: vxtiff_bench [options]\n"
        "  --filter S[,S...]  run only the jobs whose \"file job\" label contains one of S\n"
        "                     (e.g. fax-g4, lines, \"rgb-lzw all\", -t256); =S: the label is S\n"
        "  --quick            2 timed rounds instead of 5\n"
        "  --reps N           N timed rounds\n"
        "  --dir DIR          where the generated images go (default %s)\n"
        "  --write-dir DIR    where the writing and rotation jobs write (default /dev/shm\n"
        "                     when present, so that disk flushes do not mask the codecs)\n"
        "  --regen            write the images again even if present\n"
        "  --no-heap          skip the peak-heap pass\n"
        "  --verify-only      run each job once per side and compare, without timing\n"
        "                     (for instruction counts under callgrind, see callgrind.sh)\n",
        BENCH_DEFAULT_DIR);
}

bool ParseOptions(int argc, char** argv, BenchOptions* o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= argc)
                return false;
            *out = argv[++i];
            return true;
        };
        std::string v;
        if (a == "--filter" && value(&v)) {
            for (size_t at = 0; at <= v.size();) {
                const size_t comma = std::min(v.find(',', at), v.size());
                if (comma > at)
                    o->filters.push_back(v.substr(at, comma - at));
                at = comma + 1;
            }
        } else if (a == "--quick") {
            o->reps = 2;
        } else if (a == "--reps" && value(&v)) {
            o->reps = std::max(1, std::atoi(v.c_str()));
        } else if (a == "--dir" && value(&v)) {
            o->dir = v;
        } else if (a == "--write-dir" && value(&v)) {
            o->writeDir = v;
        } else if (a == "--regen") {
            o->regen = true;
        } else if (a == "--no-heap") {
            o->heap = false;
        } else if (a == "--verify-only") {
            o->verifyOnly = true;
            o->heap = false;
        } else {
            Usage();
            return false;
        }
    }
    return true;
}

std::vector<std::string> JobsOf(const BenchFile& f)
{
    std::vector<std::string> jobs = {"lines"};
    if (f.Jpeg() && !f.Tiled())
        jobs.push_back("seek");
    if (f.linesOnly) {
        if (f.Deflate())
            jobs.push_back("zlib");
        return jobs;
    }
    jobs.push_back("all");
    if (f.Bilevel()) {
        jobs.push_back("r90");
        jobs.push_back("bmp");
    }
    if (f.Deflate())
        jobs.push_back("zlib");
    // The tool's whole-process rotation, against tiffcrop's.
    if (f.name == "fax-g4" || f.name == "drawing-g4")
        jobs.insert(jobs.end(), {"rot-none", "rot-packbits", "rot-g4"});
    return jobs;
}

// Jobs of a file of BenchWriteFiles().
std::vector<std::string> WriteJobsOf(const BenchFile& f)
{
    std::vector<std::string> jobs = {"write"};
    if (f.Deflate() && f.predictor == 1)
        jobs.push_back("zlibw");
    return jobs;
}

bool AnyJobSelected(const BenchOptions& o, const BenchFile& f)
{
    for (const auto& j : JobsOf(f))
        if (Selected(o, f.name + " " + j))
            return true;
    return false;
}

// ---- floors ---------------------------------------------------------------

// The least ratio vxtiff/reference the project accepts for a row; 0 when the
// row has none.
double FloorOf(const BenchFile& f, const std::string& job)
{
    const bool pred = f.predictor == 2;
    const bool lowRedundancy = f.source == BenchSource::Rgb || f.source == BenchSource::CameraGrey;
    if (job == "lines") {
        if (f.Fax())
            return 2.3;
        if (f.compression == 5 && pred)
            return 2.2;
        if (f.compression == 5 && lowRedundancy)
            return 1.8;
        if ((f.compression == 1 || f.compression == 32773) && (f.Tiled() || f.rowsPerStrip == 16))
            return 1.0;
        if (f.Jpeg() && !f.Tiled())  // both sides run libjpeg: only the work around it can differ
            return 1.0;
    } else if (job == "zlib") {
        return 1.0;
    } else if (job == "write") {
        if (f.Fax())
            return 2.0;
        if (f.compression == 1 || f.compression == 32773 || f.compression == 5)
            return 1.5;
    }
    return 0.0;
}

// ---- running --------------------------------------------------------------

class Runner {
public:
    Runner(const BenchOptions& o, Tally* tally) : o_(o), tally_(tally) {}

    void RunFile(const BenchFile& f, const std::string& path)
    {
        Geometry g;
        if (!ProbeGeometry(path, &g)) {
            std::printf("%-29s libtiff cannot read %s\n", f.name.c_str(), path.c_str());
            return;
        }
        vx_.assign(g.Bytes(), 0);
        ref_.assign(g.Bytes(), 0);
        for (const auto& job : JobsOf(f)) {
            if (!Selected(o_, f.name + " " + job))
                continue;
            if (job == "lines")
                Lines(f, path, g);
            else if (job == "seek")
                Seek(f, path, g);
            else if (job == "all")
                All(f, path, g);
            else if (job == "r90")
                Rotate(f, path, g);
            else if (job == "bmp")
                Bmp(f, path, g);
            else if (job == "zlib")
                Zlib(f, path, g);
            else if (job.rfind("rot-", 0) == 0)
                RotateTool(f, path, g, job.substr(4));
        }
        if (o_.heap && Selected(o_, f.name + " lines"))
            heap_.push_back({f.name, VxPeakHeap(path, g), LtPeakHeap(path, g)});
    }

    // The writing jobs of one entry of BenchWriteFiles(), on its source image.
    void RunWrite(const BenchFile& f, const BenchImage& img)
    {
        for (const auto& job : WriteJobsOf(f)) {
            if (!Selected(o_, f.name + " " + job))
                continue;
            if (job == "write")
                Write(f, img);
            else if (job == "zlibw")
                ZlibWrite(f, img);
        }
    }

    // The written files' sizes; PackBits must be no larger than libtiff's.
    void PrintSizes() const
    {
        if (sizes_.empty())
            return;
        std::printf("\nWritten file sizes (bytes):\n%-29s %14s %14s %9s\n", "file", "vxtiff", "libtiff", "vs libtiff");
        int packBits = 0, larger = 0;
        for (const auto& z : sizes_) {
            const bool limited = z.file.compression == 32773;
            packBits += limited;
            larger += limited && z.vx > z.lt;
            std::printf("%-29s %14lld %14lld %+8.2f%%%s\n", z.file.name.c_str(), (long long)z.vx, (long long)z.lt,
                        100.0 * double(z.vx - z.lt) / double(z.lt), limited && z.vx > z.lt ? "  LARGER" : "");
        }
        if (packBits > 0)
            std::printf("PackBits: %d of %d no larger than libtiff's\n", packBits - larger, packBits);
    }

    void PrintHeap() const
    {
        if (heap_.empty())
            return;
        std::printf("\nPeak extra heap while reading line by line (KiB, sampled after Open and every line):\n");
        std::printf("%-29s %12s %12s\n", "file", "vxtiff", "libtiff");
        for (const auto& h : heap_) {
            auto cell = [](long v) { return v < 0 ? std::string("n/a") : Fmt("%.1f", v / 1024.0); };
            std::printf("%-29s %12s %12s\n", h.file.c_str(), cell(h.vx).c_str(), cell(h.lt).c_str());
        }
    }

private:
    // Runs both sides once untimed and compares their bytes; returns the
    // vxtiff status ("" when it matched). The shorter of the two runs is kept
    // as the probe for the timing.
    std::string Verify(const std::function<VxResult()>& vx, const std::function<bool()>& ref, size_t bytes)
    {
        std::fill(vx_.begin(), vx_.end(), 0);
        std::fill(ref_.begin(), ref_.end(), 0);
        bool ok = true;
        const double refTime = Seconds(ref, 1, &ok);
        if (!ok)
            return "ref fail";
        VxResult r = VxResult::Ok;
        const double vxTime = Seconds([&] { return (r = vx()) == VxResult::Ok; }, 1, &ok);
        if (r != VxResult::Ok)
            return StatusOf(r);
        probe_ = std::min(refTime, vxTime);
        if (std::memcmp(vx_.data(), ref_.data(), bytes) == 0)
            return "";
        NoteDifference(vx_.data(), ref_.data(), bytes);
        return "WRONG";
    }

    // Keeps where two outputs first differ, printed under the row.
    void NoteDifference(const uint8_t* vx, const uint8_t* ref, size_t bytes)
    {
        size_t at = 0;
        while (at < bytes && vx[at] == ref[at])
            ++at;
        char buf[160];
        std::snprintf(buf, sizeof buf, "    first difference at byte %zu: vxtiff %02x, reference %02x", at, vx[at],
                      ref[at]);
        note_ = buf;
    }

    void Report(const BenchFile& f, const std::string& job, const std::string& refName, std::string status,
                const std::function<bool()>& vx, const std::function<bool()>& ref, size_t bytes)
    {
        Row row;
        row.file = f.name;
        row.job = job;
        row.reference = refName;
        row.status = status;
        row.note = note_;
        row.bytes = bytes;
        row.probe = probe_;
        row.floor = FloorOf(f, job);
        if (job == "zlibw")
            row.agree = "ran";  // its two outputs differ in form (a TIFF, bare streams): only run
        ReportRow(o_, row, vx, ref, tally_);
        note_.clear();
        probe_ = 0;
    }

    void Lines(const BenchFile& f, const std::string& path, const Geometry& g)
    {
        auto vx = [&] { return VxReadLineByLine(path, g, vx_.data()); };
        auto ref = [&] { return LtReadLineByLine(path, g, ref_.data()); };
        const std::string status = Verify(vx, ref, g.Bytes());
        const char* refName = g.Tiled() ? "libtiff ReadEncodedTile" : "libtiff ReadScanline";
        Report(f, "lines", refName, status, [&] { return vx() == VxResult::Ok; }, ref, g.Bytes());
    }

    // MB/s of the whole image, which the seek passes over; the last row compared.
    void Seek(const BenchFile& f, const std::string& path, const Geometry& g)
    {
        auto vx = [&] { return VxSeekLastLine(path, g, vx_.data()); };
        auto ref = [&] { return LtSeekLastLine(path, g, ref_.data()); };
        const std::string status = Verify(vx, ref, g.rowBytes);
        Report(f, "seek", "libtiff ReadScanline", status, [&] { return vx() == VxResult::Ok; }, ref, g.Bytes());
    }

    void All(const BenchFile& f, const std::string& path, const Geometry& g)
    {
        auto vx = [&] { return VxReadAll(path, g, vx_.data()); };
        auto ref = [&] { return LtReadStrips(path, g, ref_.data()); };
        const std::string status = Verify(vx, ref, g.Bytes());
        Report(f, "all", "libtiff ReadEncodedStrip", status, [&] { return vx() == VxResult::Ok; }, ref, g.Bytes());
    }

    void Rotate(const BenchFile& f, const std::string& path, const Geometry& g)
    {
        const size_t out = g.RotatedBytes();
        std::vector<uint8_t> vxOut(out), refOut(out);
        auto vx = [&] { return VxRotate90(path, g, vxOut.data()); };
        auto ref = [&] { return LtRotate90Naive(path, g, ref_.data(), refOut.data()); };
        std::string status;
        if (!ref()) {
            status = "ref fail";
        } else {
            const VxResult r = vx();
            status = r != VxResult::Ok ? StatusOf(r) : vxOut == refOut ? "" : "WRONG";
            if (status == "WRONG")
                NoteDifference(vxOut.data(), refOut.data(), out);
        }
        Report(f, "r90", "libtiff+naive rotate", status, [&] { return vx() == VxResult::Ok; }, ref, out);
    }

    void Bmp(const BenchFile& f, const std::string& path, const Geometry& g)
    {
        const int half = int(g.xResolution / 2);
        const std::string bmp = path.substr(0, path.size() - 4) + ".bmp";
        auto vx = [&] { return VxToBmp(path, bmp, half); };
        auto decode = [&] { return VxReadLineByLine(path, g, vx_.data()) == VxResult::Ok; };
        std::string status;
        if (half <= 1 || g.xResolution != 2.0 * half) {
            status = "no res";
        } else if (!decode()) {
            status = "n/a";  // cannot decode the file yet: nothing to compare with
        } else if (!LtReadLineByLine(path, g, ref_.data())) {
            status = "ref fail";
        } else {
            status = StatusOf(vx());
            if (status.empty()) {
                note_ = CheckHalfBmp(bmp, g, ref_.data());
                if (!note_.empty()) {
                    note_ = "    " + note_;
                    status = "WRONG";
                }
            }
        }
        Report(f, "bmp", "vxtiff ReadLine decode", status, [&] { return vx() == VxResult::Ok; }, decode,
               g.Bytes());
    }

    void Zlib(const BenchFile& f, const std::string& path, const Geometry& g)
    {
        RawStrips raw;
        auto vx = [&] { return VxReadAll(path, g, vx_.data()); };
        auto ref = [&] { return ZlibInflate(raw, g, ref_.data()); };
        const std::string status = LoadRawStrips(path, g, &raw) ? Verify(vx, ref, g.Bytes()) : "ref fail";
        const char* refName = g.Tiled() ? "zlib inflate (tiles)" : "zlib inflate (strips)";
        Report(f, "zlib", f.predictor == 2 ? std::string(refName) + "+pred" : refName, status,
               [&] { return vx() == VxResult::Ok; }, ref, g.Bytes());
    }

    std::string Out(const std::string& name) const { return o_.writeDir + "/" + name; }

    void Write(const BenchFile& f, const BenchImage& img)
    {
        const std::string vxPath = Out("write-vx.tif"), ltPath = Out("write-lt.tif");
        auto vx = [&] { return VxWriteLines(vxPath, img, f); };
        auto ref = [&] { return LtWriteLines(ltPath, img, f); };
        std::string status;
        if (!ref() || (!f.Jpeg() && !CheckWritten(ltPath, img).empty())) {
            status = "ref fail";
        } else {
            status = StatusOf(vx());
            if (status.empty()) {
                note_ = f.Jpeg() ? CheckSameDecoded(vxPath, ltPath) : CheckWritten(vxPath, img);
                if (!note_.empty()) {
                    note_ = "    " + note_;
                    status = "WRONG";
                }
            }
        }
        Report(f, "write", "libtiff WriteScanline", status, [&] { return vx() == VxResult::Ok; }, ref, img.Bytes());
        std::error_code e1, e2;
        const auto vxSize = std::filesystem::file_size(vxPath, e1), ltSize = std::filesystem::file_size(ltPath, e2);
        if (status.empty() && !e1 && !e2)
            sizes_.push_back({f, int64_t(vxSize), int64_t(ltSize)});
        std::remove(vxPath.c_str());
        std::remove(ltPath.c_str());
    }

    void ZlibWrite(const BenchFile& f, const BenchImage& img)
    {
        const std::string vxPath = Out("write-vx.tif"), zPath = Out("write-zlib.bin");
        auto vx = [&] { return VxWriteLines(vxPath, img, f); };
        auto ref = [&] { return ZlibDeflateStrips(zPath, img, f); };
        std::string status = !ref() ? "ref fail" : StatusOf(vx());
        Report(f, "zlibw", "zlib deflate (strips)", status, [&] { return vx() == VxResult::Ok; }, ref, img.Bytes());
        std::remove(vxPath.c_str());
        std::remove(zPath.c_str());
    }

    void RotateTool(const BenchFile& f, const std::string& path, const Geometry& g, const std::string& codec)
    {
        const std::string tool = BENCH_VXTIFF_TOOL;
        const std::string vxPath = Out("rot-vx.tif"), ltPath = Out("rot-lt.tif");
        const std::string crop = codec == "none" || codec == "packbits" || codec == "g4" ? codec : "";
        auto vx = [&] { return VxToolRotate(tool, path, vxPath, codec); };
        auto ref = [&] { return TiffcropRotate(path, ltPath, crop); };
        std::string status;
        if (tool.empty()) {
            status = "no tool";
        } else if (!ref()) {
            status = "ref fail";
        } else {
            status = StatusOf(vx());
            if (status.empty()) {
                note_ = CompareImages(vxPath, ltPath);
                if (!note_.empty()) {
                    note_ = "    " + note_;
                    status = "WRONG";
                }
            }
        }
        Report(f, "rot-" + codec, "tiffcrop -R 90 -c " + codec, status, [&] { return vx() == VxResult::Ok; }, ref,
               g.RotatedBytes());
        std::remove(vxPath.c_str());
        std::remove(ltPath.c_str());
    }

    struct Heap {
        std::string file;
        long vx, lt;
    };
    const BenchOptions& o_;
    Tally* tally_;
    std::vector<uint8_t> vx_, ref_;
    std::vector<Heap> heap_;
    struct Size {
        BenchFile file;
        int64_t vx, lt;
    };
    std::vector<Size> sizes_;
    std::string note_;
    double probe_ = 0;  // seconds of the untimed run, 0 when not known
};

const BenchImage& SourceImage(BenchSource s, std::map<BenchSource, std::unique_ptr<BenchImage>>* cache)
{
    auto& slot = (*cache)[s];
    if (!slot) {
        switch (s) {
        case BenchSource::FaxPage: slot = std::make_unique<BenchImage>(MakeFaxPage()); break;
        case BenchSource::Drawing: slot = std::make_unique<BenchImage>(MakeDrawing()); break;
        case BenchSource::Grey: slot = std::make_unique<BenchImage>(MakePhoto(1)); break;
        case BenchSource::Rgb: slot = std::make_unique<BenchImage>(MakePhoto(3)); break;
        case BenchSource::CameraGrey: slot = std::make_unique<BenchImage>(MakePhoto(1, true)); break;
        }
    }
    return *slot;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && std::string(argv[1]) == "--read-side")
        return BenchReadSide(argv[2], argv[3], argv[4]);
    BenchOptions o;
    if (!ParseOptions(argc, argv, &o))
        return 2;
    if (o.writeDir.empty())
        o.writeDir = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : o.dir;
    const std::filesystem::path dir = std::filesystem::path(o.dir) / kImageVersion;
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        std::fprintf(stderr, "cannot create %s: %s\n", dir.c_str(), ec.message().c_str());
        return 1;
    }

    // Generate what is missing (libtiff writes, then reads back to check).
    std::vector<std::pair<BenchFile, std::string>> todo;
    {
        std::map<BenchSource, std::unique_ptr<BenchImage>> cache;
        for (const BenchFile& f : BenchFiles()) {
            if (!AnyJobSelected(o, f))
                continue;
            const std::string path = (dir / (f.name + ".tif")).string();
            if (o.regen || !std::filesystem::exists(path)) {
                std::fprintf(stderr, "writing %s\n", path.c_str());
                const std::string err = WriteBenchFile(path, SourceImage(f.source, &cache), f);
                if (!err.empty()) {
                    std::fprintf(stderr, "%s\n", err.c_str());
                    return 1;
                }
            }
            todo.emplace_back(f, path);
        }
    }
    if (std::string err = PreparePageSets(o, dir) + PreparePdfSets(o, dir); !err.empty()) {
        std::fprintf(stderr, "%s\n", err.c_str());
        return 1;
    }

    const std::string rounds = o.verifyOnly ? "verification only" : "median of " + std::to_string(o.reps) + " rounds";
    std::printf("vxtiff vs libtiff %s, %s build, %s, images in %s, written to %s\n", LibtiffVersion().c_str(),
                BENCH_BUILD_TYPE, rounds.c_str(), dir.c_str(), o.writeDir.c_str());
    if (std::FILE* load = std::fopen("/proc/loadavg", "r")) {
        // Figures taken on a busy machine are noisier (and the best of a few
        // rounds is then the fairer one).
        char text[64] = "";
        if (std::fgets(text, sizeof text, load))
            std::printf("load average at start: %.14s\n", text);
        std::fclose(load);
    }
    if (!o.verifyOnly) {
        std::printf("MB/s: 10^6 bytes/s of raw image bytes (r90: of rotated output), median of the rounds;\n"
                    "ratio: vxtiff/reference speed, median of the rounds' ratios; status: that ratio against\n"
                    "the floor\n\n");
        PrintHeader();
    }
    Tally tally;
    Runner runner(o, &tally);
    for (const auto& [f, path] : todo)
        runner.RunFile(f, path);
    {
        std::map<BenchSource, std::unique_ptr<BenchImage>> cache;
        for (const BenchFile& f : BenchWriteFiles()) {
            bool any = false;
            for (const auto& j : WriteJobsOf(f))
                any = any || Selected(o, f.name + " " + j);
            if (any)
                runner.RunWrite(f, SourceImage(f.source, &cache));
        }
    }
    RunPageJobs(o, dir, &tally);
    RunPdfJobs(o, dir, &tally);
    runner.PrintSizes();
    runner.PrintHeap();
    RunHugeJob(o, dir, &tally);
    if (!o.verifyOnly)
        std::printf("\nfloors: %d met, %d missed, %d not measured (n/a: no decoder or encoder yet)\n", tally.met,
                    tally.missed, tally.open);
    return 0;
}
