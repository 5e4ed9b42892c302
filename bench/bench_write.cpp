// bench_write.cpp — the writing jobs for vxtiff, libtiff, zlib and tiffcrop.
#include "bench_write.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "bench_files.h"
#include "bench_image.h"
#include "tif/tif_file.h"

namespace {

struct TiffCloser {
    void operator()(TIFF* t) const { TIFFClose(t); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

void Quiet(const char*, const char*, va_list) {}

// Row y as handed to libtiff. Its predictor changes the row in place, so it
// gets a copy; vxtiff only reads the rows and gets the image's own.
void* RowToWrite(const BenchImage& img, const BenchFile& f, int y, std::vector<uint8_t>* copy)
{
    if (f.predictor != 2)
        return const_cast<uint8_t*>(img.Row(y));
    std::memcpy(copy->data(), img.Row(y), img.rowBytes);
    return copy->data();
}

int PhotometricType(const BenchImage& img)
{
    return img.bits == 1 ? VXIMG_MINISWHITE : img.samples == 3 ? VXIMG_RGB : VXIMG_MINISBLACK;
}

// Runs a shell command line quietly; its exit status (-1 when it did not run).
int Shell(const std::string& cmd)
{
    const int rc = std::system((cmd + " >/dev/null 2>&1").c_str());
    return rc == -1 || !WIFEXITED(rc) ? -1 : WEXITSTATUS(rc);
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

bool ReadAll(const std::string& path, std::vector<uint8_t>* pixels, uint32_t* w, uint32_t* h)
{
    TIFFSetWarningHandler(Quiet);
    TIFFSetErrorHandler(Quiet);
    TiffPtr t(BenchOpenForReading(path));
    if (!t)
        return false;
    TIFFGetField(t.get(), TIFFTAG_IMAGEWIDTH, w);
    TIFFGetField(t.get(), TIFFTAG_IMAGELENGTH, h);
    const size_t rowBytes = size_t(TIFFScanlineSize(t.get()));
    pixels->assign(rowBytes * *h, 0);
    for (uint32_t y = 0; y < *h; ++y)
        if (TIFFReadScanline(t.get(), pixels->data() + y * rowBytes, y, 0) != 1)
            return false;
    return true;
}

}  // namespace

bool SyncFile(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return false;
    const bool ok = fsync(fd) == 0;
    close(fd);
    return ok;
}

VxResult VxWriteLines(const std::string& path, const BenchImage& img, const BenchFile& f)
{
    VXIMGINFO info = {PhotometricType(img), 0, img.width, img.height, img.samples, img.bits, f.rowsPerStrip,
                      f.compression, 0, 0, img.dpi, img.dpi};
    CTifFile file;
    if (!file.Create(path.c_str(), &info))
        return VxResult::Unsupported;
    if ((f.compression == 3 && !file.SetEncodeParams(292, unsigned(f.t4Options))) ||
        (f.Jpeg() && !file.SetEncodeParams(65537, kBenchJpegQuality)) ||
        (f.predictor == 2 && !file.SetEncodeParams(317, 2))) {
        file.Close();
        return VxResult::Failed;
    }
    for (int y = 0; y < img.height; ++y) {
        if (!file.WriteLine(const_cast<uint8_t*>(img.Row(y)))) {
            file.Close();
            return VxResult::Failed;
        }
    }
    return file.Close() == 1 ? VxResult::Ok : VxResult::Failed;
}

bool LtWriteLines(const std::string& path, const BenchImage& img, const BenchFile& f)
{
    TIFFSetWarningHandler(Quiet);
    TIFFSetErrorHandler(Quiet);
    {
        TiffPtr t(TIFFOpen(path.c_str(), "w"));
        if (!t || !SetBenchFields(t.get(), img, f))
            return false;
        if (f.Deflate() && !TIFFSetField(t.get(), TIFFTAG_ZIPQUALITY, 1))
            return false;
        if (f.Jpeg() && !TIFFSetField(t.get(), TIFFTAG_JPEGQUALITY, int(kBenchJpegQuality)))
            return false;
        std::vector<uint8_t> row(img.rowBytes);
        for (int y = 0; y < img.height; ++y) {
            if (TIFFWriteScanline(t.get(), RowToWrite(img, f, y, &row), uint32_t(y), 0) != 1)
                return false;
        }
    }
    return SyncFile(path);
}

bool ZlibDeflateStrips(const std::string& path, const BenchImage& img, const BenchFile& f)
{
    const int rps = f.rowsPerStrip > 0 ? f.rowsPerStrip : img.height;
    z_stream z{};
    if (deflateInit(&z, 1) != Z_OK)
        return false;
    std::vector<uint8_t> out(deflateBound(&z, uLong(img.rowBytes * size_t(rps))));
    std::FILE* fp = std::fopen(path.c_str(), "wb");
    bool ok = fp != nullptr;
    for (int y = 0; ok && y < img.height; y += rps) {
        const int n = std::min(rps, img.height - y);
        z.next_in = const_cast<Bytef*>(img.Row(y));
        z.avail_in = uInt(img.rowBytes * size_t(n));
        z.next_out = out.data();
        z.avail_out = uInt(out.size());
        ok = deflate(&z, Z_FINISH) == Z_STREAM_END &&
             std::fwrite(out.data(), 1, out.size() - z.avail_out, fp) == out.size() - z.avail_out;
        deflateReset(&z);
    }
    deflateEnd(&z);
    if (fp != nullptr)
        ok = std::fclose(fp) == 0 && ok;
    return ok && SyncFile(path);
}

std::string CheckWritten(const std::string& path, const BenchImage& img)
{
    std::vector<uint8_t> pixels;
    uint32_t w = 0, h = 0;
    if (!ReadAll(path, &pixels, &w, &h))
        return "libtiff cannot read it back";
    if (int(w) != img.width || int(h) != img.height || pixels.size() != img.Bytes())
        return "read back as " + std::to_string(w) + " x " + std::to_string(h);
    for (int y = 0; y < img.height; ++y)
        if (std::memcmp(pixels.data() + size_t(y) * img.rowBytes, img.Row(y), img.rowBytes) != 0)
            return "row " + std::to_string(y) + " differs";
    return {};
}

std::string CheckSameDecoded(const std::string& path, const std::string& reference)
{
    std::vector<uint8_t> got, want;
    uint32_t w = 0, h = 0, rw = 0, rh = 0;
    if (!ReadAll(path, &got, &w, &h) || !ReadAll(reference, &want, &rw, &rh))
        return "libtiff cannot read it back";
    return w == rw && h == rh && got == want ? "" : "libtiff decodes other rows than from its own file";
}

VxResult VxToolRotate(const std::string& tool, const std::string& in, const std::string& out,
                      const std::string& codec)
{
    const std::string err = out + ".err";
    const int rc = std::system((Quote(tool) + " rotate " + Quote(in) + " " + Quote(out) + " 90 --compression " +
                                codec + " 2>" + Quote(err)).c_str());
    if (rc == 0)
        return VxResult::Ok;
    std::FILE* fp = std::fopen(err.c_str(), "r");
    char line[512] = "";
    if (fp != nullptr) {
        if (!std::fgets(line, sizeof line, fp))
            line[0] = '\0';
        std::fclose(fp);
    }
    return std::strstr(line, "no encoder") != nullptr ? VxResult::Unsupported : VxResult::Failed;
}

bool TiffcropRotate(const std::string& in, const std::string& out, const std::string& codec)
{
    std::remove(out.c_str());  // tiffcrop appends to an existing file
    return Shell("tiffcrop -R 90 -c " + codec + " " + Quote(in) + " " + Quote(out)) == 0 && SyncFile(out);
}

std::string CompareImages(const std::string& a, const std::string& b)
{
    std::vector<uint8_t> pa, pb;
    uint32_t wa = 0, ha = 0, wb = 0, hb = 0;
    if (!ReadAll(a, &pa, &wa, &ha) || !ReadAll(b, &pb, &wb, &hb))
        return "libtiff cannot read an output";
    if (wa != wb || ha != hb)
        return "sizes differ: " + std::to_string(wa) + " x " + std::to_string(ha) + " and " + std::to_string(wb) +
               " x " + std::to_string(hb);
    if (pa != pb)
        return "pixels differ";
    return {};
}
