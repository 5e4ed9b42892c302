// tif_predictor_tag.h — the Predictor tag (317) between a file and its LZW or
// Deflate codec, shared by those two schemes.
#pragma once

class CTifFile;
struct TifCodec;

// Hands the file's Predictor to its decoder. Absent or 1: nothing to do, 1.
// Otherwise the decoder gets SetParam(317, value), with bit 16 set when the
// file's byte order is not the host's so that 16-bit samples are accumulated
// in the right order and delivered in the file's order. 0 when the decoder
// refuses (a predictor it does not know, or one its samples cannot take):
// such rows could only be delivered wrong.
int TifReadPredictorTag(CTifFile* file);

// Passes a Predictor chosen for writing to the file's encoder: 1 when the
// encoder takes it, 0 when it refuses (or there is no encoder).
int TifSetEncoderPredictor(CTifFile* file, int value);

// The Predictor entry of a written file: added and filled only when the
// predictor is not 1 (the default). 0 when the entry cannot be made.
int TifAddPredictorTag(CTifFile* file, int predictor);
int TifWritePredictorTag(CTifFile* file, int predictor);
