// vxtiff — command-line front end of the library.
//
//   vxtiff info FILE...                         describe every page of TIFF files
//   vxtiff tobmp IN OUT.bmp [DPI] [options]     a bilevel page to a 1-bit BMP
//   vxtiff topng IN OUT.png [--page N]          any readable page to PNG
//   vxtiff convert IN OUT [options]             re-encode a TIFF file line by line
//   vxtiff rotate IN OUT 90|270 [options]       write the image turned a quarter turn
#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "convert/tif2bmp.h"
#include "png_command.h"
#include "tif/tif_file.h"
#include "tool_common.h"
#include "write_commands.h"

#ifndef VXTIFF_VERSION
#define VXTIFF_VERSION "unknown"
#endif

namespace {

const char* CompressionName(int c)
{
    switch (c) {
    case 0: return "none given";
    case 1: return "none";
    case 2: return "CCITT Modified Huffman";
    case 3: return "CCITT Group 3";
    case 4: return "CCITT Group 4";
    case 5: return "LZW";
    case 6: return "old-style JPEG";
    case 7: return "JPEG";
    case 8: return "Deflate (Adobe)";
    case 32773: return "PackBits";
    case 32946: return "Deflate";
    default: return "unknown";
    }
}

const char* PredictorName(int p)
{
    switch (p) {
    case 1: return "none";
    case 2: return "horizontal differencing";
    case 3: return "floating point";
    default: return "unknown";
    }
}

const char* PhotometricName(int p)
{
    switch (p) {
    case 0: return "min-is-white";
    case 1: return "min-is-black";
    case 2: return "RGB";
    case 3: return "palette";
    case 4: return "transparency mask";
    case 5: return "separated (CMYK)";
    case 6: return "YCbCr";
    case 8: return "CIE L*a*b*";
    default: return "unknown";
    }
}

const char* UnitName(int u)
{
    switch (u) {
    case 1: return "none";
    case 2: return "inch";
    case 3: return "centimetre";
    default: return "unknown";
    }
}

std::string T4OptionsText(int t4)
{
    std::string s = (t4 & 1) ? "2-D coding" : "1-D coding";
    if (t4 & 2)
        s += ", uncompressed mode";
    if (t4 & 4)
        s += ", fill bits";
    return s;
}

void PrintUsage(std::FILE* to)
{
    std::fprintf(to,
                 "usage: vxtiff info FILE...\n"
                 "       vxtiff tobmp IN OUT.bmp [DPI] [--source-dpi X[xY]] [--exact] [--page N]\n"
                 "       vxtiff topng IN OUT.png [--page N]\n"
                 "%s"
                 "       vxtiff --help | --version\n"
                 "info     describes every page: size, samples, photometric, compression, predictor,\n"
                 "         T4Options, layout, resolution and its unit, byte order, fill order\n"
                 "tobmp    a bilevel page to a 1-bit BMP with square pixels at DPI (absent: the\n"
                 "         source's horizontal resolution); --source-dpi gives the source's resolution\n"
                 "         (for files without one); --exact keeps VXTiff2Bmp's geometry and header\n"
                 "topng    any readable page to PNG: palette applied, min-is-white shown as white paper\n"
                 "--page N the page to read, counted from 1 (default 1); OUT.bmp and OUT.png may be -\n"
                 "         (standard output)\n"
                 "exit status: 0 done; 1 the input cannot be read or converted (nothing written);\n"
                 "             2 bad command line; 3 written, but lines of the input could not be\n"
                 "             decoded; 4 the output cannot be created or written\n",
                 kWriteUsage);
}

int Usage(const std::string& why)
{
    std::fprintf(stderr, "vxtiff: %s (vxtiff --help tells more)\n", why.c_str());
    return kExitUsage;
}

// "II" or "MM" from the file's first two bytes.
const char* ByteOrder(const char* path)
{
    char head[2] = {0, 0};
    if (std::FILE* fp = std::fopen(path, "rb")) {
        if (std::fread(head, 1, 2, fp) != 2)
            head[0] = 0;
        std::fclose(fp);
    }
    if (head[0] == 'I' && head[1] == 'I')
        return "little-endian (II)";
    if (head[0] == 'M' && head[1] == 'M')
        return "big-endian (MM)";
    return "unknown";
}

void PrintPage(CTifFile& file, const char* path)
{
    VXIMGINFO info;
    file.GetImgInfo(&info);
    std::printf("  size:            %d x %d pixels\n", info.nWidth, info.nHeight);
    std::printf("  samples:         %d per pixel, %d bits each\n", info.nSamplesPerPixel, info.nBitsPerSample);
    std::printf("  photometric:     %d %s\n", file.m_nPhotometric, PhotometricName(file.m_nPhotometric));
    if (info.nImageType == VXIMG_PALETTE)
        std::printf("  palette:         %d colours\n", file.m_nColors);
    std::printf("  compression:     %d %s\n", info.nCompression, CompressionName(info.nCompression));
    int value = 1;
    file.GetTagValue(317, &value);
    std::printf("  predictor:       %d %s\n", value, PredictorName(value));
    value = 0;
    if (file.GetTagValue(292, &value) || info.nCompression == 3)
        std::printf("  T4Options:       %d (%s)\n", value, T4OptionsText(value).c_str());
    if (info.bTiled)
        std::printf("  layout:          tiles of %d x %d\n", info.nTileWidth, info.nTileLength);
    else
        std::printf("  layout:          strips of %d rows\n", info.nRowsPerStrip);
    int unit = 2;
    const bool hasUnit = file.GetTagValue(296, &unit) != 0;
    if (info.dXResolution <= 0.0 && info.dYResolution <= 0.0)
        std::printf("  resolution:      none\n");
    else if (hasUnit && unit == 1)
        std::printf("  resolution:      %g x %g (no unit: the pixels' aspect only)\n", info.dXResolution,
                    info.dYResolution);
    else
        std::printf("  resolution:      %g x %g pixels per inch\n", info.dXResolution, info.dYResolution);
    if (hasUnit)
        std::printf("  resolution unit: %d %s\n", unit, UnitName(unit));
    else
        std::printf("  resolution unit: none given (inch)\n");
    value = 1;
    file.GetTagValue(266, &value);
    std::printf("  fill order:      %d %s\n", value,
                value == 2 ? "least significant bit first" : "most significant bit first");
    (void)path;
}

int Info(int argc, char** argv)
{
    if (argc < 1)
        return Usage("info takes one or more files");
    int status = kExitOk;
    for (int a = 0; a < argc; ++a) {
        const char* path = argv[a];
        const int pages = CTifFile::CountPages(path);
        if (pages <= 0) {
            std::fprintf(stderr, "vxtiff: %s: %s\n", path, CTifFile::GetLastFailureText());
            status = kExitFailed;
            continue;
        }
        std::printf("file:              %s\n", path);
        std::printf("byte order:        %s\n", ByteOrder(path));
        std::printf("pages:             %d\n", pages);
        for (int p = 0; p < pages; ++p) {
            std::printf("page %d of %d:\n", p + 1, pages);
            CTifFile file;
            if (!file.OpenPage(path, p)) {
                const std::string why = OpenFailure(path, p + 1);
                std::printf("  cannot be read:  %s\n", why.c_str());
                std::fflush(stdout);
                std::fprintf(stderr, "vxtiff: %s page %d: %s\n", path, p + 1, why.c_str());
                status = kExitFailed;
                continue;
            }
            PrintPage(file, path);
        }
    }
    return status;
}

bool StderrIsTerminal()
{
#if defined(_WIN32)
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

// A bar on the terminal, redrawn only when it changes.
void VXTIFF_STDCALL ShowProgress(void* context, int written, int total)
{
    constexpr int kWidth = 40;
    int* shown = static_cast<int*>(context);
    const int filled = total > 0 ? int(int64_t(written) * kWidth / total) : kWidth;
    if (filled == *shown && written != total)
        return;
    *shown = filled;
    std::fprintf(stderr, "\r[%.*s%*s] %d/%d rows", filled, "########################################",
                 kWidth - filled, "", written, total);
    if (written == total)
        std::fputc('\n', stderr);
    std::fflush(stderr);
}

bool ParseDpi(const std::string& text, double* value)
{
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0' || errno != 0 || !std::isfinite(v) || v <= 0.0 || v > 1e6)
        return false;
    *value = v;
    return true;
}

// A temporary file for output going to standard output, removed at the end.
class TempFile {
public:
    TempFile()
    {
        std::random_device seed;
        std::error_code ec;
        path_ = (std::filesystem::temp_directory_path(ec) / ("vxtiff-" + std::to_string(seed()) + ".tmp")).string();
    }
    ~TempFile() { std::remove(path_.c_str()); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Copies `path` to standard output; false when a write fails.
bool CopyToStdout(const std::string& path)
{
#if defined(_WIN32)
    // Text mode would turn every 0x0A byte of the image into CR LF.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    std::FILE* fp = std::fopen(path.c_str(), "rb");
    if (fp == nullptr)
        return false;
    char buf[65536];
    size_t n;
    bool ok = true;
    while (ok && (n = std::fread(buf, 1, sizeof buf, fp)) > 0)
        ok = std::fwrite(buf, 1, n, stdout) == n;
    std::fclose(fp);
    return std::fflush(stdout) == 0 && ok;
}

int ToBmp(int argc, char** argv)
{
    VXTIFF2BMP_OPTIONS o = {};
    o.nSize = sizeof o;
    std::vector<std::string> plain;
    int page = 1;
    for (int i = 0; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--exact") {
            o.bExact = 1;
        } else if (a == "--page") {
            if (!hasValue || !ParsePage(argv[++i], &page))
                return Usage("--page takes a page number from 1");
        } else if (a == "--source-dpi") {
            const std::string v = hasValue ? argv[++i] : "";
            const size_t x = v.find('x');
            if (!ParseDpi(v.substr(0, x), &o.dSourceXResolution) ||
                (x != std::string::npos && !ParseDpi(v.substr(x + 1), &o.dSourceYResolution)))
                return Usage("--source-dpi takes X or XxY, pixels per inch above 0 (e.g. 204x98)");
        } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
            return Usage("unknown option " + a);
        } else {
            plain.push_back(a);
        }
    }
    if (plain.size() < 2 || plain.size() > 3)
        return Usage("tobmp takes IN, OUT and an optional DPI");
    long dpi = 0;
    if (plain.size() == 3) {
        char* end = nullptr;
        errno = 0;
        dpi = std::strtol(plain[2].c_str(), &end, 10);
        if (end == plain[2].c_str() || *end != '\0' || errno != 0 || dpi < 2 || dpi > 1000000)
            return Usage("the resolution must be a whole number from 2 to 1000000, not '" + plain[2] + "'");
    } else if (o.bExact) {
        return Usage("--exact needs a DPI");
    }
    o.nPage = page - 1;
    const std::string& in = plain[0];
    const std::string& out = plain[1];
    const bool toStdout = out == "-";
    TempFile temp;
    const std::string target = toStdout ? temp.path() : out;
    int shown = -1;
    const bool bar = StderrIsTerminal();
    if (bar) {
        o.pfnProgress = ShowProgress;
        o.pContext = &shown;
    }
    errno = 0;
    const int result = VXTiff2BmpOpt(in.c_str(), target.c_str(), int(dpi), &o);
    const int err = errno;
    if (bar && shown >= 0 && shown < 40)
        std::fputc('\n', stderr);
    const std::string where = "vxtiff: " + in + " -> " + out + ": ";
    auto fail = [&](int status, const std::string& why) {
        std::fprintf(stderr, "%s%s\n", where.c_str(), why.c_str());
        return status;
    };
    const std::string reason = err != 0 ? std::string(": ") + std::strerror(err) : std::string();
    switch (result) {
    case VXTIFF2BMP_OK:
    case VXTIFF2BMP_ERR_CUT_SHORT:
        break;
    case VXTIFF2BMP_ERR_OPEN: return fail(kExitFailed, "cannot open: " + OpenFailure(in.c_str(), page));
    case VXTIFF2BMP_ERR_CREATE: return fail(kExitOutput, "cannot create the output" + reason);
    case VXTIFF2BMP_ERR_WRITE: return fail(kExitOutput, "writing the output failed" + reason);
    case VXTIFF2BMP_ERR_MEMORY: return fail(kExitFailed, "out of memory");
    case VXTIFF2BMP_ERR_TARGET: return fail(kExitUsage, "the resolution must be 2 or more pixels per inch");
    case VXTIFF2BMP_ERR_OPTIONS: return fail(kExitUsage, "the page or the source resolution is out of range");
    case VXTIFF2BMP_ERR_NOT_BILEVEL: return fail(kExitFailed, "not a bilevel (1 bit per pixel) image; try topng");
    case VXTIFF2BMP_ERR_NO_RESOLUTION:
        return fail(kExitFailed, "the input has no resolution; give it with --source-dpi X[xY]");
    case VXTIFF2BMP_ERR_SIZE: return fail(kExitFailed, "the output would be empty or too large at that resolution");
    default: return fail(kExitFailed, "conversion failed (" + std::to_string(result) + ")");
    }
    if (toStdout && !CopyToStdout(target))
        return fail(kExitOutput, "writing to standard output failed");
    if (result == VXTIFF2BMP_ERR_CUT_SHORT) {
        std::fprintf(stderr, "%swarning: the input's data ends early: %d rows could not be decoded\n",
                     where.c_str(), o.nBadLines);
        return kExitDamaged;
    }
    if (o.nBadLines > 0) {
        std::fprintf(stderr, "%swarning: %d rows could not be decoded (they repeat the row above)\n",
                     where.c_str(), o.nBadLines);
        return kExitDamaged;
    }
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return Usage("a command is needed: info, tobmp, topng, convert or rotate");
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        PrintUsage(stdout);
        return kExitOk;
    }
    if (command == "--version") {
        std::printf("vxtiff %s\n", VXTIFF_VERSION);
        return kExitOk;
    }
    if (command == "info")
        return Info(argc - 2, argv + 2);
    if (command == "tobmp")
        return ToBmp(argc - 2, argv + 2);
    if (command == "topng")
        return ToPngCommand(argc - 2, argv + 2);
    int shown = -1;
    const VXTiff2BmpProgress bar = StderrIsTerminal() ? ShowProgress : nullptr;
    if (command == "convert")
        return ConvertCommand(argc - 2, argv + 2, bar, &shown);
    if (command == "rotate")
        return RotateCommand(argc - 2, argv + 2, bar, &shown);
    return Usage("unknown command '" + command + "'");
}
