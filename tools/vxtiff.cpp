// vxtiff — command-line front end of the library. Each command family has
// its file; the options every command shares are in options.h, the messages
// and exit statuses in tool_common.h.
//
//   vxtiff info [--json] FILE...                describe every page of TIFF files
//   vxtiff tobmp IN OUT.bmp [DPI] [options]     a bilevel page to a 1-bit BMP
//   vxtiff topng IN OUT.png [--page N]          any readable page to PNG
//   vxtiff topdf IN... OUT.pdf [options]        the pages of TIFF files as one PDF
//   vxtiff convert IN OUT [options]             every page written anew
//   vxtiff rotate IN OUT 90|180|270 [options]   every page turned
//   vxtiff merge IN... OUT                      the pages of several files in one
//   vxtiff split IN PREFIX                      one file per page
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "bmp_command.h"
#include "info_command.h"
#include "options.h"
#include "output_format.h"
#include "page_commands.h"
#include "page_copy.h"
#include "pdf_command.h"
#include "png_command.h"
#include "tif/tif_file.h"
#include "tool_common.h"
#include "write_commands.h"

#ifndef VXTIFF_VERSION
#define VXTIFF_VERSION "unknown"
#endif

namespace {

const char kExitStatus[] =
    "exit status: 0 done; 1 the input cannot be read or converted (nothing written);\n"
    "             2 bad command line; 3 written, but lines of the input could not be\n"
    "             decoded; 4 the output cannot be created or written. A batch (--out-dir)\n"
    "             ends with the status of its first failed file.\n";
const char kInfoExitStatus[] =
    "exit status: 0 every page described; 1 a file or a page cannot be read (the\n"
    "             others are still described); 2 bad command line.\n";

// The commands, in the order help lists them, by the function adding each
// family of them.
struct Family {
    const char* names[2];
    void (*add)(CLI::App*, int*);
};
const Family kFamilies[] = {{{"info"}, AddInfoCommand},         {{"tobmp"}, AddBmpCommand},
                            {{"topdf"}, AddPdfCommand},         {{"topng"}, AddPngCommand},
                            {{"convert", "rotate"}, AddWriteCommands}, {{"merge", "split"}, AddPageCommands}};

// The family of the command `name`; null when it names none.
const Family* FamilyOf(const char* name)
{
    for (const Family& f : kFamilies)
        for (const char* n : f.names)
            if (n != nullptr && std::strcmp(n, name) == 0)
                return &f;
    return nullptr;
}

// The commands' parsers: only that of the command `name` names, when it
// names one (building every command's is a good part of what converting one
// page costs), else all.
void AddCommands(CLI::App* app, const char* name, int* status)
{
    const Family* named = name != nullptr ? FamilyOf(name) : nullptr;
    for (const Family& f : kFamilies)
        if (named == nullptr || named == &f)
            f.add(app, status);
}

// Every command's help ends with its exit statuses (set after the commands,
// so that none takes the whole program's footer).
void AddFooters(CLI::App* app)
{
    for (CLI::App* cmd : app->get_subcommands([](CLI::App*) { return true; })) {
        const std::string own = cmd->get_footer();
        cmd->footer(own + (own.empty() || own.back() == '\n' ? "" : "\n") +
                    (cmd->get_name() == "info" ? kInfoExitStatus : kExitStatus));
    }
    app->footer(std::string("Each command's --help tells its usage and options, e.g. vxtiff convert --help.\n") +
                kExitStatus);
}

// The command called `name`; null when there is none.
CLI::App* CommandNamed(CLI::App& app, const char* name)
{
    const auto named = app.get_subcommands([&](CLI::App* c) { return c->get_name() == name; });
    return named.empty() ? nullptr : named.front();
}

// "vxtiff help [COMMAND]": the whole program's help, or that of the command
// `name` names; the exit status.
int Help(CLI::App& app, const char* name)
{
    const CLI::App* cmd = name != nullptr ? CommandNamed(app, name) : &app;
    if (cmd == nullptr)
        return Usage(std::string("unknown command '") + name + "'");
    std::fputs(cmd->help().c_str(), stdout);
    return kExitOk;
}

// Parses the command line, which runs its command; the exit status (the
// command's, in *status).
int Parse(CLI::App& app, int argc, char** argv, const int* status)
{
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0)
            return app.exit(e);  // --help, --version: to standard output
        std::string why = e.what();
        for (char& c : why)
            c = c == '\n' ? ' ' : c;
        return Usage(why);
    }
    return *status;
}

}  // namespace

int main(int argc, char** argv)
{
    CLI::App app("vxtiff: TIFF images read and written one line at a time", "vxtiff");
    app.require_subcommand(1);
    app.set_version_flag("--version", "vxtiff " VXTIFF_VERSION);
    int status = kExitOk;
    AddCommands(&app, argc >= 2 ? argv[1] : nullptr, &status);
    AddFooters(&app);
    if (argc >= 2 && argc <= 3 && std::strcmp(argv[1], "help") == 0)
        return Help(app, argc == 3 ? argv[2] : nullptr);
    if (argc >= 2 && argv[1][0] != '-' && CommandNamed(app, argv[1]) == nullptr)
        return Usage(std::string("unknown command '") + argv[1] + "'");
    return Parse(app, argc, argv, &status);
}
