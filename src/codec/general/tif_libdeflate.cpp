// tif_libdeflate.cpp — the one-shot inflater and Adler-32 over libdeflate, or
// zlib's checksum and no inflater.
#include "codec/general/tif_libdeflate.h"

#if defined(VXTIFF_HAVE_LIBDEFLATE)
#include <libdeflate.h>

TifWholeInflater* TifNewWholeInflater()
{
    return reinterpret_cast<TifWholeInflater*>(libdeflate_alloc_decompressor());
}

void TifFreeWholeInflater(TifWholeInflater* inflater)
{
    libdeflate_free_decompressor(reinterpret_cast<libdeflate_decompressor*>(inflater));
}

TifWhole TifInflateWhole(TifWholeInflater* inflater, const unsigned char* in, size_t inSize, unsigned char* out,
                         size_t outSize, size_t* produced)
{
    size_t done = 0;
    const libdeflate_result r = libdeflate_zlib_decompress(reinterpret_cast<libdeflate_decompressor*>(inflater), in,
                                                           inSize, out, outSize, &done);
    if (r == LIBDEFLATE_SUCCESS) {
        *produced = done;
        return TifWhole::kDone;
    }
    return r == LIBDEFLATE_INSUFFICIENT_SPACE ? TifWhole::kNoRoom : TifWhole::kFailed;
}

bool TifFastAdler32() { return true; }

uint32_t TifAdler32(uint32_t adler, const unsigned char* data, size_t size)
{
    return libdeflate_adler32(adler, data, size);
}

#else
#include <zlib.h>

TifWholeInflater* TifNewWholeInflater() { return nullptr; }

void TifFreeWholeInflater(TifWholeInflater*) {}

TifWhole TifInflateWhole(TifWholeInflater*, const unsigned char*, size_t, unsigned char*, size_t, size_t*)
{
    return TifWhole::kFailed;
}

bool TifFastAdler32() { return false; }

uint32_t TifAdler32(uint32_t adler, const unsigned char* data, size_t size)
{
    // zlib takes at most uInt bytes a call.
    constexpr size_t kMax = 1u << 30;
    for (; size > kMax; data += kMax, size -= kMax)
        adler = static_cast<uint32_t>(adler32(adler, data, static_cast<uInt>(kMax)));
    return static_cast<uint32_t>(adler32(adler, data, static_cast<uInt>(size)));
}

#endif
