// write_info.h — the description of an image to write, for writing tests.
#pragma once

#include "tif/tif_file.h"

namespace tiftest {

inline VXIMGINFO WriteInfo(int type, int width, int height, int samples, int bits, int compression = 1,
                           int rowsPerStrip = 0)
{
    VXIMGINFO i{};
    i.nImageType = type, i.nWidth = width, i.nHeight = height, i.nSamplesPerPixel = samples;
    i.nBitsPerSample = bits, i.nCompression = compression, i.nRowsPerStrip = rowsPerStrip;
    return i;
}

}  // namespace tiftest
