// fuzz_open.cpp — whole files through CTifFile: describe pages, open, read every line,
// seek back and forth, move on to the next pages, close. The input is written to a temporary file, since
// the library reads only files.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_temp.h"
#include "tif/tif_file.h"

namespace {

// Bounds the work per input so that each run stays fast: a few bytes can
// declare a large image whose every line a codec completes without data.
constexpr int kMaxRowBytes = 1 << 20;
constexpr int kMaxLines = 1 << 15;
constexpr int kMaxLineBytes = 16 << 20;

bool WriteInput(const std::string& path, const uint8_t* data, size_t size)
{
    FILE* f = path.empty() ? nullptr : std::fopen(path.c_str(), "wb");
    if (f == nullptr)
        return false;
    bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& path = fuzztemp::Make("fuzz_open");
    if (!WriteInput(path, data, size))
        return 0;
    // The directories alone, as info describes pages it cannot decode.
    VXIMGINFO info;
    for (int page = 0; page < 3; ++page)
        CTifFile::DescribePage(path.c_str(), page, &info);
    CTifFile file;
    if (!file.Open(path.c_str()))
        return 0;

    file.GetImgInfo(&info);
    RGBQUAD colors[256];
    file.GetColorMap(256, colors);

    const int rowBytes = file.m_nBufRowBytes;
    if (rowBytes > 0 && rowBytes <= kMaxRowBytes) {
        const int chunk = 7;  // straddles strip and tile-row boundaries
        std::vector<uint8_t> rows(size_t(rowBytes) * chunk);
        const int maxLines = kMaxLineBytes / rowBytes < kMaxLines ? kMaxLineBytes / rowBytes : kMaxLines;
        int lines = 0;
        while (lines < maxLines) {
            int n = file.ReadLines(rows.data(), chunk);
            lines += n;
            if (n < chunk)
                break;
        }
        const int height = info.nHeight < maxLines ? info.nHeight : maxLines;
        if (file.SeekLine(height / 2))
            file.ReadLine(rows.data());
        if (file.SeekLine(0))
            file.ReadLines(rows.data(), chunk);
        if (file.SeekLine(height - 1))
            file.ReadLine(rows.data());
        file.SeekLine(height);
        // The last declared line, however far: no decoder delivers rows its
        // data does not hold, so a seek through a short stream ends early.
        if (file.SeekLine(info.nHeight - 1))
            file.ReadLine(rows.data());

        // Narrower caller rows (overlapping), within a buffer of whole rows.
        file.SetBufRowBytes(rowBytes / 2 + 1);
        if (file.SeekLine(2))
            file.ReadLines(rows.data(), chunk);

        // Wider caller rows: the decoder keeps its own stride where it must.
        file.SetBufRowBytes(rowBytes + 3);
        std::vector<uint8_t> wide(size_t(rowBytes + 3) * chunk);
        if (file.SeekLine(1))
            file.ReadLines(wide.data(), chunk);

        // Rotated reading of a few columns, where decoding the whole image
        // stays cheap; afterwards plain reading must recover.
        if (info.nHeight <= kMaxLines && int64_t(info.nHeight) * rowBytes <= kMaxLineBytes) {
            const int count = info.nWidth < 3 ? info.nWidth : 3;
            const int64_t pixelBits = int64_t(info.nSamplesPerPixel) * info.nBitsPerSample;
            const int64_t lineBytes = (int64_t(info.nHeight) * pixelBits + 7) / 8;
            std::vector<uint8_t> rotated(size_t(lineBytes) * count + 1);
            file.ReadLinesR90(rotated.data(), 0, count);
            file.ReadLinesR270(rotated.data(), info.nWidth - count, count);
            if (file.SeekLine(0))
                file.ReadLine(wide.data());
        }
    }
    // The pages after the first, a line of each (a chain may loop: bounded).
    for (int page = 1; page < 8 && file.NextPage(); ++page) {
        const int bytes = file.m_nBufRowBytes;
        if (bytes <= 0 || bytes > kMaxRowBytes)
            break;
        std::vector<uint8_t> line(static_cast<size_t>(bytes));
        file.ReadLine(line.data());
    }
    file.Close();
    return 0;
}
