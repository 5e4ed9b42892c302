// tif_check.h — the one gate for decisions taken on untrusted compressed data.
//
// Every test of a value that comes from a strip (an LZW code, a packet length
// that would cross the row end, a zlib result) is written as
// `if (TifDamaged(condition))`. The branch taken ends the strip or clips the
// packet; the gate keeps those branches cold and easy to find.
#pragma once

#include "codec/tif_bits.h"

inline bool TifDamaged(bool condition)
{
    return TIF_UNLIKELY(condition);
}
