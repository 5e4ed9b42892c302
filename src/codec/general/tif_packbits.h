// tif_packbits.h — the PackBits codec (TIFF Compression 32773).
//
// Each row is packed on its own: no literal or replicate packet crosses a row
// boundary on writing, and on reading a packet that runs past the row's end is
// cut there. No state beyond the TifCodecState header.
#pragma once

#include "codec/tif_codec.h"

TifCodec* TifNewPackBitsDecoder(const TifCodecParams* params);
TifCodec* TifNewPackBitsEncoder(const TifCodecParams* params);
