// png_command.cpp — `vxtiff topng`: its command line, one page or a batch
// into a directory; ToPng writes each page (png_page.cpp, or
// png_unavailable.cpp where the build has no libpng).
#include "png_command.h"

#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "batch.h"
#include "options.h"
#include "output_format.h"
#include "tool_common.h"

namespace {

struct PngArgs {
    std::vector<std::string> files;
    int page = 1;
    BatchOptions batch;
};

int ToPngFiles(const PngArgs& a)
{
    std::vector<std::string> inputs;
    std::string out;
    std::string why = SplitFiles(a.files, a.batch, "topng", &inputs, &out);
    if (why.empty())
        why = RefuseFormat(out, "topng", "PNG");
    if (!why.empty())
        return Usage(why);
    const int page = a.page;
    return RunFiles(inputs, out, a.batch, ".png",
                    [page](const std::string& in, const std::string& to, bool bar) { return ToPng(in, to, page, bar); });
}

}  // namespace

void AddPngCommand(CLI::App* app, int* status)
{
    auto png = std::make_shared<PngArgs>();
    CLI::App* cmd = app->add_subcommand("topng", "any readable page to PNG: palette applied, min-is-white as white paper");
    SetUsage(cmd, "vxtiff topng IN OUT.png [OPTIONS]\nvxtiff topng IN... --out-dir DIR [OPTIONS]");
    cmd->add_option("FILES", png->files, "IN OUT.png, or IN... with --out-dir (OUT.png may be -)")->required();
    AddPageNumber(cmd, &png->page);
    AddBatchOptions(cmd, &png->batch);
    cmd->callback([png, status] { *status = ToPngFiles(*png); });
}
