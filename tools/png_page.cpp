// png_page.cpp — ToPng (png_command.h): one page to PNG through libpng.
//
// The page is read line by line through CTifFile and each row turned into a
// PNG row: gray (min-is-white inverted, so the paper is white), gray with alpha, RGB, RGBA,
// palette (applied: 8-bit RGB) and CMYK (to 8-bit RGB). Samples of 1 to 16
// bits: 1-bit gray stays 1-bit, other depths of 8 bits or less become 8 bits
// and deeper ones 16 bits, scaled to the full range. 16-bit samples are taken
// in the file's byte order, as the reader delivers them.
#include "png_command.h"

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "output_file.h"
#include "page_tags.h"
#include "tif/tif_file.h"
#include "salvage.h"
#include "tool_common.h"

namespace {

enum class Kind { Gray, GrayAlpha, Rgb, Rgba, Palette, Cmyk };

// Turns the reader's rows into PNG rows.
struct RowMaker {
    Kind kind = Kind::Gray;
    int width = 0;
    int bits = 0;        // source bits per sample
    int samples = 0;     // source samples per pixel
    bool invert = false; // gray: 0 is white
    bool bigEndian = false;
    int outBits = 8;     // 1, 8 or 16
    int outChannels = 1;
    std::vector<RGBQUAD> palette;

