// options.cpp — see options.h.
#include "options.h"

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#include <CLI/CLI.hpp>

#include "tif/tif_file.h"
#include "tool_common.h"

namespace {

bool Written(const Codec& c) { return c.newEncoder != nullptr; }

bool SameName(const std::string& given, const char* name)
{
    return std::equal(given.begin(), given.end(), name, name + std::strlen(name), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == b;
    });
}

bool Names(const Codec& c, const std::string& given)
{
    if (SameName(given, c.name))
        return true;
    for (const char* alias : c.aliases)
        if (alias != nullptr && SameName(given, alias))
            return true;
    return false;
}

bool ParseInt(const std::string& text, long lo, long hi, int* value)
{
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str() || *end != '\0' || errno != 0 || v < lo || v > hi || text[0] == '+' || text[0] == ' ')
        return false;
    *value = int(v);
    return true;
}

// A finite number from `least` to 1,000,000.
bool ParseNumber(const std::string& text, double least, double* value)
{
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0' || errno != 0 || !std::isfinite(v) || v < least || v > 1e6)
        return false;
    *value = v;
    return true;
}

bool ParseTile(const std::string& text, int* width, int* length)
{
    const size_t x = text.find('x');
    return x != std::string::npos && ParseInt(text.substr(0, x), 1, 1 << 16, width) &&
           ParseInt(text.substr(x + 1), 1, 1 << 16, length);
}

// The value of --page of the one-page commands: pages count from 1. False
// when it is not a whole number from 1 to the page limit.
bool ParsePage(const char* text, int* page)
{
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || v < 1 || v > TIF_MAX_PAGES)
        return false;
    *page = int(v);
    return true;
}

// A CLI11 check from a function that says whether the text is good.
CLI::Validator Check(bool (*good)(const std::string&), std::string why)
{
    return CLI::Validator([good, why](std::string& v) { return good(v) ? std::string() : why; }, "");
}

}  // namespace

bool ParseResolution(const std::string& text, double least, double* x, double* y)
{
    const size_t cross = text.find('x');
    double a = 0, b = 0;
    if (!ParseNumber(text.substr(0, cross), least, &a) ||
        (cross != std::string::npos && !ParseNumber(text.substr(cross + 1), least, &b)))
        return false;
    if (x != nullptr)
        *x = a;
    if (y != nullptr)
        *y = b;
    return true;
}

const Codec* CodecNamed(const std::string& name)
{
    int code = 0;
    const bool number = ParseInt(name, 1, 65535, &code);
    for (const Codec& c : TifCompressions())
        if (Written(c) && (number ? c.compression == code : Names(c, name)))
            return &c;
    return nullptr;
}

const Codec* CodecNamed(const std::string& text, int* quality)
{
    const size_t colon = text.find(':');
    *quality = 0;
    if (colon == std::string::npos)
        return CodecNamed(text);
    const Codec* c = CodecNamed(text.substr(0, colon));
    if (c == nullptr || c->tag != TIF_TAG_JPEGQUALITY || !ParseInt(text.substr(colon + 1), 1, 100, quality))
        return nullptr;
    return c;
}

const Codec* CodecOfInput(int compression, int t4Options)
{
    // A code of several rows (Group 3) picks by the 2-D coding bit.
    for (const Codec& c : TifCompressions())
        if (Written(c) && c.compression == compression &&
            (c.tag != TIF_TAG_T4OPTIONS || c.t4Options == (t4Options & 1)))
            return &c;
    return nullptr;
}

const char* CompressionTitle(int compression)
{
    if (compression == 0)
        return "none given";
    const Codec* c = TifFindCompression(compression);
    return c != nullptr ? c->title : "unknown";
}

namespace {

// "none (raw) = 1, ..., g4 (fax4, ccitt: ccitt means Group 4) = 4".
std::string CodecList()
{
    std::string text;
    for (const Codec& c : TifCompressions()) {
        if (!Written(c))
            continue;
        std::string extra;
        for (const char* alias : c.aliases)
            if (alias != nullptr)
                extra += (extra.empty() ? "" : ", ") + std::string(alias);
        if (c.note != nullptr)
            extra += (extra.empty() ? "" : ": ") + std::string(c.note);
        text += (text.empty() ? "" : ", ") + std::string(c.name) + (extra.empty() ? "" : " (" + extra + ")") +
                " = " + std::to_string(c.compression);
    }
    return text;
}

// "none, packbits, ... or g4".
std::string CodecNames()
{
    std::string text;
    for (const Codec& c : TifCompressions())
        if (Written(c))
            text += (text.empty() ? "" : ", ") + std::string(c.name);
    const size_t last = text.rfind(", ");
    return last == std::string::npos ? text : text.replace(last, 2, " or ");
}

}  // namespace

