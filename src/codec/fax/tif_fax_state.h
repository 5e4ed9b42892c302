// tif_fax_state.h — the private states of the fax decoder and encoder.
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
    uint64_t* toggleWords;  // owned; covers runs of damaged rows past the row end; zero between rows
    int32_t togglesDirty;   // a DecodeRows call did not return: toggleWords may hold flips
    int32_t rawBlock;       // the buffered bytes are as read: not yet turned for the reader
};

// Frees the decoder's run arrays and toggle words (the Destroy slot does the rest).
void TifFaxDecoderRelease(TifCodec* codec);

struct TifFaxEncoderState {
    TifCodecState header;
    int32_t rowPixels;      // width × samples × bits: one pixel per bit
    int32_t options;        // T4Options last accepted
    int32_t framing;        // FAX_FRAMING_EOL, FAX_FRAMING_BYTEALIGN or 0
    int32_t outBits;        // bits of the byte being built, placed from bit 7 down
    int32_t outBitsFree;    // free positions left in that byte, 1..8 (8: empty)
    int32_t next2D;         // the next Compression 3 row is coded 2D (EOL tag 0)
    uint8_t* refLine;       // owned copy of the reference row; null when coding 1D only
    int32_t kCount;         // 2D rows still allowed before the next 1D row
    int32_t maxK;           // K factor: 4 while T4OPT_2D is set, else 0
};

// Frees the encoder's reference row (the Destroy slot does the rest).
void TifFaxEncoderRelease(TifCodec* codec);
