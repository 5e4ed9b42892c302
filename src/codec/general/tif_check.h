// tif_check.h — the one gate for decisions taken on untrusted compressed data.
//
// Every test of a value that comes from a strip (an LZW code, a packet length
// that would cross the row end, a zlib result) is written as
// `if (TifDamaged(condition))`. The branch taken ends the strip or clips the
// packet; the gate keeps those branches cold and easy to find.
#pragma once

inline bool TifDamaged(bool condition)
{
#if defined(__GNUC__)
    return __builtin_expect(condition, 0);
#else
    return condition;
#endif
}
