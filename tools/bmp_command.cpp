// bmp_command.cpp — `vxtiff tobmp`: a bilevel page to a 1-bit BMP through
// VXTiff2BmpOpt, to a file, to standard output, or a batch into a directory.
#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

#include "bmp_command.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "batch.h"
#include "convert/tif2bmp.h"
#include "options.h"
#include "tool_common.h"

namespace {

struct BmpArgs {
    std::vector<std::string> files;  // IN OUT [DPI], or IN... with --out-dir
    std::string dpiOption;
    std::string sourceDpi;
    bool exact = false;
    int page = 1;
    BatchOptions batch;
};

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

// The exit status of VXTiff2BmpOpt's result, with its message.
int Report(int result, const VXTIFF2BMP_OPTIONS& o, const std::string& in, const std::string& where, int err)
{
    auto fail = [&](int status, const std::string& why) {
        Say(where + why);
        return status;
    };
    const std::string reason = err != 0 ? std::string(": ") + std::strerror(err) : std::string();
    switch (result) {
    case VXTIFF2BMP_OK:
        return o.nBadLines > 0 ? fail(kExitDamaged, "warning: " + std::to_string(o.nBadLines) +
                                                        " rows could not be decoded (they repeat the row above)")
                               : kExitOk;
    case VXTIFF2BMP_ERR_CUT_SHORT:
        return fail(kExitDamaged, "warning: the input's data ends early: " + std::to_string(o.nBadLines) +
                                      " rows could not be decoded");
    case VXTIFF2BMP_ERR_OPEN: return fail(kExitFailed, "cannot open: " + OpenFailure(in.c_str(), o.nPage + 1));
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
}

int ToBmpFile(VXTIFF2BMP_OPTIONS o, int dpi, const std::string& in, const std::string& out, bool showProgress)
{
    const bool toStdout = out == "-";
    TempFile temp;
    const std::string target = toStdout ? temp.path() : out;
    Progress bar(showProgress);
    if (showProgress) {
        o.pfnProgress = Progress::Callback;
        o.pContext = &bar;
    }
    errno = 0;
    const int result = VXTiff2BmpOpt(in.c_str(), target.c_str(), dpi, &o);
    const int err = errno;
    bar.End();
    const std::string where = in + " -> " + out + ": ";
    if (toStdout && (result == VXTIFF2BMP_OK || result == VXTIFF2BMP_ERR_CUT_SHORT) && !CopyToStdout(target)) {
        Say(where + "writing to standard output failed");
        return kExitOutput;
    }
    return Report(result, o, in, where, err);
}

// The resolution: the option, or the third of IN OUT DPI. -1 when bad.
long TargetDpi(const BmpArgs& a, std::string* text)
{
    *text = a.dpiOption;
    if (a.batch.outDir.empty() && a.files.size() == 3)
        *text = a.files[2];
    if (text->empty())
        return 0;
    char* end = nullptr;
    errno = 0;
    const long dpi = std::strtol(text->c_str(), &end, 10);
    return end == text->c_str() || *end != '\0' || errno != 0 || dpi < 2 || dpi > 1000000 ? -1 : dpi;
}

int ToBmp(BmpArgs& a)
{
    VXTIFF2BMP_OPTIONS o = {};
    o.nSize = sizeof o;
    o.bExact = a.exact;
    o.nPage = a.page - 1;
    if (!a.sourceDpi.empty()) {
        const size_t x = a.sourceDpi.find('x');
        if (!ParseDpi(a.sourceDpi.substr(0, x), &o.dSourceXResolution) ||
            (x != std::string::npos && !ParseDpi(a.sourceDpi.substr(x + 1), &o.dSourceYResolution)))
            return Usage("--source-dpi takes X or XxY, pixels per inch above 0 (e.g. 204x98)");
    }
    if (a.batch.outDir.empty() && (a.files.size() < 2 || a.files.size() > 3))
        return Usage("tobmp takes IN, OUT and an optional DPI");
    std::string text;
    const long dpi = TargetDpi(a, &text);
    if (dpi < 0)
        return Usage("the resolution must be a whole number from 2 to 1000000, not '" + text + "'");
    if (dpi == 0 && o.bExact)
        return Usage("--exact needs a DPI");
    if (a.batch.outDir.empty() && a.files.size() == 3)
        a.files.pop_back();
    std::vector<std::string> inputs;
    std::string out;
    const std::string why = SplitFiles(a.files, a.batch, "tobmp", &inputs, &out);
    if (!why.empty())
        return Usage(why);
    return RunFiles(inputs, out, a.batch, ".bmp", [o, dpi](const std::string& in, const std::string& to, bool bar) {
        return ToBmpFile(o, int(dpi), in, to, bar);
    });
}

}  // namespace

void AddBmpCommand(CLI::App* app, int* status)
{
    auto a = std::make_shared<BmpArgs>();
    CLI::App* cmd = app->add_subcommand("tobmp", "a bilevel page to a 1-bit BMP with square pixels");
    SetUsage(cmd, "vxtiff tobmp IN OUT.bmp [DPI] [OPTIONS]\nvxtiff tobmp IN... --out-dir DIR [--dpi DPI] [OPTIONS]");
    cmd->add_option("FILES", a->files, "IN OUT.bmp [DPI], or IN... with --out-dir (OUT.bmp may be -)")->required();
    cmd->add_option("--dpi", a->dpiOption, "the BMP's resolution (default: the source's horizontal one)")
        ->type_name("DPI");
    cmd->add_option("--source-dpi", a->sourceDpi, "the source's resolution, for files without one")
        ->type_name("X[xY]");
    cmd->add_flag("--exact", a->exact, "VXTiff2Bmp's geometry and header, byte for byte (DPI needed)");
    AddPageNumber(cmd, &a->page);
    AddBatchOptions(cmd, &a->batch);
    cmd->callback([a, status] { *status = ToBmp(*a); });
}
