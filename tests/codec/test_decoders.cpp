// test_decoders.cpp — what every decoder must do with any source: the same
// rows whatever the transfer and call sizes, rows placed at the caller's
// stride in either direction, read failures passed through (and the next
// strip decoded), and only complete rows counted when a strip is cut short or
// its stream ends.
#include <gtest/gtest.h>

#include "codec/general/lzw_test_encoder.h"
#include "support/codec_io.h"
#include "support/fax_util.h"

using namespace tiftest;

namespace {

enum Maker { kRaw, kLzw, kLzwOld, kPackBits, kZlib, kMh };

struct Case {
    const char* name;
    Maker maker;
    int compression;
    int rowBytes;
    int rows;
    int content;  // 0 pattern, 1 noise, 2 flat, 3 fax page
};

Codec Decoder(const Case& c)
{
    return c.content == 3 ? NewCodec(true, c.compression, c.rowBytes * 8, 1, 1) : NewCodec(true, c.compression, c.rowBytes);
}

Bytes Rows(const Case& c)
{
    const size_t n = size_t(c.rowBytes) * c.rows;
    Bytes page;
    for (const Bytes& r : FaxPage(c.rowBytes * 8, c.content == 3 ? c.rows : 0, 3))
        page.insert(page.end(), r.begin(), r.end());
    return c.content == 0 ? PatternRows(c.rowBytes, c.rows, 5) : c.content == 1 ? NoiseRows(n) : c.content == 2 ? Bytes(n, 0x5A) : page;
}

Bytes Strip(const Case& c, Bytes rows)
{
    switch (c.maker) {
    case kRaw: return rows;
    case kLzw: return LzwTestEncoder(false).Encode(rows);
    case kLzwOld: return LzwTestEncoder(true).Encode(rows);
    case kPackBits: return EncodeStrip(NewCodec(false, 32773, c.rowBytes).get(), rows, c.rows);
    case kZlib: return Zlib(rows);
    default: {
        FaxBitWriter w;
        for (int r = 0; r < c.rows; ++r) {
            PutRow1D(w, Bytes(rows.begin() + r * c.rowBytes, rows.begin() + (r + 1) * c.rowBytes), c.rowBytes * 8);
            w.Align();
        }
        return w.Finish();
    }
    }
}

class Decoders : public ::testing::TestWithParam<Case> {};

TEST_P(Decoders, SameRowsWhateverTheTransferAndCallSizes)
{
    const Case& c = GetParam();
    const Bytes rows = Rows(c), strip = Strip(c, rows);
    Codec dec = Decoder(c);
    for (int chunk : {1, 7, 1 << 20})
        for (int perCall : {1, 3, c.rows}) {
            Bytes out;
            ASSERT_EQ(DecodeStrip(dec.get(), strip, c.rows, &out, chunk, perCall), c.rows) << chunk << " " << perCall;
            ASSERT_EQ(out, rows) << chunk << " " << perCall;
        }
}

TEST_P(Decoders, RowsGoToTheCallersStrideInEitherDirection)
{
    const Case& c = GetParam();
    const Bytes rows = Rows(c), strip = Strip(c, rows);
    const int stride = c.rowBytes + 5;
    for (int reverse : {0, 1}) {
        Codec dec = Decoder(c);
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

TEST_P(Decoders, ReadFailurePassesThrough)
{
    const Case& c = GetParam();
    MemSource src;
    src.data = Strip(c, Rows(c));
    src.chunk = 5;
    src.throwAt = long(src.data.size() / 2);
    Codec dec = Decoder(c);
    dec->SetIoProc(dec.get(), MemSource::Proc, &src);
    dec->BeginStrip(dec.get());
    Bytes row(size_t(c.rowBytes));
    EXPECT_EQ(ThrownCode([&] {
                  for (int r = 0; r < c.rows; ++r)
                      dec->DecodeRows(dec.get(), row.data(), 1);
              }),
              CTifException::kShortRead);
    Bytes out;
    ASSERT_EQ(DecodeStrip(dec.get(), src.data, c.rows, &out), c.rows);
    EXPECT_EQ(out, Rows(c));
}

TEST_P(Decoders, CutStripCountsOnlyCompleteRows)
{
    const Case& c = GetParam();
    const Bytes rows = Rows(c);
    Bytes strip = Strip(c, rows);
    strip.resize(strip.size() / 2);
    for (int perCall : {1, c.rows}) {
        Codec dec = Decoder(c);
        Bytes out;
        const int got = DecodeStrip(dec.get(), strip, c.rows, &out, 1000, perCall);
        EXPECT_LT(got, c.rows);
        // Fax bits missing at the end read as zeros: the cut row ends white and counts.
        const long whole = got - (c.content == 3 ? 1 : 0);
        EXPECT_EQ(Bytes(out.begin(), out.begin() + whole * c.rowBytes), Bytes(rows.begin(), rows.begin() + whole * c.rowBytes));
    }
}

// A strip that holds fewer rows than asked for delivers exactly its own, and
// nothing after them, however the rows are asked for.
TEST_P(Decoders, NoRowsPastTheEndOfTheStream)
{
    const Case& c = GetParam();
    const Bytes strip = Strip(c, Rows(c));
    for (int perCall : {1, c.rows + 9}) {
        Codec dec = Decoder(c);
        MemSource src{strip, 0, 1 << 30};
        dec->SetIoProc(dec.get(), MemSource::Proc, &src);
        dec->BeginStrip(dec.get());
        Bytes out;
        EXPECT_EQ(DecodeRows(dec.get(), c.rows + 9, &out, perCall), c.rows) << perCall;
        EXPECT_EQ(dec->DecodeRows(dec.get(), out.data(), 1), 0) << perCall;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Strips, Decoders,
    ::testing::Values(
        Case{"Raw", kRaw, 1, 37, 20, 0}, Case{"RawRowsWiderThanABuffer", kRaw, 1, 70000, 3, 1},
        // Noise fills the LZW table: Clear at 12 bits and every width change.
        Case{"LzwNoise", kLzw, 5, 1000, 40, 1}, Case{"LzwOldStyleNoise", kLzwOld, 5, 997, 23, 1},
        // Flat rows: strings longer than a row continue through several rows.
        Case{"LzwFlat", kLzw, 5, 13, 300, 2}, Case{"LzwOldStyleFlat", kLzwOld, 5, 13, 300, 2},
        Case{"LzwRowsWiderThanABuffer", kLzw, 5, 70000, 3, 0},
        Case{"PackBitsPhoto", kPackBits, 32773, 5000, 40, 0}, Case{"PackBitsNoise", kPackBits, 32773, 200, 10, 1},
        Case{"Deflate", kZlib, 32946, 4000, 40, 0}, Case{"AdobeDeflate", kZlib, 8, 100, 50, 0},
        Case{"DeflateRowsWiderThanItsStaging", kZlib, 32946, 150000, 3, 0},
        Case{"ModifiedHuffman", kMh, 2, 216, 30, 3}),
    [](const ::testing::TestParamInfo<Case>& i) { return std::string(i.param.name); });

}  // namespace
