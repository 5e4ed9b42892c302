// test_general_decoders.cpp — what every general-purpose decoder must do with
// any source: the same rows whatever the transfer and call sizes, rows placed
// at the caller's stride in either direction, read failures passed through,
// and only complete rows counted when a strip is cut short.
#include <gtest/gtest.h>
#include <zlib.h>

#include "support/codec_io.h"
#include "lzw_test_encoder.h"

using namespace tiftest;

namespace {

enum Maker { kRaw, kLzw, kLzwOld, kPackBits, kZlib };

struct Case {
    const char* name;
    Maker maker;
    int compression;
    int rowBytes;
    int rows;
    int content;  // 0 photo, 1 noise, 2 flat
};

Bytes Rows(const Case& c)
{
    const size_t n = size_t(c.rowBytes) * c.rows;
    return c.content == 0 ? PatternRows(c.rowBytes, c.rows, 5) : c.content == 1 ? NoiseRows(n) : Bytes(n, 0x5A);
}

Bytes Strip(const Case& c, Bytes rows)
{
    switch (c.maker) {
    case kRaw: return rows;
    case kLzw: return LzwTestEncoder(false).Encode(rows);
    case kLzwOld: return LzwTestEncoder(true).Encode(rows);
    case kPackBits: return EncodeStrip(NewCodec(false, 32773, c.rowBytes).get(), rows, c.rows);
    default: {
        uLongf size = compressBound(uLong(rows.size()));
        Bytes z(size);
        compress2(z.data(), &size, rows.data(), uLong(rows.size()), 6);
        z.resize(size);
        return z;
    }
    }
}

class GeneralDecoders : public ::testing::TestWithParam<Case> {};

TEST_P(GeneralDecoders, SameRowsWhateverTheTransferAndCallSizes)
{
    const Case& c = GetParam();
    const Bytes rows = Rows(c), strip = Strip(c, rows);
    Codec dec = NewCodec(true, c.compression, c.rowBytes);
    for (int chunk : {1, 7, 1 << 20})
        for (int perCall : {1, 3, c.rows}) {
            Bytes out;
            ASSERT_EQ(DecodeStrip(dec.get(), strip, c.rows, &out, chunk, perCall), c.rows) << chunk << " " << perCall;
            ASSERT_EQ(out, rows) << chunk << " " << perCall;
        }
}

TEST_P(GeneralDecoders, RowsGoToTheCallersStrideInEitherDirection)
{
    const Case& c = GetParam();
    const Bytes rows = Rows(c), strip = Strip(c, rows);
    const int stride = c.rowBytes + 5;
    for (int reverse : {0, 1}) {
        Codec dec = NewCodec(true, c.compression, c.rowBytes);
        dec->SetRowStride(dec.get(), stride, reverse);
        MemSource src;
        src.data = strip;
        dec->SetIoProc(dec.get(), MemSource::Proc, &src);
        dec->BeginStrip(dec.get());
        Bytes buf(size_t(stride) * c.rows, 0xEE);
        ASSERT_EQ(dec->DecodeRows(dec.get(), buf.data() + (reverse ? size_t(stride) * (c.rows - 1) : 0), c.rows), c.rows);
        for (int r = 0; r < c.rows; ++r) {
            const auto at = buf.begin() + long(reverse ? c.rows - 1 - r : r) * stride;
            ASSERT_EQ(Bytes(at, at + c.rowBytes), Bytes(rows.begin() + long(r) * c.rowBytes, rows.begin() + long(r + 1) * c.rowBytes));
            ASSERT_EQ(Bytes(at + c.rowBytes, at + stride), Bytes(5, 0xEE));
        }
    }
}

TEST_P(GeneralDecoders, ReadFailurePassesThrough)
{
    const Case& c = GetParam();
    MemSource src;
    src.data = Strip(c, Rows(c));
    src.chunk = 5;
    src.throwAt = long(src.data.size() / 2);
    Codec dec = NewCodec(true, c.compression, c.rowBytes);
    dec->SetIoProc(dec.get(), MemSource::Proc, &src);
    dec->BeginStrip(dec.get());
    Bytes row(size_t(c.rowBytes));
    EXPECT_EQ(ThrownCode([&] {
                  for (int r = 0; r < c.rows; ++r)
                      dec->DecodeRows(dec.get(), row.data(), 1);
              }),
              CTifException::kShortRead);
}

TEST_P(GeneralDecoders, CutStripCountsOnlyCompleteRows)
{
    const Case& c = GetParam();
    const Bytes rows = Rows(c);
    Bytes strip = Strip(c, rows);
    strip.resize(strip.size() / 2);
    for (int perCall : {1, c.rows}) {
        Codec dec = NewCodec(true, c.compression, c.rowBytes);
        Bytes out;
        const int got = DecodeStrip(dec.get(), strip, c.rows, &out, 1000, perCall);
        EXPECT_LT(got, c.rows);
        EXPECT_EQ(Bytes(out.begin(), out.begin() + long(got) * c.rowBytes), Bytes(rows.begin(), rows.begin() + long(got) * c.rowBytes));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Strips, GeneralDecoders,
    ::testing::Values(
        Case{"Raw", kRaw, 1, 37, 20, 0}, Case{"RawRowsWiderThanABuffer", kRaw, 1, 70000, 3, 1},
        // Noise fills the LZW table: Clear at 12 bits and every width change.
        Case{"LzwNoise", kLzw, 5, 1000, 40, 1}, Case{"LzwOldStyleNoise", kLzwOld, 5, 997, 23, 1},
        // Flat rows: strings longer than a row continue through several rows.
        Case{"LzwFlat", kLzw, 5, 13, 300, 2}, Case{"LzwOldStyleFlat", kLzwOld, 5, 13, 300, 2},
        Case{"LzwRowsWiderThanABuffer", kLzw, 5, 70000, 3, 0},
        Case{"PackBitsPhoto", kPackBits, 32773, 5000, 40, 0}, Case{"PackBitsNoise", kPackBits, 32773, 200, 10, 1},
        Case{"Deflate", kZlib, 32946, 4000, 40, 0}, Case{"AdobeDeflate", kZlib, 8, 100, 50, 0},
        Case{"DeflateRowsWiderThanItsStaging", kZlib, 32946, 150000, 3, 0}),
    [](const ::testing::TestParamInfo<Case>& i) { return std::string(i.param.name); });

}  // namespace
