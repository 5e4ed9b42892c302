// fax_util.cpp — fax codec test helpers (see fax_util.h).
#include "support/fax_util.h"

#include <algorithm>
#include <random>
#include <stdexcept>

#include "codec/fax/tif_fax_codes.h"
#include "codec/tif_codec.h"
#include "io/tif_exception.h"

namespace tiftest {

void FaxBitWriter::Put(uint32_t code, int length)
{
    for (int i = length - 1; i >= 0; --i, ++bits_) {
        if ((bits_ & 7) == 0)
            bytes_.push_back(0);
        if ((code >> i) & 1)
            bytes_.back() |= uint8_t(0x80 >> (bits_ & 7));
    }
}

static void PutCode(FaxBitWriter& w, int kind, int param)
{
    for (const TifFaxCode& c : TifFaxCodes)
        if (c.kind == kind && c.param == param)
            return w.Put(c.code, c.length);
    throw std::logic_error("no such code");
}

void FaxBitWriter::PutRun(bool black, int run)
{
    for (; run > 2560; run -= 2560)
        PutCode(*this, TIF_FAX_EXT_MAKEUP, 2560);
    if (run >= 64) {
        const int m = run / 64 * 64;
        PutCode(*this, m >= 1792 ? TIF_FAX_EXT_MAKEUP : black ? TIF_FAX_BLACK_MAKEUP : TIF_FAX_WHITE_MAKEUP, m);
        run -= m;
    }
    PutCode(*this, black ? TIF_FAX_BLACK_TERM : TIF_FAX_WHITE_TERM, run);
}

Bytes FaxBitWriter::Finish(int fillOrder) const
{
    Bytes out = bytes_;
    for (uint8_t& b : out)
        for (uint8_t i = 0, r = b; fillOrder != 1 && i < 8; ++i)
            b = uint8_t(b << 1 | ((r >> i) & 1));
    return out;
}

void PutRow1D(FaxBitWriter& w, const Bytes& row, int width)
{
    bool colour = false;
    for (int x = 0; x < width; colour = !colour) {
        int n = 0;
        while (x + n < width && Pixel(row, x + n) == colour)
            ++n;
        w.PutRun(colour, n);
        x += n;
    }
}

std::vector<Bytes> FaxPage(int width, int height, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<Bytes> rows;
    Bytes row(size_t(width + 7) / 8, 0);
    for (int y = 0; y < height; ++y) {
        const unsigned kind = rng() % 10;
        if (kind < 3) {
            row.assign(row.size(), 0);  // blank line
        } else if (kind < 5) {
            for (int i = 0; i < 3; ++i) {  // the line before with a few edges moved
                int x = int(rng() % unsigned(width));
                row[size_t(x) >> 3] ^= uint8_t(0x80 >> (x & 7));
            }
        } else {
            row.assign(row.size(), 0);
            for (int x = (rng() % 4 == 0) ? 0 : int(rng() % 40); x < width;) {
                int black = 1 + int(rng() % (rng() % 8 == 0 ? 3000 : 12));
                for (int i = x; i < x + black && i < width; ++i)
                    row[size_t(i) >> 3] |= uint8_t(0x80 >> (i & 7));
                x += black + 1 + int(rng() % (rng() % 6 == 0 ? 200 : 15));
            }
        }
        row = MaskRow(row, width);
        rows.push_back(row);
    }
    return rows;
}

Bytes MaskRow(const Bytes& row, int width)
{
    Bytes r = row;
    if (width & 7)
        r[size_t(width) >> 3] &= uint8_t(0xFF00 >> (width & 7));
    return r;
}

FaxDecoder::FaxDecoder(int compression, int width, int t4Options, int fillOrder)
    : codec_(NewCodec(true, compression, width, 1, 1)), width_(width)
{
    if (!codec_)
        throw std::runtime_error("no fax decoder");
    if (t4Options != 0)
        codec_->SetParam(codec_.get(), 292, t4Options);
    if (fillOrder != 1)
        codec_->SetParam(codec_.get(), 266, fillOrder);
}

void FaxDecoder::Begin(const Bytes& data, int chunk, long throwAt)
{
    src_ = MemSource{data, 0, chunk, throwAt};
    codec_->SetIoProc(codec_.get(), MemSource::Proc, &src_);
    codec_->BeginStrip(codec_.get());
}

int FaxDecoder::Decode(int rows, std::vector<Bytes>* out, int perCall)
{
    Bytes all;
    const int done = DecodeRows(codec_.get(), rows, &all, perCall, 0xA5);
    out->clear();
    for (size_t y = 0, rb = size_t(rowBytes()); y < size_t(done); ++y)
        out->emplace_back(all.begin() + long(rb * y), all.begin() + long(rb * (y + 1)));
    return done;
}

}  // namespace tiftest
