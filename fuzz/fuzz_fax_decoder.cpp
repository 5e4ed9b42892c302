// fuzz_fax_decoder.cpp — the fax decoder alone over arbitrary data.
//
// Input: byte 0 chooses the Compression (2, 3, 4); byte 1 the T4Options bits
// (2D, fill bits), the FillOrder and the rows per DecodeRows call; bytes 2-3
// the row width (1..2048); byte 4 the bytes handed out per ioProc call. The
// rest is the strip, decoded until a short count or a row limit.
#include <cstdint>
#include <cstdlib>

#include "codec/fax/tif_fax.h"
#include "fuzz_decode.h"

namespace {

constexpr int kMaxWidth = 2048;
constexpr int kMaxRows = 4096;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 5)
        return 0;
    const int compression = 2 + data[0] % 3;
    const int options = data[1] & (T4OPT_2D | T4OPT_FILLBITS);
    const int fillOrder = (data[1] & 8) ? 2 : 1;
    const int perCall = 1 + ((data[1] >> 4) & 7);
    const int width = 1 + ((data[2] | (data[3] << 8)) % kMaxWidth);
    const int chunk = data[4] == 0 ? 1 << 20 : data[4];

    TifCodecParams params{compression, width, 1, 1};
    TifCodec* codec = TifCreateDecoder(&params);
    if (codec == nullptr)
        std::abort();  // valid parameters always make a decoder
    if (options != 0)
        codec->SetParam(codec, 292, options);
    if (fillOrder != 1)
        codec->SetParam(codec, 266, fillOrder);
    fuzzdecode::DecodeStrip(codec, data + 5, size - 5, size_t(chunk), perCall, kMaxRows);
    return 0;
}
