// bench_files.cpp — the list of benchmark files and their libtiff writer.
#include "bench_files.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "bench_image.h"

std::vector<BenchFile> BenchFiles()
{
    std::vector<BenchFile> files;
    // An extra layout of a base file: the same image and compression, read by
    // `lines` (and `zlib`) only.
    auto strips = [](BenchFile f, const char* suffix, int rows) {
        f.name += suffix;
        f.rowsPerStrip = rows;
        f.linesOnly = true;
        return f;
    };
    auto tiles = [](BenchFile f) {
        f.name += "-t256";
        f.tileSize = 256;
        f.linesOnly = true;
        return f;
    };
    auto bigEndian = [](BenchFile f) {
        f.name += "-mm";
        f.bigEndian = true;
        f.linesOnly = true;
        return f;
    };
    // The same image as BigTIFF, to be read as fast as the classic file.
    auto bigTiff = [](BenchFile f) {
        f.name += "-big";
        f.bigTiff = true;
        f.linesOnly = true;
        return f;
    };

    // Bilevel: one strip per page, as scanners and fax software write them,
    // and the same pages in strips of 64 rows and in big-endian order. Group 3
    // rows start with an EOL; "1d"/"2d" are T4Options 0 and 1.
    const BenchFile fax[] = {{"fax-mh", BenchSource::FaxPage, 2, 0, 1, 0},
                             {"fax-g3-1d", BenchSource::FaxPage, 3, 0, 1, 0},
                             {"fax-g3-2d", BenchSource::FaxPage, 3, 1, 1, 0},
                             {"fax-g4", BenchSource::FaxPage, 4, 0, 1, 0}};
    const BenchFile drawing[] = {{"drawing-mh", BenchSource::Drawing, 2, 0, 1, 0},
                                 {"drawing-g3-1d", BenchSource::Drawing, 3, 0, 1, 0},
                                 {"drawing-g3-2d", BenchSource::Drawing, 3, 1, 1, 0},
                                 {"drawing-g4", BenchSource::Drawing, 4, 0, 1, 0}};
    for (const BenchFile& f : fax) {
        files.push_back(f);
        files.push_back(strips(f, "-s64", 64));
        files.push_back(bigEndian(f));
        if (f.compression == 4)
            files.push_back(bigTiff(f));
    }
    // The big drawing once per codec in one of the two extra layouts.
    for (int i = 0; i < 4; ++i) {
        files.push_back(drawing[i]);
        files.push_back(i % 2 == 1 ? strips(drawing[i], "-s64", 64) : bigEndian(drawing[i]));
    }

    // General: strips of 16 rows (64 KB grey, 192 KB RGB) in every
    // compression, each followed by the other layouts where they change the
    // work: 64-row strips and one strip (fewer, longer codec streams, fewer
    // reads), 256 x 256 tiles (rows put together from 16 tiles). A subset: the
    // cross product would take too long to run.
    const struct {
        const char* name;
        bool s64, single, t256;
    } extra[] = {
        {"grey-raw", true, true, true},          {"grey-packbits", true, false, true},
        {"grey-lzw", false, false, true},        {"grey-lzw-pred", true, true, true},
        {"grey-deflate", false, true, true},     {"grey-deflate-pred", false, false, true},
        {"rgb-raw", true, false, true},          {"rgb-packbits", false, false, true},
        {"rgb-lzw", true, true, true},           {"rgb-lzw-pred", false, false, true},
        {"rgb-deflate", false, false, true},     {"rgb-deflate-pred", true, false, true},
        {"camera-grey-lzw", true, true, true},   {"camera-grey-lzw-pred", false, false, true},
        {"camera-grey-deflate", false, false, true},
    };
    const struct {
        const char* prefix;
        BenchSource source;
    } general[] = {{"grey", BenchSource::Grey},
                   {"rgb", BenchSource::Rgb},
                   {"camera-grey", BenchSource::CameraGrey}};
    const struct {
        const char* suffix;
        int compression, predictor;
    } codecs[] = {{"-raw", 1, 1},  {"-packbits", 32773, 1}, {"-lzw", 5, 1},
                  {"-lzw-pred", 5, 2}, {"-deflate", 8, 1},  {"-deflate-pred", 8, 2}};
    for (const auto& g : general) {
        for (const auto& c : codecs) {
            const BenchFile f = {std::string(g.prefix) + c.suffix, g.source, c.compression, 0, c.predictor, 16};
            files.push_back(f);
            for (const auto& e : extra) {
                if (f.name != e.name)
                    continue;
                if (e.s64)
                    files.push_back(strips(f, "-s64", 64));
                if (e.single)
                    files.push_back(strips(f, "-single", 0));
                if (e.t256)
                    files.push_back(tiles(f));
                if (f.name == "grey-raw" || f.name == "grey-lzw-pred")
                    files.push_back(bigTiff(f));
                if (f.name == "grey-raw")
                    files.push_back(bigTiff(tiles(f)));
            }
        }
    }
    // JPEG (lossy, so read only): the photos as libtiff writes them, RGB as
    // YCbCr 2x2, in 16-row strips, in one strip and in tiles.
    for (const auto& [name, source] : {std::pair{"grey-jpeg", BenchSource::Grey}, {"rgb-jpeg", BenchSource::Rgb}}) {
        BenchFile f = {name, source, 7, 0, 1, 16};
        f.linesOnly = true;
        files.push_back(f);
        files.push_back(strips(f, "-single", 0));
        files.push_back(tiles(f));
    }
    return files;
}

