// bmp_command.cpp — `vxtiff tobmp`: a bilevel page to a 1-bit BMP through
// VXTiff2BmpOpt, to a file, to standard output, or a batch into a directory.
#include "bmp_command.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "batch.h"
#include "convert/tif2bmp.h"
#include "options.h"
#include "output_file.h"
#include "output_format.h"
#include "salvage.h"
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

// The exit status of VXTiff2BmpOpt's result, with its message.
int Report(int result, const VXTIFF2BMP_OPTIONS& o, const std::string& in, const std::string& where, int err)
{
    auto fail = [&](int status, const std::string& why) {
        Say(where + why);
        return status;
    };
    PageDamage damage;
    damage.lines = o.nDamagedLines;
    damage.first = o.nFirstDamagedLine;
    damage.endsEarly = o.nDataFailure == VXTIFF_FAIL_CUT_SHORT || result == VXTIFF2BMP_ERR_CUT_SHORT;
    switch (result) {
    case VXTIFF2BMP_OK:
    case VXTIFF2BMP_ERR_CUT_SHORT:
        return damage.lines > 0 || o.nBadLines > 0
                   ? fail(kExitDamaged, DamageWarning(damage, PageToName(in, o.nPage + 1)))
                   : kExitOk;
    case VXTIFF2BMP_ERR_OPEN: return fail(kExitFailed, "cannot open: " + OpenFailure(in.c_str(), o.nPage + 1));
    case VXTIFF2BMP_ERR_CREATE: return fail(kExitOutput, "cannot create: " + WriteCause(err));
    case VXTIFF2BMP_ERR_WRITE: return fail(kExitOutput, CannotWrite(err));
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
    const std::string where = in + " -> " + out + ": ";
    // The header is written last, once the number of rows is known: the
    // writer seeks, so it writes a file by name.
    OutputFile output(out);
    std::string why = output.Open({in}, OutputFile::kByName);
    if (!why.empty()) {
        Say(where + why);
        return output.status();
    }
    Progress bar(showProgress);
    if (showProgress) {
        o.pfnProgress = Progress::Callback;
        o.pContext = &bar;
    }
    errno = 0;
    const int result = VXTiff2BmpOpt(in.c_str(), output.path().c_str(), dpi, &o);
    const int err = errno;
    bar.End();
    if ((result == VXTIFF2BMP_OK || result == VXTIFF2BMP_ERR_CUT_SHORT) && !(why = output.Commit()).empty()) {
        Say(where + why);
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

// The conversion's options from the command line; "" or why they are bad.
std::string Options(const BmpArgs& a, VXTIFF2BMP_OPTIONS* o)
{
    *o = {};
    o->nSize = sizeof *o;
    o->bExact = a.exact;
    o->nPage = a.page - 1;
    // Any resolution above 0.
    const double least = std::numeric_limits<double>::denorm_min();
    if (!a.sourceDpi.empty() && !ParseResolution(a.sourceDpi, least, &o->dSourceXResolution, &o->dSourceYResolution))
        return "--source-dpi takes X or XxY, pixels per inch above 0 (e.g. 204x98)";
    return {};
}

// The inputs and the output: IN OUT [DPI], or IN... with --out-dir. "" or
// why they do not fit.
std::string Files(BmpArgs& a, std::vector<std::string>* inputs, std::string* out)
{
    if (a.batch.outDir.empty() && a.files.size() == 3)
        a.files.pop_back();  // the resolution, read by TargetDpi
    std::string why = SplitFiles(a.files, a.batch, "tobmp", inputs, out);
    return why.empty() ? RefuseFormat(*out, "tobmp", "BMP") : why;
}

int ToBmp(BmpArgs& a)
{
    VXTIFF2BMP_OPTIONS o;
    std::string why = Options(a, &o);
    if (!why.empty())
        return Usage(why);
    if (a.batch.outDir.empty() && (a.files.size() < 2 || a.files.size() > 3))
        return Usage("tobmp takes IN, OUT and an optional DPI");
    std::string text;
    const long dpi = TargetDpi(a, &text);
    if (dpi < 0)
        return Usage("the resolution must be a whole number from 2 to 1000000, not '" + text + "'");
    if (dpi == 0 && o.bExact)
        return Usage("--exact needs a DPI");
    std::vector<std::string> inputs;
    std::string out;
    why = Files(a, &inputs, &out);
    if (!why.empty())
        return Usage(why);
    return RunFiles(inputs, out, a.batch, ".bmp", [o, dpi](const std::string& in, const std::string& to, bool bar) {
        return ToBmpFile(o, int(dpi), in, to, bar);
    });
}

}  // namespace

int ToBmpPage(const std::string& in, const std::string& out, int page, bool progress)
{
    VXTIFF2BMP_OPTIONS o = {};
    o.nSize = sizeof o;
    o.nPage = page;
    return ToBmpFile(o, 0, in, out, progress);
}

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
