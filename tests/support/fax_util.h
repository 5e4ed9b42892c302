// fax_util.h — fax codec test helpers: a bit writer for exact T.4 code
// sequences (honouring FillOrder), a 1D row coder from the code list, fax-like
// pages and a decoder driven directly.
#pragma once

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "support/codec_io.h"
#include "support/tif_builder.h"

struct TifCodec;

namespace tiftest {

class FaxBitWriter {
public:
    void Put(uint32_t code, int length);  // most significant of `length` bits first
    void Put(const std::string& bits) { for (char c : bits) Put(c == '1', 1); }  // '0'/'1' characters
    void PutRun(bool black, int run);     // make-up codes as needed, then a terminating code
    void PutEol() { Put(1, 12); }
    void Align() { while (bits_ & 7) Put(0, 1); }  // zero bits up to a byte boundary
    Bytes Finish(int fillOrder = 1) const;  // last byte zero-padded; FillOrder 2 reverses bits

private:
    Bytes bytes_;
    int bits_ = 0;
};

inline bool Pixel(const Bytes& row, int x) { return (row[size_t(x) >> 3] >> (7 - (x & 7))) & 1; }

// Codes one row one-dimensionally (no EOL, no alignment).
void PutRow1D(FaxBitWriter& w, const Bytes& row, int width);

// Packed rows that look like a text page: blank lines, words of short runs,
// long runs (past 2560 on wide rows), rows starting black, repeated lines.
std::vector<Bytes> FaxPage(int width, int height, uint32_t seed);

// The row with the bits beyond `width` in its last byte cleared.
Bytes MaskRow(const Bytes& row, int width);

// A fax decoder from the registry, with its parameters set.
class FaxDecoder {
public:
    FaxDecoder(int compression, int width, int t4Options = 0, int fillOrder = 1);

    TifCodec* codec() const { return codec_.get(); }
    int rowBytes() const { return (width_ + 7) / 8; }
    void Begin(const Bytes& data, int chunk = INT_MAX, long throwAt = -1);
    // Decodes up to `rows` rows, `perCall` per DecodeRows call, into rows
    // pre-filled with 0xA5 (so untouched bits show); stops at a short call.
    int Decode(int rows, std::vector<Bytes>* out, int perCall = INT_MAX);

private:
    Codec codec_;
    int width_;
    MemSource src_;
};

}  // namespace tiftest