bool SetBenchFields(TIFF* t, const BenchImage& img, const BenchFile& desc)
{
    const int rgb = desc.Jpeg() ? PHOTOMETRIC_YCBCR : PHOTOMETRIC_RGB;
    const int photometric = img.bits == 1 ? PHOTOMETRIC_MINISWHITE
                            : img.samples == 3 ? rgb : PHOTOMETRIC_MINISBLACK;
    const int rps = desc.rowsPerStrip > 0 ? desc.rowsPerStrip : img.height;
    bool ok = TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(img.width)) &&
              TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(img.height)) &&
              TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t(img.bits)) &&
              TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(img.samples)) &&
              TIFFSetField(t, TIFFTAG_PHOTOMETRIC, uint16_t(photometric)) &&
              TIFFSetField(t, TIFFTAG_PLANARCONFIG, uint16_t(PLANARCONFIG_CONTIG)) &&
              TIFFSetField(t, TIFFTAG_FILLORDER, uint16_t(FILLORDER_MSB2LSB)) &&
              TIFFSetField(t, TIFFTAG_COMPRESSION, uint16_t(desc.compression)) &&
              TIFFSetField(t, TIFFTAG_XRESOLUTION, float(img.dpi)) &&
              TIFFSetField(t, TIFFTAG_YRESOLUTION, float(img.dpi)) &&
              TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, uint16_t(RESUNIT_INCH));
    if (ok && desc.Tiled())
        ok = TIFFSetField(t, TIFFTAG_TILEWIDTH, uint32_t(desc.tileSize)) &&
             TIFFSetField(t, TIFFTAG_TILELENGTH, uint32_t(desc.tileSize));
    else if (ok)
        ok = TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, uint32_t(rps));
    if (ok && photometric == PHOTOMETRIC_YCBCR)  // libtiff is given RGB rows
        ok = TIFFSetField(t, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    if (ok && desc.compression == 3)
        ok = TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, uint32_t(desc.t4Options));
    if (ok && (desc.compression == 5 || desc.compression == 8 || desc.compression == 32946))
        ok = TIFFSetField(t, TIFFTAG_PREDICTOR, uint16_t(desc.predictor));
    return ok;
}

