// tif_predictor.h — TIFF Predictor 2 (horizontal differencing) for the LZW and
// Deflate codecs.
//
// Not a codec: a set of procedures that a codec installs around its own row
// slot. The codec's state must open with TifCodecState followed directly by
// TifPredictorState (see TifPredictedState), and an encoder's Destroy must end
// with TifPredictorDestroy. Only 8- and 16-bit samples.
#pragma once

#include "codec/tif_codec.h"

// Accumulates one row in place: stride in samples, row, bytes.
using TifPredRowProc = void (*)(int stride, unsigned char* row, int bytes);
// Differences the row at `src` into `row`: stride in samples, bytes.
using TifPredDiffProc = void (*)(int stride, const unsigned char* src, unsigned char* row, int bytes);

struct TifPredictorState {
    int predStride;               // samples between a sample and its predictor
    TifPredRowProc predRowProc;   // decoders: chosen at setup
    TifPredDiffProc predDiffProc; // encoders: chosen at setup
    TifRowsProc predInnerRows;    // the codec's own row slot, called by the wrapper
    // Encoders: the differenced rows, packed, that the inner encoder reads in
    // place of the caller's (which stay untouched); predBlockRows of them.
    unsigned char* predBlock;
    int predBlockRows;
    // Last value accepted for tag 317. Low 16 bits: Predictor (1 or 2).
    // High 16 bits (decoders): non-zero when 16-bit samples are stored in the
    // other byte order than the host's (see TifPredAccumulate16Swapped).
    int predictor;
};

// The common opening of every predicted codec's state.
struct TifPredictedState {
    TifCodecState header;
    TifPredictorState pred;
};

inline TifPredictorState* TifPredState(TifCodec* codec)
{
    return &static_cast<TifPredictedState*>(codec->state)->pred;
}

// Wrap the codec's current DecodeRows / EncodeRows. 0 (nothing changed) when
// the samples are neither 8 nor 16 bits, or when an encoder gets no memory for
// its block of differenced rows (allocated here, once).
int TifPredictorSetupDecode(TifCodec* codec, int swap);
int TifPredictorSetupEncode(TifCodec* codec, int unused);

// The wrappers. Decoding accumulates only when the inner decoder delivered
// every row asked for (else 0). Encoding differences the caller's rows into
// the encoder's block, a block at a time, and hands the inner encoder those:
// the caller's rows are only read.
int TifPredictorDecodeRows(TifCodec* codec, void* rows, int count);
int TifPredictorEncodeRows(TifCodec* codec, void* rows, int count);

// Frees an encoder's block, then the codec (TifCodecDestroy).
void TifPredictorDestroy(TifCodec* codec);

// Tag-317 handling shared by the four predicted codecs: accepts 1 (installs
// `plain`) or 2 (wraps `plain` with the predictor); anything else, or 2 on
// samples other than 8/16 bits or without memory, returns 0 and changes
// nothing.
int TifPredictorSetParam(TifCodec* codec, int tag, int value, TifRowsProc plain, bool decoder);

// Row procedures; a row of one pixel or less is left unchanged. The swapped
// accumulation serves 16-bit samples stored in the non-host byte order: it
// swaps to host order, accumulates, and swaps back, so the row ends in the
// byte order of the file like an uncompressed row would.
void TifPredAccumulate8(int stride, unsigned char* row, int bytes);
// The same with the differences read from `src`, a block apart from `row`
// (or `row` itself): a decoder holding a row in its own memory restores it on
// the way out, without copying it first.
void TifPredAccumulate8From(int stride, const unsigned char* src, unsigned char* row, int bytes);
void TifPredAccumulate16(int stride, unsigned char* row, int bytes);
void TifPredAccumulate16Swapped(int stride, unsigned char* row, int bytes);
// Differencing from `src` into `row`, a block apart from it; a row of one
// pixel or less is copied as it is.
void TifPredDifference8(int stride, const unsigned char* src, unsigned char* row, int bytes);
void TifPredDifference16(int stride, const unsigned char* src, unsigned char* row, int bytes);
