// tif2bmp.cpp — VXTiff2Bmp: bilevel TIFF to a resampled 1-bit BMP file.
//
// The source is opened and checked, the geometry computed and every buffer
// allocated before the BMP file is created. Output rows are built a byte at a
// time, by table lookup where the column pattern allows (RowBuilder), and
// written through a large stdio buffer; the header is written first as a
// placeholder and finally with the real values.
#include "convert/tif2bmp.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <system_error>

#include "codec/tif_limits.h"
#include "codec/tif_tiff.h"
#include "convert/tif2bmp_rows.h"
#include "tif/tif_file.h"

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

constexpr int kHeaderBytes = 62;  // file header 14, information header 40, palette 8
constexpr size_t kStdioBuffer = size_t(1) << 16;
// The column table is the largest block, one int per output pixel.
static_assert(int64_t(VXTIFF2BMP_MAX_WIDTH) * int64_t(sizeof(int32_t)) <= TIF_MAX_ALLOC);

constexpr double kSlack = 1e-6;

// The source rows that make the output rows, in order.
class RowSource {
public:
    RowSource(const Geometry& g, int height) : g_(g), height_(height) {}
    // The next output row's source row, or -1 after the last output row.
    int Next()
    {
        if (!g_.exact) {
            if (out_ >= g_.rows)
                return -1;
            const double y = std::trunc(out_++ * g_.rowNum / g_.rowDen + g_.slack);
            return y < height_ ? static_cast<int>(y) : height_ - 1;
        }
        // Each output row is made from the first source row that falls on it.
        for (; y_ < height_; ++y_) {
            const double t = std::trunc(y_ * g_.rowRatio);
            if (t != last_) {
                last_ = t;
                return y_++;
            }
        }
        return -1;
    }

private:
    const Geometry& g_;
    int height_;
    int out_ = 0;
    int y_ = 0;
    double last_ = -1.0;
};

// The output geometry, or VXTIFF2BMP_ERR_SIZE when the file cannot be made.
int MakeGeometry(const VXIMGINFO& info, int resolution, Geometry* g)
{
    g->exact = true;
    g->slack = 0.0;
    g->stepDen = 1.0;
    g->rowNum = g->rowDen = 1.0;
    g->ppm = 0;
    const double x = info.dXResolution;
    const double w = std::trunc(double(resolution) / x * info.nWidth);
    if (!(w >= 1.0 && w <= VXTIFF2BMP_MAX_WIDTH))
        return VXTIFF2BMP_ERR_SIZE;
    g->width = static_cast<int>(w);
    g->rowBytes = (g->width + 31) / 32 * 4;
    g->rowRatio = double(resolution) / x;
    // The target is taken in single precision here, as the column table always was.
    g->step = x / double(static_cast<float>(resolution));
    // Each output row is made from the first source row that falls on it.
    int rows = 0;
    double last = -1.0;
    for (int y = 0; y < info.nHeight; ++y) {
        const double t = std::trunc(y * g->rowRatio);
        if (t != last) {
            ++rows;
            last = t;
        }
    }
    g->rows = rows;
    if (kHeaderBytes + int64_t(g->rowBytes) * rows > int64_t(UINT32_MAX))
        return VXTIFF2BMP_ERR_SIZE;  // bfSize is 32 bits
    return VXTIFF2BMP_OK;
}

