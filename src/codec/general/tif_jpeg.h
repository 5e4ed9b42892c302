// tif_jpeg.h — the JPEG decoder (Compression 7, and old-style 6 in its
// self-contained forms) and encoder (7) over libjpeg, where the build has it
// (VXTIFF_HAVE_JPEG). Without it there are no codecs: such pages fail to
// open as an unsupported compression and cannot be created.
#pragma once

#include <cstdint>

#include "codec/tif_codec.h"

// The samples a photometric is coded with: grey 1, RGB and YCbCr 3, CMYK 4.
inline bool TifJpegSamplesFit(int photometric, int samples)
{
    switch (photometric) {
    case 0:
    case 1: return samples == 1;
    case 2:
    case 6: return samples == 3;
    case 5: return samples == 4;
    default: return false;
    }
}

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

// How the encoder codes a page, from what the scheme writes in the directory.
struct TifJpegEncoding {
    int photometric;  // written: 0 or 1 grey, 2 RGB, 5 CMYK, 6 YCbCr (made from RGB rows)
    int subsampleH;   // YCbCr: the luma sampling, 1 or 2 each, subsampleV <= subsampleH
    int subsampleV;
    int maxRows;      // RowsPerStrip (a multiple of the sampling's block height), or the tile length
    int height;       // the image's height
    int tiledWidth;   // tiles: the image's width (every stream a whole tile); 0 for strips
};

// The most pixels a JPEG frame has across and down (libjpeg's limit).
constexpr int TIF_JPEG_MAX_DIMENSION = 65500;

// The encoder of baseline JPEG for 8-bit samples, 1, 3 or 4 a pixel, rows of
// TIF_JPEG_MAX_DIMENSION pixels at most (what TifJpegEncoderAccepts says), or null. Its quality is set with SetParam
// (TIF_TAG_JPEGQUALITY, 1-100, default 75) until the first row.
TifCodec* TifNewJpegEncoder(const TifCodecParams* params);
bool TifJpegEncoderAccepts(const TifCodecParams* params);

// Sets how an encoder made by TifNewJpegEncoder codes the page, before its
// first row: 1, or 0 for a photometric that does not fit the samples or
// sampling it does not code.
int TifJpegSetEncoding(TifCodec* encoder, const TifJpegEncoding* encoding);

// The tables-only stream every strip leans on (JPEGTables), *size bytes
// owned by the encoder; null when libjpeg refused the encoding. Asking fixes
// the quality.
const unsigned char* TifJpegTables(TifCodec* encoder, int* size);

// Where the latest strip's stream can be set to the rows it was given: a
// page that ends inside a strip has that strip's frame completed with copies
// of its last row. `frameAt`: the offset of the frame height (two bytes,
// most significant first) from the stream's start, -1 unknown; `cutAt`: the
// offset of the restart marker after the band of the last row given, where
// an EOI ends the stream without the copies; -1 when the copies do not fill
// a band of their own.
struct TifJpegStripEnd {
    int frameAt;
    int64_t cutAt;
};
TifJpegStripEnd TifJpegLastStrip(TifCodec* encoder);
