// tif_predicted_scheme.h — the scheme shared by the compressions that take a
// Predictor (tag 317: LZW and Deflate): hands the file's Predictor to the
// decoder; when writing, passes it to the encoder and writes it.
#pragma once

#include "codec/tif_compression.h"

class CTifPredictedCompression : public CTifCompression {
public:
    explicit CTifPredictedCompression(CTifFile* file) : CTifCompression(file) {}

    // Predictor for writing: 1 when the encoder takes it, 0 when it refuses
    // (or there is no encoder). Other tags: nothing to set, 1.
    int SetEncodeParam(int tag, int value) override;
    // The Predictor entry of a written file: added and filled only when the
    // predictor is not 1 (the default). 0 when the entry cannot be made.
    int AddTags() override;
    int WriteTags() override;
    // Hands the file's Predictor to its decoder. Absent or 1: nothing to do,
    // 1. Otherwise the decoder gets SetParam(317, value), with bit 16 set
    // when the file's byte order is not the host's so that 16-bit samples are
    // accumulated in the right order and delivered in the file's order. 0
    // when the decoder refuses (a predictor it does not know, or one its
    // samples cannot take): such rows could only be delivered wrong.
    int ReadTags() override;

    int m_nPredictor = 1;  // Predictor to be written; 1 writes no entry
};
