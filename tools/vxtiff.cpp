// vxtiff — command-line front end of the library. Each command family has
// its file; the options every command shares are in options.h, the messages
// and exit statuses in tool_common.h.
//
//   vxtiff info FILE...                         describe every page of TIFF files
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

#include "batch.h"
#include "bmp_command.h"
#include "options.h"
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

int Info(const std::vector<std::string>& paths)
{
    int status = kExitOk;
    for (const std::string& name : paths) {
        const char* path = name.c_str();
        const int pages = CTifFile::CountPages(path);
        if (pages <= 0) {
            Say(name + ": " + CTifFile::GetLastFailureText());
            status = kExitFailed;
            continue;
        }
        std::printf("file:              %s\n", path);
        std::printf("byte order:        %s\n", ByteOrder(path));
        std::printf("pages:             %d\n", pages);
        PageReader reader;
        for (int p = 0; p < pages; ++p) {
            std::printf("page %d of %d:\n", p + 1, pages);
            if (!reader.Reach(name, p)) {
                const std::string why = OpenFailure(path, p + 1);
                std::printf("  cannot be read:  %s\n", why.c_str());
                std::fflush(stdout);
                Say(name + " page " + std::to_string(p + 1) + ": " + why);
                status = kExitFailed;
                continue;
            }
            PrintPage(reader.file, path);
        }
    }
    return status;
}

const char kFooter[] =
    "Each command's --help tells its options, e.g. vxtiff convert --help.\n"
    "exit status: 0 done; 1 the input cannot be read or converted (nothing written);\n"
    "             2 bad command line; 3 written, but lines of the input could not be\n"
    "             decoded; 4 the output cannot be created or written. A batch (--out-dir)\n"
    "             ends with the status of its first failed file.\n";

struct PngArgs {
    std::vector<std::string> files;
    int page = 1;
    BatchOptions batch;
};

int ToPngFiles(const PngArgs& a)
{
    std::vector<std::string> inputs;
    std::string out;
    const std::string why = SplitFiles(a.files, a.batch, "topng", &inputs, &out);
    if (!why.empty())
        return Usage(why);
    const int page = a.page;
    return RunFiles(inputs, out, a.batch, ".png",
                    [page](const std::string& in, const std::string& to, bool) { return ToPng(in, to, page); });
}

void AddReadCommands(CLI::App* app, int* status)
{
    auto files = std::make_shared<std::vector<std::string>>();
    CLI::App* cmd = app->add_subcommand("info", "describe every page: size, samples, photometric, compression, "
                                                "predictor, T4Options, layout, resolution, byte order, fill order");
    cmd->add_option("FILE", *files, "TIFF files")->required();
    cmd->callback([files, status] { *status = Info(*files); });

    AddBmpCommand(app, status);
    AddPdfCommand(app, status);

    auto png = std::make_shared<PngArgs>();
    cmd = app->add_subcommand("topng", "any readable page to PNG: palette applied, min-is-white as white paper");
    cmd->add_option("FILES", png->files, "IN OUT.png, or IN... with --out-dir (OUT.png may be -)")->required();
    AddPageNumber(cmd, &png->page);
    AddBatchOptions(cmd, &png->batch);
    cmd->callback([png, status] { *status = ToPngFiles(*png); });
}

}  // namespace

int main(int argc, char** argv)
{
    CLI::App app("vxtiff: TIFF images read and written one line at a time", "vxtiff");
    app.require_subcommand(1);
    app.set_version_flag("--version", "vxtiff " VXTIFF_VERSION);
    app.footer(kFooter);
    int status = kExitOk;
    AddReadCommands(&app, &status);
    AddWriteCommands(&app, &status);
    AddPageCommands(&app, &status);
    if (argc == 2 && std::strcmp(argv[1], "help") == 0) {
        std::fputs(app.help().c_str(), stdout);
        return kExitOk;
    }
    if (argc >= 2 && argv[1][0] != '-' &&
        app.get_subcommands([&](CLI::App* c) { return c->get_name() == argv[1]; }).empty())
        return Usage(std::string("unknown command '") + argv[1] + "'");
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
    return status;
}
