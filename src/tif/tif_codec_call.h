// tif_codec_call.h — the one place where the CTifException of a codec call
// (the I/O procedure beneath the codec could not read or write) becomes a
// plain result for the CTifFile operation driving the codec.
#pragma once

#include <climits>

#include "io/tif_exception.h"

// What TifCodecCall gives by default when the I/O failed: no codec call returns it.
constexpr int TIF_CODEC_THREW = INT_MIN;

// Runs `call` (returning int) and gives its result, or `failed` when the I/O
// beneath it failed. The exception may be a null pointer (TifThrow without
// memory): deleting it is still right.
template <typename Call>
inline int TifCodecCall(Call&& call, int failed = TIF_CODEC_THREW)
{
    try {
        return call();
    } catch (CTifException* e) {
        delete e;
        return failed;
    }
}