void AddWriteOptions(CLI::App* cmd, WriteOptions* o)
{
    const std::string codecs = CodecList();
    cmd->add_option_function<std::string>("--compression",
                                          [o](const std::string& v) { o->codec = CodecNamed(v, &o->quality); },
                                          codecs + "; a name in any case, or the TIFF number (default: the input's "
                                          "when this build writes it, else none)")
        ->type_name("C")
        ->check(Check([](const std::string& v) { int q; return CodecNamed(v, &q) != nullptr; },
                      "takes " + CodecNames() + " in any case, an alias or a TIFF number of one of them" +
                          " (jpeg:Q: a quality from 1 to 100)"));
    cmd->add_option_function<std::string>(
           "--predictor", [o](const std::string& v) { ParseInt(v, 1, 2, &o->predictor); },
           "horizontal differencing (2), deflate and lzw only (default: the input's, same kind of compression)")
        ->type_name("1|2")
        ->check(Check([](const std::string& v) { int p; return ParseInt(v, 1, 2, &p); }, "takes 1 or 2"));
    CLI::Option* strips = cmd->add_option_function<std::string>(
        "--rows-per-strip", [o](const std::string& v) { ParseInt(v, 1, 0x7FFFFFFF, &o->rowsPerStrip); },
        "strips of N rows");
    strips->type_name("N");
    strips->check(Check([](const std::string& v) { int n; return ParseInt(v, 1, 0x7FFFFFFF, &n); },
                        "takes a whole number of 1 or more"));
    CLI::Option* tile = cmd->add_option_function<std::string>(
        "--tile", [o](const std::string& v) { o->tiled = ParseTile(v, &o->tileWidth, &o->tileLength); },
        "tiles of W x L pixels, raised to multiples of 32 (default layout: the input's)");
    tile->type_name("WxL");
    tile->check(Check([](const std::string& v) { int w, l; return ParseTile(v, &w, &l); },
                      "takes WxL, two whole numbers from 1 to 65536 (e.g. 256x256)"));
    tile->excludes(strips);
    cmd->add_flag("--bigtiff", o->bigTiff,
                  "write BigTIFF whatever the size (default: BigTIFF only when the file passes 4 GiB)");
}

std::string CheckWriteOptions(const WriteOptions& o)
{
    if (o.predictor == 2 && o.codec != nullptr && o.codec->tag != TIF_TAG_PREDICTOR)
        return std::string("--predictor 2 needs deflate or lzw, not ") + o.codec->name;
    return {};
}

bool ParsePageList(const std::string& text, std::vector<PageRange>* ranges)
{
    std::vector<PageRange> found;
    size_t at = 0;
    while (true) {
        const size_t comma = text.find(',', at);
        const std::string item = text.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
        const size_t dash = item.find('-');
        PageRange r = {0, 0};
        if (!ParseInt(item.substr(0, dash), 1, TIF_MAX_PAGES, &r.first))
            return false;
        if (dash == std::string::npos)
            r.last = r.first;
        else if (dash + 1 < item.size() && (!ParseInt(item.substr(dash + 1), r.first, TIF_MAX_PAGES, &r.last)))
            return false;
        found.push_back(r);
        if (comma == std::string::npos)
            break;
        at = comma + 1;
    }
    if (ranges != nullptr)
        *ranges = found;
    return true;
}

std::string SelectPages(const std::vector<PageRange>& ranges, int pages, std::vector<int>* chosen)
{
    chosen->clear();
    if (ranges.empty()) {
        for (int p = 0; p < pages; ++p)
            chosen->push_back(p);
        return {};
    }
    for (const PageRange& r : ranges) {
        const int last = r.last == 0 ? pages : r.last;
        if (last > pages || r.first > pages)
            return "no page " + std::to_string(std::max(r.first, std::min(last, pages + 1))) + " (the file has " +
                   std::to_string(pages) + (pages == 1 ? " page)" : " pages)");
        for (int p = r.first; p <= last; ++p)
            chosen->push_back(p - 1);
    }
    return {};
}

void AddPageList(CLI::App* cmd, std::vector<PageRange>* ranges)
{
    cmd->add_option_function<std::string>("--page", [ranges](const std::string& v) { ParsePageList(v, ranges); },
                                          "the pages to keep, counted from 1: 3, 1-3,7 or 2- (default: all)")
        ->type_name("LIST")
        ->check(Check([](const std::string& v) { return ParsePageList(v, nullptr); },
                      "takes page numbers from 1, ranges and lists: 3, 1-3,7 or 2-"));
}

namespace {

class UsageFormatter : public CLI::Formatter {
public:
    explicit UsageFormatter(std::string usage) : usage_(std::move(usage)) {}
    std::string make_usage(const CLI::App*, std::string) const override { return "Usage: " + usage_ + "\n"; }

private:
    std::string usage_;
};

}  // namespace

void SetUsage(CLI::App* cmd, const std::string& usage)
{
    std::string text;
    for (char c : usage)
        text += c == '\n' ? std::string("\n       ") : std::string(1, c);
    cmd->formatter(std::make_shared<UsageFormatter>(text));
}

void AddPageNumber(CLI::App* cmd, int* page)
{
    cmd->add_option_function<std::string>("--page", [page](const std::string& v) { ParsePage(v.c_str(), page); },
                                          "the page to read, counted from 1 (default 1)")
        ->type_name("N")
        ->check(Check([](const std::string& v) { int p; return ParsePage(v.c_str(), &p); },
                      "takes a page number from 1"));
}

void AddBatchOptions(CLI::App* cmd, BatchOptions* b)
{
    cmd->add_option("--out-dir", b->outDir,
                    "every IN written to DIR under its own base name (made when missing)")
        ->type_name("DIR");
    cmd->add_option("-j,--jobs", b->jobs, "files worked on at once (default 1, at most 64)")
        ->type_name("N")
        ->check(CLI::Range(1, 64));
}

std::string SplitFiles(const std::vector<std::string>& files, const BatchOptions& b, const char* command,
                       std::vector<std::string>* inputs, std::string* out)
{
    out->clear();
    if (!b.outDir.empty()) {
        *inputs = files;
        return files.empty() ? std::string(command) + " takes one or more IN with --out-dir" : std::string();
    }
    if (files.size() != 2)
        return std::string(command) + " takes IN and OUT, or IN... and --out-dir DIR";
    *inputs = {files[0]};
    *out = files[1];
    return {};
}

std::string OutputIn(const std::string& dir, const std::string& in, const char* ext)
{
    std::filesystem::path name = std::filesystem::path(in).filename();
    name.replace_extension(ext);
    return (std::filesystem::path(dir) / name).string();
}
