// bench_files.h — the benchmark's TIFF files: what each holds and how it is
// written (by libtiff) and checked.
#pragma once

#include <string>
#include <vector>

struct BenchImage;
struct tiff;

enum class BenchSource { FaxPage, Drawing, Grey, Rgb, CameraGrey };

// The JPEG quality both sides write at.
constexpr unsigned kBenchJpegQuality = 75;

struct BenchFile {
    std::string name;   // file name without ".tif", also the label in the table
    BenchSource source;
    int compression;    // TIFF Compression value
    int t4Options;      // Group 3 only
    int predictor;      // LZW and Deflate only (1 or 2)
    int rowsPerStrip;   // 0: the whole image in one strip
    int tileSize = 0;   // square tiles of this side instead of strips; 0: strips
    bool bigEndian = false;  // "MM" byte order
    bool bigTiff = false;    // BigTIFF (libtiff's mode "8", as tiffcp -8 writes)
    // Only `lines` (and `zlib` for Deflate) for the extra layouts of an image:
    // the other jobs would repeat what the base file measures.
    bool linesOnly = false;

    bool Tiled() const { return tileSize > 0; }
    bool Bilevel() const { return source == BenchSource::FaxPage || source == BenchSource::Drawing; }
    bool Fax() const { return compression == 2 || compression == 3 || compression == 4; }
    bool Deflate() const { return compression == 8 || compression == 32946; }
    bool Jpeg() const { return compression == 7; }
};

// Every file, in the order of the table.
std::vector<BenchFile> BenchFiles();

// What the writing jobs write: the grey and RGB images and the drawing in
// every compression either side may write, with the RowsPerStrip of the files
// above. Rows whose compression vxtiff has no encoder for show n/a.
std::vector<BenchFile> BenchWriteFiles();

// Opens `path` with libtiff for reading; JPEG YCbCr is converted to RGB
// (JPEGCOLORMODE_RGB), as vxtiff delivers it.
struct tiff* BenchOpenForReading(const std::string& path);

// Sets the tags of `desc` on a TIFF being written by libtiff.
bool SetBenchFields(struct tiff* t, const BenchImage& img, const BenchFile& desc);

// Writes `img` as `path` with libtiff (through a temporary file renamed at the
// end, so that an interrupted run never leaves a truncated file). Then reads it
// back with libtiff's TIFFReadScanline and compares every row with `img`.
// Returns an empty string on success, else what went wrong.
std::string WriteBenchFile(const std::string& path, const BenchImage& img, const BenchFile& desc);
// The same for a document of several pages, one directory each, every one
// with PageNumber (its index, the count) when there are several.
std::string WriteBenchDocument(const std::string& path, const std::vector<const BenchImage*>& pages,
                               const BenchFile& desc);
