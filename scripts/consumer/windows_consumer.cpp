// windows_consumer.cpp — a Windows program built against the installed headers
// and the import library of vxtiff.dll alone, as a user builds one: it reads
// every line of a TIFF file through CTifFile, converts it to a BMP through the
// import library, and again through the undecorated name that
// GetProcAddress finds, as a host that loads the DLL at run time does.
//
//   consumer FILE.tif
#include <windows.h>

#include <cstdio>
#include <vector>

#include "convert/tif2bmp.h"
#include "tif/tif_file.h"

namespace {

typedef int(__stdcall* Tiff2BmpFunction)(const char*, const char*, int);

// The size a BMP file claims in its header, or -1 when it is no BMP.
long BmpSize(const char* path)
{
    unsigned char h[6] = {};
    std::FILE* f = std::fopen(path, "rb");
    const bool read = f != nullptr && std::fread(h, 1, sizeof h, f) == sizeof h;
    if (f != nullptr)
        std::fclose(f);
    if (!read || h[0] != 'B' || h[1] != 'M')
        return -1;
    return long(h[2]) | long(h[3]) << 8 | long(h[4]) << 16 | long(h[5]) << 24;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: consumer FILE.tif\n");
        return 2;
    }
    CTifFile file;
    if (!file.Open(argv[1])) {
        std::fprintf(stderr, "consumer: %s: %s\n", argv[1], CTifFile::GetLastFailureText());
        return 1;
    }
    VXIMGINFO info;
    file.GetImgInfo(&info);
    std::vector<unsigned char> row((info.nWidth * info.nSamplesPerPixel * info.nBitsPerSample + 7) / 8);
    unsigned long sum = 0;
    int lines = 0;
    for (; lines < info.nHeight && file.ReadLine(row.data()); ++lines)
        for (unsigned char b : row)
            sum = sum * 31 + b;
    file.Close();

    const int linked = VXTiff2Bmp(argv[1], "linked.bmp", 100);
    HMODULE dll = LoadLibraryA("vxtiff.dll");
    const Tiff2BmpFunction byName =
        dll != nullptr ? reinterpret_cast<Tiff2BmpFunction>(reinterpret_cast<void*>(GetProcAddress(dll, "VXTiff2Bmp")))
                       : nullptr;
    const int loaded = byName != nullptr ? byName(argv[1], "loaded.bmp", 100) : -100;
    const long size = BmpSize("linked.bmp");
    std::printf("%d x %d, %d lines read, checksum %lx; VXTiff2Bmp linked %d, by name %d; BMP of %ld bytes, %s\n",
                info.nWidth, info.nHeight, lines, sum, linked, loaded, size,
                size > 0 && size == BmpSize("loaded.bmp") ? "both alike" : "differing");
    const bool ok = lines == info.nHeight && linked == VXTIFF2BMP_OK && loaded == VXTIFF2BMP_OK && size > 62 &&
                    size == BmpSize("loaded.bmp");
    if (dll != nullptr)
        FreeLibrary(dll);
    return ok ? 0 : 1;
}
