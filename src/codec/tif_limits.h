// tif_limits.h — checked size arithmetic and the allocation limit for values
// that come from a file.
//
// Every size derived from untrusted directory values (row bytes, tile buffers,
// tag arrays, codec work arrays) is computed in 64 bits and compared with
// TIF_MAX_ALLOC before anything is allocated. A file that would need more for a
// single block fails to open, however small the file itself is.
#pragma once

#include <cstdint>

// Largest single block that one open file may make the library allocate (256 MiB);
// also bounds the whole tile row and any codec's per-row work arrays.
constexpr int64_t TIF_MAX_ALLOC = int64_t(256) << 20;

// a × b when both are non-negative and the product stays within TIF_MAX_ALLOC;
// -1 otherwise.
constexpr int64_t TifCheckedSize(int64_t a, int64_t b)
{
    if (a < 0 || b < 0)
        return -1;
    if (a != 0 && b > TIF_MAX_ALLOC / a)
        return -1;
    return a * b;
}

// Bytes of one packed row of `width` pixels, or -1 when the row cannot exist
// within the limit (non-positive values included).
constexpr int64_t TifRowBytes(int64_t width, int64_t samplesPerPixel, int64_t bitsPerSample)
{
    if (width <= 0 || samplesPerPixel <= 0 || bitsPerSample <= 0)
        return -1;
    int64_t bits = TifCheckedSize(TifCheckedSize(width, samplesPerPixel), bitsPerSample);
    if (bits < 0 || bits / 8 + 1 > TIF_MAX_ALLOC)
        return -1;
    return (bits + 7) >> 3;
}