// Square pixels: source resolution sx × sy scaled to `target` in both
// directions; target 0 with an unknown source resolution copies pixel for pixel.
int MakeSquareGeometry(const VXIMGINFO& info, double sx, double sy, double target, Geometry* g)
{
    g->exact = false;
    g->slack = kSlack;
    g->rowRatio = 0.0;
    if (target > 0.0) {
        g->step = sx, g->stepDen = target;
        g->rowNum = sy, g->rowDen = target;
        g->ppm = static_cast<uint32_t>(std::lround(target / 0.0254));
    } else {
        g->step = g->stepDen = g->rowNum = g->rowDen = 1.0;
        g->ppm = 0;
    }
    const double w = std::trunc(info.nWidth * g->stepDen / g->step + kSlack);
    const double h = std::trunc(info.nHeight * g->rowDen / g->rowNum + kSlack);
    if (!(w >= 1.0 && w <= VXTIFF2BMP_MAX_WIDTH && h >= 1.0 && h <= INT32_MAX))
        return VXTIFF2BMP_ERR_SIZE;
    g->width = static_cast<int>(w);
    g->rowBytes = (g->width + 31) / 32 * 4;
    g->rows = static_cast<int>(h);
    if (kHeaderBytes + int64_t(g->rowBytes) * g->rows > int64_t(UINT32_MAX))
        return VXTIFF2BMP_ERR_SIZE;
    return VXTIFF2BMP_OK;
}

void Put16(unsigned char* p, uint32_t v)
{
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

void Put32(unsigned char* p, uint32_t v)
{
    Put16(p, v & 0xFFFF);
    Put16(p + 2, v >> 16);
}

void BuildHeader(const VXIMGINFO& info, const Geometry& g, int rowsWritten, unsigned char* h)
{
    const uint32_t reserved =
        g.exact ? static_cast<uint32_t>(static_cast<int64_t>(info.dXResolution) & 0xFFFF) : 0;
    Put16(h + 0, 0x4D42);  // "BM"
    Put32(h + 2, static_cast<uint32_t>(kHeaderBytes + int64_t(g.rowBytes) * rowsWritten));
    Put16(h + 6, reserved);
    Put16(h + 8, reserved);
    Put32(h + 10, kHeaderBytes);
    Put32(h + 14, 40);
    Put32(h + 18, static_cast<uint32_t>(g.width));
    Put32(h + 22, static_cast<uint32_t>(-rowsWritten));  // negative: rows stored top-down
    Put16(h + 26, 1);
    Put16(h + 28, 1);
    Put32(h + 30, 0);
    Put32(h + 34, 0);
    // Exact: the source's size, not a resolution.
    Put32(h + 38, g.exact ? static_cast<uint32_t>(info.nWidth) : g.ppm);
    Put32(h + 42, g.exact ? static_cast<uint32_t>(info.nHeight) : g.ppm);
    Put32(h + 46, 0);
    Put32(h + 50, 0);
    // A set TIFF bit is black in a WhiteIsZero image, white otherwise.
    const bool setIsBlack = info.nImageType == VXIMG_MINISWHITE;
    Put32(h + (setIsBlack ? 58 : 54), 0x00000000);
    Put32(h + (setIsBlack ? 54 : 58), 0xFFFFFFFF);
}

// Removes what a failed conversion wrote, but never anything but a plain file.
// The path queries below may throw even with an error code (a path that the
// system's code page cannot convert, no memory): nothing may leave the DLL.
bool IsRegularFile(const char* path)
{
    try {
        std::error_code ec;
        return std::filesystem::is_regular_file(path, ec);
    } catch (...) {
        return false;
    }
}

void RemovePartial(const char* path)
{
    if (IsRegularFile(path))
        std::remove(path);
}

// Opens the output. An existing plain file is overwritten in place and cut to
// size at the end (CutToSize), which spares the file system freeing and
// allocating its blocks again when a page is converted anew.
std::FILE* OpenOutput(const char* path, bool* inPlace)
{
    std::FILE* f = IsRegularFile(path) ? std::fopen(path, "r+b") : nullptr;
    *inPlace = f != nullptr;
    return f != nullptr ? f : std::fopen(path, "wb");
}

bool CutToSize(std::FILE* f, int64_t size)
{
    if (std::fflush(f) != 0)
        return false;
#if defined(_WIN32)
    return _chsize_s(_fileno(f), size) == 0;
#else
    return ftruncate(fileno(f), static_cast<off_t>(size)) == 0;
#endif
}

bool SameFile(const char* a, const char* b)
{
    try {
        std::error_code ec;
        return std::filesystem::equivalent(a, b, ec) && !ec;
    } catch (...) {
        return false;
    }
}

bool ReadSourceLine(CTifFile& tif, int y, unsigned char* line)
{
    return tif.SeekLine(y) == 1 && tif.ReadLine(line) == 1;
}

// The first line after `y` from which reading can go on: the first line of the
// next strip (or tile row) whose first line can be read, or -1 when no later
// one can. Lines are decoded strip by strip, so within the strip of a failed
// line no later line can be read either. Each strip is probed at most once
// per failure and failures move forward, so a file of few strips declaring
// billions of lines ends at once.
int NextReadableLine(CTifFile& tif, const VXIMGINFO& info, int y, unsigned char* scratch)
{
    const int64_t unit = info.nRowsPerStrip > 0 && info.nRowsPerStrip < info.nHeight ? info.nRowsPerStrip : info.nHeight;
    for (int64_t first = (y / unit + 1) * unit; first < info.nHeight; first += unit)
        if (ReadSourceLine(tif, static_cast<int>(first), scratch))
            return static_cast<int>(first);
    return -1;
}

#if defined(_WIN32)
// Lets the calling thread's pending window messages be handled. A quit message
// is put back for the host's own loop.
void VXTIFF_STDCALL PumpMessages(void*, int, int)
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
        const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0)
            PostQuitMessage(static_cast<int>(msg.wParam));
        if (got <= 0)
            break;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}
