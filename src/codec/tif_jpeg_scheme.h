// tif_jpeg_scheme.h — the scheme of JPEG (Compression 7) and of old-style
// JPEG (6) in its self-contained forms: hands the page's Photometric,
// YCbCrSubsampling and JPEGTables to the decoder, and reports a YCbCr page as
// the RGB it is delivered as. Writing: RGB pages are written as YCbCr
// subsampled 2x2, grey and CMYK as they are, with JPEGTables once for the
// page.
#pragma once

#include <cstdint>

#include "codec/general/tif_jpeg.h"
#include "codec/tif_compression.h"

class CTifJpegCompression : public CTifCompression {
public:
    explicit CTifJpegCompression(CTifFile* file) : CTifCompression(file) {}

    ~CTifJpegCompression() override;

    // Null for a page JPEG does not code (palettes, bilevel, extra samples).
    TifCodec* CreateEncoder() override;
    int HasEncoder() const override;
    // Whole bands of blocks: 16 rows for YCbCr, 8 else (a single strip as
    // asked), and no more than a JPEG frame holds.
    int StripRows(int asked) const override;
    // TIF_TAG_JPEGQUALITY; other tags are accepted and ignored.
    int SetEncodeParam(int tag, int value) override;
    int AddTags() override;
    int WriteTags() override;
    // The source's JPEGTables and YCbCr tags, written in place of the encoder's.
    int TakeCoding(CTifFile* from) override;
    // A page ended inside a strip: that strip's frame says the rows it has.
    int DataEnded() override;
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
    TifJpegEncoding Encoding() const;
    int Written() const;  // the photometric written; -1 none

    // Taken from a source whose strips are copied (TakeCoding).
    unsigned char* m_pTables = nullptr;
    int m_nTablesSize = 0;
    int m_nTakenPhotometric = -1;
    int m_nFrameRows = 0;  // the height the encoder was given: its last strip's frame is made for it
    uint16_t m_aSampling[2] = {2, 2};
};
