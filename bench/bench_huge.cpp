// bench_huge.cpp — the peak memory of reading a 20,000 x 28,000 RGB JPEG page
// stored in one strip, line by line, by each side in a process of its own.
#include "bench_huge.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "bench_files.h"
#include "bench_image.h"
#include "bench_pdf.h"
#include "bench_report.h"
#include "tif/tif_file.h"

namespace {

constexpr int kWidth = 20000, kHeight = 28000;
constexpr const char* kName = "rgb-jpeg-huge";
constexpr double kFloor = 0.05;  // vxtiff's peak at most this share of libtiff's

void Quiet(const char*, const char*, va_list) {}

struct TiffCloser {
    void operator()(TIFF* t) const { TIFFClose(t); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

// The RGB photo repeated across and down, as libtiff writes JPEG (YCbCr 2x2,
// quality 75) in one strip. Not read back: the rows of both sides are
// compared when they are measured.
std::string MakeHuge(const std::string& path)
{
    const BenchImage photo = MakePhoto(3);
    const std::string tmp = path + ".part";
    TiffPtr t(TIFFOpen(tmp.c_str(), "w"));
    if (!t)
        return "cannot create " + tmp;
    BenchFile desc = {kName, BenchSource::Rgb, 7, 0, 1, 0};
    BenchImage shape(1, 1, 3, 8);  // SetBenchFields takes the size and dpi from an image
    shape.width = kWidth, shape.height = kHeight, shape.dpi = photo.dpi;
    if (!SetBenchFields(t.get(), shape, desc))
        return "libtiff refused a tag of " + tmp;
    std::vector<uint8_t> row(size_t(kWidth) * 3);
    for (int y = 0; y < kHeight; ++y) {
        const uint8_t* src = photo.Row(y % photo.height);
        for (size_t x = 0; x < row.size(); x += photo.rowBytes)
            std::memcpy(row.data() + x, src, std::min(photo.rowBytes, row.size() - x));
        if (TIFFWriteScanline(t.get(), row.data(), uint32_t(y), 0) != 1)
            return "libtiff failed writing row " + std::to_string(y) + " of " + tmp;
    }
    if (!TIFFWriteDirectory(t.get()))
        return "libtiff failed writing the directory of " + tmp;
    t.reset();
    return std::rename(tmp.c_str(), path.c_str()) == 0 ? std::string() : "cannot rename " + tmp;
}

// Folds a row into `h` (FNV-1a over 64-bit words, the tail byte by byte).
void Fold(uint64_t* h, const uint8_t* p, size_t n)
{
    size_t i = 0;
    for (uint64_t w; i + 8 <= n; i += 8) {
        std::memcpy(&w, p + i, 8);
        *h = (*h ^ w) * 0x100000001B3ull;
    }
    for (; i < n; ++i)
        *h = (*h ^ p[i]) * 0x100000001B3ull;
}

// Every row of `path` by vxtiff's ReadLine; 0 on failure.
uint64_t HashVx(const std::string& path)
{
    CTifFile f;
    if (!f.Open(path.c_str()))
        return 0;
    std::vector<uint8_t> row(size_t(f.m_nRowBytes));
    uint64_t h = 0xCBF29CE484222325ull;
    for (int y = 0; y < f.m_nHeight; ++y) {
        if (!f.ReadLine(row.data()))
            return 0;
        Fold(&h, row.data(), row.size());
    }
    return h;
}

// Every row by libtiff's TIFFReadScanline with JPEGCOLORMODE_RGB; `mode` "r"
// maps the file (libtiff's default), "rm" reads it.
uint64_t HashLt(const std::string& path, const char* mode)
{
    TIFFSetWarningHandler(Quiet);
    TiffPtr t(TIFFOpen(path.c_str(), mode));
    uint32_t height = 0;
    if (!t || !TIFFGetField(t.get(), TIFFTAG_IMAGELENGTH, &height) ||
        !TIFFSetField(t.get(), TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB))
        return 0;
    std::vector<uint8_t> row(size_t(TIFFScanlineSize(t.get())));
    uint64_t h = 0xCBF29CE484222325ull;
    for (uint32_t y = 0; y < height; ++y) {
        if (TIFFReadScanline(t.get(), row.data(), y, 0) != 1)
            return 0;
        Fold(&h, row.data(), row.size());
    }
    return h;
}

uint64_t ReadHash(const std::string& path)
{
    unsigned long long h = 0;
    if (std::FILE* f = std::fopen(path.c_str(), "r")) {
        if (std::fscanf(f, "%llx", &h) != 1)
            h = 0;
        std::fclose(f);
    }
    std::remove(path.c_str());
    return h;
}

}  // namespace

int BenchReadSide(const std::string& side, const std::string& path, const std::string& out)
{
    const uint64_t h = side == "vx" ? HashVx(path) : side == "lt" ? HashLt(path, "r")
                       : side == "lt-read" ? HashLt(path, "rm") : 1;
    std::FILE* f = std::fopen(out.c_str(), "w");
    if (f == nullptr || h == 0)
        return 1;
    std::fprintf(f, "%llx\n", static_cast<unsigned long long>(h));
    return std::fclose(f) == 0 ? 0 : 1;
}

void RunHugeJob(const BenchOptions& o, const std::filesystem::path& dir, Tally* tally)
{
    if (!o.heap || !Selected(o, std::string(kName) + " peak"))
        return;
    const std::string path = (dir / (std::string(kName) + ".tif")).string();
    if (o.regen || !std::filesystem::exists(path)) {
        std::fprintf(stderr, "writing %s\n", path.c_str());
        if (const std::string err = MakeHuge(path); !err.empty()) {
            std::fprintf(stderr, "%s\n", err.c_str());
            return;
        }
    }
    // Each side reads in a process started for it; an idle run's peak (the
    // program and its libraries) is taken off. The least of three runs each:
    // a run's peak varies by a few dozen pages from run to run.
    const std::string report = o.writeDir + "/huge-peak.txt", hash = o.writeDir + "/huge-hash.txt";
    std::error_code ec;
    const std::string self = std::filesystem::read_symlink("/proc/self/exe", ec).string();
    auto peak = [&](const char* side, uint64_t* h) {
        long least = -1;
        for (int i = 0; i < 3; ++i) {
            const long kib = PeakKiB({self, "--read-side", side, path, hash}, report);
            *h = ReadHash(hash);
            if (kib < 0 || *h == 0)
                return -1L;
            least = least < 0 || kib < least ? kib : least;
        }
        return least;
    };
    uint64_t none = 0, vxHash = 0, ltHash = 0, readHash = 0;
    const long idle = peak("none", &none), vx = peak("vx", &vxHash), lt = peak("lt", &ltHash),
               ltRead = peak("lt-read", &readHash);
    auto mib = [&](long kib) { return kib < 0 || idle < 0 ? std::string("fail") : Fmt("%.1f", (kib - idle) / 1024.0); };
    std::printf("\nPeak memory reading %s (%d x %d RGB JPEG in one strip, line by line; maximum resident set\n"
                "above an idle run's, MiB): vxtiff %s, libtiff ReadScanline %s (file mapped, its default),\n"
                "%s (file read)\n", kName, kWidth, kHeight, mib(vx).c_str(), mib(lt).c_str(), mib(ltRead).c_str());
    const bool measured = idle >= 0 && vx >= 0 && lt > idle && vxHash != 0 && vxHash == ltHash && ltHash == readHash;
    if (!measured) {
        std::printf("%s peak: %s\n", kName, vxHash != ltHash ? "WRONG (the sides read other rows)" : "fail");
        ++tally->missed;
        return;
    }
    const double share = double(vx - idle) / double(lt - idle);
    const bool met = share < kFloor;
    std::printf("%s peak: vxtiff/libtiff %.1f %%, floor under %.0f %%: %s\n", kName, 100.0 * share, 100.0 * kFloor,
                met ? "met" : "MISSED");
    ++(met ? tally->met : tally->missed);
}
