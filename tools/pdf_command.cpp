// pdf_command.cpp — see pdf_command.h.
#include "pdf_command.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <CLI/CLI.hpp>

#include "convert/tif2pdf.h"
#include "convert/tif2pdf_document.h"
#include "output_file.h"
#include "output_format.h"
#include "page_copy.h"
#include "salvage.h"
#include "tool_common.h"

namespace {

struct PdfArgs {
    std::vector<std::string> files;  // IN... OUT
    PdfOptions o;
};

// The pages' resolution: "X" or "XxY" pixels per inch, from 1.
bool ParseDpi(const std::string& text, double* x, double* y)
{
    double a = 0, b = 0;
    if (!ParseResolution(text, 1.0, &a, &b))
        return false;
    if (x != nullptr) {
        *x = a;
        *y = b == 0 ? a : b;
    }
    return true;
}

struct Chosen {
    std::string path;
    std::vector<int> pages;
};

// The pages `o` chooses of every input; "" or why not (with the status).
std::string ChoosePages(const std::vector<std::string>& inputs, const PdfOptions& o,
                        std::vector<Chosen>* chosen)
{
    for (const std::string& in : inputs) {
        std::string why;
        const int pages = PagesOf(in, &why);
        Chosen c{in, {}};
        if (pages > 0)
            why = SelectPages(o.pages, pages, &c.pages);
        if (!why.empty())
            return in + ": " + (pages > 0 ? "cannot open: " : "") + why;
        chosen->push_back(std::move(c));
    }
    return {};
}

TifPdfSettings SettingsOf(const PdfOptions& o)
{
    TifPdfSettings settings;
    if (o.xDpi > 0)
        settings.xDpi = o.xDpi, settings.yDpi = o.yDpi > 0 ? o.yDpi : o.xDpi;
    settings.title = o.title;
    settings.strict = o.strict;
    return settings;
}

// Adds the chosen pages to `doc` (warning of each one written whole despite
// damage) and finishes it, unless a page fails; the document's status
// (VXTIFF2PDF_...), the pages tried in *total.
int AddPages(CTifPdfDocument& doc, const std::vector<Chosen>& chosen, const std::string& out, int* total)
{
    int status = VXTIFF2PDF_OK;
    errno = 0;
    for (const Chosen& c : chosen)
        for (size_t i = 0; i < c.pages.size() && status >= 0; ++i, ++*total) {
            const int s = doc.AddPage(c.path, c.pages[i]);
            status = s < 0 ? s : std::max(status, s);
            if (doc.damage().any())  // written whole (unless --strict): one warning
                Say(c.path + " -> " + out + ": " + DamageWarning(doc.damage(), PageToName(c.path, c.pages[i] + 1)));
        }
    if (status >= 0) {
        const int s = doc.Finish();
        status = s < 0 ? s : status;
    }
    return status;
}

// OUT put in place when the document's `status` says it was written; the
// exit status.
int Conclude(const CTifPdfDocument& doc, int status, int total, OutputFile& pending, const std::string& out)
{
    if (status == VXTIFF2PDF_ERR_UNSUPPORTED) {
        Say(out + ": " + (doc.pages() == 0 ? "no page can be converted" : "not written (--strict)"));
        return kExitFailed;
    }
    if (status < 0) {
        Say(out + ": " + CannotWrite(errno));
        return kExitOutput;
    }
    if (const std::string why = pending.Commit(); !why.empty()) {
        Say(out + ": " + why);
        return kExitOutput;
    }
    if (status == VXTIFF2PDF_INCOMPLETE) {
        if (doc.skipped() > 0)
            Say(out + ": " + std::to_string(doc.pages()) + " of " + std::to_string(total) + " pages written");
        return kExitDamaged;
    }
    return kExitOk;
}

int Run(PdfArgs& a)
{
    if (a.files.size() < 2)
        return Usage("topdf takes one or more IN and then OUT.pdf");
    const std::string out = a.files.back();
    a.files.pop_back();
    if (const std::string why = RefuseFormat(out, "topdf", "PDF"); !why.empty())
        return Usage(why);
    return WritePdf(a.files, out, a.o);
}

}  // namespace

int WritePdf(const std::vector<std::string>& inputs, const std::string& out, const PdfOptions& o)
{
    std::vector<Chosen> chosen;
    std::string why = ChoosePages(inputs, o, &chosen);
    if (!why.empty()) {
        Say(why);
        return kExitFailed;
    }
    OutputFile pending(out);
    why = pending.Open(inputs, OutputFile::kByName);
    if (!why.empty()) {
        Say(out + ": " + why);
        return pending.status();
    }
    CTifPdfDocument doc(SettingsOf(o), [](const std::string& line) { Say(line); });
    if (doc.Create(pending.path().c_str()) != VXTIFF2PDF_OK) {
        Say(out + ": cannot create: " + WriteCause(errno));
        return kExitOutput;
    }
    int total = 0;
    const int status = AddPages(doc, chosen, out, &total);
    return Conclude(doc, status, total, pending, out);
}

void AddPdfCommand(CLI::App* app, int* status)
{
    auto a = std::make_shared<PdfArgs>();
    CLI::App* cmd = app->add_subcommand(
        "topdf", "the pages of TIFF files, in order, as one PDF: each at its physical size, fax pages as Group 4, "
                 "the others deflated, all lossless");
    SetUsage(cmd, "vxtiff topdf IN... OUT.pdf [OPTIONS]");
    cmd->add_option("FILES", a->files, "IN... OUT.pdf")->required();
    AddPageList(cmd, &a->o.pages);
    cmd->add_option_function<std::string>(
           "--dpi", [a](const std::string& v) { ParseDpi(v, &a->o.xDpi, &a->o.yDpi); },
           "the resolution of pages that carry none, X or XxY pixels per inch (default 200)")
        ->type_name("X[xY]")
        ->check(CLI::Validator([](std::string& v) { return ParseDpi(v, nullptr, nullptr) ? "" : "takes X or XxY, from 1 to 1000000"; }, ""));
    cmd->add_option("--title", a->o.title, "the document's title (default: the first page's DocumentName or "
                                           "ImageDescription)");
    cmd->add_flag("--strict", a->o.strict, "fail, writing nothing, when a page cannot be converted or its data is "
                                           "damaged (default: such pages are skipped, or written whole with a "
                                           "warning, exit 3)");
    cmd->footer("--page applies to every input. Bilevel pages stored as one Group 4 strip are copied unchanged.");
    cmd->callback([a, status] { *status = Run(*a); });
}
