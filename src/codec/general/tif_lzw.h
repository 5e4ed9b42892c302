// tif_lzw.h — the LZW decoder and encoder (TIFF Compression 5).
//
// The decoder reads TIFF 6.0 code streams (codes most significant bit first,
// width growing one code early) and the old-style streams of early writers
// (least significant bit first, width growing one code later), detected anew
// at every strip. The encoder writes TIFF 6.0 streams, one per strip or tile.
// Both take Predictor 2 through tag 317 (see tif_predictor.h).
#pragma once

#include "codec/tif_codec.h"

// Codes 0..4095 plus spare entries that a stream may assign before its Clear.
constexpr int TIF_LZW_TABLE_SIZE = 5119;

TifCodec* TifNewLzwDecoder(const TifCodecParams* params);

// Slots of the encoder's string table: a prime, so that the second probe
// sequence visits every slot; at most 3836 strings are held (about 43 % full).
constexpr int TIF_LZW_HASH_SIZE = 9001;

TifCodec* TifNewLzwEncoder(const TifCodecParams* params);