std::vector<BenchFile> BenchWriteFiles()
{
    std::vector<BenchFile> files;
    // 32946 for Deflate: the code vxtiff writes; libtiff writes it too.
    for (const auto& [prefix, source] : {std::pair{"grey", BenchSource::Grey}, {"rgb", BenchSource::Rgb}}) {
        const std::string p = prefix;
        files.push_back({p + "-raw", source, 1, 0, 1, 16});
        files.push_back({p + "-packbits", source, 32773, 0, 1, 16});
        files.push_back({p + "-deflate", source, 32946, 0, 1, 16});
        files.push_back({p + "-deflate-pred", source, 32946, 0, 2, 16});
        files.push_back({p + "-lzw", source, 5, 0, 1, 16});
        files.push_back({p + "-lzw-pred", source, 5, 0, 2, 16});
    }
    // JPEG at the same quality on both sides, RGB as YCbCr 2x2.
    files.push_back({"grey-jpeg", BenchSource::Grey, 7, 0, 1, 16});
    files.push_back({"rgb-jpeg", BenchSource::Rgb, 7, 0, 1, 16});
    // A photo whose grain defeats most matches: LZW's worst common case.
    const std::string c = "camera-grey";
    files.push_back({c + "-lzw", BenchSource::CameraGrey, 5, 0, 1, 16});
    files.push_back({c + "-lzw-pred", BenchSource::CameraGrey, 5, 0, 2, 16});
    const std::string d = "drawing";
    files.push_back({d + "-raw", BenchSource::Drawing, 1, 0, 1, 0});
    files.push_back({d + "-packbits", BenchSource::Drawing, 32773, 0, 1, 0});
    files.push_back({d + "-deflate", BenchSource::Drawing, 32946, 0, 1, 0});
    files.push_back({d + "-mh", BenchSource::Drawing, 2, 0, 1, 0});
    files.push_back({d + "-g3-1d", BenchSource::Drawing, 3, 0, 1, 0});
    files.push_back({d + "-g3-2d", BenchSource::Drawing, 3, 1, 1, 0});
    files.push_back({d + "-g4", BenchSource::Drawing, 4, 0, 1, 0});
    const std::string fax = "fax";
    files.push_back({fax + "-packbits", BenchSource::FaxPage, 32773, 0, 1, 0});
    files.push_back({fax + "-mh", BenchSource::FaxPage, 2, 0, 1, 0});
    files.push_back({fax + "-g3-2d", BenchSource::FaxPage, 3, 1, 1, 0});
    files.push_back({fax + "-g4", BenchSource::FaxPage, 4, 0, 1, 0});
    return files;
}

