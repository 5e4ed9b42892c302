// bench_jobs.cpp — the benchmark jobs for vxtiff, libtiff and zlib.
#include "bench_jobs.h"

#include <malloc.h>
#include <tiffio.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "bench_files.h"
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
    return TiffPtr(BenchOpenForReading(path));
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

// Reads a file line by line with libtiff: TIFFReadScanline for strips; for
// tiles, every tile of a tile row into a tile-row buffer when a line of a new
// tile row is asked for, then the line copied out of its tiles.
class LtLineReader {
public:
    LtLineReader(const std::string& path, const Geometry& g) : t_(OpenLt(path)), g_(g)
    {
        if (t_ && g.Tiled())
            tileRow_.resize(g.tileSize * size_t(g.tilesAcross));
    }
    bool Opened() const { return t_ != nullptr; }

    bool Read(int y, uint8_t* row)
    {
        if (!g_.Tiled())
            return TIFFReadScanline(t_.get(), row, uint32_t(y), 0) == 1;
        const int tileRow = y / g_.tileLength;
        if (tileRow != held_) {
            for (int i = 0; i < g_.tilesAcross; ++i)
                if (TIFFReadEncodedTile(t_.get(), uint32_t(tileRow * g_.tilesAcross + i),
                                        tileRow_.data() + size_t(i) * g_.tileSize, tmsize_t(g_.tileSize)) < 0)
                    return false;
            held_ = tileRow;
        }
        const size_t tileRowBytes = g_.TileRowBytes();
        const uint8_t* line = tileRow_.data() + size_t(y % g_.tileLength) * tileRowBytes;
        size_t room = g_.rowBytes;
        for (int i = 0; room > 0; ++i) {
            const size_t n = std::min(room, tileRowBytes);
            std::memcpy(row + size_t(i) * tileRowBytes, line + size_t(i) * g_.tileSize, n);
            room -= n;
        }
        return true;
    }

private:
    TiffPtr t_;
    const Geometry& g_;
    std::vector<uint8_t> tileRow_;
    int held_ = -1;
};

// Predictor 2 undone in place on `rows` rows of 8-bit samples.
void UndoPredictor(uint8_t* p, size_t rowBytes, size_t rows, int samples)
{
    for (size_t r = 0; r < rows; ++r, p += rowBytes)
        for (size_t i = size_t(samples); i < rowBytes; ++i)
            p[i] = uint8_t(p[i] + p[i - size_t(samples)]);
}

// Inflates one whole strip or tile; false unless it fills `out` exactly.
bool InflateInto(z_stream* z, const std::vector<uint8_t>& in, uint8_t* out, size_t want)
{
    z->next_in = const_cast<Bytef*>(in.data());
    z->avail_in = uInt(in.size());
    z->next_out = out;
    z->avail_out = uInt(want);
    const int rc = inflate(z, Z_FINISH);
    inflateReset(z);
    return (rc == Z_STREAM_END || rc == Z_OK || rc == Z_BUF_ERROR) && z->avail_out == 0;
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
    uint16_t spp = 1, predictor = 1;
    TIFFGetFieldDefaulted(t.get(), TIFFTAG_SAMPLESPERPIXEL, &spp);
    uint16_t compression = 1;
    TIFFGetFieldDefaulted(t.get(), TIFFTAG_COMPRESSION, &compression);
    if (compression == 5 || compression == 8 || compression == 32946)
        TIFFGetFieldDefaulted(t.get(), TIFFTAG_PREDICTOR, &predictor);
    g->samples = spp;
    g->predictor = predictor;
    if (TIFFIsTiled(t.get())) {
        uint32_t tw = 0, tl = 0;
        TIFFGetField(t.get(), TIFFTAG_TILEWIDTH, &tw);
        TIFFGetField(t.get(), TIFFTAG_TILELENGTH, &tl);
        g->tileWidth = int(tw);
        g->tileLength = int(tl);
        g->tileSize = size_t(TIFFTileSize(t.get()));
        g->tilesAcross = tw > 0 ? int((w + tw - 1) / tw) : 0;
        g->strips = int(TIFFNumberOfTiles(t.get()));
        if (tw == 0 || tl == 0 || g->tileSize == 0)
            return false;
    } else {
        g->strips = int(TIFFNumberOfStrips(t.get()));
        g->stripSize = size_t(TIFFStripSize(t.get()));
    }
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
    LtLineReader lt(path, g);
    if (!lt.Opened())
        return false;
    for (int y = 0; y < g.height; ++y)
        if (!lt.Read(y, out + size_t(y) * g.rowBytes))
            return false;
    return true;
}

