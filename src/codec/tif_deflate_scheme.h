// tif_deflate_scheme.h — the scheme of Deflate (Compression 8, and 32946, its older code): the Predictor tag.
#pragma once

#include "codec/tif_compression.h"

class CTifDeflateCompression : public CTifCompression {
public:
    explicit CTifDeflateCompression(CTifFile* file) : CTifCompression(file) {}

    int SetEncodeParam(int tag, int value) override;
    int AddTags() override;
    int WriteTags() override;
    int ReadTags() override;

    int m_nPredictor = 1;  // Predictor to be written; 1 writes no entry
};
