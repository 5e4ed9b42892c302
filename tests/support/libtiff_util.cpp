// libtiff_util.cpp — writing and reading reference files through libtiff's API.
#include "support/libtiff_util.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

#include <tiffio.h>

namespace tiftest {

namespace {

using Tiff = std::unique_ptr<TIFF, void (*)(TIFF*)>;

void SilenceOnce()
{
    static const bool silenced = (TIFFSetWarningHandler(nullptr), TIFFSetErrorHandler(nullptr), true);
    (void)silenced;
}

Tiff OpenTiff(const std::string& path, const char* mode)
{
    SilenceOnce();
    return Tiff(TIFFOpen(path.c_str(), mode), TIFFClose);
}

// Visits every tile of a tiled image: its first row and the byte range of
// the image row it covers.
template <class F>
bool EachTile(uint32_t width, uint32_t height, uint32_t tw, uint32_t tl, uint32_t tileRow, uint32_t rowBytes, F f)
{
    for (uint32_t y0 = 0; y0 < height; y0 += tl)
        for (uint32_t x0 = 0; x0 < width; x0 += tw) {
            const uint32_t skip = x0 / tw * tileRow;
            if (!f(x0, y0, skip, std::min(tileRow, rowBytes - skip)))
                return false;
        }
    return true;
}

}  // namespace

namespace {

// Sets the fields of the current directory and writes its image.
bool WriteImage(TIFF* t, const LibtiffPage& s, const std::vector<Bytes>& rows)
{
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, s.width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, s.height);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, s.bits);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, s.samples);
    TIFFSetField(t, TIFFTAG_COMPRESSION, s.compression);
    if (s.predictor != 1 && !TIFFSetField(t, TIFFTAG_PREDICTOR, s.predictor))
        return false;
    if (s.compression == COMPRESSION_CCITTFAX3)
        TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, s.t4Options);
    if (s.fillOrder != 1)
        TIFFSetField(t, TIFFTAG_FILLORDER, s.fillOrder);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, s.photometric);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    if (s.photometric == PHOTOMETRIC_SEPARATED)
        TIFFSetField(t, TIFFTAG_INKSET, INKSET_CMYK);
    if (s.compression == COMPRESSION_JPEG && s.photometric == PHOTOMETRIC_YCBCR) {
        TIFFSetField(t, TIFFTAG_YCBCRSUBSAMPLING, s.subsampling[0], s.subsampling[1]);
        TIFFSetField(t, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    }
    if (s.samples > 1 && s.photometric != PHOTOMETRIC_RGB && s.photometric != PHOTOMETRIC_SEPARATED &&
        s.photometric != PHOTOMETRIC_YCBCR) {
        std::vector<uint16_t> extra(s.samples - 1, EXTRASAMPLE_UNSPECIFIED);
        TIFFSetField(t, TIFFTAG_EXTRASAMPLES, static_cast<uint16_t>(extra.size()), extra.data());
    }
    if (!s.colorMap.empty()) {
        std::vector<uint16_t> m = s.colorMap;
        const size_t n = m.size() / 3;
        TIFFSetField(t, TIFFTAG_COLORMAP, m.data(), m.data() + n, m.data() + 2 * n);
    }
    if (s.xResolution > 0)
        TIFFSetField(t, TIFFTAG_XRESOLUTION, s.xResolution);
    if (s.yResolution > 0)
        TIFFSetField(t, TIFFTAG_YRESOLUTION, s.yResolution);
    if (s.resolutionUnit)
        TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, s.resolutionUnit);
    if (s.tileWidth == 0) {
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, s.rowsPerStrip ? s.rowsPerStrip : TIFFDefaultStripSize(t, 0));
        for (uint32_t y = 0; y < s.height; ++y)
            if (Bytes row = rows[y]; TIFFWriteScanline(t, row.data(), y, 0) < 0)
                return false;
        return true;
    }
    TIFFSetField(t, TIFFTAG_TILEWIDTH, s.tileWidth);
    TIFFSetField(t, TIFFTAG_TILELENGTH, s.tileLength);
    const uint32_t tileRow = (s.tileWidth * s.samples * s.bits + 7) / 8;
    return EachTile(s.width, s.height, s.tileWidth, s.tileLength, tileRow, s.RowBytes(),
                    [&](uint32_t x0, uint32_t y0, uint32_t skip, uint32_t n) {
                        Bytes tile(size_t(tileRow) * s.tileLength, 0);
                        for (uint32_t r = 0; r < s.tileLength && y0 + r < s.height; ++r)
                            std::memcpy(&tile[size_t(r) * tileRow], rows[y0 + r].data() + skip, n);
                        return TIFFWriteEncodedTile(t, TIFFComputeTile(t, x0, y0, 0, 0), tile.data(),
                                                    static_cast<tmsize_t>(tile.size())) >= 0;
                    });
}

}  // namespace

