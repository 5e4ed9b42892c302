// bench_jobs.h — one run of each benchmark job, for vxtiff and for its
// references (libtiff, zlib), each from opening the file to closing it.
//
// Every job writes what it decodes into a caller's buffer, so that the runs of
// both sides can be compared byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// How a vxtiff run ended: Unsupported when our library cannot open the file or
// lacks the operation (shown as n/a), Failed when it stopped part way.
enum class VxResult { Ok, Unsupported, Failed };

// The image as libtiff describes it.
struct Geometry {
    int width = 0;
    int height = 0;
    size_t rowBytes = 0;
    double xResolution = 0.0;
    int samples = 1;
    int predictor = 1;
    int strips = 0;        // strips, or tiles of a tiled file
    size_t stripSize = 0;  // bytes of a full decoded strip
    // Tiled files: the tile's sides, its decoded bytes and the tiles of one
    // tile row (tileWidth = 0 for strips).
    int tileWidth = 0;
    int tileLength = 0;
    size_t tileSize = 0;
    int tilesAcross = 0;
    bool Tiled() const { return tileWidth > 0; }
    size_t TileRowBytes() const { return tileSize / size_t(tileLength); }
    size_t Bytes() const { return rowBytes * size_t(height); }
    // Bytes of the image turned by a quarter turn (1-bit rows padded to bytes).
    size_t RotatedBytes() const { return size_t(width) * ((size_t(height) + 7) / 8); }
};
bool ProbeGeometry(const std::string& path, Geometry* g);

// "LIBTIFF, Version 4.x.y", the first line of libtiff's banner.
std::string LibtiffVersion();

// Job "lines": every row with one call each, into consecutive rows of `out`.
// libtiff cannot read a tiled file by scanlines: for those its side does what
// a line-oriented application does, reading each tile row's tiles
// (TIFFReadEncodedTile) into a tile-row buffer and copying the lines out.
VxResult VxReadLineByLine(const std::string& path, const Geometry& g, uint8_t* out);
bool LtReadLineByLine(const std::string& path, const Geometry& g, uint8_t* out);

// Job "seek": the last row alone, into the first row of `out`: SeekLine then
// ReadLine, against TIFFReadScanline of every row up to it (libtiff's JPEG
// codec cannot seek within a strip).
VxResult VxSeekLastLine(const std::string& path, const Geometry& g, uint8_t* out);
bool LtSeekLastLine(const std::string& path, const Geometry& g, uint8_t* out);

// Job "all": the whole image with one call (vxtiff) or strip by strip (libtiff).
VxResult VxReadAll(const std::string& path, const Geometry& g, uint8_t* out);
bool LtReadStrips(const std::string& path, const Geometry& g, uint8_t* out);

// Job "r90": a bilevel image turned 90 degrees clockwise, into
// g.RotatedBytes() bytes. libtiff reads every row into `work` (g.Bytes()) and
// a plain loop rotates it.
VxResult VxRotate90(const std::string& path, const Geometry& g, uint8_t* out);
bool LtRotate90Naive(const std::string& path, const Geometry& g, uint8_t* work, uint8_t* out);

// Job "bmp": conversion to a 1-bit BMP at `resolution` pixels per inch.
VxResult VxToBmp(const std::string& path, const std::string& bmpPath, int resolution);
// Checks a BMP made at exactly half the source resolution against the source
// rows `src` (as libtiff decodes them): output row t is source row 2t, output
// pixel i source pixel 2i, a set bit stays set. Empty when it matches, else
// what differs.
std::string CheckHalfBmp(const std::string& bmpPath, const Geometry& g, const uint8_t* src);

// Job "zlib": inflating the raw Deflate strips or tiles alone, as loaded
// beforehand, then undoing Predictor 2 (8-bit samples) when the file has it, so
// that the rows equal the decoder's. Tiles are inflated a tile row at a time
// and their lines copied out, as the "lines" job's libtiff side does.
struct RawStrips {
    std::vector<std::vector<uint8_t>> strips;  // or tiles
};
bool LoadRawStrips(const std::string& path, const Geometry& g, RawStrips* raw);
bool ZlibInflate(const RawStrips& raw, const Geometry& g, uint8_t* out);

// Peak growth of the heap while reading the file line by line (sampled after
// Open and after every line through mallinfo2), in bytes; -1 when the file
// cannot be read.
long VxPeakHeap(const std::string& path, const Geometry& g);
long LtPeakHeap(const std::string& path, const Geometry& g);
