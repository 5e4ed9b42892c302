// Writing: every writable compression × strips and tiles × image types and
// depths, read back by libtiff (without a single warning) and by our reader;
// then each refusal, tile padding, byte order after reading, the 4 GiB offset
// limit and a full disk.
#include <algorithm>
#include <cmath>
#include <csignal>
#include <limits>

#include <sys/resource.h>

#include <gtest/gtest.h>
#include <tiffio.h>

#include "io/tif_stream.h"
#include "support/libtiff_util.h"
#include "support/temp_dir.h"
#include "support/tif_builder.h"
#include "tif/tif_file.h"

namespace {

using namespace tiftest;

VXIMGINFO Info(int type, int width, int height, int samples, int bits, int compression = 1)
{
    VXIMGINFO i{};
    i.nImageType = type, i.nWidth = width, i.nHeight = height, i.nSamplesPerPixel = samples;
    i.nBitsPerSample = bits, i.nCompression = compression;
    return i;
}

// `height` packed rows with the bits past the width cleared.
std::vector<Bytes> Rows(const VXIMGINFO& i, uint32_t seed)
{
    const uint32_t bits = uint32_t(i.nWidth * i.nSamplesPerPixel * i.nBitsPerSample);
    std::vector<Bytes> rows;
    for (int y = 0; y < i.nHeight; ++y) {
        Bytes r = PatternRows((bits + 7) / 8, 1, seed + uint32_t(y) * 3);
        if (bits % 8)
            r.back() &= uint8_t(0xFF << (8 - bits % 8));
        rows.push_back(r);
    }
    return rows;
}

struct Case {
    std::string name;
    VXIMGINFO info;
    int predictor;
    int t4Options;  // Compression 3
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

std::vector<Case> Cases()
{
    struct Kind {
        const char* name;
        int type, samples, bits;
    };
    const Kind kinds[] = {{"White1", VXIMG_MINISWHITE, 1, 1}, {"Black4", VXIMG_MINISBLACK, 1, 4},
                          {"Black16", VXIMG_MINISBLACK, 1, 16}, {"Rgb8", VXIMG_RGB, 3, 8},
                          {"Rgb16", VXIMG_RGB, 3, 16}, {"Palette2", VXIMG_PALETTE, 1, 2},
                          {"Palette8", VXIMG_PALETTE, 1, 8}, {"Cmyk8", VXIMG_CMYK, 4, 8}};
    struct Org {
        const char* name;
        int width, rowsPerStrip, tiled, tileWidth, tileLength;
    };
    const Org orgs[] = {{"S0", 77, 0, 0, 0, 0}, {"S16", 77, 16, 0, 0, 0}, {"S1000", 77, 1000, 0, 0, 0},
                        {"T100x50", 77, 0, 1, 100, 50}, {"T0x0", 77, 0, 1, 0, 0}, {"T128W300", 300, 0, 1, 128, 128}};
    // Compression, Predictor, T4Options; the fax compressions are for bilevel images only.
    const int codecs[][3] = {{1, 1, 0},     {5, 1, 0}, {5, 2, 0}, {32773, 1, 0}, {32946, 1, 0}, {32946, 2, 0},
                             {2, 1, 0},     {3, 1, 0}, {3, 1, 1}, {3, 1, 4},     {3, 1, 5},     {4, 1, 0}};
    std::vector<Case> v;
    for (auto& c : codecs)
        for (auto& k : kinds)
            for (auto& o : orgs) {
                if ((c[1] == 2 && k.bits != 8 && k.bits != 16) || (c[0] >= 2 && c[0] <= 4 && k.bits != 1))
                    continue;
                Case x{std::string("C") + std::to_string(c[0]) + "_P" + std::to_string(c[1]) + "_T" + std::to_string(c[2]) +
                           "_" + k.name + "_" + o.name,
                       Info(k.type, o.width, 40, k.samples, k.bits, c[0]), c[1], c[2]};
                x.info.nRowsPerStrip = o.rowsPerStrip, x.info.bTiled = o.tiled;
                x.info.nTileWidth = o.tileWidth, x.info.nTileLength = o.tileLength;
                x.info.dXResolution = 300, x.info.dYResolution = 72.5;
                v.push_back(x);
            }
    return v;
}

class RoundTrip : public ::testing::TestWithParam<Case> {};

TEST_P(RoundTrip, LibtiffAndOurReaderGetTheRows)
{
    VXIMGINFO info = GetParam().info;
    const std::vector<Bytes> rows = Rows(info, uint32_t(info.nCompression + info.nBitsPerSample));
    const size_t rb = rows[0].size();
    std::vector<RGBQUAD> palette(size_t(1) << std::min(info.nBitsPerSample, 8));
    for (size_t i = 0; i < palette.size(); ++i)
        palette[i] = RGBQUAD{uint8_t(i * 3), uint8_t(i * 5), uint8_t(255 - i), 0};
    TempDir dir;
    const std::string path = dir.Path("w.tif");
    CTifFile w;
    ASSERT_EQ(w.Create(path.c_str(), &info), 1);
    w.SetColorMap(int(palette.size()), palette.data());
    if (GetParam().predictor == 2) {
        ASSERT_EQ(w.SetEncodeParams(317, 2), 1);
    }
    if (info.nCompression == 3) {
        ASSERT_EQ(w.SetEncodeParams(292, unsigned(GetParam().t4Options)), 1);
    }
    // Line by line, or in runs of 7 across strip and tile-row boundaries; the
    // predictor changes the rows it is given, so they are copies.
    Bytes block;
    for (auto& r : rows)
        block.insert(block.end(), r.begin(), r.end());
    const bool byLine = info.nBitsPerSample % 2 == 0;
    for (int y = 0, n; y < info.nHeight; y += n) {
        n = byLine ? 1 : std::min(7, info.nHeight - y);
        ASSERT_EQ(byLine ? w.WriteLine(&block[size_t(y) * rb]) : w.WriteLines(&block[size_t(y) * rb], n), n) << y;
    }
    ASSERT_EQ(w.Close(), 1);

    std::vector<Bytes> back;
    std::string complaints;
    ASSERT_TRUE(ReadLibtiffStrict(path, &back, &complaints));
    EXPECT_EQ(complaints, "");
    // libtiff gives 16-bit samples in host order, as the caller gave them.
    ASSERT_EQ(back.size(), rows.size());
    for (size_t y = 0; y < rows.size(); ++y)
        ASSERT_EQ(back[y], rows[y]) << "libtiff's line " << y;

    TIFF* t = TIFFOpen(path.c_str(), "r");
    ASSERT_NE(t, nullptr);
    uint16_t compression = 0, predictor = 1, photometric = 9, unit = 0;
    uint32_t rowsPerStrip = 0, tw = 0, tl = 0, t4Options = 0;
    float xres = 0, yres = 0;
    TIFFGetField(t, TIFFTAG_COMPRESSION, &compression);
    TIFFGetField(t, TIFFTAG_PREDICTOR, &predictor);
    TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetField(t, TIFFTAG_XRESOLUTION, &xres);
    TIFFGetField(t, TIFFTAG_YRESOLUTION, &yres);
    TIFFGetField(t, TIFFTAG_RESOLUTIONUNIT, &unit);
    EXPECT_EQ(compression, info.nCompression);
    EXPECT_EQ(predictor, GetParam().predictor);
    if (info.nCompression == 3) {
        TIFFGetField(t, TIFFTAG_GROUP3OPTIONS, &t4Options);
        EXPECT_EQ(t4Options, uint32_t(GetParam().t4Options));
    }
    const int photometrics[] = {0, 2, 3, -1, -1, -1, -1, -1, -1, 5};
    EXPECT_EQ(photometric, info.nImageType == VXIMG_MINISBLACK ? 1 : photometrics[info.nImageType]);
    EXPECT_EQ(xres, 300.0f);
    EXPECT_EQ(yres, 72.5f);
    EXPECT_EQ(unit, RESUNIT_INCH);
    if (info.bTiled) {
        TIFFGetField(t, TIFFTAG_TILEWIDTH, &tw);
        TIFFGetField(t, TIFFTAG_TILELENGTH, &tl);
        EXPECT_EQ(tw, info.nTileWidth ? uint32_t(info.nTileWidth) : 128u);
        EXPECT_EQ(tl, info.nTileLength ? uint32_t(info.nTileLength) : 128u);
        EXPECT_EQ(info.nTileWidth % 32, 0) << "rounded sizes stored back";
    } else if (info.nCompression != 1) {  // libtiff cuts large uncompressed strips
        TIFFGetField(t, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
        EXPECT_EQ(rowsPerStrip, info.nRowsPerStrip ? uint32_t(info.nRowsPerStrip) : 40u);
        EXPECT_EQ(TIFFNumberOfStrips(t), info.nRowsPerStrip == 16 ? 3u : 1u);
    }
    if (info.nImageType == VXIMG_PALETTE) {
        uint16_t *r, *g, *b;
        ASSERT_EQ(TIFFGetField(t, TIFFTAG_COLORMAP, &r, &g, &b), 1);
        const size_t last = palette.size() - 1;
        EXPECT_EQ(r[last], palette[last].rgbRed * 257);
        EXPECT_EQ(b[last], palette[last].rgbBlue * 257);
    }
    TIFFClose(t);

    CTifFile f;
    ASSERT_EQ(f.Open(path.c_str()), 1);
    VXIMGINFO got;
    f.GetImgInfo(&got);
    EXPECT_EQ(got.nImageType, info.nImageType);
    EXPECT_EQ(got.nWidth, info.nWidth);
    EXPECT_EQ(got.nCompression, info.nCompression);
    EXPECT_EQ(got.dYResolution, 72.5);
    Bytes read(block.size());
    ASSERT_EQ(f.ReadLines(read.data(), info.nHeight), info.nHeight);
    for (int y = 0; y < info.nHeight; ++y)
        ASSERT_EQ(Bytes(read.begin() + long(y * rb), read.begin() + long((y + 1) * rb)), rows[size_t(y)]) << y;
    if (info.nImageType == VXIMG_PALETTE) {
        std::vector<RGBQUAD> map(palette.size());
        f.GetColorMap(int(map.size()), map.data());
        EXPECT_EQ(map.back().rgbGreen, palette.back().rgbGreen);
    }
}

INSTANTIATE_TEST_SUITE_P(Matrix, RoundTrip, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case>& i) { return i.param.name; });

}  // namespace

namespace {

bool Exists(const std::string& path) { return !ReadFileBytes(path).empty(); }

TEST(Create, RefusesBadDescriptionsAndRemovesOnlyItsOwnFile)
{
    struct Bad {
        const char* name;
        void (*edit)(VXIMGINFO&);
    } bad[] = {
        {"HeightZero", [](VXIMGINFO& i) { i.nHeight = 0; }},
        {"HeightNegative", [](VXIMGINFO& i) { i.nHeight = -3; }},
        {"WidthZero", [](VXIMGINFO& i) { i.nWidth = 0; }},
        {"SamplesZero", [](VXIMGINFO& i) { i.nSamplesPerPixel = 0; }},
        {"BitsNegative", [](VXIMGINFO& i) { i.nBitsPerSample = -8; }},
        {"RowOverflows", [](VXIMGINFO& i) { i.nWidth = 0x7FFFFFFF, i.nSamplesPerPixel = 4, i.nBitsPerSample = 16; }},
        {"RowsPerStripNegative", [](VXIMGINFO& i) { i.nRowsPerStrip = -1; }},
        {"TooManyStrips", [](VXIMGINFO& i) { i.nHeight = 0x7FFFFFFF, i.nRowsPerStrip = 1; }},
        {"TileWidthNegative", [](VXIMGINFO& i) { i.bTiled = 1, i.nTileWidth = -32; }},
        {"TileHuge", [](VXIMGINFO& i) { i.bTiled = 1, i.nTileWidth = 0x7FFFFFF0; }},
        {"Palette17Bits", [](VXIMGINFO& i) { i.nImageType = VXIMG_PALETTE, i.nBitsPerSample = 17; }},
        {"Jpeg", [](VXIMGINFO& i) { i.nCompression = 7; }},
        {"NoCompression", [](VXIMGINFO& i) { i.nCompression = 0; }},
        // The fax compressions take one sample of one bit only.
        {"Fax3Grey", [](VXIMGINFO& i) { i.nCompression = 3; }},
        {"Fax4TwoSamples", [](VXIMGINFO& i) { i.nCompression = 4, i.nBitsPerSample = 1, i.nSamplesPerPixel = 2; }},
        {"Fax2TwoBits", [](VXIMGINFO& i) { i.nCompression = 2, i.nBitsPerSample = 2; }},
        {"ResolutionNegative", [](VXIMGINFO& i) { i.dXResolution = -1; }},
        {"ResolutionNaN", [](VXIMGINFO& i) { i.dYResolution = std::numeric_limits<double>::quiet_NaN(); }},
        {"ResolutionInfinite", [](VXIMGINFO& i) { i.dXResolution = std::numeric_limits<double>::infinity(); }},
        {"ResolutionAbove32Bits", [](VXIMGINFO& i) { i.dXResolution = 5e9; }},
        {"ResolutionThousandthsAbove32Bits", [](VXIMGINFO& i) { i.dYResolution = 4294967.5; }},
    };
    TempDir dir;
    const std::string path = dir.Write("old.tif", Bytes{1, 2, 3});
    for (const Bad& b : bad) {
        VXIMGINFO info = Info(VXIMG_MINISBLACK, 16, 4, 1, 8);
        b.edit(info);
        CTifFile f;
        EXPECT_EQ(f.Create(path.c_str(), &info), 0) << b.name;
        EXPECT_FALSE(Exists(path)) << b.name << ": the file it truncated is gone";
        EXPECT_EQ(f.WriteLine(Bytes(64).data()), 0) << b.name;
        EXPECT_EQ(f.Close(), 0) << b.name;
        dir.Write("old.tif", Bytes{1, 2, 3});
    }
    // Edge values that are fine: the largest resolutions, a tiny one (0/1000).
    for (double r : {4294967295.0, 4294967.295, 0.0004}) {
        VXIMGINFO info = Info(VXIMG_MINISBLACK, 16, 4, 1, 8);
        info.dXResolution = r;
        CTifFile f;
        EXPECT_EQ(f.Create(path.c_str(), &info), 1) << r;
    }
    // An unknown image type, or no path or description: nothing touched.
    dir.Write("old.tif", Bytes{1, 2, 3});
    VXIMGINFO type3 = Info(3, 16, 4, 1, 8);
    CTifFile f;
    EXPECT_EQ(f.Create(path.c_str(), &type3), 0);
    EXPECT_EQ(f.Create(nullptr, &type3), 0);
    EXPECT_EQ(f.Create(path.c_str(), nullptr), 0);
    EXPECT_EQ(ReadFileBytes(path), (Bytes{1, 2, 3}));
    // A file that another stream holds is neither truncated nor removed.
    VXIMGINFO ok = Info(VXIMG_MINISBLACK, 16, 4, 1, 8);
    CTifFileStream reader;
    ASSERT_EQ(reader.Open(path.c_str(), 0), 1);
    EXPECT_EQ(f.Create(path.c_str(), &ok), 0);
    EXPECT_EQ(ReadFileBytes(path), (Bytes{1, 2, 3}));
}

TEST(Create, RefusedOnAnOpenFileAndResetsByteOrder)
{
    TempDir dir;
    TiffBuilder big(true);
    big.StripImage({16, 4, 1, 8, kMinIsBlack, 0}, PatternRows(16, 4));
    const std::string mm = dir.Write("mm.tif", big.Build()), out = dir.Path("out.tif");
    CTifFile f;
    ASSERT_EQ(f.Open(mm.c_str()), 1);
    VXIMGINFO info = Info(VXIMG_MINISBLACK, 16, 4, 1, 8);
    EXPECT_EQ(f.Create(out.c_str(), &info), 0);
    EXPECT_FALSE(Exists(out));
    Bytes row(16);
    EXPECT_EQ(f.ReadLine(row.data()), 1) << "the open file is untouched";
    EXPECT_EQ(f.SetEncodeParams(317, 2), 0) << "not writing";
    EXPECT_EQ(f.WriteLine(row.data()), 0);
    ASSERT_EQ(f.Close(), 1);
    EXPECT_EQ(f.SetEncodeParams(317, 1), 0) << "nothing open";
    ASSERT_EQ(f.Create(out.c_str(), &info), 1);
    Bytes rows = PatternRows(16, 4);
    EXPECT_EQ(f.WriteLines(rows.data(), 4), 4);
    ASSERT_EQ(f.Close(), 1);
    const Bytes file = ReadFileBytes(out);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 4), (Bytes{'I', 'I', 42, 0}));
}

