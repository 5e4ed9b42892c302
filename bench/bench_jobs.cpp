// bench_jobs.cpp — the benchmark jobs for vxtiff, libtiff and zlib.
#include "bench_jobs.h"

#include <malloc.h>
#include <tiffio.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "convert/tif2bmp.h"
#include "tif/tif_file.h"

namespace {

struct TiffCloser {
    void operator()(TIFF* t) const { TIFFClose(t); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

void Quiet(const char*, const char*, va_list) {}

TiffPtr OpenLt(const std::string& path)
{
    TIFFSetWarningHandler(Quiet);
    TIFFSetErrorHandler(Quiet);
    return TiffPtr(TIFFOpen(path.c_str(), "r"));
}

// Opens with vxtiff and checks that it sees the image libtiff sees.
VxResult OpenVx(CTifFile& f, const std::string& path, const Geometry& g)
{
    if (!f.Open(path.c_str()))
        return VxResult::Unsupported;
    VXIMGINFO info;
    f.GetImgInfo(&info);
    if (info.nWidth != g.width || info.nHeight != g.height)
        return VxResult::Failed;
    return VxResult::Ok;
}

long HeapInUse()
{
    const struct mallinfo2 m = mallinfo2();
    return long(m.uordblks + m.hblkhd);
}

}  // namespace

std::string LibtiffVersion()
{
    const std::string banner = TIFFGetVersion();
    return banner.substr(0, banner.find('\n'));
}

bool ProbeGeometry(const std::string& path, Geometry* g)
{
    TiffPtr t = OpenLt(path);
    if (!t)
        return false;
    uint32_t w = 0, h = 0;
    float xres = 0.0f;
    TIFFGetField(t.get(), TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(t.get(), TIFFTAG_IMAGELENGTH, &h);
    if (!TIFFGetField(t.get(), TIFFTAG_XRESOLUTION, &xres))
        xres = 0.0f;
    g->width = int(w);
    g->height = int(h);
    g->rowBytes = size_t(TIFFScanlineSize(t.get()));
    g->xResolution = xres;
    g->strips = int(TIFFNumberOfStrips(t.get()));
    g->stripSize = size_t(TIFFStripSize(t.get()));
    return w > 0 && h > 0 && g->rowBytes > 0;
}

VxResult VxReadLineByLine(const std::string& path, const Geometry& g, uint8_t* out)
{
    CTifFile f;
    VxResult r = OpenVx(f, path, g);
    for (int y = 0; r == VxResult::Ok && y < g.height; ++y)
        if (!f.ReadLine(out + size_t(y) * g.rowBytes))
            r = VxResult::Failed;
    f.Close();
    return r;
}

bool LtReadLineByLine(const std::string& path, const Geometry& g, uint8_t* out)
{
    TiffPtr t = OpenLt(path);
    if (!t)
        return false;
    for (int y = 0; y < g.height; ++y)
        if (TIFFReadScanline(t.get(), out + size_t(y) * g.rowBytes, uint32_t(y), 0) != 1)
            return false;
    return true;
}

VxResult VxReadAll(const std::string& path, const Geometry& g, uint8_t* out)
{
    CTifFile f;
    VxResult r = OpenVx(f, path, g);
    if (r == VxResult::Ok && f.ReadLines(out, g.height) != g.height)
        r = VxResult::Failed;
    f.Close();
    return r;
}

bool LtReadStrips(const std::string& path, const Geometry& g, uint8_t* out)
{
    TiffPtr t = OpenLt(path);
    if (!t)
        return false;
    size_t at = 0;
    for (int s = 0; s < g.strips; ++s) {
        const tmsize_t n = TIFFReadEncodedStrip(t.get(), uint32_t(s), out + at, tmsize_t(g.Bytes() - at));
        if (n < 0)
            return false;
        at += size_t(n);
    }
    return at == g.Bytes();
}

VxResult VxRotate90(const std::string& path, const Geometry& g, uint8_t* out)
{
    CTifFile f;
    VxResult r = OpenVx(f, path, g);
    if (r == VxResult::Ok && f.ReadLinesR90(out, 0, g.width) != 1)
        r = VxResult::Failed;
    f.Close();
    return r;
}

bool LtRotate90Naive(const std::string& path, const Geometry& g, uint8_t* work, uint8_t* out)
{
    if (!LtReadLineByLine(path, g, work))
        return false;
    // Source column c becomes rotated line c, read from the bottom row up.
    const size_t lineBytes = (size_t(g.height) + 7) / 8;
    std::memset(out, 0, g.RotatedBytes());
    for (int r = 0; r < g.height; ++r) {
        const uint8_t* row = work + size_t(r) * g.rowBytes;
        const int p = g.height - 1 - r;
        const uint8_t bit = uint8_t(0x80 >> (p & 7));
        uint8_t* col = out + (p >> 3);
        for (int c = 0; c < g.width; ++c)
            if (row[c >> 3] & (0x80 >> (c & 7)))
                col[size_t(c) * lineBytes] |= bit;
    }
    return true;
}

VxResult VxToBmp(const std::string& path, const std::string& bmpPath, int resolution)
{
    const int r = VXTiff2Bmp(path.c_str(), bmpPath.c_str(), resolution);
    return r == VXTIFF2BMP_OK ? VxResult::Ok : r == VXTIFF2BMP_ERR_OPEN ? VxResult::Unsupported : VxResult::Failed;
}

std::string CheckHalfBmp(const std::string& bmpPath, const Geometry& g, const uint8_t* src)
{
    std::FILE* fp = std::fopen(bmpPath.c_str(), "rb");
    if (fp == nullptr)
        return "no BMP file";
    std::vector<uint8_t> bmp;
    uint8_t buf[65536];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, fp)) > 0;)
        bmp.insert(bmp.end(), buf, buf + n);
    std::fclose(fp);
    auto le32 = [&](size_t at) {
        return int32_t(uint32_t(bmp[at]) | uint32_t(bmp[at + 1]) << 8 | uint32_t(bmp[at + 2]) << 16 |
                       uint32_t(bmp[at + 3]) << 24);
    };
    if (bmp.size() < 62 || bmp[0] != 'B' || bmp[1] != 'M')
        return "not a BMP file";
    const int width = g.width / 2, rows = (g.height + 1) / 2;
    const size_t rowBytes = (size_t(width) + 31) / 32 * 4, offset = size_t(le32(10));
    if (le32(18) != width || le32(22) != -rows)
        return "BMP is " + std::to_string(le32(18)) + " x " + std::to_string(le32(22)) + ", expected " +
               std::to_string(width) + " x -" + std::to_string(rows);
    if (offset < 62 || bmp.size() < offset + rowBytes * size_t(rows))
        return "BMP is short";
    for (int t = 0; t < rows; ++t) {
        const uint8_t* in = src + size_t(2 * t) * g.rowBytes;
        const uint8_t* out = bmp.data() + offset + size_t(t) * rowBytes;
        for (int i = 0; i < width; ++i) {
            const bool want = in[(2 * i) >> 3] & (0x80 >> ((2 * i) & 7));
            const bool got = out[i >> 3] & (0x80 >> (i & 7));
            if (want != got)
                return "BMP row " + std::to_string(t) + " pixel " + std::to_string(i) + " differs";
        }
    }
    return {};
}

