// tif_lzw.h — the LZW decoder (TIFF Compression 5).
//
// Reads TIFF 6.0 code streams (codes most significant bit first, width growing
// one code early) and the old-style streams of early writers (least
// significant bit first, width growing one code later), detected anew at every
// strip. Predictor 2 through tag 317 (see tif_predictor.h).
#pragma once

#include "codec/tif_codec.h"

// Codes 0..4095 plus spare entries that a stream may assign before its Clear.
constexpr int TIF_LZW_TABLE_SIZE = 5119;

TifCodec* TifNewLzwDecoder(const TifCodecParams* params);
