// test_fax_encoder.cpp — the fax encoder: exact bit layouts written out from
// the T.4 code words, the K = 4 pattern across strips, parameters and geometry,
// and round trips through our decoder and through libtiff.
#include <gtest/gtest.h>

#include <random>

#include "codec/fax/tif_fax.h"
#include "support/fax_util.h"
#include "support/libtiff_util.h"
#include "support/temp_dir.h"

using namespace tiftest;

namespace {

// Bytes of a bit string ('0'/'1', spaces ignored), zero-padded to a byte.
Bytes Bits(const std::string& s)
{
    FaxBitWriter w;
    for (char c : s)
        if (c != ' ')
            w.Put(c == '1', 1);
    return w.Finish();
}

// A packed row from its runs, white first.
Bytes RunsRow(const std::vector<int>& runs)
{
    int width = 0;
    for (int r : runs)
        width += r;
    Bytes row((size_t(width) + 7) / 8, 0);
    for (size_t i = 0, x = 0; i < runs.size(); x += size_t(runs[i++]))
        for (size_t p = x; i % 2 && p < x + size_t(runs[i]); ++p)
            row[p >> 3] |= uint8_t(0x80 >> (p & 7));
    return row;
}

Codec NewFaxEncoder(int compression, int width, int t4Options)
{
    Codec e = NewCodec(false, compression, width, 1, 1);
    if (e && t4Options != 0) {
        EXPECT_EQ(e->SetParam(e.get(), 292, t4Options), 1);
    }
    return e;
}

Bytes Flat(const std::vector<Bytes>& rows, size_t from, size_t n)
{
    Bytes all;
    for (size_t y = from; y < from + n; ++y)
        all.insert(all.end(), rows[y].begin(), rows[y].end());
    return all;
}

struct VectorCase {
    const char* name;
    int compression, t4Options;
    std::vector<std::vector<int>> rows;  // runs of each row
    const char* bits;                    // the strip, before the zero bits to its last byte boundary
};

class FaxEncoderVectors : public ::testing::TestWithParam<VectorCase> {};

TEST_P(FaxEncoderVectors, StripIsExact)
{
    const VectorCase& c = GetParam();
    std::vector<Bytes> rows;
    for (const auto& runs : c.rows)
        rows.push_back(RunsRow(runs));
    int width = 0;
    for (int r : c.rows[0])
        width += r;
    Codec e = NewFaxEncoder(c.compression, width, c.t4Options);
    ASSERT_TRUE(e);
    Bytes flat = Flat(rows, 0, rows.size());
    EXPECT_EQ(EncodeStrip(e.get(), flat, int(rows.size())), Bits(c.bits));
}

// Code words written out by hand from T.4 (EOL 000000000001; white 3 1000,
// 8 10011, 63 00110100, 0 00110101, make-up 64 11011, 1728 010011011, 2432
// 000000011101, 2560 000000011111; black 2 11, 6 0010, 8 000101, 0 0000110111,
// make-up 64 0000001111; modes P 0001, H 001, V0 1, VR1 011, VL1 010).
INSTANTIATE_TEST_SUITE_P(Fax, FaxEncoderVectors, ::testing::Values(
    VectorCase{"MH_0x18", 2, 0, {{3, 2, 3}}, "1000 11 1000"},
    VectorCase{"MH_TwoRowsByteAligned", 2, 0, {{3, 2, 3}, {8}}, "1000 11 1000 000000 10011"},
    VectorCase{"G3_0x18", 3, 0, {{3, 2, 3}}, "000000000001 1000 11 1000"},
    VectorCase{"G3_TwoRowsNoFill", 3, 0, {{3, 2, 3}, {8}}, "000000000001 1000 11 1000 000000000001 10011"},
    VectorCase{"G3_FillBits_0x18", 3, 4, {{3, 2, 3}}, "0000 000000000001 1000 11 1000"},
    VectorCase{"G3_FillBits_TwoRows", 3, 4, {{3, 2, 3}, {8}},
               "0000 000000000001 1000 11 1000 00 000000000001 10011"},
    VectorCase{"G3_2D_TagThenV", 3, 1, {{3, 2, 3}, {4, 2, 2}}, "000000000001 1 1000 11 1000 000000000001 0 011 011 1"},
    VectorCase{"G3_2D_FillBits_TagFirstInByte", 3, 5, {{3, 2, 3}, {8}},
               "0000 000000000001 1 1000 11 1000 0 000000000001 0 0001 1"},
    VectorCase{"G4_0x18", 4, 0, {{3, 2, 3}}, "001 1000 11 1 000000000001 000000000001"},
    // VR1, pass, horizontal, VL1 at pixel 0, and horizontal after a V0 at
    // pixel 0 (black first, a0 being pixel 0 itself).
    VectorCase{"G4_AllModes", 4, 0, {{3, 2, 3}, {4, 2, 2}, {8}, {1, 2, 5}, {0, 2, 6}, {0, 6, 2}},
               "001 1000 11 1  011 011 1  0001 1  001 000111 11 1  010 010 1  1 001 0010 0111"
               " 000000000001 000000000001"},
    VectorCase{"MH_White1728", 2, 0, {{1728}}, "010011011 00110101"},
    VectorCase{"MH_White2560", 2, 0, {{2560}}, "000000011111 00110101"},
    VectorCase{"MH_White2623", 2, 0, {{2623}}, "000000011111 00110100"},
    VectorCase{"MH_White2624", 2, 0, {{2624}}, "000000011111 11011 00110101"},
    VectorCase{"MH_White5000", 2, 0, {{5000}}, "000000011111 000000011101 10011"},
    VectorCase{"MH_Black2624", 2, 0, {{0, 2624}}, "00110101 000000011111 0000001111 0000110111"}),
    [](const ::testing::TestParamInfo<VectorCase>& i) { return std::string(i.param.name); });

// With K = 4 a 2D strip runs one 1D row (EOL tag 1) and at most three 2D rows
// (tag 0); each strip restarts with a 1D row while the countdown runs on.
// All-white rows of 8: 1D is white 8, 2D is V0.
TEST(FaxEncoder, KCountdownCarriedAcrossStrips)
{
    Codec e = NewFaxEncoder(3, 8, T4OPT_2D);
    for (const std::string kinds : {"12", "122", "12221", "122212221"}) {
        std::string bits;
        for (char k : kinds)
            bits += k == '1' ? "000000000001 1 10011 " : "000000000001 0 1 ";
        Bytes rows(kinds.size(), 0);
        EXPECT_EQ(EncodeStrip(e.get(), rows, int(kinds.size())), Bits(bits)) << kinds;
    }
}

// Only Compression 3 takes T4Options, only bits 0..2; a refused value
// changes nothing. Geometry other than one 1-bit sample is refused.
TEST(FaxEncoder, ParametersAndGeometry)
{
    const struct { int compression, tag, value, result; } params[] = {
        {3, 292, 5, 1}, {3, 292, 2, 1}, {3, 292, 8, 0}, {3, 292, -1, 0}, {4, 292, 1, 0}, {3, 266, 1, 0}, {3, 317, 1, 0},
    };
    for (const auto& p : params) {
        Codec e = NewFaxEncoder(p.compression, 8, 0);
        EXPECT_EQ(e->SetParam(e.get(), p.tag, p.value), p.result) << p.compression << " " << p.tag << " " << p.value;
    }
    Codec e = NewFaxEncoder(3, 8, 5);
    EXPECT_EQ(e->Destroy, TifFaxDestroy) << "one destroy for decoder and encoder";
    EXPECT_EQ(e->SetParam(e.get(), 292, 9), 0);
    Bytes row = RunsRow({3, 2, 3});
    EXPECT_EQ(EncodeStrip(e.get(), row, 1), Bits("0000 000000000001 1 1000 11 1000"));

    const TifCodecParams refused[] = {{2, 8, 1, 8}, {3, 8, 2, 1}, {4, 8, 1, 4}, {4, 8, 3, 8}, {4, 0, 1, 1}};
    for (const TifCodecParams& p : refused)
        EXPECT_EQ(TifCreateEncoder(&p), nullptr) << p.compression << " " << p.samplesPerPixel << "x" << p.bitsPerSample;
}

// ------------------------------------------------------------ round trips

// Rows of random runs, from single pixels (every mode code) to thousands.
std::vector<Bytes> RandomRows(int width, int height, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<Bytes> rows;
    for (int y = 0; y < height; ++y) {
        Bytes row((size_t(width) + 7) / 8, 0);
        bool black = rng() % 2;
        for (int x = 0; x < width; black = !black) {
            const int run = 1 + int(rng() % (1u << (rng() % 13)));
            for (int p = x; black && p < x + run && p < width; ++p)
                row[size_t(p) >> 3] |= uint8_t(0x80 >> (p & 7));
            x += run;
        }
        rows.push_back(MaskRow(row, width));
    }
    return rows;
}

// Rows of the runs with the longest codes: white 2560..2623 (a 12-bit make-up
// code), black 1280..1727 (13 bits) and black 20..63 (mostly 12 bits), with
// single pixels between, so that long codes meet at every bit position.
std::vector<Bytes> LongCodeRows(int width, int height, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<Bytes> rows;
    for (int y = 0; y < height; ++y) {
        Bytes row((size_t(width) + 7) / 8, 0);
        bool black = false;
        for (int x = y % 3; x < width; black = !black) {
            const int kind = int(rng() % 4);
            const int run = kind == 0 ? 1 : black ? (kind == 1 ? 1280 + int(rng() % 448) : 20 + int(rng() % 44))
                                                  : 2560 + int(rng() % 64);
            for (int p = x; black && p < x + run && p < width; ++p)
                row[size_t(p) >> 3] |= uint8_t(0x80 >> (p & 7));
            x += run;
        }
        rows.push_back(MaskRow(row, width));
    }
    return rows;
}

struct Mode {
    const char* name;
    int compression, t4Options;
};

// Bits past the width in the caller's rows are not pixels: rows with all of
// them set code as the same rows with them clear, whatever the mode.
TEST(FaxEncoder, BitsPastTheWidthAreIgnored)
{
    const Mode modes[] = {{"MH", 2, 0}, {"G3", 3, 0}, {"G3_2D", 3, 1}, {"G4", 4, 0}};
    for (const Mode& mode : modes) {
        for (int width : {1, 5, 9, 63, 65, 70, 127, 1729}) {
            const std::vector<Bytes> rows = RandomRows(width, 6, uint32_t(width) * 7);
            Bytes clear, set;
            for (const Bytes& row : rows) {
                Bytes padded = row;
                if (width % 8 != 0)
                    padded.back() |= uint8_t(0xFF >> (width % 8));
                clear.insert(clear.end(), row.begin(), row.end());
                set.insert(set.end(), padded.begin(), padded.end());
            }
            Codec a = NewFaxEncoder(mode.compression, width, mode.t4Options);
            Codec b = NewFaxEncoder(mode.compression, width, mode.t4Options);
            ASSERT_TRUE(a && b);
            EXPECT_EQ(EncodeStrip(a.get(), set, int(rows.size())), EncodeStrip(b.get(), clear, int(rows.size())))
                << mode.name << " width " << width;
        }
    }
}

class FaxEncoderRoundTrip : public ::testing::TestWithParam<std::tuple<Mode, int>> {};

// Strips of 10, 10 and 3 rows from one encoder (the K countdown crosses them),
// coded once a strip per call and once 1, 2, 3 rows per call from a reversed
// array at a wider stride through a 7-byte caller buffer: the same bytes, which
// our decoder and libtiff (silently) turn back into the rows.
TEST_P(FaxEncoderRoundTrip, DecodersGetTheRowsBack)
{
    const auto& [mode, width] = GetParam();
    const int height = 23, rowsPerStrip = 10, rowBytes = (width + 7) / 8, stride = rowBytes + 5;
    for (int content = 0; content < 3; ++content) {
        SCOPED_TRACE(content == 0 ? "random" : content == 1 ? "page" : "long codes");
        const std::vector<Bytes> rows = content == 0 ? RandomRows(width, height, uint32_t(width))
                                        : content == 1 ? FaxPage(width, height, uint32_t(width))
                                                       : LongCodeRows(width, height, uint32_t(width));
        Bytes reversed(size_t(stride) * height, 0x5A);  // row y at (height − 1 − y) × stride
        for (int y = 0; y < height; ++y)
            std::copy(rows[size_t(y)].begin(), rows[size_t(y)].end(), reversed.begin() + long(height - 1 - y) * stride);

        Codec whole = NewFaxEncoder(mode.compression, width, mode.t4Options);
        Codec piecewise = NewFaxEncoder(mode.compression, width, mode.t4Options);
        ASSERT_TRUE(whole && piecewise);
        uint8_t small[7];
        piecewise->SetBuffer(piecewise.get(), small, sizeof small);
        piecewise->SetRowStride(piecewise.get(), stride, 1);
        std::vector<Bytes> strips;
        FaxDecoder ours(mode.compression, width, mode.t4Options);
        for (int y0 = 0; y0 < height; y0 += rowsPerStrip) {
            const int n = std::min(rowsPerStrip, height - y0);
            Bytes flat = Flat(rows, size_t(y0), size_t(n));
            strips.push_back(EncodeStrip(whole.get(), flat, n));

            MemSink sink;
            piecewise->SetIoProc(piecewise.get(), MemSink::Proc, &sink);
            piecewise->BeginStrip(piecewise.get());
            for (int y = y0, k = 1; y < y0 + n; y += k, k = k % 3 + 1) {
                k = std::min(k, y0 + n - y);
                piecewise->EncodeRows(piecewise.get(), &reversed[size_t(height - 1 - y) * size_t(stride)], k);
            }
            piecewise->EndStrip(piecewise.get());
            EXPECT_EQ(sink.data, strips.back()) << "strip at " << y0;
            for (size_t i = 0; i + 1 < sink.handOvers.size(); ++i)
                ASSERT_EQ(sink.handOvers[i], 7);

            ours.Begin(strips.back());
            std::vector<Bytes> back;
            ASSERT_EQ(ours.Decode(n, &back), n);
            for (int y = 0; y < n; ++y)
                ASSERT_EQ(MaskRow(back[size_t(y)], width), rows[size_t(y0 + y)]) << "row " << y0 + y;
        }
        for (int y = 0; y < height; ++y)  // the caller's rows are only read
            ASSERT_EQ(reversed[size_t(height - 1 - y) * size_t(stride) + size_t(rowBytes)], 0x5A);

        TiffBuilder b;
        b.StripImage({uint32_t(width), uint32_t(height), 1, 1, kMinIsWhite, uint32_t(rowsPerStrip), uint16_t(mode.compression)}, {});
        std::vector<uint32_t> offsets, counts;
        for (const Bytes& s : strips)
            offsets.push_back(b.AddData(s)), counts.push_back(uint32_t(s.size()));
        b.Set(kTagStripOffsets, kLong, offsets).Set(kTagStripByteCounts, kLong, counts);
        if (mode.compression == 3)
            b.Set(kTagT4Options, kLong, {uint32_t(mode.t4Options)});
        TempDir dir;
        std::vector<Bytes> back;
        std::string said;
        ASSERT_TRUE(ReadLibtiffStrict(dir.Write("fax.tif", b.Build()), &back, &said));
        // libtiff warns of a line length on some MH strips, the same bytes
        // when it writes them itself (a row ending on a byte boundary, later a
        // last row of white only), and returns their rows all the same.
        if (content != 2 || mode.compression != 2) {
            EXPECT_EQ(said, "");
        }
        ASSERT_EQ(back.size(), rows.size());
        for (int y = 0; y < height; ++y)
            ASSERT_EQ(MaskRow(back[size_t(y)], width), rows[size_t(y)]) << "libtiff row " << y;
    }
}

INSTANTIATE_TEST_SUITE_P(Fax, FaxEncoderRoundTrip,
    ::testing::Combine(::testing::Values(Mode{"MH", 2, 0}, Mode{"G3", 3, 0}, Mode{"G3_FillBits", 3, 4},
                                         Mode{"G3_2D", 3, 1}, Mode{"G3_2D_FillBits", 3, 5}, Mode{"G4", 4, 0}),
                       ::testing::Values(1, 7, 8, 31, 1728, 2561, 9600)),
    [](const ::testing::TestParamInfo<std::tuple<Mode, int>>& i) {
        return std::string(std::get<0>(i.param).name) + "_" + std::to_string(std::get<1>(i.param));
    });

}  // namespace