bool WriteLibtiff(const std::string& path, const LibtiffPage& s, const std::vector<Bytes>& rows)
{
    Tiff tiff = OpenTiff(path, (std::string(s.bigEndian ? "wb" : "wl") + (s.bigTiff ? "8" : "")).c_str());
    return tiff != nullptr && WriteImage(tiff.get(), s, rows);
}

bool WriteLibtiffPages(const std::string& path, const std::vector<LibtiffPage>& pages,
                       const std::vector<std::vector<Bytes>>& rows)
{
    if (pages.empty() || pages.size() != rows.size())
        return false;
    Tiff tiff = OpenTiff(path, (std::string(pages[0].bigEndian ? "wb" : "wl") + (pages[0].bigTiff ? "8" : "")).c_str());
    if (tiff == nullptr)
        return false;
    for (size_t i = 0; i < pages.size(); ++i)
        if (!WriteImage(tiff.get(), pages[i], rows[i]) || !TIFFWriteDirectory(tiff.get()))
            return false;
    return true;
}

bool ReadLibtiff(const std::string& path, std::vector<Bytes>* rows, int page)
{
    rows->clear();
    Tiff tiff = OpenTiff(path, "r");
    TIFF* t = tiff.get();
    if (t == nullptr || (page > 0 && !TIFFSetDirectory(t, tdir_t(page))))
        return false;
    uint32_t width = 0, height = 0, tw = 0, tl = 0;
    uint16_t bits = 1, samples = 1;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &samples);
    uint16_t compression = 1, photometric = 0;
    TIFFGetFieldDefaulted(t, TIFFTAG_COMPRESSION, &compression);
    TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric);
    if (compression == COMPRESSION_JPEG && photometric == PHOTOMETRIC_YCBCR)
        TIFFSetField(t, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    const uint32_t rowBytes = (width * samples * bits + 7) / 8;
    rows->assign(height, Bytes(rowBytes));
    if (!TIFFIsTiled(t)) {
        Bytes line(static_cast<size_t>(TIFFScanlineSize(t)));
        for (uint32_t y = 0; y < height; ++y) {
            if (TIFFReadScanline(t, line.data(), y, 0) < 0)
                return false;
            std::memcpy((*rows)[y].data(), line.data(), std::min<size_t>(rowBytes, line.size()));
        }
        return true;
    }
    TIFFGetField(t, TIFFTAG_TILEWIDTH, &tw);
    TIFFGetField(t, TIFFTAG_TILELENGTH, &tl);
    const uint32_t tileRow = (tw * samples * bits + 7) / 8;
    Bytes tile(static_cast<size_t>(TIFFTileSize(t)));
    return EachTile(width, height, tw, tl, tileRow, rowBytes, [&](uint32_t x0, uint32_t y0, uint32_t skip, uint32_t n) {
        if (TIFFReadTile(t, tile.data(), x0, y0, 0, 0) < 0)
            return false;
        for (uint32_t r = 0; r < tl && y0 + r < height; ++r)
            std::memcpy((*rows)[y0 + r].data() + skip, &tile[size_t(r) * tileRow], n);
        return true;
    });
}

namespace {

std::string* g_complaints = nullptr;

void Complain(const char* module, const char* fmt, va_list ap)
{
    char message[512];
    std::vsnprintf(message, sizeof message, fmt, ap);
    if (g_complaints != nullptr)
        *g_complaints += std::string(module ? module : "") + ": " + message + "\n";
}

}  // namespace

bool ReadLibtiffStrict(const std::string& path, std::vector<Bytes>* rows, std::string* complaints, int page)
{
    SilenceOnce();  // so that it cannot undo what follows
    g_complaints = complaints;
    TIFFSetWarningHandler(Complain);
    TIFFSetErrorHandler(Complain);
    const bool ok = ReadLibtiff(path, rows, page);
    TIFFSetWarningHandler(nullptr);
    TIFFSetErrorHandler(nullptr);
    g_complaints = nullptr;
    return ok;
}

void SwapRows16(std::vector<Bytes>* rows)
{
    for (Bytes& r : *rows)
        for (size_t i = 0; i + 1 < r.size(); i += 2)
            std::swap(r[i], r[i + 1]);
}

}  // namespace tiftest
