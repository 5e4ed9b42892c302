// vxtiff — command-line front end of the library.
//
//   vxtiff info FILE    print the description of a TIFF file
#include <cstdio>
#include <cstring>
#include <string>

#include "tif/tif_file.h"

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

int Usage()
{
    std::fprintf(stderr, "usage: vxtiff info FILE\n");
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

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return Usage();
    std::string command = argv[1];
    if (command == "info" && argc == 3)
        return Info(argv[2]);
    return Usage();
}
