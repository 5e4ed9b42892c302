// tif_libdeflate.cpp — the one-shot inflater over libdeflate, or none.
#include "codec/general/tif_libdeflate.h"

#include <zlib.h>

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

unsigned long TifAdler32(unsigned long adler, const unsigned char* data, size_t size)
{
    return libdeflate_adler32(static_cast<uint32_t>(adler), data, size);
}

#else

TifWholeInflater* TifNewWholeInflater() { return nullptr; }

void TifFreeWholeInflater(TifWholeInflater*) {}

TifWhole TifInflateWhole(TifWholeInflater*, const unsigned char*, size_t, unsigned char*, size_t, size_t*)
{
    return TifWhole::kFailed;
}

unsigned long TifAdler32(unsigned long adler, const unsigned char* data, size_t size)
{
    // zlib takes at most a uInt per call.
    while (size > 0) {
        const uInt n = size > 0x40000000u ? 0x40000000u : static_cast<uInt>(size);
        adler = adler32(adler, data, n);
        data += n;
        size -= n;
    }
    return adler;
}

#endif
