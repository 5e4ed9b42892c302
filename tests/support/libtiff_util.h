// libtiff_util.h — libtiff as the reference writer and reader in tests.
//
//   tiftest::LibtiffPage s;  s.width = 33; s.height = 20; s.bits = 4;
//   s.tileWidth = 16; s.tileLength = 16;      // 0: strips of rowsPerStrip
//   tiftest::WriteLibtiff(path, s, rows);     // rows: packed, host byte order
//   std::vector<tiftest::Bytes> back;
//   tiftest::ReadLibtiff(path, &back);        // scanlines, or tiles assembled
//
// Rows are packed image rows of (width × samples × bits + 7) / 8 bytes. libtiff
// keeps 16-bit samples in host order on both sides, so a big-endian file's
// 16-bit rows differ from what the library under test delivers (file order):
// SwapRows16 converts. libtiff's warnings and errors are silenced.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/tif_builder.h"

namespace tiftest {

// A page as libtiff writes it (WriteLibtiff, WriteLibtiffPages).
struct LibtiffPage {
    uint32_t width = 1;
    uint32_t height = 1;
    uint16_t samples = 1;
    uint16_t bits = 8;
    uint16_t photometric = 1;
    uint16_t compression = 1;
    uint16_t predictor = 1;     // 1: no Predictor tag
    uint32_t t4Options = 0;     // Compression 3 only
    uint16_t fillOrder = 1;
    bool bigEndian = false;
    bool bigTiff = false;  // written as BigTIFF (libtiff's "8" mode, as tiffcp -8)
    uint32_t rowsPerStrip = 0;  // 0: libtiff's default
    uint32_t tileWidth = 0;     // non-zero: tiled
    uint32_t tileLength = 0;
    std::vector<uint16_t> colorMap;  // palette: red, green, blue planes of 1 << bits
    float xResolution = 0;      // 0: none
    float yResolution = 0;
    uint16_t resolutionUnit = 0;  // 0: none
    // JPEG YCbCr (photometric 6): the subsampling; rows are given and read as RGB.
    uint16_t subsampling[2] = {2, 2};

    uint32_t RowBytes() const { return (width * samples * bits + 7) / 8; }
};

// Writes an image with libtiff (TIFFWriteScanline, or TIFFWriteEncodedTile with
// zero padding past the edges). False when libtiff refuses.
bool WriteLibtiff(const std::string& path, const LibtiffPage& image, const std::vector<Bytes>& rows);

// Writes one page per description (the byte order of the first), each closed with
// TIFFWriteDirectory. rows[i] holds page i's rows.
bool WriteLibtiffPages(const std::string& path, const std::vector<LibtiffPage>& pages,
                       const std::vector<std::vector<Bytes>>& rows);

// Reads every image row of page `page` (from 0) with libtiff (JPEG YCbCr
// converted to RGB by libtiff). False when libtiff cannot.
bool ReadLibtiff(const std::string& path, std::vector<Bytes>* rows, int page = 0);

// Like ReadLibtiff, with every warning and error libtiff reports while it
// opens and reads the file appended to *complaints, one line each.
bool ReadLibtiffStrict(const std::string& path, std::vector<Bytes>* rows, std::string* complaints, int page = 0);

// Swaps each pair of bytes of every row (16-bit samples between byte orders).
void SwapRows16(std::vector<Bytes>* rows);

}  // namespace tiftest
