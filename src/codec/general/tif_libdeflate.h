// tif_libdeflate.h — what the Deflate decoder takes from libdeflate where the
// build has it (VXTIFF_HAVE_LIBDEFLATE): inflating a whole zlib stream held in
// memory in one call, about twice zlib's speed on photos. Without it there is
// no one-shot inflater and zlib does everything.
#pragma once

#include <cstddef>

struct TifWholeInflater;

// A one-shot inflater, or null when the build has none or memory ran out.
TifWholeInflater* TifNewWholeInflater();
void TifFreeWholeInflater(TifWholeInflater* inflater);

enum class TifWhole {
    kDone,    // a sound stream, checksum included, ended within `outSize`
    kNoRoom,  // sound so far, but it goes on past `outSize`
    kFailed,  // damaged or truncated: nothing in `out` may be trusted
};

// Inflates the zlib stream [in, in + inSize) into [out, out + outSize); on
// kDone `*produced` holds the inflated size.
TifWhole TifInflateWhole(TifWholeInflater* inflater, const unsigned char* in, size_t inSize, unsigned char* out,
                         size_t outSize, size_t* produced);

// Adler-32 (RFC 1950) of [data, data + size) continued from `adler` (1 to
// start): libdeflate's vectorised one where the build has it, else zlib's.
unsigned long TifAdler32(unsigned long adler, const unsigned char* data, size_t size);