TEST(Write, RefusesLinesBeyondTheImageBadArgumentsAndLateParameters)
{
    TempDir dir;
    const std::string path = dir.Path("w.tif");
    for (int tiled : {0, 1}) {
        VXIMGINFO info = Info(VXIMG_MINISBLACK, 10, 40, 1, 8, 32946);
        info.nRowsPerStrip = 16, info.bTiled = tiled;
        CTifFile f;
        ASSERT_EQ(f.Create(path.c_str(), &info), 1);
        Bytes rows = PatternRows(10, 41);
        EXPECT_EQ(f.WriteLine(nullptr), 0);
        EXPECT_EQ(f.WriteLines(nullptr, 3), 0);
        EXPECT_EQ(f.WriteLines(rows.data(), 0), 0);
        EXPECT_EQ(f.WriteLines(rows.data(), -2), 0);
        f.SetBufRowBytes(9);  // narrower than a row: ignored
        EXPECT_EQ(f.m_nBufRowBytes, 10);
        // Spans two strip boundaries in one call.
        EXPECT_EQ(f.WriteLines(rows.data(), 35), 35);
        EXPECT_EQ(f.SetEncodeParams(317, 2), 0) << "rows are already encoded";
        EXPECT_EQ(f.WriteLines(rows.data() + 350, 10), 5) << "only the lines left";
        EXPECT_EQ(f.WriteLine(rows.data()), 0);
        EXPECT_EQ(f.WriteLines(rows.data(), 1), 0);
        EXPECT_EQ(f.m_nCurStrip, tiled ? 0 : 2) << "no strip past the arrays";
        ASSERT_EQ(f.Close(), 1);
        EXPECT_EQ(f.Close(), 0);
        EXPECT_EQ(f.WriteLine(rows.data()), 0);
        std::vector<Bytes> back;
        ASSERT_TRUE(ReadLibtiff(path, &back));
        ASSERT_EQ(back.size(), 40u);
        for (size_t y = 0; y < 40; ++y)
            ASSERT_EQ(back[y], Bytes(rows.begin() + long(y * 10), rows.begin() + long(y * 10 + 10))) << y;
    }
}