    uint32_t Sample(const unsigned char* row, int64_t index) const
    {
        if (bits == 8)
            return row[index];
        if (bits == 16) {
            const unsigned char* p = row + index * 2;
            return bigEndian ? uint32_t(p[0] << 8 | p[1]) : uint32_t(p[1] << 8 | p[0]);
        }
        // Packed most significant bit first.
        uint32_t v = 0;
        int64_t bit = index * bits;
        for (int i = 0; i < bits; ++i, ++bit)
            v = v << 1 | ((row[bit >> 3] >> (7 - (bit & 7))) & 1);
        return v;
    }
    // A sample scaled to the output depth (8 or 16 bits).
    uint32_t Scaled(uint32_t v) const
    {
        const uint32_t maxIn = (1u << bits) - 1, maxOut = outBits == 16 ? 65535u : 255u;
        return maxIn == maxOut ? v : (v * maxOut + maxIn / 2) / maxIn;
    }
    void Put(unsigned char*& out, uint32_t v) const
    {
        if (outBits == 16)
            *out++ = static_cast<unsigned char>(v >> 8);
        *out++ = static_cast<unsigned char>(v);
    }
    // One loop per kind, the kind chosen once per row rather than per pixel.
    void Make(const unsigned char* row, unsigned char* out) const
    {
        if (outBits == 1)
            return MakeBilevel(row, out);
        switch (kind) {
        case Kind::Gray:
        case Kind::GrayAlpha: return MakeGray(row, out);
        case Kind::Rgb:
        case Kind::Rgba: return MakeRgb(row, out);
        case Kind::Palette: return MakePalette(row, out);
        case Kind::Cmyk: return MakeCmyk(row, out);
        }
    }
    void MakeBilevel(const unsigned char* row, unsigned char* out) const
    {
        const size_t n = (size_t(width) + 7) / 8;
        for (size_t i = 0; i < n; ++i)
            out[i] = invert ? static_cast<unsigned char>(~row[i]) : row[i];
    }
    void MakeGray(const unsigned char* row, unsigned char* out) const
    {
        const uint32_t maxOut = outBits == 16 ? 65535u : 255u;
        for (int x = 0; x < width; ++x) {
            const int64_t s = int64_t(x) * samples;
            const uint32_t g = Scaled(Sample(row, s));
            Put(out, invert ? maxOut - g : g);
            if (kind == Kind::GrayAlpha)
                Put(out, Scaled(Sample(row, s + 1)));
        }
    }
    void MakeRgb(const unsigned char* row, unsigned char* out) const
    {
        const int channels = kind == Kind::Rgba ? 4 : 3;
        for (int x = 0; x < width; ++x) {
            const int64_t s = int64_t(x) * samples;
            for (int c = 0; c < channels; ++c)
                Put(out, Scaled(Sample(row, s + c)));
        }
    }
    void MakePalette(const unsigned char* row, unsigned char* out) const
    {
        for (int x = 0; x < width; ++x) {
            const uint32_t i = Sample(row, int64_t(x) * samples);
            const RGBQUAD q = i < palette.size() ? palette[i] : RGBQUAD{0, 0, 0, 0};
            *out++ = q.rgbRed, *out++ = q.rgbGreen, *out++ = q.rgbBlue;
        }
    }
    void MakeCmyk(const unsigned char* row, unsigned char* out) const
    {
        for (int x = 0; x < width; ++x) {
            const int64_t s = int64_t(x) * samples;
            const uint32_t k = Scaled(Sample(row, s + 3));
            for (int c = 0; c < 3; ++c)
                *out++ = static_cast<unsigned char>((255 - k) * (255 - Scaled(Sample(row, s + c))) / 255);
        }
    }
};

// The row maker for the page's photometric interpretation; "" or why it
// cannot be shown.
std::string PlanKind(CTifFile& in, RowMaker* m)
{
    switch (in.m_nPhotometric) {
    case 0:
    case 1:
        m->invert = in.m_nPhotometric == 0;
        m->kind = m->samples >= 2 ? Kind::GrayAlpha : Kind::Gray;
        m->outChannels = m->samples >= 2 ? 2 : 1;
        if (m->bits == 1 && m->samples == 1)
            m->outBits = 1;  // PNG gray: 0 is black. Min-is-black rows are already that.
        return {};
    case 2:
        if (m->samples < 3)
            return "an RGB image needs 3 samples per pixel, not " + std::to_string(m->samples);
        m->kind = m->samples >= 4 ? Kind::Rgba : Kind::Rgb;
        m->outChannels = m->samples >= 4 ? 4 : 3;
        return {};
    case 3:
        m->kind = Kind::Palette;
        m->outBits = 8;
        m->outChannels = 3;
        m->palette.assign(size_t(1) << m->bits, RGBQUAD{0, 0, 0, 0});
        in.GetColorMap(int(m->palette.size()), m->palette.data());
        return {};
    case 5:
        if (m->samples < 4)
            return "a CMYK image needs 4 samples per pixel, not " + std::to_string(m->samples);
        m->kind = Kind::Cmyk;
        m->outBits = 8;
        m->outChannels = 3;
        return {};
    default:
        return "photometric " + std::to_string(in.m_nPhotometric) + " is not shown (the library delivers it as stored)";
    }
}

// Chooses how to turn the page's rows; "" or why it cannot be shown.
std::string Plan(CTifFile& in, const VXIMGINFO& info, RowMaker* m)
{
    m->width = info.nWidth;
    m->bits = info.nBitsPerSample;
    m->samples = info.nSamplesPerPixel;
    if (m->bits < 1 || m->bits > 16)
        return "topng takes samples of 1 to 16 bits, not " + std::to_string(m->bits);
    if (const int format = SampleFormatOf(in); format != 1)
        return std::string("topng takes unsigned integer samples, not ") + SampleFormatName(format) + " ones";
    m->outBits = m->bits <= 8 ? 8 : 16;
    return PlanKind(in, m);
}

struct PngError {
    char text[256];
};

void OnPngError(png_structp png, png_const_charp message)
{
    auto* e = static_cast<PngError*>(png_get_error_ptr(png));
    std::snprintf(e->text, sizeof e->text, "%s", message);
    png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

// Reads the rows (lines that cannot be decoded become paper) and writes the
// PNG; no objects with destructors live in this frame, as libpng leaves it by
// longjmp on an error. Returns 0, or -1 when libpng failed.
long WriteRows(png_structp png, png_infop pngInfo, std::FILE* fp, Salvager* in, const RowMaker* m,
               unsigned char* src, unsigned char* dst, int height, Progress* bar)
{
    if (setjmp(png_jmpbuf(png)))
        return -1;
    png_init_io(png, fp);
    const int colour = m->outChannels == 1   ? PNG_COLOR_TYPE_GRAY
                       : m->outChannels == 2 ? PNG_COLOR_TYPE_GRAY_ALPHA
                       : m->outChannels == 3 ? PNG_COLOR_TYPE_RGB
                                             : PNG_COLOR_TYPE_RGB_ALPHA;
    png_set_IHDR(png, pngInfo, png_uint_32(m->width), png_uint_32(height), m->outBits, colour, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, pngInfo);
    for (int y = 0; y < height; ++y) {
        in->Read(src, y, 1);
        m->Make(src, dst);
        png_write_row(png, dst);
        bar->Rows(y + 1);
    }
    png_write_end(png, pngInfo);
    return 0;
}

// The page's resolution as the pHYs chunk: pixels per metre from inches or
// centimetres, or, without a unit (ResolutionUnit 1), the pixels' aspect
// alone (unit 0). No chunk when the page has no resolution.
void SetResolution(png_structp png, png_infop pngInfo, CTifFile& in, const VXIMGINFO& info)
{
    double x = info.dXResolution, y = info.dYResolution;  // per inch, centimetres converted
    int unit = 2;
    in.GetTagValue(296, &unit);
    if (!(x > 0.0 && y > 0.0))
        return;
    if (unit == 1) {
        // Whole numbers stay as they are (204:98); others are scaled to keep their ratio.
        if (x != std::floor(x) || y != std::floor(y) || std::max(x, y) > 1e9) {
            const double scale = 1e6 / std::max(x, y);
            x *= scale, y *= scale;
        }
    } else {
        x /= 0.0254, y /= 0.0254;
    }
    x = std::round(x), y = std::round(y);
    if (x >= 1.0 && y >= 1.0 && x <= 2147483647.0 && y <= 2147483647.0)
        png_set_pHYs(png, pngInfo, png_uint_32(x), png_uint_32(y),
                     unit == 1 ? PNG_RESOLUTION_UNKNOWN : PNG_RESOLUTION_METER);
}

class PngWriter {
public:
    PngWriter()
    {
        png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, &error_, OnPngError, OnPngWarning);
        if (png_ != nullptr)
            info_ = png_create_info_struct(png_);
    }
    ~PngWriter() { png_destroy_write_struct(&png_, info_ != nullptr ? &info_ : nullptr); }
    PngWriter(const PngWriter&) = delete;
    PngWriter& operator=(const PngWriter&) = delete;
    bool ok() const { return png_ != nullptr && info_ != nullptr; }
    png_structp png() const { return png_; }
    png_infop info() const { return info_; }
    const char* error() const { return error_.text; }

private:
    PngError error_ = {};
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
};

int Fail(const std::string& in, const std::string& out, const std::string& why, int status)
{
    Say(in + " -> " + out + ": " + why);
    return status;
}

}  // namespace

