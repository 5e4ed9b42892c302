// tif_jpeg_scheme.h — the scheme of JPEG (Compression 7): hands the page's
// Photometric, YCbCrSubsampling and JPEGTables to the decoder, and reports a
// YCbCr page as the RGB it is delivered as. Not written: creating such a file
// fails cleanly.
#pragma once

#include "codec/tif_compression.h"

class CTifJpegCompression : public CTifCompression {
public:
    explicit CTifJpegCompression(CTifFile* file) : CTifCompression(file) {}

    TifCodec* CreateEncoder() override { return nullptr; }
    // Null also for a page the decoder cannot decode (its photometric,
    // samples or sampling), which then fails to open as an unsupported
    // compression.
    TifCodec* CreateDecoder() override;
};