#endif

struct Settings {
    int page = 0;
    bool exact = true;
    double sourceX = 0.0, sourceY = 0.0;  // overrides, 0: none
    VXTiff2BmpProgress progress = nullptr;
    void* context = nullptr;
};

bool UsableResolution(double r) { return r > 0.0 && std::isfinite(r); }

// The source resolution that square mode scales from: the overrides, else the
// file's unless it has no unit (ResolutionUnit 1: only an aspect ratio); both
// 0 when unknown. A missing vertical resolution is taken as the horizontal.
void SourceResolution(CTifFile& tif, const VXIMGINFO& info, const Settings& s, double* sx, double* sy)
{
    *sx = *sy = 0.0;
    int unit = 2;
    tif.GetTagValue(TIF_TAG_RESOLUTIONUNIT, &unit);
    if (s.sourceX > 0.0) {
        *sx = s.sourceX;
        *sy = s.sourceY > 0.0 ? s.sourceY : s.sourceX;
    } else if (unit != 1 && UsableResolution(info.dXResolution)) {
        *sx = info.dXResolution;
        *sy = UsableResolution(info.dYResolution) ? info.dYResolution : info.dXResolution;
    }
}

// What the source's reading met (VXTIFF2BMP_OPTIONS' last fields).
struct SourceDamage {
    int lines = 0;
    int first = -1;
    int failure = 0;
};

// Opens the source page and works out the BMP's geometry: VXTIFF2BMP_OK or
// the error. `info` is the page's, with the horizontal resolution overridden
// in exact mode.
int OpenSource(CTifFile& tif, const char* tiffPath, int resolution, const Settings& set, VXIMGINFO* info,
               Geometry* g)
{
    if (set.exact ? resolution <= 1 : resolution < 0)
        return VXTIFF2BMP_ERR_TARGET;
    if (!tif.OpenPage(tiffPath, set.page))  // a null path included; the reason stays for GetLastFailure
        return VXTIFF2BMP_ERR_OPEN;
    tif.GetImgInfo(info);
    if (info->nSamplesPerPixel != 1 || info->nBitsPerSample != 1)
        return VXTIFF2BMP_ERR_NOT_BILEVEL;
    if (set.exact) {
        if (set.sourceX > 0.0)
            info->dXResolution = set.sourceX;
        if (!UsableResolution(info->dXResolution))
            return VXTIFF2BMP_ERR_NO_RESOLUTION;
        return MakeGeometry(*info, resolution, g);
    }
    double sx, sy;
    SourceResolution(tif, *info, set, &sx, &sy);
    const double target = resolution > 0 ? resolution : sx;
    if (target > 0.0 && sx <= 0.0)
        return VXTIFF2BMP_ERR_NO_RESOLUTION;
    return MakeSquareGeometry(*info, sx, sy, target, g);
}