int ToPng(const std::string& inPath, const std::string& outPath, int page, bool progress)
{
    CTifFile in;
    if (!in.OpenPage(inPath.c_str(), page - 1))
        return Fail(inPath, outPath, "cannot open: " + OpenFailure(inPath.c_str(), page), kExitFailed);
    VXIMGINFO info;
    in.GetImgInfo(&info);
    RowMaker maker;
    maker.bigEndian = in.IsBigEndian() == 1;  // 16-bit samples arrive high byte first
    const std::string why = Plan(in, info, &maker);
    if (!why.empty())
        return Fail(inPath, outPath, why, kExitFailed);
    // Room for a whole tile row, whatever the reader needs.
    const int64_t across = info.bTiled && info.nTileWidth > 0
                               ? (int64_t(info.nWidth) + info.nTileWidth - 1) / info.nTileWidth * info.nTileWidth
                               : info.nWidth;
    std::vector<unsigned char> src(size_t((across * info.nSamplesPerPixel * info.nBitsPerSample + 7) / 8 + 8));
    std::vector<unsigned char> dst(size_t(int64_t(info.nWidth) * maker.outChannels * 2 + 8), 0);
    PngWriter writer;
    if (!writer.ok())
        return Fail(inPath, outPath, "out of memory", kExitFailed);
    OutputFile out(outPath);
    std::string failed = out.Open({inPath}, OutputFile::kStream);
    if (!failed.empty())
        return Fail(inPath, outPath, failed, out.status());
    SetResolution(writer.png(), writer.info(), in, info);
    Salvager salvager(in);
    info.nHeight = salvager.Height();
    Progress bar(progress);
    bar.Page(1, 1);
    bar.Start(info.nHeight, int64_t(info.nHeight) * int64_t(src.size()));
    errno = 0;
    const long bad = WriteRows(writer.png(), writer.info(), out.stream(), &salvager, &maker, src.data(), dst.data(),
                               info.nHeight, &bar);
    bar.End();
    // libpng's own words only where the system gave no cause.
    failed = bad < 0 ? (errno != 0 ? CannotWrite(errno) : std::string("cannot write: ") + writer.error()) : out.Commit();
    if (!failed.empty())
        return Fail(inPath, outPath, failed, kExitOutput);
    const PageDamage damage = salvager.Damage();
    if (damage.any())
        return Fail(inPath, outPath, DamageWarning(damage, PageToName(inPath, page)), kExitDamaged);
    return kExitOk;
}
