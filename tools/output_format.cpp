// output_format.cpp — see output_format.h.
#include "output_format.h"

#include <cctype>
#include <cstring>

#include "bmp_command.h"
#include "pdf_command.h"
#include "png_command.h"

namespace {

int PngPages(const std::string& in, const std::string& out, const std::vector<int>& pages, bool progress)
{
    return ToPng(in, out, pages.front() + 1, progress);
}

int PdfPages(const std::string& in, const std::string& out, const std::vector<int>& pages, bool)
{
    PdfOptions o;
    for (int p : pages)
        o.pages.push_back({p + 1, p + 1});
    return WritePdf({in}, out, o);
}

int BmpPages(const std::string& in, const std::string& out, const std::vector<int>& pages, bool progress)
{
    return ToBmpPage(in, out, pages.front(), progress);
}

// Formats vxtiff does not write are named too, so that a name asking for one
// is refused rather than given a TIFF, PNG or BMP under that name.
const OutputFormat kFormats[] = {
    {"TIFF", ".tif .tiff", "convert", true, nullptr},
    {"PNG", ".png", "topng", false, PngPages},
    {"BMP", ".bmp", "tobmp", false, BmpPages},
    {"PDF", ".pdf", "topdf", true, PdfPages},
    {"JPEG", ".jpg .jpeg .jpe .jfif", nullptr, false, nullptr},
    {"JPEG 2000", ".jp2 .j2k .jpx .jpf", nullptr, false, nullptr},
    {"JPEG XL", ".jxl", nullptr, false, nullptr},
    {"GIF", ".gif", nullptr, false, nullptr},
    {"WebP", ".webp", nullptr, false, nullptr},
    {"HEIF", ".heic .heif .avif", nullptr, false, nullptr},
    {"PostScript", ".ps .eps", nullptr, false, nullptr},
    {"SVG", ".svg", nullptr, false, nullptr},
    {"PNM", ".pbm .pgm .ppm .pnm .pam", nullptr, false, nullptr},
    {"ICO", ".ico", nullptr, false, nullptr},
    {"Photoshop", ".psd", nullptr, false, nullptr},
    {"TGA", ".tga", nullptr, false, nullptr},
    {"PCX", ".pcx", nullptr, false, nullptr},
    {"DjVu", ".djvu .djv", nullptr, false, nullptr},
};

// The extension of the last component of `path`, lower case: ".png", or "".
std::string Extension(const std::string& path)
{
    const size_t slash = path.find_last_of("/\\");
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot + 1 == path.size())
        return {};
    std::string ext = path.substr(dot);
    for (char& c : ext)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

bool Names(const OutputFormat& f, const std::string& ext)
{
    const std::string list = std::string(" ") + f.extensions + " ";
    return list.find(" " + ext + " ") != std::string::npos;
}

}  // namespace

const OutputFormat* FormatOf(const std::string& out)
{
    const std::string ext = Extension(out);
    if (ext.empty())
        return nullptr;
    for (const OutputFormat& f : kFormats)
        if (Names(f, ext))
            return &f;
    return nullptr;
}

std::string RefuseFormat(const std::string& out, const char* command, const char* own)
{
    const OutputFormat* f = FormatOf(out);
    if (f == nullptr || std::strcmp(f->name, own) == 0 || (std::strcmp(command, "convert") == 0 && f->write))
        return {};
    if (f->command != nullptr)
        return out + ": " + command + " writes " + own + ", not " + f->name + "; vxtiff " + f->command + " writes " +
               f->name;
    std::vector<std::string> known;
    for (const OutputFormat& g : kFormats)
        if (g.command != nullptr)
            known.push_back(g.name);
    std::string list;
    for (size_t i = 0; i < known.size(); ++i)
        list += (i == 0 ? "" : i + 1 == known.size() ? " and " : ", ") + known[i];
    return out + ": vxtiff does not write " + f->name + "; it writes " + list;
}
