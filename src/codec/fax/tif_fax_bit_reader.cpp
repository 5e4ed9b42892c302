// tif_fax_bit_reader.cpp — the fax decoder's slow bit reading: refilling the
// accumulator byte by byte near the end of the buffer, pulling the next block
// through ioProc, and turning FillOrder 1 blocks into the order the reader
// takes. The fast refill and the reads themselves are inline in
// tif_fax_decode_internal.h.
//
// Hostile data: reads stay inside the bytes ioProc reported (clipped to the
// buffer); data that ends reads as zero bits, counted in Reader::pad, so the
// row loops can stop where only those remain.
#include "codec/fax/tif_fax_decode_internal.h"

namespace tif_fax_decode {

// Once per byte instead of once per refill, and the reader never asks.
void ToLsbFirst(uint8_t* p, int n)
{
    for (; n >= 8; n -= 8, p += 8) {
        uint64_t w;
        std::memcpy(&w, p, 8);
        w = ReverseByteBits(w);
        std::memcpy(p, &w, 8);
    }
    for (; n > 0; --n, ++p)
        *p = kMsbFirstMap[*p];
}

// Not cloned per `need`: GCC's clones moved register allocation in the hot
// loops of the variants calling them, a few percent either way by chance.
#if defined(__clang__)
[[gnu::noinline]]
#else
[[gnu::noinline, gnu::noclone]]
#endif
Reader FillSlow(Reader r, int need, const Ctx& c)
{
    TifCodecState* h = &c.s->header;
    while (r.n < need) {
        if (r.avail <= 0) {
            int got = h->ioProc(h->buffer, h->bufferSize, h->ioContext);
            r.cur = h->buffer;
            if (got <= 0) {
                r.avail = 0;
                if (r.n != 0) {
                    r.pad = (r.pad < r.n ? r.pad : r.n) + need - r.n;
                    r.n = need;
                }
                return r;
            }
            r.avail = got < h->bufferSize ? got : h->bufferSize;
            ++r.fills;
            if (c.msbFirst)
                ToLsbFirst(h->buffer, r.avail);
        }
        if (r.avail >= 8) {
            FillFast(r);
            return r;
        }
        r.acc |= uint64_t(*r.cur++) << r.n;
        r.n += 8;
        r.avail -= 1;
    }
    return r;
}

}  // namespace tif_fax_decode
