// tif_jpeg.h — the JPEG decoder (Compression 7, and old-style 6 in its
// self-contained forms) over libjpeg, where the build has it
// (VXTIFF_HAVE_JPEG). Without it there is no decoder and such pages fail to
// open as an unsupported compression.
#pragma once

#include "codec/tif_codec.h"

// What the decoder must know of the page beyond TifCodecParams, from its
// directory: what the JPEG streams hold is never guessed from their markers.
struct TifJpegPage {
    int photometric;        // 0 or 1 grey, 2 RGB, 5 CMYK, 6 YCbCr (delivered as RGB)
    int subsampleH;         // YCbCr: the luma sampling of YCbCrSubsampling (1, 2 or 4)
    int subsampleV;         //   (1 or 2); both 1 for the other photometrics
    int maxRows;            // the most rows of one stream: RowsPerStrip, or the tile length
    const unsigned char* tables;  // JPEGTables (an abbreviated tables-only stream), copied; null: none
    int tablesSize;
};

// The decoder for 8-bit samples, or null (no libjpeg in the build, another
// sample size, no memory).
TifCodec* TifNewJpegDecoder(const TifCodecParams* params);

// Sets the page a decoder made by TifNewJpegDecoder reads. 1 when it can;
// 0 for a photometric, sample count or sampling it does not decode, or
// without memory for the tables.
int TifJpegSetPage(TifCodec* decoder, const TifJpegPage* page);