bool LoadRawStrips(const std::string& path, const Geometry& g, RawStrips* raw)
{
    TiffPtr t = OpenLt(path);
    if (!t)
        return false;
    raw->strips.assign(size_t(g.strips), {});
    for (int s = 0; s < g.strips; ++s) {
        const tmsize_t size = TIFFRawStripSize(t.get(), uint32_t(s));
        if (size <= 0)
            return false;
        raw->strips[size_t(s)].resize(size_t(size));
        if (TIFFReadRawStrip(t.get(), uint32_t(s), raw->strips[size_t(s)].data(), size) != size)
            return false;
    }
    return true;
}

bool ZlibInflate(const RawStrips& raw, const Geometry& g, uint8_t* out)
{
    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        return false;
    bool ok = true;
    size_t at = 0;
    for (const auto& s : raw.strips) {
        const size_t want = std::min(g.stripSize, g.Bytes() - at);
        z.next_in = const_cast<Bytef*>(s.data());
        z.avail_in = uInt(s.size());
        z.next_out = out + at;
        z.avail_out = uInt(want);
        const int rc = inflate(&z, Z_FINISH);
        if ((rc != Z_STREAM_END && rc != Z_OK && rc != Z_BUF_ERROR) || z.avail_out != 0) {
            ok = false;
            break;
        }
        at += want;
        inflateReset(&z);
    }
    inflateEnd(&z);
    return ok && at == g.Bytes();
}

long VxPeakHeap(const std::string& path, const Geometry& g)
{
    std::vector<uint8_t> row(g.rowBytes);
    const long base = HeapInUse();
    long peak = base;
    {
        CTifFile f;
        if (OpenVx(f, path, g) != VxResult::Ok)
            return -1;
        peak = std::max(peak, HeapInUse());
        for (int y = 0; y < g.height; ++y) {
            if (!f.ReadLine(row.data()))
                return -1;
            peak = std::max(peak, HeapInUse());
        }
        f.Close();
    }
    return peak - base;
}

long LtPeakHeap(const std::string& path, const Geometry& g)
{
    std::vector<uint8_t> row(g.rowBytes);
    const long base = HeapInUse();
    long peak = base;
    {
        TiffPtr t = OpenLt(path);
        if (!t)
            return -1;
        peak = std::max(peak, HeapInUse());
        for (int y = 0; y < g.height; ++y) {
            if (TIFFReadScanline(t.get(), row.data(), uint32_t(y), 0) != 1)
                return -1;
            peak = std::max(peak, HeapInUse());
        }
    }
    return peak - base;
}
