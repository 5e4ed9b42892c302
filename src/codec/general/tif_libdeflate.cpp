// tif_libdeflate.cpp — the one-shot inflater over libdeflate, or none.
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

#else

TifWholeInflater* TifNewWholeInflater() { return nullptr; }

void TifFreeWholeInflater(TifWholeInflater*) {}

TifWhole TifInflateWhole(TifWholeInflater*, const unsigned char*, size_t, unsigned char*, size_t, size_t*)
{
    return TifWhole::kFailed;
}

#endif
