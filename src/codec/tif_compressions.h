// tif_compressions.h — the one table of TIFF Compression values: for each
// code the names the tool prints and accepts, what info calls it, its scheme
// (the CTifCompression subclass), its decoder and encoder with the encoder's
// geometry check, and the tags of its own. Everything that interprets a
// Compression number asks this table.
#pragma once

#include "codec/tif_codec.h"

class CTifCompression;
class CTifFile;

using TifCodecCtor = TifCodec* (*)(const TifCodecParams*);
using TifCodecAccepts = bool (*)(const TifCodecParams*);
using TifSchemeCtor = CTifCompression* (*)(CTifFile*);

// mostBytesPerByte of a coding that spends one stored bit per row at least.
constexpr int TIF_ROWS_PER_BIT = 0;
// The largest mostBytesPerByte of any row (LZW's).
constexpr int TIF_MOST_BYTES_PER_BYTE = 4096;

struct TifCompressionRow {
    int compression;         // the TIFF code
    const char* name;        // the name the tool prints
    const char* aliases[3];  // other names the tool takes; null ends them
    const char* title;       // what info calls it
    const char* note;        // for --help; null when none
    int t4Options;           // Group 3 only: the coding the name asks for
    int tag;                 // its own tag (TIF_TAG_PREDICTOR, _T4OPTIONS, _JPEGQUALITY); 0 none
    int sameDataAs;          // another code of the same data; 0 none
    TifSchemeCtor newScheme; // null: the base scheme, no tags of its own
    TifCodecCtor newDecoder; // null: not read
    TifCodecCtor newEncoder; // null: not written
    // The geometries the encoder codes; null: every geometry.
    TifCodecAccepts encoderAccepts;
    // The most bytes one stored byte decodes to; TIF_ROWS_PER_BIT: one row
    // per stored bit.
    int mostBytesPerByte;
};

// The rows in the order the tool lists them. A code may have several rows
// (Group 3's 1-D and 2-D names); its first is the one a number picks.
struct TifCompressionRows {
    const TifCompressionRow* first;
    const TifCompressionRow* past;
    const TifCompressionRow* begin() const { return first; }
    const TifCompressionRow* end() const { return past; }
};
TifCompressionRows TifCompressions();

// The first row of `compression`; null for a code the table does not know.
const TifCompressionRow* TifFindCompression(int compression);

// True when `tag` (TIF_TAG_PREDICTOR, TIF_TAG_T4OPTIONS) is the own tag of
// the scheme of `compression`.
bool TifCompressionHasTag(int compression, int tag);

// The images the row's encoder takes, for a message ("bilevel (1-bit)
// images"); null when it takes every geometry.
const char* TifEncoderTakes(const TifCompressionRow& row);

// The same stored data: equal codes, or Deflate's two.
bool TifSameCompressedData(int a, int b);
