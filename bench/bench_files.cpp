// bench_files.cpp — the list of benchmark files and their libtiff writer.
#include "bench_files.h"

#include <tiffio.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "bench_image.h"

std::vector<BenchFile> BenchFiles()
{
    std::vector<BenchFile> files;
    // Bilevel: one strip per page, as scanners and fax software write them.
    // Group 3 rows start with an EOL; "1d"/"2d" are T4Options 0 and 1.
    const struct {
        const char* prefix;
        BenchSource source;
    } bilevel[] = {{"fax", BenchSource::FaxPage}, {"drawing", BenchSource::Drawing}};
    for (const auto& b : bilevel) {
        const std::string p = b.prefix;
        files.push_back({p + "-mh", b.source, 2, 0, 1, 0});
        files.push_back({p + "-g3-1d", b.source, 3, 0, 1, 0});
        files.push_back({p + "-g3-2d", b.source, 3, 1, 1, 0});
        files.push_back({p + "-g4", b.source, 4, 0, 1, 0});
    }
    // General: strips of 16 rows (64 KB grey, 192 KB RGB).
    const struct {
        const char* prefix;
        BenchSource source;
    } general[] = {{"grey", BenchSource::Grey},
                   {"rgb", BenchSource::Rgb},
                   {"camera-grey", BenchSource::CameraGrey}};
    for (const auto& g : general) {
        const std::string p = g.prefix;
        files.push_back({p + "-raw", g.source, 1, 0, 1, 16});
        files.push_back({p + "-packbits", g.source, 32773, 0, 1, 16});
        files.push_back({p + "-lzw", g.source, 5, 0, 1, 16});
        files.push_back({p + "-lzw-pred", g.source, 5, 0, 2, 16});
        files.push_back({p + "-deflate", g.source, 8, 0, 1, 16});
        files.push_back({p + "-deflate-pred", g.source, 8, 0, 2, 16});
    }
    return files;
}

bool SetBenchFields(TIFF* t, const BenchImage& img, const BenchFile& desc)
{
    const int photometric = img.bits == 1 ? PHOTOMETRIC_MINISWHITE
                            : img.samples == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    const int rps = desc.rowsPerStrip > 0 ? desc.rowsPerStrip : img.height;
    bool ok = TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(img.width)) &&
              TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(img.height)) &&
              TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t(img.bits)) &&
              TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(img.samples)) &&
              TIFFSetField(t, TIFFTAG_PHOTOMETRIC, uint16_t(photometric)) &&
              TIFFSetField(t, TIFFTAG_PLANARCONFIG, uint16_t(PLANARCONFIG_CONTIG)) &&
              TIFFSetField(t, TIFFTAG_FILLORDER, uint16_t(FILLORDER_MSB2LSB)) &&
              TIFFSetField(t, TIFFTAG_COMPRESSION, uint16_t(desc.compression)) &&
              TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, uint32_t(rps)) &&
              TIFFSetField(t, TIFFTAG_XRESOLUTION, float(img.dpi)) &&
              TIFFSetField(t, TIFFTAG_YRESOLUTION, float(img.dpi)) &&
              TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, uint16_t(RESUNIT_INCH));
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

std::string Write(const std::string& path, const BenchImage& img, const BenchFile& desc)
{
    TiffPtr t(TIFFOpen(path.c_str(), "w"));
    if (!t)
        return "cannot create " + path;
    if (!SetBenchFields(t.get(), img, desc))
        return "libtiff refused a tag of " + path;
    std::vector<uint8_t> row(img.rowBytes);
    for (int y = 0; y < img.height; ++y) {
        // libtiff may modify the row it encodes (the predictor works in place).
        std::memcpy(row.data(), img.Row(y), img.rowBytes);
        if (TIFFWriteScanline(t.get(), row.data(), uint32_t(y), 0) != 1)
            return "libtiff failed writing row " + std::to_string(y) + " of " + path;
    }
    if (!TIFFWriteDirectory(t.get()))
        return "libtiff failed writing the directory of " + path;
    return {};
}

std::string Check(const std::string& path, const BenchImage& img)
{
    TiffPtr t(TIFFOpen(path.c_str(), "r"));
    if (!t)
        return "libtiff cannot open " + path;
    if (size_t(TIFFScanlineSize(t.get())) != img.rowBytes)
        return "unexpected row size in " + path;
    std::vector<uint8_t> row(img.rowBytes);
    for (int y = 0; y < img.height; ++y) {
        if (TIFFReadScanline(t.get(), row.data(), uint32_t(y), 0) != 1 ||
            std::memcmp(row.data(), img.Row(y), img.rowBytes) != 0)
            return "row " + std::to_string(y) + " of " + path + " does not read back";
    }
    return {};
}

}  // namespace

std::string WriteBenchFile(const std::string& path, const BenchImage& img, const BenchFile& desc)
{
    TIFFSetWarningHandler(Quiet);
    const std::string tmp = path + ".part";
    std::string err = Write(tmp, img, desc);
    if (err.empty())
        err = Check(tmp, img);
    if (err.empty() && std::rename(tmp.c_str(), path.c_str()) != 0)
        err = "cannot rename " + tmp;
    if (!err.empty())
        std::remove(tmp.c_str());
    return err;
}
