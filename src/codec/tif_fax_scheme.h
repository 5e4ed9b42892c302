// tif_fax_scheme.h — the compression scheme of the CCITT fax compressions
// (2, 3, 4): hands the file's T4Options and FillOrder to the decoder; when
// writing Group 3, passes T4Options to the encoder and writes it.
#pragma once

#include "codec/tif_compression.h"

class CTifFaxCompression : public CTifCompression {
public:
    explicit CTifFaxCompression(CTifFile* file) : CTifCompression(file) {}

    int SetEncodeParam(int tag, int value) override;
    int AddTags() override;
    int WriteTags() override;
    int ReadTags() override;
    int DecodesFillOrder() const override { return 1; }

    int m_nT4Options = 0;  // T4Options to be written; 0 writes no entry
};