// The memory of one conversion, all of it allocated before the BMP is made.
struct WorkBuffers {
    RowBuilder builder;
    CArray<unsigned char> line;   // the source line in use, blank until a line is read
    CArray<unsigned char> probe;  // lines read to find where reading can go on
    CArray<unsigned char> row;    // the output row

    // False when memory runs out.
    bool Init(const CTifFile& tif, const Geometry& g, int sourceWidth)
    {
        // A tiled image's line may be assembled from whole tile rows up to the
        // buffer stride.
        const int lineBytes = tif.m_nBufRowBytes > tif.m_nRowBytes ? tif.m_nBufRowBytes : tif.m_nRowBytes;
        line = Calloc<unsigned char>(int64_t(lineBytes) + 1);  // a spare byte for RowBuilder
        probe = Calloc<unsigned char>(int64_t(lineBytes) + 1);
        row = Calloc<unsigned char>(g.rowBytes);
        return builder.Init(g, sourceWidth) && line && probe && row;
    }
};

// The BMP file being written.
struct Output {
    std::FILE* file = nullptr;
    bool inPlace = false;  // an existing file overwritten, to be cut to size
    int written = 0;       // rows written
    bool cut = false;      // the source's data ended before the last row
};

// Writes the output rows behind the header. False when a write fails; a
// source whose data ends early ends the rows there (out->cut).
bool WriteRows(CTifFile& tif, const VXIMGINFO& info, const Geometry& g, const Settings& set, WorkBuffers& w,
               Output* out, int* badLines, SourceDamage* damage)
{
    bool ok = true;
    int resume = 0;  // lines before it are known to be unreadable
    int lastY = -1;  // the source line in the buffer (enlarging repeats it)
    bool lastBad = false;
    RowSource source(g, info.nHeight);
    for (int y = source.Next(); y >= 0 && ok; y = source.Next()) {
        // A line that cannot be read leaves the previous one in the buffer,
        // as long as a later strip still delivers lines; otherwise the
        // source's data has ended and the BMP ends here.
        if (y != lastY) {
            lastBad = y < resume;
            if (!lastBad && !ReadSourceLine(tif, y, w.line.get())) {
                lastBad = true;
                damage->failure = CTifFile::GetLastFailure();
                resume = NextReadableLine(tif, info, y, w.probe.get());
                if (resume < 0) {
                    out->cut = true;
                    break;
                }
            }
            w.builder.Build(w.line.get(), w.row.get());
            lastY = y;
        }
        ok = std::fwrite(w.row.get(), size_t(g.rowBytes), 1, out->file) == 1;
        if (ok) {
            ++out->written;
            *badLines += lastBad ? 1 : 0;
            if (set.progress != nullptr)
                set.progress(set.context, out->written, g.rows);
        }
    }
    return ok;
}

// Writes the header with the real values over the placeholder, cuts a file
// overwritten in place to size and closes the file. False when any of it, or
// the writing before (`ok`), failed.
bool FinishOutput(const Output& out, bool ok, const VXIMGINFO& info, const Geometry& g)
{
    if (ok) {
        unsigned char header[kHeaderBytes];
        BuildHeader(info, g, out.written, header);
        ok = std::fseek(out.file, 0, SEEK_SET) == 0 && std::fwrite(header, sizeof header, 1, out.file) == 1 &&
             (!out.inPlace || CutToSize(out.file, kHeaderBytes + int64_t(g.rowBytes) * out.written));
    }
    // Closing flushes the buffer: its failure is a failed write too.
    return std::fclose(out.file) == 0 && ok;
}

