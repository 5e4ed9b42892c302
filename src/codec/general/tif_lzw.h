// tif_lzw.h — the LZW decoder and encoder (TIFF Compression 5).
//
// The decoder reads TIFF 6.0 code streams (codes most significant bit first,
// width growing one code early) and the old-style streams of early writers
// (least significant bit first, width growing one code later), detected anew
// at every strip. The encoder writes TIFF 6.0 streams, one per strip or tile.
// Both take Predictor 2 through tag 317 (see tif_predictor.h).
#pragma once

#include "codec/tif_codec.h"

// The codes every stream shares (TIFF 6.0, section 13): the 256 single bytes,
// then Clear and EndOfInformation; the strings a stream defines start after
// them, and no code is wider than 12 bits.
constexpr int TIF_LZW_CLEAR = 256;
constexpr int TIF_LZW_END_OF_INFORMATION = 257;
constexpr int TIF_LZW_FIRST_FREE = 258;
constexpr int TIF_LZW_MAX_BITS = 12;

// Codes 0..4095 plus spare entries that a stream may assign before its Clear.
constexpr int TIF_LZW_TABLE_SIZE = 5119;

TifCodec* TifNewLzwDecoder(const TifCodecParams* params);

// Slots of the encoder's string table: a prime, so that the second probe
// sequence visits every slot; at most 3836 strings are held (about 43 % full).
constexpr int TIF_LZW_HASH_SIZE = 9001;

TifCodec* TifNewLzwEncoder(const TifCodecParams* params);
