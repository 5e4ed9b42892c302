// bench_write.h — the writing jobs: vxtiff's WriteLine against libtiff's
// TIFFWriteScanline and bare zlib, and the whole-process rotation of the tool
// against tiffcrop.
#pragma once

#include <string>

#include "bench_jobs.h"

struct BenchImage;
struct BenchFile;

// Flushes a written file to disk: vxtiff's Close ends with fsync, so the
// other sides pay the same.
bool SyncFile(const std::string& path);

// Job "write": every row of `img` by one WriteLine each into a new file,
// closed (Close flushes the file to disk). Unsupported when Create refuses the
// compression (no encoder for it).
VxResult VxWriteLines(const std::string& path, const BenchImage& img, const BenchFile& f);
// The same rows by TIFFWriteScanline (Deflate at level 1, as vxtiff writes
// it), then the file flushed to disk as vxtiff's Close does.
bool LtWriteLines(const std::string& path, const BenchImage& img, const BenchFile& f);

// Job "zlibw": bare zlib deflate at level 1 of each strip's rows, the
// compressed strips written to `path` one after another and flushed to disk.
bool ZlibDeflateStrips(const std::string& path, const BenchImage& img, const BenchFile& f);

// Reads `path` with libtiff: "" when every row equals img's, else what differs.
std::string CheckWritten(const std::string& path, const BenchImage& img);
// Lossy files: "" when libtiff decodes `path` to the rows it decodes `reference` to.
std::string CheckSameDecoded(const std::string& path, const std::string& reference);

// Job "rot-<codec>": one process turning `in` 90 degrees clockwise into `out`
// with the output compression `codec` (none, packbits, g4): the vxtiff tool
// (Unsupported when it has no encoder for the codec), or tiffcrop -R 90
// followed by a flush of its output to disk.
VxResult VxToolRotate(const std::string& tool, const std::string& in, const std::string& out,
                      const std::string& codec);
bool TiffcropRotate(const std::string& in, const std::string& out, const std::string& codec);
// Reads both files with libtiff: "" when their size and rows agree.
std::string CompareImages(const std::string& a, const std::string& b);
