// fax_util.h — helpers for the fax codec tests: a bit writer that builds exact
// T.4 code sequences (honouring FillOrder), a one-dimensional encoder from the
// code list, fax-like test pages, memory I/O procedures and a direct decode.
#pragma once

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "support/tif_builder.h"

struct TifCodec;

namespace tiftest {

class FaxBitWriter {
public:
    // Appends `length` bits of `code`, its most significant bit first.
    void Put(uint32_t code, int length);
    // Appends bits given as '0'/'1' characters (anything else is skipped).
    void Put(const std::string& bits);
    void PutRun(bool black, int run);  // make-up codes as needed, then a terminating code
    void PutEol() { Put(1, 12); }
    void ZeroFill(int bits) { Put(0, bits); }
    void Align();                      // zero bits up to the next byte boundary
    int BitCount() const { return bits_; }
    // The bytes, the last one padded with zeros; FillOrder 2 reverses each byte.
    Bytes Finish(int fillOrder = 1) const;

private:
    Bytes bytes_;
    int bits_ = 0;
};

// Pixel x of a packed row (MSB first).
inline bool Pixel(const Bytes& row, int x) { return (row[size_t(x) >> 3] >> (7 - (x & 7))) & 1; }

// Run lengths of a packed row, starting with white.
std::vector<int> RowRuns(const Bytes& row, int width);

// Codes one row one-dimensionally (no EOL, no alignment).
void PutRow1D(FaxBitWriter& w, const Bytes& row, int width);

// A page of `height` packed rows that looks like text: blank lines, words of
// short runs, some long runs, some rows starting black.
std::vector<Bytes> FaxPage(int width, int height, uint32_t seed);

// Reads a byte vector `chunk` bytes per call; throws CTifException (short read)
// once `throwAt` bytes have been delivered, when throwAt >= 0.
struct MemSource {
    const Bytes* data = nullptr;
    size_t pos = 0;
    int chunk = INT_MAX;
    long throwAt = -1;

    static int Proc(unsigned char* buffer, int length, void* context);
};

// Owns a fax decoder made through the registry.
class FaxDecoder {
public:
    FaxDecoder(int compression, int width, int t4Options = 0, int fillOrder = 1);
    ~FaxDecoder();
    FaxDecoder(const FaxDecoder&) = delete;
    FaxDecoder& operator=(const FaxDecoder&) = delete;

    TifCodec* codec() const { return codec_; }
    int rowBytes() const { return (width_ + 7) / 8; }
    // Starts a strip over `data`, delivered `chunk` bytes per ioProc call.
    void Begin(const Bytes& data, int chunk = INT_MAX, long throwAt = -1);
    // Decodes up to `rows` rows, `perCall` rows per DecodeRows call, into `out`
    // (rows × rowBytes, pre-filled with 0xA5 so untouched bits show). Returns
    // the rows completed; stops at the first short call.
    int Decode(int rows, std::vector<Bytes>* out, int perCall = INT_MAX);

private:
    TifCodec* codec_ = nullptr;
    int width_;
    Bytes data_;
    MemSource src_;
};

// Copies `row` with the bits beyond `width` in the last byte cleared.
Bytes MaskRow(const Bytes& row, int width);

}  // namespace tiftest