// A tiled row is read only to the image row's end (the vector is exactly that
// long); the rest of the last tile, the bits past the width and every row of a
// tile row that the image does not fill are zero.
TEST(Write, TilesArePaddedWithZeros)
{
    TempDir dir;
    const std::string path = dir.Path("t.tif");
    VXIMGINFO info = Info(VXIMG_MINISBLACK, 75, 130, 1, 4);  // 37.5 bytes
    info.bTiled = 1, info.nTileWidth = 32, info.nTileLength = 128;
    CTifFile f;
    ASSERT_EQ(f.Create(path.c_str(), &info), 1);
    for (int y = 0; y < 130; ++y) {
        Bytes row(38, 0xFF);
        ASSERT_EQ(f.WriteLine(row.data()), 1) << y;
    }
    ASSERT_EQ(f.Close(), 1);
    TIFF* t = TIFFOpen(path.c_str(), "r");
    ASSERT_NE(t, nullptr);
    Bytes tile(size_t(TIFFTileSize(t)));
    ASSERT_EQ(tile.size(), 16u * 128);
    ASSERT_GT(TIFFReadTile(t, tile.data(), 64, 0, 0, 0), 0);  // columns 64..95
    for (size_t r = 0; r < 128; ++r)
        ASSERT_EQ(Bytes(tile.begin() + long(r * 16), tile.begin() + long(r * 16 + 16)),
                  (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xF0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})) << r;
    ASSERT_GT(TIFFReadTile(t, tile.data(), 0, 128, 0, 0), 0);
    for (size_t i = 0; i < tile.size(); ++i)
        ASSERT_EQ(tile[i], i < 32 ? 0xFF : 0) << i;
    TIFFClose(t);
}

