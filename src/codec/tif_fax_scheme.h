// tif_fax_scheme.h — the compression scheme of the CCITT fax compressions
// (2, 3, 4): hands the file's T4Options and FillOrder to the decoder.
#pragma once

#include "codec/tif_compression.h"

class CTifFaxCompression : public CTifCompression {
public:
    explicit CTifFaxCompression(CTifFile* file) : CTifCompression(file) {}

    int ReadTags() override;

    int m_nT4Options = 0;  // T4Options to be written; 0 writes no entry
};