namespace {

struct TiffCloser {
    void operator()(TIFF* t) const { TIFFClose(t); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

void Quiet(const char*, const char*, va_list) {}

// The tile at (x0, y0) cut from `img`, zero past the image's edges.
void CutTile(const BenchImage& img, int x0, int y0, int side, std::vector<uint8_t>* tile)
{
    const size_t pixelBytes = size_t(img.samples) * size_t(img.bits) / 8;  // bytes only: no bilevel tiles
    const size_t tileRow = size_t(side) * pixelBytes;
    const size_t from = size_t(x0) * pixelBytes;
    const size_t n = std::min(tileRow, img.rowBytes - from);
    tile->assign(tileRow * size_t(side), 0);
    for (int r = 0; r < side && y0 + r < img.height; ++r)
        std::memcpy(tile->data() + size_t(r) * tileRow, img.Row(y0 + r) + from, n);
}

// Writes `img` as page `page` of `pages` into `t` (PageNumber only when there
// are several), its directory included.
std::string WritePage(TIFF* t, const std::string& path, const BenchImage& img, const BenchFile& desc, int page,
                      int pages)
{
    if (!SetBenchFields(t, img, desc) ||
        (pages > 1 && !TIFFSetField(t, TIFFTAG_PAGENUMBER, uint16_t(page), uint16_t(pages))))
        return "libtiff refused a tag of " + path;
    if (desc.Tiled()) {
        std::vector<uint8_t> tile;
        for (int y = 0; y < img.height; y += desc.tileSize) {
            for (int x = 0; x < img.width; x += desc.tileSize) {
                CutTile(img, x, y, desc.tileSize, &tile);
                if (TIFFWriteTile(t, tile.data(), uint32_t(x), uint32_t(y), 0, 0) < 0)
                    return "libtiff failed writing a tile of " + path;
            }
        }
    } else {
        std::vector<uint8_t> row(img.rowBytes);
        for (int y = 0; y < img.height; ++y) {
            // libtiff may modify the row it encodes (the predictor works in place).
            std::memcpy(row.data(), img.Row(y), img.rowBytes);
            if (TIFFWriteScanline(t, row.data(), uint32_t(y), 0) != 1)
                return "libtiff failed writing row " + std::to_string(y) + " of " + path;
        }
    }
    if (!TIFFWriteDirectory(t))
        return "libtiff failed writing the directory of " + path;
    return {};
}

std::string Write(const std::string& path, const std::vector<const BenchImage*>& pages, const BenchFile& desc)
{
    TiffPtr t(TIFFOpen(path.c_str(), desc.bigTiff ? (desc.bigEndian ? "wb8" : "wl8") : desc.bigEndian ? "wb" : "wl"));
    if (!t)
        return "cannot create " + path;
    const int n = int(pages.size());
    for (int i = 0; i < n; ++i)
        if (std::string err = WritePage(t.get(), path, *pages[size_t(i)], desc, i, n); !err.empty())
            return err;
    return {};
}

// Checks the directory `t` is on against `img`.
std::string CheckPage(TIFF* t, const std::string& path, const BenchImage& img, const BenchFile& desc)
{
    if (size_t(TIFFScanlineSize(t)) != img.rowBytes)
        return "unexpected row size in " + path;
    if (TIFFIsBigEndian(t) != int(desc.bigEndian) || TIFFIsTiled(t) != int(desc.Tiled()) ||
        TIFFIsBigTIFF(t) != int(desc.bigTiff))
        return "unexpected layout of " + path;
    const bool lossy = desc.Jpeg();
    if (desc.Tiled()) {
        std::vector<uint8_t> want, got(size_t(TIFFTileSize(t)));
        for (int y = 0; y < img.height; y += desc.tileSize) {
            for (int x = 0; x < img.width; x += desc.tileSize) {
                CutTile(img, x, y, desc.tileSize, &want);
                if (got.size() != want.size() ||
                    TIFFReadTile(t, got.data(), uint32_t(x), uint32_t(y), 0, 0) != tmsize_t(got.size()) ||
                    (got != want && !lossy))
                    return "tile at " + std::to_string(x) + "," + std::to_string(y) + " of " + path +
                           " does not read back";
            }
        }
        return {};
    }
    std::vector<uint8_t> row(img.rowBytes);
    for (int y = 0; y < img.height; ++y) {
        if (TIFFReadScanline(t, row.data(), uint32_t(y), 0) != 1 ||
            (std::memcmp(row.data(), img.Row(y), img.rowBytes) != 0 && !lossy))
            return "row " + std::to_string(y) + " of " + path + " does not read back";
    }
    return {};
}

std::string Check(const std::string& path, const std::vector<const BenchImage*>& pages, const BenchFile& desc)
{
    TiffPtr t(BenchOpenForReading(path));
    if (!t)
        return "libtiff cannot open " + path;
    for (size_t i = 0; i < pages.size(); ++i) {
        if (i > 0 && !TIFFReadDirectory(t.get()))
            return path + " has " + std::to_string(i) + " pages";
        if (std::string err = CheckPage(t.get(), path, *pages[i], desc); !err.empty())
            return err;
    }
    return TIFFReadDirectory(t.get()) ? path + " has more pages than written" : std::string();
}

}  // namespace

TIFF* BenchOpenForReading(const std::string& path)
{
    TIFF* t = TIFFOpen(path.c_str(), "r");
    uint16_t compression = 1, photometric = 1;
    if (t != nullptr && TIFFGetField(t, TIFFTAG_COMPRESSION, &compression) && compression == COMPRESSION_JPEG &&
        TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric) && photometric == PHOTOMETRIC_YCBCR)
        TIFFSetField(t, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    return t;
}

std::string WriteBenchFile(const std::string& path, const BenchImage& img, const BenchFile& desc)
{
    return WriteBenchDocument(path, {&img}, desc);
}

std::string WriteBenchDocument(const std::string& path, const std::vector<const BenchImage*>& pages,
                               const BenchFile& desc)
{
    TIFFSetWarningHandler(Quiet);
    const std::string tmp = path + ".part";
    std::string err = Write(tmp, pages, desc);
    if (err.empty())
        err = Check(tmp, pages, desc);
    if (err.empty() && std::rename(tmp.c_str(), path.c_str()) != 0)
        err = "cannot rename " + tmp;
    if (!err.empty())
        std::remove(tmp.c_str());
    return err;
}
