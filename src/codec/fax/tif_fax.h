// tif_fax.h — the CCITT fax codecs (Compression 2, 3 and 4) as seen by the
// rest of the library: constructors, the shared Destroy slot and the parameter
// values shared by decoder and encoder.
#pragma once

#include "codec/tif_codec.h"

// T4Options bits (TIFF tag 292).
enum {
    T4OPT_2D = 1,            // rows of a Compression 3 strip may be coded 2D; a tag bit follows every EOL
    T4OPT_UNCOMPRESSED = 2,  // stored, never acted on
    T4OPT_FILLBITS = 4,      // zero fill before each EOL so that it ends on a byte boundary
};

// How rows are framed in the data of each Compression value.
enum {
    FAX_FRAMING_EOL = 1,        // Compression 3: an EOL before every row
    FAX_FRAMING_BYTEALIGN = 4,  // Compression 2: every row starts on a byte boundary
    // 0: Compression 4, rows follow each other bit by bit
};

TifCodec* TifNewFaxDecoder(const TifCodecParams* params);
// Whether the encoder codes this geometry: one sample of one bit, as TIFF 6.0
// defines the fax compressions for bilevel images only.
bool TifFaxEncoderAccepts(const TifCodecParams* params);
// Null for a geometry TifFaxEncoderAccepts refuses, or without memory.
TifCodec* TifNewFaxEncoder(const TifCodecParams* params);

// Destroy slot of both fax codecs: releases the codec's own block, then the base.
void TifFaxDestroy(TifCodec* codec);
