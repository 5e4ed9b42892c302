// fuzz_general_decoders.cpp — the LZW, PackBits and Deflate decoders on raw
// strips. The first bytes choose the codec and the row geometry:
//   0: codec (LZW, PackBits, Deflate: value % 3)   1: bit 0 Predictor 2, bit 1 swap
//   2-3: width - 1 (at most 1024)   4: samples 1..4   5: bit 0: 16 bits, else 8
//   6: rows per DecodeRows call 1..4
// The rest is the strip, handed out in pieces of 1..4096 bytes (byte 7 picks).
// Rows are decoded until a short count, at most 4096 rows.
#include <cstdint>
#include <cstdlib>

#include "codec/tif_codec.h"
#include "fuzz_decode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 8)
        return 0;
    static const int kCompressions[] = {5, 32773, 32946};
    TifCodecParams p;
    p.compression = kCompressions[data[0] % 3];
    p.width = ((data[2] << 8 | data[3]) & 0x3FF) + 1;
    p.samplesPerPixel = data[4] % 4 + 1;
    p.bitsPerSample = (data[5] & 1) ? 16 : 8;
    const int perCall = data[6] % 4 + 1;
    static const int kPieces[] = {1, 2, 3, 7, 64, 4096};

    TifCodec* codec = TifCreateDecoder(&p);
    if (codec == nullptr)
        return 0;
    if (data[1] & 1)
        codec->SetParam(codec, 317, 2 | ((data[1] & 2) << 15));
    fuzzdecode::DecodeStrip(codec, data + 8, size - 8, size_t(kPieces[data[7] % 6]), perCall, 4096);
    return 0;
}
