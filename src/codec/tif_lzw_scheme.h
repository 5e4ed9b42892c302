// tif_lzw_scheme.h — the scheme of LZW (Compression 5): the Predictor tag.
#pragma once

#include "codec/tif_predicted_scheme.h"

class CTifLzwCompression : public CTifPredictedCompression {
public:
    explicit CTifLzwCompression(CTifFile* file) : CTifPredictedCompression(file) {}
};
