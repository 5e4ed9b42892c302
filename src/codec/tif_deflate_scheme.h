// tif_deflate_scheme.h — the scheme of Deflate (Compression 8, and 32946, its older code): the Predictor tag.
#pragma once

#include "codec/tif_predicted_scheme.h"

class CTifDeflateCompression : public CTifPredictedCompression {
public:
    explicit CTifDeflateCompression(CTifFile* file) : CTifPredictedCompression(file) {}
};
