// tif_deflate.h — the Deflate codec (TIFF Compression 8, and 32946, its older code):
// every strip or tile is one zlib stream, driven through the system's zlib.
// Predictor 2 through tag 317 (see tif_predictor.h).
#pragma once

#include "codec/tif_codec.h"

TifCodec* TifNewDeflateDecoder(const TifCodecParams* params);
TifCodec* TifNewDeflateEncoder(const TifCodecParams* params);
