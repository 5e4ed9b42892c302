// libtiff_util.cpp — writing and reading reference files through libtiff's API.
#include "support/libtiff_util.h"

#include <algorithm>
#include <cstring>

#include <tiffio.h>

namespace tiftest {

namespace {

void Silence()
{
    static const bool once = [] {
        TIFFSetWarningHandler(nullptr);
        TIFFSetErrorHandler(nullptr);
        return true;
    }();
    (void)once;
}

struct Closer {
    TIFF* t;
    ~Closer()
    {
        if (t)
            TIFFClose(t);
    }
};

}  // namespace

bool WriteLibtiff(const std::string& path, const LibtiffSpec& s, const std::vector<Bytes>& rows)
{
    Silence();
    TIFF* t = TIFFOpen(path.c_str(), s.bigEndian ? "wb" : "wl");
    if (t == nullptr)
        return false;
    Closer closer{t};
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
    if (s.samples > 1 && s.photometric != PHOTOMETRIC_RGB && s.photometric != PHOTOMETRIC_SEPARATED &&
        s.photometric != PHOTOMETRIC_YCBCR) {
        std::vector<uint16_t> extra(s.samples - 1, EXTRASAMPLE_UNSPECIFIED);
        TIFFSetField(t, TIFFTAG_EXTRASAMPLES, static_cast<uint16_t>(extra.size()), extra.data());
    }
    if (!s.colorMap.empty()) {
        size_t n = s.colorMap.size() / 3;
        std::vector<uint16_t> m = s.colorMap;
        TIFFSetField(t, TIFFTAG_COLORMAP, m.data(), m.data() + n, m.data() + 2 * n);
    }
    if (s.xResolution > 0)
        TIFFSetField(t, TIFFTAG_XRESOLUTION, s.xResolution);
    if (s.yResolution > 0)
        TIFFSetField(t, TIFFTAG_YRESOLUTION, s.yResolution);
    if (s.resolutionUnit)
        TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, s.resolutionUnit);

    const uint32_t rowBytes = s.RowBytes();
    if (s.tileWidth) {
        TIFFSetField(t, TIFFTAG_TILEWIDTH, s.tileWidth);
        TIFFSetField(t, TIFFTAG_TILELENGTH, s.tileLength);
        const uint32_t tileRow = (s.tileWidth * s.samples * s.bits + 7) / 8;
        Bytes tile(size_t(tileRow) * s.tileLength);
        for (uint32_t y0 = 0; y0 < s.height; y0 += s.tileLength) {
            for (uint32_t x0 = 0; x0 < s.width; x0 += s.tileWidth) {
                std::fill(tile.begin(), tile.end(), 0);
                const uint32_t skip = x0 / s.tileWidth * tileRow;
                const uint32_t n = std::min(tileRow, rowBytes - skip);
                for (uint32_t r = 0; r < s.tileLength && y0 + r < s.height; ++r)
                    std::memcpy(&tile[size_t(r) * tileRow], rows[y0 + r].data() + skip, n);
                if (TIFFWriteEncodedTile(t, TIFFComputeTile(t, x0, y0, 0, 0), tile.data(),
                                         static_cast<tmsize_t>(tile.size())) < 0)
                    return false;
            }
        }
    } else {
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, s.rowsPerStrip ? s.rowsPerStrip : TIFFDefaultStripSize(t, 0));
        for (uint32_t y = 0; y < s.height; ++y) {
            Bytes row = rows[y];
            if (TIFFWriteScanline(t, row.data(), y, 0) < 0)
                return false;
        }
    }
    closer.t = nullptr;
    TIFFClose(t);
    return true;
}

bool ReadLibtiff(const std::string& path, std::vector<Bytes>* rows)
{
    Silence();
    rows->clear();
    TIFF* t = TIFFOpen(path.c_str(), "r");
    if (t == nullptr)
        return false;
    Closer closer{t};
    uint32_t width = 0, height = 0;
    uint16_t bits = 1, samples = 1;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &samples);
    const uint32_t rowBytes = (width * samples * bits + 7) / 8;
    rows->assign(height, Bytes(rowBytes));
    if (TIFFIsTiled(t)) {
        uint32_t tw = 0, tl = 0;
        TIFFGetField(t, TIFFTAG_TILEWIDTH, &tw);
        TIFFGetField(t, TIFFTAG_TILELENGTH, &tl);
        const uint32_t tileRow = (tw * samples * bits + 7) / 8;
        Bytes tile(static_cast<size_t>(TIFFTileSize(t)));
        for (uint32_t y0 = 0; y0 < height; y0 += tl) {
            for (uint32_t x0 = 0; x0 < width; x0 += tw) {
                if (TIFFReadTile(t, tile.data(), x0, y0, 0, 0) < 0)
                    return false;
                const uint32_t skip = x0 / tw * tileRow;
                const uint32_t n = std::min(tileRow, rowBytes - skip);
                for (uint32_t r = 0; r < tl && y0 + r < height; ++r)
                    std::memcpy((*rows)[y0 + r].data() + skip, &tile[size_t(r) * tileRow], n);
            }
        }
        return true;
    }
    Bytes line(static_cast<size_t>(TIFFScanlineSize(t)));
    for (uint32_t y = 0; y < height; ++y) {
        if (TIFFReadScanline(t, line.data(), y, 0) < 0)
            return false;
        std::memcpy((*rows)[y].data(), line.data(), std::min<size_t>(rowBytes, line.size()));
    }
    return true;
}

void SwapRows16(std::vector<Bytes>* rows)
{
    for (Bytes& r : *rows)
        for (size_t i = 0; i + 1 < r.size(); i += 2)
            std::swap(r[i], r[i + 1]);
}

}  // namespace tiftest
