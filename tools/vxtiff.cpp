// vxtiff — command-line front end of the library.
//
//   vxtiff info FILE                  print the description of a TIFF file
//   vxtiff tobmp IN.tif OUT.bmp DPI   convert a bilevel TIFF to a 1-bit BMP at DPI
//   vxtiff convert IN OUT [options]   re-encode a TIFF file line by line
//   vxtiff rotate IN OUT 90|270 [options]   write the image turned a quarter turn
#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "convert/tif2bmp.h"
#include "tif/tif_file.h"
#include "write_commands.h"

namespace {

const char* CompressionName(int c)
{
    switch (c) {
    case 0: return "none given";
    case 1: return "uncompressed";
    case 2: return "CCITT Modified Huffman";
    case 3: return "CCITT Group 3";
    case 4: return "CCITT Group 4";
    case 5: return "LZW";
    case 7: return "JPEG";
    case 8: return "Deflate (Adobe)";
    case 32773: return "PackBits";
    case 32946: return "Deflate";
    default: return "unknown";
    }
}

const char* PredictorName(int p)
{
    switch (p) {
    case 1: return "none";
    case 2: return "horizontal differencing";
    case 3: return "floating point";
    default: return "unknown";
    }
}

const char* ImageTypeName(int t)
{
    switch (t) {
    case VXIMG_MINISWHITE: return "min-is-white";
    case VXIMG_MINISBLACK: return "min-is-black";
    case VXIMG_RGB: return "RGB";
    case VXIMG_PALETTE: return "palette";
    case VXIMG_CMYK: return "CMYK";
    default: return "unknown";
    }
}

void PrintUsage(std::FILE* to)
{
    std::fprintf(to, "usage: vxtiff info FILE\n"
                     "       vxtiff tobmp IN.tif OUT.bmp DPI\n"
                     "%s",
                 kWriteUsage);
}

int Usage()
{
    PrintUsage(stderr);
    return 2;
}

int Info(const char* path)
{
    CTifFile file;
    if (!file.Open(path)) {
        std::fprintf(stderr, "vxtiff: cannot open %s as a readable TIFF image\n", path);
        return 1;
    }
    VXIMGINFO info;
    file.GetImgInfo(&info);
    std::printf("file:          %s\n", path);
    std::printf("size:          %d x %d pixels\n", info.nWidth, info.nHeight);
    std::printf("samples:       %d per pixel, %d bits each\n", info.nSamplesPerPixel, info.nBitsPerSample);
    std::printf("photometric:   %s (type %d)\n", ImageTypeName(info.nImageType), info.nImageType);
    std::printf("compression:   %s (%d)\n", CompressionName(info.nCompression), info.nCompression);
    int predictor = 1;
    file.GetTagValue(317, &predictor);
    std::printf("predictor:     %s (%d)\n", PredictorName(predictor), predictor);
    if (info.bTiled)
        std::printf("layout:        tiles of %d x %d\n", info.nTileWidth, info.nTileLength);
    else
        std::printf("layout:        strips of %d rows\n", info.nRowsPerStrip);
    std::printf("resolution:    %g x %g pixels per inch\n", info.dXResolution, info.dYResolution);
    if (info.nImageType == VXIMG_PALETTE)
        std::printf("palette:       %d colours\n", file.m_nColors);
    file.Close();
    return 0;
}

const char* ConversionFailure(int code)
{
    switch (code) {
    case VXTIFF2BMP_ERR_OPEN: return "cannot open the input as a readable TIFF image";
    case VXTIFF2BMP_ERR_CREATE: return "cannot create the output file";
    case VXTIFF2BMP_ERR_MEMORY: return "out of memory";
    case VXTIFF2BMP_ERR_TARGET: return "the resolution must be 2 or more pixels per inch";
    case VXTIFF2BMP_ERR_NOT_BILEVEL: return "the input is not a bilevel (1 bit per pixel) image";
    case VXTIFF2BMP_ERR_NO_RESOLUTION: return "the input has no horizontal resolution";
    case VXTIFF2BMP_ERR_SIZE: return "the output would be empty or too large at that resolution";
    case VXTIFF2BMP_ERR_WRITE: return "writing the output file failed";
    case VXTIFF2BMP_ERR_CUT_SHORT: return "the input's image data ends early; the output holds the rows before that point";
    default: return "conversion failed";
    }
}

bool StderrIsTerminal()
{
#if defined(_WIN32)
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

// A bar on the terminal, redrawn only when it changes.
void VXTIFF_STDCALL ShowProgress(void* context, int written, int total)
{
    constexpr int kWidth = 40;
    int* shown = static_cast<int*>(context);
    const int filled = total > 0 ? int(int64_t(written) * kWidth / total) : kWidth;
    if (filled == *shown && written != total)
        return;
    *shown = filled;
    std::fprintf(stderr, "\r[%.*s%*s] %d/%d rows", filled, "########################################",
                 kWidth - filled, "", written, total);
    if (written == total)
        std::fputc('\n', stderr);
    std::fflush(stderr);
}

int ToBmp(const char* in, const char* out, const char* dpiText)
{
    char* end = nullptr;
    const long dpi = std::strtol(dpiText, &end, 10);
    if (end == dpiText || *end != '\0' || dpi < 2 || dpi > 1000000) {
        std::fprintf(stderr, "vxtiff: resolution must be a whole number from 2 to 1000000, not '%s'\n", dpiText);
        return 2;
    }
    int shown = -1;
    const bool bar = StderrIsTerminal();
    const int result = VXTiff2BmpEx(in, out, static_cast<int>(dpi), bar ? ShowProgress : nullptr, &shown);
    if (result != VXTIFF2BMP_OK) {
        if (bar && shown >= 0)
            std::fputc('\n', stderr);
        std::fprintf(stderr, "vxtiff: %s -> %s: %s (%d)\n", in, out, ConversionFailure(result), result);
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return Usage();
    std::string command = argv[1];
    if (command == "info" && argc == 3)
        return Info(argv[2]);
    if (command == "tobmp" && argc == 5)
        return ToBmp(argv[2], argv[3], argv[4]);
    if (command == "--help" || command == "-h") {
        PrintUsage(stdout);
        return 0;
    }
    int shown = -1;
    const VXTiff2BmpProgress bar = StderrIsTerminal() ? ShowProgress : nullptr;
    if (command == "convert")
        return ConvertCommand(argc - 2, argv + 2, bar, &shown);
    if (command == "rotate")
        return RotateCommand(argc - 2, argv + 2, bar, &shown);
    return Usage();
}
