// tif_jpeg_scheme.h — the scheme of JPEG (Compression 7) and of old-style
// JPEG (6) in its self-contained forms: hands the page's Photometric,
// YCbCrSubsampling and JPEGTables to the decoder, and reports a YCbCr page as
// the RGB it is delivered as. Not written: creating such a file fails cleanly.
#pragma once

#include "codec/general/tif_jpeg.h"
#include "codec/tif_compression.h"

class CTifJpegCompression : public CTifCompression {
public:
    explicit CTifJpegCompression(CTifFile* file) : CTifCompression(file) {}

    TifCodec* CreateEncoder() override { return nullptr; }
    // Null also for a page the decoder cannot decode (its photometric,
    // samples or sampling), for old-style tiles and for old-style pages whose
    // strips lean on tables stored apart (JPEGQTables, JPEGDCTables,
    // JPEGACTables without JPEGInterchangeFormat), which then fail to open as
    // an unsupported compression.
    TifCodec* CreateDecoder() override;
    // An old-style page with JPEGInterchangeFormat is one stream for the
    // whole image, read as a single strip of JPEGInterchangeFormatLength
    // bytes (to the end of the file without it); every other page: -1.
    int ReadOwnLayout() override;

private:
    bool WholeStream() const;
    bool Refused() const;     // an old-style form that is not self-contained
    TifJpegPage Page() const;
};