VxResult VxSeekLastLine(const std::string& path, const Geometry& g, uint8_t* out)
{
    CTifFile f;
    VxResult r = OpenVx(f, path, g);
    if (r == VxResult::Ok && !(f.SeekLine(g.height - 1) && f.ReadLine(out)))
        r = VxResult::Failed;
    f.Close();
    return r;
}

bool LtSeekLastLine(const std::string& path, const Geometry& g, uint8_t* out)
{
    // libtiff's JPEG codec has no random access: the rows before are read.
    LtLineReader lt(path, g);
    bool ok = lt.Opened();
    for (int y = 0; ok && y < g.height; ++y)
        ok = lt.Read(y, out);
    return ok;
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
    if (!t || g.Tiled())
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
    uint64_t* counts = nullptr;
    if (!TIFFGetField(t.get(), g.Tiled() ? TIFFTAG_TILEBYTECOUNTS : TIFFTAG_STRIPBYTECOUNTS, &counts) || !counts)
        return false;
    for (int s = 0; s < g.strips; ++s) {
        const tmsize_t size = tmsize_t(counts[s]);
        if (size <= 0)
            return false;
        auto& data = raw->strips[size_t(s)];
        data.resize(size_t(size));
        const tmsize_t got = g.Tiled() ? TIFFReadRawTile(t.get(), uint32_t(s), data.data(), size)
                                       : TIFFReadRawStrip(t.get(), uint32_t(s), data.data(), size);
        if (got != size)
            return false;
    }
    return true;
}

bool ZlibInflate(const RawStrips& raw, const Geometry& g, uint8_t* out)
{
    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        return false;
    bool ok = size_t(g.strips) == raw.strips.size();
    const bool pred = g.predictor == 2;
    if (g.Tiled()) {
        const size_t tileRowBytes = g.TileRowBytes();
        std::vector<uint8_t> tiles(g.tileSize * size_t(g.tilesAcross));
        for (int y0 = 0, s = 0; ok && y0 < g.height; y0 += g.tileLength) {
            for (int i = 0; ok && i < g.tilesAcross; ++i, ++s) {
                uint8_t* tile = tiles.data() + size_t(i) * g.tileSize;
                ok = InflateInto(&z, raw.strips[size_t(s)], tile, g.tileSize);
                if (ok && pred)
                    UndoPredictor(tile, tileRowBytes, size_t(g.tileLength), g.samples);
            }
            for (int r = 0; ok && r < g.tileLength && y0 + r < g.height; ++r) {
                uint8_t* row = out + size_t(y0 + r) * g.rowBytes;
                size_t room = g.rowBytes;
                for (int i = 0; room > 0; ++i) {
                    const size_t n = std::min(room, tileRowBytes);
                    std::memcpy(row + size_t(i) * tileRowBytes,
                                tiles.data() + size_t(i) * g.tileSize + size_t(r) * tileRowBytes, n);
                    room -= n;
                }
            }
        }
        inflateEnd(&z);
        return ok;
    }
    size_t at = 0;
    for (const auto& s : raw.strips) {
        if (!ok)
            break;
        const size_t want = std::min(g.stripSize, g.Bytes() - at);
        ok = InflateInto(&z, s, out + at, want);
        if (ok && pred)
            UndoPredictor(out + at, g.rowBytes, want / g.rowBytes, g.samples);
        at += want;
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
        LtLineReader lt(path, g);
        if (!lt.Opened())
            return -1;
        peak = std::max(peak, HeapInUse());
        for (int y = 0; y < g.height; ++y) {
            if (!lt.Read(y, row.data()))
                return -1;
            peak = std::max(peak, HeapInUse());
        }
    }
    return peak - base;
}