int Convert(const char* tiffPath, const char* bmpPath, int resolution, const Settings& set, int* badLines,
            SourceDamage* damage)
{
    *badLines = 0;
    CTifFile tif;
    VXIMGINFO info;
    Geometry g;
    if (const int r = OpenSource(tif, tiffPath, resolution, set, &info, &g); r != VXTIFF2BMP_OK)
        return r;
    WorkBuffers w;
    if (!w.Init(tif, g, info.nWidth))
        return VXTIFF2BMP_ERR_MEMORY;

    // Writing over the source would destroy it while it is being read.
    if (bmpPath == nullptr || SameFile(tiffPath, bmpPath))
        return VXTIFF2BMP_ERR_CREATE;
    Output out;
    out.file = OpenOutput(bmpPath, &out.inPlace);
    if (out.file == nullptr)
        return VXTIFF2BMP_ERR_CREATE;
    std::setvbuf(out.file, nullptr, _IOFBF, kStdioBuffer);
    const unsigned char placeholder[kHeaderBytes] = {};
    bool ok = std::fwrite(placeholder, sizeof placeholder, 1, out.file) == 1;
    ok = ok && WriteRows(tif, info, g, set, w, &out, badLines, damage);
    if (out.cut)
        *badLines += g.rows - out.written;
    damage->lines = tif.GetDamagedLines(&damage->first);
    if (!FinishOutput(out, ok, info, g)) {
        RemovePartial(bmpPath);
        return VXTIFF2BMP_ERR_WRITE;
    }
    return out.cut ? VXTIFF2BMP_ERR_CUT_SHORT : VXTIFF2BMP_OK;
}

}  // namespace

extern "C" VXTIFF_API int VXTIFF_STDCALL VXTiff2BmpEx(const char* tiffPath, const char* bmpPath, int resolution,
                                                      VXTiff2BmpProgress progress, void* context)
{
    Settings set;
    set.progress = progress;
    set.context = context;
    int bad;
    SourceDamage damage;
    return Convert(tiffPath, bmpPath, resolution, set, &bad, &damage);
}

extern "C" VXTIFF_API int VXTIFF_STDCALL VXTiff2BmpOpt(const char* tiffPath, const char* bmpPath, int resolution,
                                                       VXTIFF2BMP_OPTIONS* options)
{
    Settings set;
    set.exact = false;
    if (options != nullptr) {
        options->nBadLines = 0;
        if ((options->nSize != int(sizeof(VXTIFF2BMP_OPTIONS)) && options->nSize != VXTIFF2BMP_OPTIONS_V1_SIZE) ||
            options->nPage < 0 ||
            !(options->dSourceXResolution >= 0.0 && std::isfinite(options->dSourceXResolution)) ||
            !(options->dSourceYResolution >= 0.0 && std::isfinite(options->dSourceYResolution)))
            return VXTIFF2BMP_ERR_OPTIONS;
        set.page = options->nPage;
        set.exact = options->bExact != 0;
        set.sourceX = options->dSourceXResolution;
        set.sourceY = options->dSourceYResolution;
        set.progress = options->pfnProgress;
        set.context = options->pContext;
    }
    int bad = 0;
    SourceDamage damage;
    const int result = Convert(tiffPath, bmpPath, resolution, set, &bad, &damage);
    if (options != nullptr)
        options->nBadLines = bad;
    if (options != nullptr && options->nSize == int(sizeof(VXTIFF2BMP_OPTIONS))) {
        options->nDamagedLines = damage.lines;
        options->nFirstDamagedLine = damage.first;
        options->nDataFailure = damage.failure;
    }
    return result;
}

extern "C" VXTIFF_API int VXTIFF_STDCALL VXTiff2Bmp(const char* tiffPath, const char* bmpPath, int resolution)
{
#if defined(_WIN32)
    return VXTiff2BmpEx(tiffPath, bmpPath, resolution, PumpMessages, nullptr);
#else
    return VXTiff2BmpEx(tiffPath, bmpPath, resolution, nullptr, nullptr);
#endif
}
