// page_commands.cpp — `vxtiff merge` and `vxtiff split`.
//
// Both write page by page through page_copy.h, as convert does: a failed page
// is reported with its file and page number, and an output file takes its
// place only once complete (output_file.h).
#include "page_commands.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "options.h"
#include "output_file.h"
#include "output_format.h"
#include "page_copy.h"
#include "tool_common.h"

namespace {

struct PageArgs {
    std::vector<std::string> files;  // merge: IN... OUT; split: IN PREFIX
    WriteOptions o;
    std::vector<PageRange> pages;    // split only
};

std::string PageName(const std::string& in, int page)
{
    return in + " page " + std::to_string(page + 1);
}

int Merge(const PageArgs& a)
{
    if (a.files.size() < 2)
        return Usage("merge takes one or more IN and then OUT");
    const std::string& out = a.files.back();
    const std::string refused = RefuseFormat(out, "merge", "TIFF");
    if (!refused.empty())
        return Usage(refused);
    const std::vector<std::string> inputs(a.files.begin(), a.files.end() - 1);
    std::vector<int> counts;
    int total = 0;
    for (const std::string& in : inputs) {
        std::string why;
        counts.push_back(PagesOf(in, &why));
        if (!why.empty()) {
            Say(in + " -> " + out + ": " + why);
            return kExitFailed;
        }
        total += counts.back();
    }
    if (total > TIF_MAX_WRITTEN_PAGES) {
        Say(out + ": " + std::to_string(total) + " pages, more than a file holds (" +
            std::to_string(TIF_MAX_WRITTEN_PAGES) + ")");
        return kExitFailed;
    }
    DocumentWriter doc(out);
    std::string why = doc.Open(inputs);
    if (!why.empty()) {
        Say(out + ": " + why);
        return doc.status();
    }
    Progress bar(StderrIsTerminal());
    PageReader reader;
    bool damaged = false;
    for (size_t f = 0; f < inputs.size(); ++f) {
        for (int p = 0; p < counts[f]; ++p) {
            bar.Page(doc.pages() + 1, total);
            const int status = WritePage(a.o, inputs[f], p, reader, doc, bar, &why);
            if (status == kExitDamaged) {
                Say(inputs[f] + " -> " + out + ": " + why);  // written whole: go on
                damaged = true;
            } else if (status != kExitOk) {
                Say(PageName(inputs[f], p) + " -> " + out + ": " + why);
                return status;
            }
        }
    }
    bar.End();
    why = doc.Finish();
    if (!why.empty()) {
        Say(out + ": " + why);
        return kExitOutput;
    }
    Say(out + ": " + std::to_string(total) + (total == 1 ? " page" : " pages") + " from " +
        std::to_string(inputs.size()) + (inputs.size() == 1 ? " file written" : " files written"));
    return damaged ? kExitDamaged : kExitOk;
}

// PREFIX-001.tif: numbers as wide as the largest, at least 3 digits.
std::string SplitName(const std::string& prefix, int number, int pages)
{
    const size_t width = std::max<size_t>(3, std::to_string(pages).size());
    const std::string digits = std::to_string(number);
    return prefix + "-" + std::string(width - std::min(width, digits.size()), '0') + digits + ".tif";
}

// Writes page `page` of `in` alone to `out`; the exit status.
int SplitPage(const PageArgs& a, const std::string& in, int page, const std::string& out, PageReader& reader,
              Progress& bar)
{
    std::string why;
    int status = kExitFailed;
    DocumentWriter doc(out);
    if (!(why = doc.Open({in})).empty()) {
        status = doc.status();
    } else if ((status = WritePage(a.o, in, page, reader, doc, bar, &why)) == kExitOk || status == kExitDamaged) {
        if (status == kExitDamaged)
            Say(in + " -> " + out + ": " + why);  // written whole
        why = doc.Finish();
        status = !why.empty() ? kExitOutput : status;
    }
    if (status != kExitOk && status != kExitDamaged)
        Say(PageName(in, page) + " -> " + out + ": " + why);
    return status;
}

int Split(const PageArgs& a)
{
    if (a.files.size() != 2)
        return Usage("split takes IN and PREFIX");
    const std::string& in = a.files[0];
    const std::string& prefix = a.files[1];
    std::string why;
    const int pages = PagesOf(in, &why);
    std::vector<int> chosen;
    if (pages > 0)
        why = SelectPages(a.pages, pages, &chosen);
    if (!why.empty()) {
        Say(in + ": " + (pages > 0 ? "cannot open: " : "") + why);
        return kExitFailed;
    }
    // Every page is tried: one that fails costs only its own file.
    int result = kExitOk, written = 0;
    Progress bar(StderrIsTerminal());
    PageReader reader;
    for (size_t i = 0; i < chosen.size(); ++i) {
        bar.Page(int(i + 1), int(chosen.size()));
        const int status = SplitPage(a, in, chosen[i], SplitName(prefix, chosen[i] + 1, pages), reader, bar);
        written += status == kExitOk || status == kExitDamaged ? 1 : 0;
        // A failure outranks damage, which outranks success.
        if (status != kExitOk && (result == kExitOk || (result == kExitDamaged && status != kExitDamaged)))
            result = status;
    }
    bar.End();
    const size_t failed = chosen.size() - size_t(written);
    Say(in + ": " + std::to_string(written) + (written == 1 ? " page" : " pages") + " written as " + prefix +
        "-NNN.tif" + (failed ? ", " + std::to_string(failed) + " failed" : std::string()));
    return result;
}

}  // namespace

void AddPageCommands(CLI::App* app, int* status)
{
    auto merge = std::make_shared<PageArgs>();
    CLI::App* cmd = app->add_subcommand("merge", "join the pages of several TIFF files, in order, into one");
    SetUsage(cmd, "vxtiff merge IN... OUT [OPTIONS]");
    cmd->add_option("FILES", merge->files, "IN... OUT")->required();
    AddWriteOptions(cmd, &merge->o);
    cmd->callback([merge, status] { *status = Merge(*merge); });
    cmd->footer("Stored data is copied unchanged unless an option asks for another coding.");

    auto split = std::make_shared<PageArgs>();
    cmd = app->add_subcommand("split", "write each page of a TIFF file to its own file, PREFIX-001.tif, ...");
    SetUsage(cmd, "vxtiff split IN PREFIX [OPTIONS]");
    cmd->add_option("FILES", split->files, "IN PREFIX")->required();
    AddWriteOptions(cmd, &split->o);
    AddPageList(cmd, &split->pages);
    cmd->callback([split, status] { *status = Split(*split); });
    cmd->footer("Stored data is copied unchanged unless an option asks for another coding.");
}
