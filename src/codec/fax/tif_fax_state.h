// tif_fax_state.h — the private state of the fax decoder.
#pragma once

#include <cstdint>

#include "codec/tif_codec.h"

struct TifFaxDecoderState {
    TifCodecState header;
    int32_t rowPixels;      // width × samples × bits: one pixel per bit
    int32_t options;        // T4Options last accepted
    int32_t framing;        // FAX_FRAMING_EOL, FAX_FRAMING_BYTEALIGN or 0
    uint64_t bitAcc;        // next unread bit in bit 0; above bitCount maybe the start of the next byte
    int32_t bitCount;       // valid bits in bitAcc
    int32_t bitPad;         // of those, zero bits added at the top after the data ended
    int32_t eolPending;     // the EOL before the next row is already consumed
    int32_t* runArrays;     // owned block of one or two run arrays
    int32_t* refRuns;       // reference row's runs; null when decoding 1D only
    int32_t* curRuns;       // runs of the row being decoded
    const uint8_t* bitMap;  // byte translation for the fill order
    int32_t runCapacity;    // entries in each run array
};

// Frees the decoder's run arrays (the Destroy slot does the rest).
void TifFaxDecoderRelease(TifCodec* codec);
