// info_command.cpp — `vxtiff info`.
//
// Each page is opened as the other commands open it; a page that does not
// open is still described from its directory (CTifFile::DescribePage) when
// only what it holds is beyond the library: separate planes, JPEG without
// libjpeg. Pages are printed as they are read, so a file of many pages costs
// one page at a time.
#include "info_command.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "json_text.h"
#include "options.h"
#include "page_copy.h"
#include "page_tags.h"
#include "tif/tif_file.h"
#include "tool_common.h"

namespace {

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

// The library's image type, for a page described without its photometric value.
const char* TypeName(int type)
{
    switch (type) {
    case VXIMG_MINISWHITE: return "min-is-white";
    case VXIMG_MINISBLACK: return "min-is-black";
    case VXIMG_RGB: return "RGB or YCbCr";
    case VXIMG_PALETTE: return "palette";
    case VXIMG_CMYK: return "separated (CMYK)";
    default: return "other";
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

// "II" or "MM" from the file's first two bytes; "" when neither.
std::string ByteOrder(const char* path)
{
    char head[2] = {0, 0};
    if (std::FILE* fp = std::fopen(path, "rb")) {
        if (std::fread(head, 1, 2, fp) != 2)
            head[0] = 0;
        std::fclose(fp);
    }
    return head[0] == head[1] && (head[0] == 'I' || head[0] == 'M') ? std::string(head, 2) : std::string();
}

// What is known of one page: everything (opened), its directory's
// description only, or nothing but why.
struct PageFacts {
    enum State { kOpened, kDescribed, kUnread } state = kUnread;
    VXIMGINFO info = {};
    int photometric = 0, colors = 0, predictor = 1, fillOrder = 1, sampleFormat = 1;
    int t4Options = -1;  // -1: none given (and not Group 3)
    int unit = 0;        // ResolutionUnit; 0: none given
    std::string error;   // why it did not open
};

PageFacts Facts(PageReader& reader, const std::string& path, int page)
{
    PageFacts f;
    if (!reader.Reach(path, page)) {
        f.error = OpenFailure(path.c_str(), page + 1);
        f.state = CTifFile::DescribePage(path.c_str(), page, &f.info) ? PageFacts::kDescribed : PageFacts::kUnread;
        return f;
    }
    CTifFile& file = reader.file;
    f.state = PageFacts::kOpened;
    file.GetImgInfo(&f.info);
    f.photometric = file.m_nPhotometric;
    f.colors = file.m_nColors;
    file.GetTagValue(317, &f.predictor);
    file.GetTagValue(266, &f.fillOrder);
    f.sampleFormat = SampleFormatOf(file);
    int value = 0;
    if (file.GetTagValue(TIF_TAG_T4OPTIONS, &value) || TifCompressionHasTag(f.info.nCompression, TIF_TAG_T4OPTIONS))
        f.t4Options = value;
    file.GetTagValue(296, &f.unit);
    return f;
}

void PrintText(const PageFacts& f)
{
    const VXIMGINFO& info = f.info;
    if (f.state == PageFacts::kUnread) {
        std::printf("  cannot be read:  %s\n", f.error.c_str());
        return;
    }
    const bool opened = f.state == PageFacts::kOpened;
    std::printf("  size:            %d x %d pixels\n", info.nWidth, info.nHeight);
    std::printf("  samples:         %d per pixel, %d bits each\n", info.nSamplesPerPixel, info.nBitsPerSample);
    if (opened)
        std::printf("  sample format:   %d %s\n", f.sampleFormat, SampleFormatName(f.sampleFormat));
    if (opened)
        std::printf("  photometric:     %d %s\n", f.photometric, PhotometricName(f.photometric));
    else
        std::printf("  type:            %s\n", TypeName(info.nImageType));
    if (opened && info.nImageType == VXIMG_PALETTE)
        std::printf("  palette:         %d colours\n", f.colors);
    std::printf("  compression:     %d %s\n", info.nCompression, CompressionTitle(info.nCompression));
    if (opened)
        std::printf("  predictor:       %d %s\n", f.predictor, PredictorName(f.predictor));
    if (f.t4Options >= 0)
        std::printf("  T4Options:       %d (%s)\n", f.t4Options, T4OptionsText(f.t4Options).c_str());
    if (info.bTiled)
        std::printf("  layout:          tiles of %d x %d\n", info.nTileWidth, info.nTileLength);
    else
        std::printf("  layout:          strips of %d rows\n", info.nRowsPerStrip);
    if (info.dXResolution <= 0.0 && info.dYResolution <= 0.0)
        std::printf("  resolution:      none\n");
    else if (f.unit == 1)
        std::printf("  resolution:      %g x %g (no unit: the pixels' aspect only)\n", info.dXResolution,
                    info.dYResolution);
    else
        std::printf("  resolution:      %g x %g pixels per inch\n", info.dXResolution, info.dYResolution);
    if (!opened) {
        std::printf("  cannot be decoded: %s\n", f.error.c_str());
        return;
    }
    if (f.unit != 0)
        std::printf("  resolution unit: %d %s\n", f.unit, UnitName(f.unit));
    else
        std::printf("  resolution unit: none given (inch)\n");
    std::printf("  fill order:      %d %s\n", f.fillOrder,
                f.fillOrder == 2 ? "least significant bit first" : "most significant bit first");
}

// One page as a JSON object, with the members that are known.
std::string PageJson(const PageFacts& f, int page)
{
    const VXIMGINFO& info = f.info;
    std::string j = "{\"page\": " + std::to_string(page);
    const auto add = [&j](const char* name, const std::string& value) { j += ", \"" + std::string(name) + "\": " + value; };
    if (f.state != PageFacts::kUnread) {
        add("width", std::to_string(info.nWidth));
        add("height", std::to_string(info.nHeight));
        add("samples", std::to_string(info.nSamplesPerPixel));
        add("bits", std::to_string(info.nBitsPerSample));
        add("type", JsonString(TypeName(info.nImageType)));
        if (f.state == PageFacts::kOpened) {
            add("sample_format", std::to_string(f.sampleFormat));
            add("photometric", std::to_string(f.photometric));
            add("photometric_name", JsonString(PhotometricName(f.photometric)));
            if (info.nImageType == VXIMG_PALETTE)
                add("colors", std::to_string(f.colors));
        }
        add("compression", std::to_string(info.nCompression));
        add("compression_name", JsonString(CompressionTitle(info.nCompression)));
        if (f.state == PageFacts::kOpened) {
            add("predictor", std::to_string(f.predictor));
            if (f.t4Options >= 0)
                add("t4_options", std::to_string(f.t4Options));
            add("fill_order", std::to_string(f.fillOrder));
        }
        if (info.bTiled)
            j += ", \"layout\": \"tiles\", \"tile_width\": " + std::to_string(info.nTileWidth) +
                 ", \"tile_length\": " + std::to_string(info.nTileLength);
        else
            j += ", \"layout\": \"strips\", \"rows_per_strip\": " + std::to_string(info.nRowsPerStrip);
        if (info.dXResolution <= 0.0 && info.dYResolution <= 0.0)
            add("resolution", "null");
        else
            add("resolution", "{\"x\": " + JsonNumber(info.dXResolution) + ", \"y\": " +
                                  JsonNumber(info.dYResolution) + ", \"unit\": \"" +
                                  (f.unit == 1 ? "none" : "inch") + "\"}");
        if (f.state == PageFacts::kOpened)
            add("resolution_unit", f.unit != 0 ? std::to_string(f.unit) : "null");
    }
    if (f.state != PageFacts::kOpened)
        add("error", JsonString(f.error));
    return j + "}";
}

struct InfoArgs {
    std::vector<std::string> files;
    bool json = false;
};

// Describes one file; false when it or a page of it cannot be read.
bool DescribeFile(const std::string& name, bool json, bool first)
{
    const char* path = name.c_str();
    const int pages = CTifFile::CountPages(path);
    const std::string fileJson = std::string(first ? "" : ",\n") + " {\"file\": " + JsonString(name);
    if (pages <= 0) {
        const std::string why = OpenFailure(path, 1);
        if (json)
            std::printf("%s, \"error\": %s}", fileJson.c_str(), JsonString(why).c_str());
        Say(name + ": " + why);
        return false;
    }
    const std::string order = ByteOrder(path);
    if (json) {
        std::printf("%s, \"byte_order\": %s, \"page_count\": %d, \"pages\": [", fileJson.c_str(),
                    order.empty() ? "null" : JsonString(order).c_str(), pages);
    } else {
        std::printf("file:              %s\n", path);
        std::printf("byte order:        %s\n", order == "II"   ? "little-endian (II)"
                                               : order == "MM" ? "big-endian (MM)"
                                                               : "unknown");
        std::printf("pages:             %d\n", pages);
    }
    bool ok = true;
    PageReader reader;
    for (int p = 0; p < pages; ++p) {
        const PageFacts f = Facts(reader, name, p);
        if (json) {
            std::printf("%s\n  %s", p == 0 ? "" : ",", PageJson(f, p + 1).c_str());
        } else {
            std::printf("page %d of %d:\n", p + 1, pages);
            PrintText(f);
        }
        if (f.state != PageFacts::kOpened) {
            std::fflush(stdout);
            Say(name + " page " + std::to_string(p + 1) + ": " + f.error);
            ok = false;
        }
    }
    if (json)
        std::printf("]}");
    return ok;
}

int Info(const InfoArgs& a)
{
    bool ok = true;
    if (a.json)
        std::printf("[\n");
    for (size_t i = 0; i < a.files.size(); ++i)
        ok = DescribeFile(a.files[i], a.json, i == 0) && ok;
    if (a.json)
        std::printf("\n]\n");
    return ok ? kExitOk : kExitFailed;
}

}  // namespace

void AddInfoCommand(CLI::App* app, int* status)
{
    auto a = std::make_shared<InfoArgs>();
    CLI::App* cmd = app->add_subcommand("info", "describe every page: size, samples, photometric, compression, "
                                                "predictor, T4Options, layout, resolution, byte order, fill order");
    SetUsage(cmd, "vxtiff info [--json] FILE...");
    cmd->add_option("FILE", a->files, "TIFF files")->required();
    cmd->add_flag("--json", a->json,
                  "one JSON document on standard output: an array of the files, each with its pages; a file or "
                  "page that cannot be read has an \"error\" member");
    cmd->footer("A page that cannot be decoded (separate planes, JPEG without libjpeg) is still described from its directory.");
    cmd->callback([a, status] { *status = Info(*a); });
}