// Writes `info` with `lines` rows at most; true when every step succeeded.
bool WriteAll(const std::string& path, VXIMGINFO info, int lines, int* accepted, int* closed)
{
    CTifFile f;
    if (!f.Create(path.c_str(), &info))
        return false;
    Bytes rows = PatternRows(uint32_t(f.m_nRowBytes), uint32_t(lines));
    *accepted = f.WriteLines(rows.data(), lines);
    *closed = f.Close();
    EXPECT_EQ(f.Close(), 0) << "a second Close";
    return *accepted == lines && *closed == 1;
}

TEST(Write, FullDiskLeavesNoFileThatLooksValid)
{
    TempDir dir;
    const std::string path = dir.Path("full.tif");
    struct rlimit old;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
    // Data of 100 strips of 1000 bytes: the limit cuts into strip 20. Then
    // data that fits exactly (8 + 2000 bytes) but leaves no room for the
    // strip arrays and the directory.
    struct Case {
        int height;
        rlim_t limit;
        bool linesFail;
    } cases[] = {{100, 20000, true}, {2, 2008, false}};
    for (const Case& c : cases) {
        VXIMGINFO info = Info(VXIMG_MINISBLACK, 1000, c.height, 1, 8);
        info.nRowsPerStrip = 1;
        struct rlimit lim = old;
        lim.rlim_cur = c.limit;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lim), 0);
        int accepted = -1, closed = -1;
        const bool ok = WriteAll(path, info, c.height, &accepted, &closed);
        setrlimit(RLIMIT_FSIZE, &old);
        EXPECT_FALSE(ok);
        EXPECT_EQ(accepted < c.height, c.linesFail) << accepted;
        EXPECT_EQ(closed, 0);
        const Bytes file = ReadFileBytes(path);
        ASSERT_GE(file.size(), 8u);
        EXPECT_EQ(Bytes(file.begin(), file.begin() + 8), Bytes(8, 0)) << "no header";
    }
    std::signal(SIGXFSZ, oldSignal);
}

// Offsets are 32-bit: data that would end past 4 GiB is refused (the strip is
// placed there by hand; nothing of that size is written).
TEST(Write, FilesStopAtFourGibibytes)
{
    TempDir dir;
    const std::string path = dir.Path("big.tif");
    for (int rowsPerStrip : {1, 4}) {
        VXIMGINFO info = Info(VXIMG_MINISBLACK, 100, 2, 1, 8);
        info.nRowsPerStrip = rowsPerStrip;
        CTifFile f;
        ASSERT_EQ(f.Create(path.c_str(), &info), 1);
        f.m_nStripOffset = f.m_nWriteOffset = 0xFFFFFFFFu - 150;
        Bytes rows(200);
        // Strips of one row are handed over, and the second refused, at once;
        // a strip of four rows only when Close finishes it.
        EXPECT_EQ(f.WriteLines(rows.data(), 2), rowsPerStrip == 1 ? 1 : 2);
        EXPECT_EQ(f.Close(), 0);
        const Bytes file = ReadFileBytes(path);
        EXPECT_LT(file.size(), 1000u);
        EXPECT_TRUE(file.size() < 8 || Bytes(file.begin(), file.begin() + 8) == Bytes(8, 0));
    }
}

}  // namespace
