// tif_lzw_scheme.h — the scheme of LZW (Compression 5): the Predictor tag.
#pragma once

#include "codec/tif_compression.h"

class CTifLzwCompression : public CTifCompression {
public:
    explicit CTifLzwCompression(CTifFile* file) : CTifCompression(file) {}

    int SetEncodeParam(int tag, int value) override;
    int AddTags() override;
    int WriteTags() override;
    int ReadTags() override;

    int m_nPredictor = 1;  // Predictor to be written; 1 writes no entry
};
