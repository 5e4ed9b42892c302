// tif_ifd_write.h — helpers of directory writing shared with Create.
#pragma once

#include <cstdint>

// The RATIONAL written for a resolution: its nearest thousandth, as n/1 when
// that is a whole number, else over 1000 (72.5 → 72500/1000). False for a
// value that has no such RATIONAL: negative, NaN, infinite, or a numerator
// beyond 32 bits.
bool TifResolutionRational(double value, uint32_t* numerator, uint32_t* denominator);
