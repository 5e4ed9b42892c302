// Files written by libtiff read as libtiff reads them, in every compression ×
// photometric × bits × byte order × strips or tiles: line by line to the end,
// in chunks, after seeks, at caller strides; fax strips also decode the same
// through the codec alone, a byte and a row at a time.
#include <algorithm>
#include <cstdlib>
#include <random>

#include <gtest/gtest.h>
#include <tiffio.h>

#include "codec/fax/tif_fax.h"
#include "support/fax_util.h"
#include "support/libtiff_util.h"
#include "support/temp_dir.h"
#include "tif/tif_file.h"

namespace {

using namespace tiftest;

struct Case {
    std::string name;
    LibtiffPage s;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

Case Make(uint16_t compression, uint16_t predictor, uint16_t photometric, uint16_t samples, uint16_t bits, bool big,
          uint32_t width, uint32_t height, uint32_t rowsPerStrip, uint32_t tileWidth, uint32_t tileLength)
{
    Case c;
    LibtiffPage& s = c.s;
    s.compression = compression, s.predictor = predictor, s.photometric = photometric, s.samples = samples;
    s.bits = bits, s.bigEndian = big, s.width = width, s.height = height, s.rowsPerStrip = rowsPerStrip;
    s.tileWidth = tileWidth, s.tileLength = tileLength;
    s.xResolution = 200, s.yResolution = 100, s.resolutionUnit = 3;
    if (photometric == 3)
        for (int i = 0; i < 3 << bits; ++i)
            s.colorMap.push_back(uint16_t(i * 997));
    c.name = "C" + std::to_string(compression) + "_P" + std::to_string(predictor) + "_Ph" +
             std::to_string(photometric) + "_" + std::to_string(samples) + "x" + std::to_string(bits) +
             (big ? "_MM_" : "_II_") + std::to_string(width) + "x" + std::to_string(height) +
             (tileWidth ? "_T" + std::to_string(tileWidth) + "x" + std::to_string(tileLength)
                        : "_S" + std::to_string(rowsPerStrip));
    return c;
}

std::vector<Case> Cases()
{
    std::vector<Case> v;
    const uint16_t kinds[][2] = {{0, 1}, {1, 1}, {1, 2}, {2, 3}, {3, 1}, {5, 4}};  // photometric, samples
    const uint32_t orgs[][3] = {{1, 0, 0}, {7, 0, 0}, {1000, 0, 0}, {0, 16, 16}, {0, 32, 16}};
    // Uncompressed: sizes that are not multiples of the tile.
    for (auto k : kinds)
        for (uint16_t bits : {1, 2, 4, 8, 16})
            for (auto o : orgs)
                for (bool big : {false, true})
                    if (k[0] != 3 || bits <= 8)
                        v.push_back(Make(1, 1, k[0], k[1], bits, big, 37, 23, o[0], o[1], o[2]));
    // General-purpose compressions, with and without Predictor 2.
    const uint16_t codecs[][2] = {{5, 1}, {5, 2}, {8, 1}, {8, 2}, {32946, 1}, {32946, 2}, {32773, 1}};
    for (auto cp : codecs) {
        for (auto k : kinds)
            for (uint16_t bits : {8, 16})
                for (bool big : {false, true})
                    for (bool tiled : {false, true})
                        if (k[0] != 0 && k[1] != 2 && (bits == 8 || k[0] == 1 || k[0] == 2))
                            v.push_back(Make(cp[0], cp[1], k[0], k[1], bits, big, 97, 45, 7, tiled ? 32 : 0, 16));
        // Rows longer than one 32768-byte transfer; LZW tables filled many times.
        v.push_back(Make(cp[0], cp[1], 2, 3, 16, true, 6000, 9, 7, 0, 0));
    }
    // FillOrder 2 turns the stored bytes of every compression, not only fax.
    for (uint16_t cp : {1, 32773, 5, 8})
        for (bool tiled : {false, true}) {
            Case c = Make(cp, 1, 0, 1, tiled ? 8 : 1, false, 97, 45, 7, tiled ? 32 : 0, 16);
            c.s.fillOrder = 2;
            c.name += "_F2";
            v.push_back(c);
        }
    // JPEG, odd sizes (a page's worth for the usual YCbCr 2x2): YCbCr
    // (subsampled 2x2, 2x1, none), RGB, grey, CMYK.
    const uint16_t jpegs[][4] = {{6, 3, 2, 2}, {6, 3, 2, 1}, {6, 3, 1, 1}, {2, 3, 1, 1}, {1, 1, 1, 1}, {5, 4, 1, 1}};
    for (auto j : jpegs)
        for (bool big : {false, true})
            for (bool tiled : {false, true}) {
                const bool page = j[2] == 2 && j[3] == 2;
                Case c = Make(7, 1, j[0], j[1], 8, big, page ? 1001 : 333, page ? 777 : 259, 32, tiled ? 128 : 0, 32);
                c.s.subsampling[0] = j[2], c.s.subsampling[1] = j[3];
                c.name += "_Y" + std::to_string(j[2]) + std::to_string(j[3]);
                v.push_back(c);
            }
    // One strip, where seeks pass over whole bands of rows.
    for (auto j : {jpegs[0], jpegs[4]}) {
        Case c = Make(7, 1, j[0], j[1], 8, false, 1001, 777, 777, 0, 0);
        c.s.subsampling[0] = j[2], c.s.subsampling[1] = j[3];
        v.push_back(c);
    }
    // Fax: every framing and fill order.
    const uint32_t faxes[][2] = {{2, 0}, {3, 0}, {3, GROUP3OPT_FILLBITS}, {3, GROUP3OPT_2DENCODING},
                                 {3, GROUP3OPT_2DENCODING | GROUP3OPT_FILLBITS}, {4, 0}};
    for (auto f : faxes)
        for (bool big : {false, true})
            for (uint16_t fill : {1, 2})
                for (uint32_t width : {5, 75, 1728})
                    for (bool tiled : {false, true}) {
                        Case c = Make(uint16_t(f[0]), 1, 0, 1, 1, big, width, 37, 8, tiled ? (width > 100 ? 256 : 32) : 0, 16);
                        c.s.t4Options = f[1], c.s.fillOrder = fill;
                        c.name += "_T4" + std::to_string(f[1]) + "_F" + std::to_string(fill);
                        v.push_back(c);
                    }
    // BigTIFF, as tiffcp -8 writes it: a few compressions, both byte orders,
    // strips and tiles.
    for (uint16_t cp : {1, 5, 8, 4, 7})
        for (bool big : {false, true})
            for (bool tiled : {false, true}) {
                const bool fax = cp == 4;
                Case c = Make(cp, cp == 5 ? 2 : 1, fax ? 0 : 2, fax ? 1 : 3, 8 / (fax ? 8 : 1), big, 97, 45, 8,
                              tiled ? 32 : 0, 16);
                c.s.bigTiff = true;
                c.name += "_Big";
                v.push_back(c);
            }
    return v;
}

class Interop : public ::testing::TestWithParam<Case> {};

TEST_P(Interop, LinesMatchLibtiff)
{
    const LibtiffPage& s = GetParam().s;
    const bool fax = s.compression >= 2 && s.compression <= 4, lossy = s.compression == 7;
#if !defined(VXTIFF_TEST_WITH_JPEG)
    if (lossy)
        GTEST_SKIP() << "built without libjpeg";
#endif
    const uint32_t rb = s.RowBytes(), h = s.height;
    std::vector<Bytes> rows = fax ? FaxPage(int(s.width), int(h), s.width * 31 + s.compression) : std::vector<Bytes>();
    for (uint32_t y = 0; !fax && y < h; ++y)
        rows.push_back(PatternRows(rb, 1, y * 5 + s.bits + s.compression));
    // Fax decoders leave the bits past the width as they found them.
    auto mask = [&](const Bytes& r) { return fax ? MaskRow(Bytes(r.begin(), r.begin() + rb), int(s.width)) : Bytes(r.begin(), r.begin() + rb); };
    TempDir dir;
    const std::string path = dir.Path("i.tif");
    ASSERT_TRUE(WriteLibtiff(path, s, rows));
    std::vector<Bytes> want;
    ASSERT_TRUE(ReadLibtiff(path, &want));
    ASSERT_EQ(want.size(), h);
    for (uint32_t y = 0; y < h && !lossy; ++y)
        ASSERT_EQ(mask(want[y]), rows[y]) << "libtiff's own line " << y;
    if (s.bigEndian && s.bits == 16)
        SwapRows16(&want);  // ours come in the file's byte order

    CTifFile f;
    ASSERT_EQ(f.Open(path.c_str()), 1);
    VXIMGINFO info;
    f.GetImgInfo(&info);
    const int types[] = {VXIMG_MINISWHITE, VXIMG_MINISBLACK, VXIMG_RGB, VXIMG_PALETTE, -1, VXIMG_CMYK, VXIMG_RGB};
    EXPECT_EQ(info.nImageType, types[s.photometric]);
    EXPECT_EQ(f.m_nPhotometric, s.photometric == 6 ? 2 : s.photometric);  // YCbCr comes as RGB
    EXPECT_EQ(info.nWidth, int(s.width));
    EXPECT_EQ(info.nHeight, int(h));
    EXPECT_EQ(info.nSamplesPerPixel, s.samples);
    EXPECT_EQ(info.nBitsPerSample, s.bits);
    EXPECT_EQ(info.nCompression, s.compression);
    EXPECT_EQ(info.bTiled, s.tileWidth ? 1 : 0);
    EXPECT_EQ(info.nTileWidth, int(s.tileWidth));
    EXPECT_NEAR(info.dXResolution, 508.0, 1e-9);
    EXPECT_NEAR(info.dYResolution, 254.0, 1e-9);
    if (s.photometric == 3) {
        RGBQUAD map[256] = {};
        f.GetColorMap(256, map);
        const int n = 1 << s.bits;
        EXPECT_EQ(f.m_nColors, n);
        EXPECT_EQ(map[n - 1].rgbBlue, (2 * n + n - 1) * 997 % 65536 * 255 / 65535);
    }

    // Line by line, then the rows that fill the last tile below the image, then nothing.
    const uint32_t padded = s.tileWidth ? (h + s.tileLength - 1) / s.tileLength * s.tileLength : h;
    Bytes line(rb + 64);
    for (uint32_t y = 0; y < padded; ++y) {
        ASSERT_EQ(f.ReadLine(line.data()), 1) << y;
        if (y < h || !lossy) {  // JPEG's padding rows are what it made of the zeros below the image
            ASSERT_EQ(mask(line), y < h ? mask(want[y]) : Bytes(rb, 0)) << "line " << y;
        }
    }
    EXPECT_EQ(f.ReadLine(line.data()), 0);
    // In chunks from line 2 across strip and tile-row boundaries; past the end
    // only what remains.
    for (uint32_t chunk : {1u, 5u, 16u, h}) {
        ASSERT_EQ(f.SeekLine(2), 1);
        Bytes buf(chunk * rb + 64);
        for (uint32_t y = 2, n = 0; y < h; y += n) {
            n = std::min(chunk, h - y);
            ASSERT_EQ(f.ReadLines(buf.data(), int(n)), int(n)) << chunk << " at " << y;
            for (uint32_t k = 0; k < n; ++k)
                ASSERT_EQ(mask(Bytes(buf.begin() + k * rb, buf.end())), mask(want[y + k])) << "line " << y + k;
        }
    }
    ASSERT_EQ(f.SeekLine(int(h) - 3), 1);
    Bytes rest(40 * rb);
    EXPECT_EQ(f.ReadLines(rest.data(), 40), int(padded - h + 3));
    EXPECT_EQ(f.ReadLines(rest.data(), 40), 0);
    // Seeks back, forward, negative (line 0) and past the end.
    for (int y : {int(h) / 2, int(h) - 3, 0, int(h) - 1, 1, -5}) {
        ASSERT_EQ(f.SeekLine(y), 1);
        ASSERT_EQ(f.ReadLine(line.data()), 1);
        EXPECT_EQ(mask(line), mask(want[std::max(y, 0)])) << "after SeekLine(" << y << ")";
    }
    for (int y : {int(h), int(h) + 1000, 0x7FFFFFFF})
        EXPECT_EQ(f.SeekLine(y), 0) << y;
    // At a wider caller stride, with the decoder's rows packed or spaced alike.
    for (bool apart : {false, true}) {
        const uint32_t stride = rb + 13;
        apart ? f.SetBufRowBytes(int(stride), int(rb)) : f.SetBufRowBytes(int(stride));
        ASSERT_EQ(f.SeekLine(0), 1);
        Bytes buf(stride * (h + 1), 0xEE);
        ASSERT_EQ(f.ReadLines(buf.data(), int(h)), int(h));
        for (uint32_t y = 0; y < h; ++y) {
            ASSERT_EQ(mask(Bytes(buf.begin() + y * stride, buf.end())), mask(want[y])) << "line " << y;
            // Between rows of strips the caller's bytes stay as they were.
            ASSERT_TRUE(s.tileWidth || buf[y * stride + rb] == 0xEE) << y;
        }
        EXPECT_EQ(buf[stride * h + stride - 1], 0xEE);
    }
    int first = 0;
    EXPECT_EQ(f.GetDamagedLines(&first), 0);  // a sound file, however read
    EXPECT_EQ(first, -1);
    EXPECT_EQ(f.Close(), 1);

    if (!fax || s.tileWidth)
        return;
    // The raw strips through the codec alone: whole, and a byte and a row per call.
    TIFF* t = TIFFOpen(path.c_str(), "r");
    ASSERT_NE(t, nullptr);
    FaxDecoder whole(s.compression, int(s.width), int(s.t4Options), s.fillOrder);
    FaxDecoder single(s.compression, int(s.width), int(s.t4Options), s.fillOrder);
    for (tstrip_t k = 0; k < TIFFNumberOfStrips(t); ++k) {
        Bytes raw(size_t(TIFFRawStripSize(t, k)));
        ASSERT_EQ(TIFFReadRawStrip(t, k, raw.data(), tsize_t(raw.size())), tsize_t(raw.size()));
        const int n = std::min(8, int(h) - int(k) * 8);
        std::vector<Bytes> a, b;
        whole.Begin(raw);
        ASSERT_EQ(whole.Decode(n, &a), n);
        single.Begin(raw, 1);
        ASSERT_EQ(single.Decode(n, &b, 1), n);
        EXPECT_EQ(a, b);
        for (int y = 0; y < n; ++y)
            EXPECT_EQ(mask(a[size_t(y)]), rows[k * 8 + uint32_t(y)]);
    }
    TIFFClose(t);
}

// The first line at which libtiff complains about the strip ("... at line N
// of strip 0"), -1 when it does not.
int FirstComplaint(const std::string& complaints)
{
    const size_t at = complaints.find(" at line ");
    return at == std::string::npos ? -1 : std::atoi(complaints.c_str() + at + 9);
}

// A Group 4 page in one strip, its data damaged at a fixed place and at
// random ones: the rows are delivered, but counted from the line where
// libtiff first complains.
TEST(InteropDamage, DamagedGroup4LinesAreCountedFromLibtiffsFirstComplaint)
{
    LibtiffPage s;
    s.width = 1728, s.height = 300, s.bits = 1, s.photometric = 0, s.compression = 4, s.rowsPerStrip = 300;
    TempDir dir;
    const std::string path = dir.Path("g4.tif");
    ASSERT_TRUE(WriteLibtiff(path, s, FaxPage(int(s.width), int(s.height), 7)));
    const Bytes sound = ReadFileBytes(path);
    uint32_t offset, bytes;
    {
        CTifFile f;
        ASSERT_EQ(f.Open(path.c_str()), 1);
        offset = f.m_pStripOffsets[0], bytes = f.m_pStripByteCounts[0];
    }
    std::mt19937 random(5);
    for (int trial = 0; trial < 13; ++trial) {
        Bytes file = sound;
        if (trial == 0) {
            std::fill_n(file.begin() + offset + bytes / 3, 30, 0xA5);
        } else {
            for (int k = 0; k < 1 + trial % 3; ++k)
                file[offset + random() % bytes] = uint8_t(random());
        }
        dir.Write("bad.tif", file);
        std::vector<Bytes> theirs;
        std::string complaints;
        ReadLibtiffStrict(dir.Path("bad.tif"), &theirs, &complaints);
        const int expected = FirstComplaint(complaints);
        ASSERT_GE(expected, 0) << trial << ": the change must damage the page";
        CTifFile f;
        ASSERT_EQ(f.Open(dir.Path("bad.tif").c_str()), 1);
        Bytes row(s.RowBytes());
        for (int y = 0; y < int(s.height) && f.ReadLine(row.data()) == 1;)
            ++y;
        int first = -1;
        EXPECT_GT(f.GetDamagedLines(&first), 0) << trial << ": " << complaints;
        EXPECT_EQ(first, expected) << trial << ": " << complaints;
    }
}

INSTANTIATE_TEST_SUITE_P(Matrix, Interop, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case>& i) { return i.param.name; });

}  // namespace
