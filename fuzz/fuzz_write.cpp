// fuzz_write.cpp — writing through CTifFile, then reading the file back with
// our reader: every row and the palette must come back as written. The first
// bytes choose the image:
//   0: image type (5 kinds)   1: compression (none, PackBits, Deflate, LZW,
//      MH, Group 3, Group 4, JPEG: lossy, its rows come back undamaged and
//      as many, at the quality of byte 11)
//   2: bit 0 Predictor 2, bit 1 tiles, bit 2 WriteLines in runs, bit 3 write
//      every line (else stop early: the image ends at the last line), bits 4-6
//      T4Options (Group 3), bit 7 a second page (read back instead of the first)
//   3: samples 1..4   4: bits (1, 2, 4, 8, 16)   5-6: width - 1 (at most 299)
//   7: height - 1 (at most 63)   8: rows per strip (0..31)
//   9, 10: tile width and length before rounding (0..255)   11: colours
// The rest are the rows' bytes, repeated as needed. Failed checks trap.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_temp.h"
#include "tif/tif_file.h"

namespace {

void Check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& path = fuzztemp::Make("fuzz_write");
    if (size < 13 || path.empty())
        return 0;
    static const int kTypes[] = {VXIMG_MINISWHITE, VXIMG_MINISBLACK, VXIMG_RGB, VXIMG_PALETTE, VXIMG_CMYK};
    static const int kCompressions[] = {1, 32773, 32946, 5, 2, 3, 4, 8, 7};
    static const int kBits[] = {1, 2, 4, 8, 16};
    VXIMGINFO info{};
    info.nImageType = kTypes[data[0] % 5];
    info.nCompression = kCompressions[data[1] % 9];
    const bool lossy = info.nCompression == 7;
    info.bTiled = (data[2] >> 1) & 1;
    info.nSamplesPerPixel = data[3] % 4 + 1;
    info.nBitsPerSample = kBits[data[4] % 5];
    info.nWidth = ((data[5] << 8) | data[6]) % 300 + 1;
    info.nHeight = data[7] % 64 + 1;
    info.nRowsPerStrip = data[8] % 32;
    info.nTileWidth = data[9];
    info.nTileLength = data[10];
    info.dXResolution = data[11] * 0.5;
    const int colors = data[11];
    const uint8_t* bytes = data + 12;
    const size_t nBytes = size - 12;

    const int rowBytes = (info.nWidth * info.nSamplesPerPixel * info.nBitsPerSample + 7) / 8;
    const int bits = info.nWidth * info.nSamplesPerPixel * info.nBitsPerSample;
    const int lines = (data[2] & 8) ? info.nHeight : info.nHeight / 2;
    std::vector<uint8_t> rows(size_t(rowBytes) * info.nHeight, 0);
    for (size_t i = 0; i < size_t(rowBytes) * lines; ++i)
        rows[i] = bytes[i % nBytes];
    if (bits % 8)  // bits past the width are not kept in tiles
        for (int y = 0; y < info.nHeight; ++y)
            rows[size_t(y + 1) * rowBytes - 1] &= uint8_t(0xFF << (8 - bits % 8));
    std::vector<RGBQUAD> palette(size_t(colors) + 1);
    for (int i = 0; i < colors; ++i)
        palette[size_t(i)] = RGBQUAD{bytes[size_t(i) % nBytes], uint8_t(i), uint8_t(255 - i), 0};

    CTifFile w;
    if (!w.Create(path.c_str(), &info))
        return 0;
    w.SetColorMap(colors, palette.data());
    // LZW and Deflate take Predictor 2 on 8- and 16-bit samples only; the
    // others have no Predictor and ignore it. Group 3 takes T4Options bits
    // 0-2 (2D, uncompressed mode flag, fill bits).
    const bool predicted = info.nCompression == 32946 || info.nCompression == 8 || info.nCompression == 5;
    if (data[2] & 1)
        Check(w.SetEncodeParams(317, 2) == (!predicted || info.nBitsPerSample == 8 || info.nBitsPerSample == 16));
    Check(w.SetEncodeParams(292, (data[2] >> 4) & 7) == 1);
    Check(w.SetEncodeParams(65537, colors % 100 + 1) == 1);  // the JPEG quality; ignored by the others
    // The rows are only read: the comparison below checks them as they are.
    const int run = (data[2] & 4) ? 5 : 1;
    for (int y = 0; y < lines; y += run) {
        const int n = lines - y < run ? lines - y : run;
        Check(w.WriteLines(&rows[size_t(y) * rowBytes], n) == n);
    }
    // One more line, the first again; refused once all are written.
    Check(w.WriteLine(rows.data()) == (lines < info.nHeight ? 1 : 0));
    if (lines < info.nHeight)
        std::copy(rows.begin(), rows.begin() + rowBytes, rows.begin() + long(lines) * rowBytes);
    const int written = lines < info.nHeight ? lines + 1 : lines;
    // A second page of the same kind with the same rows and palette, no parameters.
    const int page = (data[2] & 0x80) ? 1 : 0;
    if (page == 1) {
        VXIMGINFO again = info;
        Check(w.AddPage(&again) == 1);
        w.SetColorMap(colors, palette.data());
        Check(w.WriteLines(rows.data(), written) == written);
    }
    Check(w.Close() == 1);

    CTifFile r;
    Check(CTifFile::CountPages(path.c_str()) == page + 1 && r.OpenPage(path.c_str(), page) == 1);
    VXIMGINFO got;
    r.GetImgInfo(&got);
    Check(got.nWidth == info.nWidth && got.nHeight == written && got.nCompression == info.nCompression);
    std::vector<uint8_t> back(rows.size() + 1);
    Check(r.ReadLines(back.data(), written) == written);
    back.resize(size_t(written) * rowBytes);
    if (bits % 8)
        for (int y = 0; y < written; ++y)
            back[size_t(y + 1) * rowBytes - 1] &= uint8_t(0xFF << (8 - bits % 8));
    Check(lossy ? r.GetDamagedLines(nullptr) == 0 : std::equal(back.begin(), back.end(), rows.begin()));
    if (info.nImageType == VXIMG_PALETTE) {
        std::vector<RGBQUAD> map(palette.size());
        r.GetColorMap(colors, map.data());
        const int n = info.nBitsPerSample < 8 && colors > (1 << info.nBitsPerSample) ? 1 << info.nBitsPerSample
                                                                                     : colors;
        for (int i = 0; i < n; ++i)
            Check(map[size_t(i)].rgbRed == palette[size_t(i)].rgbRed &&
                  map[size_t(i)].rgbBlue == palette[size_t(i)].rgbBlue);
    }
    r.Close();
    return 0;
}
