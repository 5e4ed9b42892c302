// consumer.cpp — a program built against the installed library, as a user
// builds one: it counts the pages of a TIFF file, reads every line of the
// first, converts it to a BMP and asks why a missing file does not open.
//
//   consumer FILE.tif OUT.bmp
#include <cstdio>
#include <vector>

#include <vxtiff/vxtiff.h>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: consumer FILE.tif OUT.bmp\n");
        return 2;
    }
    const int pages = CTifFile::CountPages(argv[1]);
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

    VXTIFF2BMP_OPTIONS options = {};
    options.nSize = sizeof options;
    const int converted = VXTiff2BmpOpt(argv[1], argv[2], 100, &options);

    CTifFile missing;
    const int opened = missing.Open("/nonexistent/page.tif");
    std::printf("pages %d, %d x %d, %d lines read, checksum %lx, bmp %d (%d bad lines), missing file: %s\n", pages,
                info.nWidth, info.nHeight, lines, sum, converted, options.nBadLines, CTifFile::GetLastFailureText());
    const bool ok = pages >= 1 && lines == info.nHeight && converted == VXTIFF2BMP_OK && opened == 0 &&
                    CTifFile::GetLastFailure() == VXTIFF_FAIL_NO_FILE;
    return ok ? 0 : 1;
}
