// write_commands.cpp — `vxtiff convert` and `vxtiff rotate`.
//
// Every chosen page of IN becomes a page of OUT, in one pass, a page at a
// time and a band of rows at a time (page_copy.h), so memory stays bounded
// whatever the number and size of the pages. OUT takes its place only once
// complete (output_file.h); an OUT.png or OUT.bmp is written by topng's or
// tobmp's writer (output_format.h).
#include "write_commands.h"

#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "batch.h"
#include "options.h"
#include "output_file.h"
#include "output_format.h"
#include "page_copy.h"
#include "tool_common.h"

namespace {

struct WriteArgs {
    std::vector<std::string> files;  // IN OUT, or IN... with --out-dir; rotate: the angle last
    WriteOptions o;
    std::vector<PageRange> pages;
    BatchOptions batch;
};

int Fail(const std::string& in, const std::string& out, const std::string& why, int status = kExitFailed)
{
    Say(in + " -> " + out + ": " + why);
    return status;
}

// The pages of `in` that --page chooses, from 0; kExitOk, or the status of
// the failure it has said.
int ChosenPages(const WriteArgs& a, const std::string& in, const std::string& out, std::vector<int>* chosen,
                int* count = nullptr)
{
    std::string why;
    const int pages = PagesOf(in, &why);
    if (count != nullptr)
        *count = pages;
    if (pages <= 0)
        return Fail(in, out, why);
    why = SelectPages(a.pages, pages, chosen);
    return why.empty() ? kExitOk : Fail(in, out, "cannot open: " + why);
}

// Writes the chosen pages of `in` to `out`; the exit status.
int WriteFile(const WriteArgs& a, const std::string& in, const std::string& out, bool showProgress)
{
    std::vector<int> chosen;
    int pages = 0;
    if (const int status = ChosenPages(a, in, out, &chosen, &pages); status != kExitOk)
        return status;
    DocumentWriter doc(out);
    std::string why = doc.Open({in});
    if (!why.empty())
        return Fail(in, out, why, doc.status());
    Progress bar(showProgress);
    PageReader reader;
    bool damaged = false;
    for (size_t i = 0; i < chosen.size(); ++i) {
        bar.Page(int(i + 1), int(chosen.size()));
        const int status = WritePage(a.o, in, chosen[i], reader, doc, bar, &why);
        if (status == kExitDamaged) {
            Say(in + " -> " + out + ": " + why);  // the page is written whole: go on
            damaged = true;
        } else if (status != kExitOk) {
            return Fail(in, out, (pages > 1 ? "page " + std::to_string(chosen[i] + 1) + ": " : "") + why, status);
        }
    }
    bar.End();
    why = doc.Finish();
    if (!why.empty())
        return Fail(in, out, why, kExitOutput);
    if (pages > 1)
        Say(in + " -> " + out + ": " + std::to_string(chosen.size()) + " of " + std::to_string(pages) +
            " pages written");
    return damaged ? kExitDamaged : kExitOk;
}

// convert to a format of another command (PNG, BMP): the page or pages
// that format holds, through that command's writer.
int WriteOther(const WriteArgs& a, const std::string& in, const std::string& out, const OutputFormat& format)
{
    if (!a.o.KeepsCoding())
        return Usage(std::string("--compression, --predictor, --rows-per-strip and --tile are for TIFF, not ") +
                     format.name);
    std::vector<int> chosen;
    if (const int status = ChosenPages(a, in, out, &chosen); status != kExitOk)
        return status;
    if (!format.severalPages && chosen.size() != 1)
        return Usage(in + " -> " + out + ": " + format.name + " holds one page; choose one of the " +
                     std::to_string(chosen.size()) + " with --page N");
    return format.write(in, out, chosen, StderrIsTerminal());
}

int Run(WriteArgs& a, bool rotate)
{
    const char* name = rotate ? "rotate" : "convert";
    std::string why = CheckWriteOptions(a.o);
    if (!why.empty())
        return Usage(why);
    if (rotate) {
        const size_t want = a.batch.outDir.empty() ? 3 : 2;
        if (a.files.size() < want || (a.batch.outDir.empty() && a.files.size() != want))
            return Usage("rotate takes IN, OUT and 90, 180 or 270 (or IN... --out-dir DIR and the angle)");
        const std::string angle = a.files.back();
        if (angle != "90" && angle != "180" && angle != "270")
            return Usage("the angle is 90, 180 or 270, not '" + angle + "'");
        a.o.angle = std::stoi(angle);
        a.files.pop_back();
    }
    std::vector<std::string> inputs;
    std::string out;
    why = SplitFiles(a.files, a.batch, name, &inputs, &out);
    if (!why.empty())
        return Usage(why);
    if (!(why = RefuseFormat(out, name, "TIFF")).empty())
        return Usage(why);
    const OutputFormat* format = FormatOf(out);
    if (format != nullptr && format->write != nullptr)
        return WriteOther(a, inputs.front(), out, *format);
    return RunFiles(inputs, out, a.batch, ".tif", [&a](const std::string& in, const std::string& to, bool bar) {
        return WriteFile(a, in, to, bar);
    });
}

CLI::App* AddCommand(CLI::App* app, int* status, bool rotate)
{
    auto args = std::make_shared<WriteArgs>();
    CLI::App* cmd = app->add_subcommand(
        rotate ? "rotate" : "convert",
        rotate ? "write every page turned clockwise (90), upside down (180) or counter-clockwise (270)"
               : "write every page of a TIFF file anew: stored data copied, or re-encoded as asked");
    cmd->add_option("FILES", args->files, rotate ? "IN OUT ANGLE, or IN... ANGLE with --out-dir"
                                         : "IN OUT (OUT.png, OUT.bmp: one page), or IN... with --out-dir")
        ->required();
    SetUsage(cmd, rotate ? "vxtiff rotate IN OUT 90|180|270 [OPTIONS]\nvxtiff rotate IN... --out-dir DIR 90|180|270 [OPTIONS]"
                         : "vxtiff convert IN OUT [OPTIONS]\nvxtiff convert IN... --out-dir DIR [OPTIONS]");
    AddWriteOptions(cmd, &args->o);
    AddPageList(cmd, &args->pages);
    AddBatchOptions(cmd, &args->batch);
    cmd->callback([args, status, rotate] { *status = Run(*args, rotate); });
    return cmd;
}

}  // namespace

void AddWriteCommands(CLI::App* app, int* status)
{
    AddCommand(app, status, false)
        ->footer("By default every page keeps its compression, predictor and layout, and its stored data is copied "
                 "unchanged.\n");
    AddCommand(app, status, true)
        ->footer("90 and 270 take pixels of 1, 2 or 4 bits or of whole bytes and swap the resolutions;\n"
                "180 takes every size.\n");
}
