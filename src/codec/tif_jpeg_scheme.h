// tif_jpeg_scheme.h — the scheme of JPEG (Compression 7): recognised, neither
// read nor written, so opening or creating such a file fails cleanly.
#pragma once

#include "codec/tif_compression.h"

class CTifJpegCompression : public CTifCompression {
public:
    explicit CTifJpegCompression(CTifFile* file) : CTifCompression(file) {}

    TifCodec* CreateEncoder() override { return nullptr; }
    TifCodec* CreateDecoder() override { return nullptr; }
};
