// Writing: every writable compression × strips and tiles × image types and
// depths, read back by libtiff (without a single warning) and by our reader;
// then each refusal, tile padding, byte order after reading, the 4 GiB offset
// limit and a full disk.
#include <algorithm>
#include <csignal>
#include <filesystem>
#include <limits>

#include <sys/resource.h>

#include <gtest/gtest.h>
#include <tiffio.h>

#include "io/tif_stream.h"
#include "tif/tif_page_chain.h"
#include "support/libtiff_util.h"
#include "support/temp_dir.h"
#include "support/tif_builder.h"
#include "support/write_info.h"
#include "tif/tif_file.h"

namespace {

using namespace tiftest;

// `height` packed rows with the bits past the width cleared.
std::vector<Bytes> Rows(const VXIMGINFO& i, uint32_t seed)
{
    const uint32_t bits = uint32_t(i.nWidth * i.nSamplesPerPixel * i.nBitsPerSample);
    std::vector<Bytes> rows;
    for (int y = 0; y < i.nHeight; ++y) {
        rows.push_back(PatternRows((bits + 7) / 8, 1, seed + uint32_t(y) * 3));
        if (bits % 8)
            rows.back().back() &= uint8_t(0xFF << (8 - bits % 8));
    }
    return rows;
}

struct Case {
    std::string name;
    VXIMGINFO info;
    int predictor, t4Options;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

std::vector<Case> Cases()
{
    const struct { const char* name; int type, samples, bits; } kinds[] = {
        {"White1", VXIMG_MINISWHITE, 1, 1}, {"Black4", VXIMG_MINISBLACK, 1, 4}, {"Black16", VXIMG_MINISBLACK, 1, 16},
        {"Rgb8", VXIMG_RGB, 3, 8},          {"Rgb16", VXIMG_RGB, 3, 16},        {"Palette2", VXIMG_PALETTE, 1, 2},
        {"Palette8", VXIMG_PALETTE, 1, 8},  {"Cmyk8", VXIMG_CMYK, 4, 8}};
    const struct { const char* name; int width, rowsPerStrip, tiled, tileWidth, tileLength; } orgs[] = {
        {"S0", 77, 0, 0, 0, 0},         {"S16", 77, 16, 0, 0, 0}, {"S1000", 77, 1000, 0, 0, 0},
        {"T100x50", 77, 0, 1, 100, 50}, {"T0x0", 77, 0, 1, 0, 0}, {"T128W300", 300, 0, 1, 128, 128}};
    // Compression, Predictor, T4Options; the fax compressions are for bilevel images only.
    const int codecs[][3] = {{1, 1, 0}, {5, 1, 0}, {5, 2, 0}, {32773, 1, 0}, {32946, 1, 0}, {32946, 2, 0},
                             {8, 1, 0}, {8, 2, 0}, {2, 1, 0}, {3, 1, 0}, {3, 1, 1},     {3, 1, 4},
                             {3, 1, 5}, {4, 1, 0}};
    std::vector<Case> v;
    for (auto& c : codecs)
        for (auto& k : kinds)
            for (auto& o : orgs) {
                if ((c[1] == 2 && k.bits != 8 && k.bits != 16) || (c[0] >= 2 && c[0] <= 4 && k.bits != 1))
                    continue;
                VXIMGINFO i = WriteInfo(k.type, o.width, 40, k.samples, k.bits, c[0], o.rowsPerStrip);
                i.bTiled = o.tiled, i.nTileWidth = o.tileWidth, i.nTileLength = o.tileLength;
                i.dXResolution = 300, i.dYResolution = 72.5;
                v.push_back({"C" + std::to_string(c[0]) + "_P" + std::to_string(c[1]) + "_T" + std::to_string(c[2]) +
                                 "_" + k.name + "_" + o.name, i, c[1], c[2]});
            }
    return v;
}

class RoundTrip : public ::testing::TestWithParam<Case> {};

TEST_P(RoundTrip, LibtiffAndOurReaderGetTheRows)
{
    const Case& c = GetParam();
    VXIMGINFO info = c.info;
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
    ASSERT_TRUE(c.predictor == 1 || w.SetEncodeParams(317, 2) == 1);
    ASSERT_TRUE(info.nCompression != 3 || w.SetEncodeParams(292, unsigned(c.t4Options)) == 1);
    // Line by line, or in runs of 7 across strip and tile-row boundaries, from
    // rows 3 bytes apart that stay as they were (Predictor 2 included).
    const size_t stride = rb + 3;
    Bytes joined, block(stride * rows.size(), 0xEE);
    for (size_t y = 0; y < rows.size(); ++y) {
        joined.insert(joined.end(), rows[y].begin(), rows[y].end());
        std::copy(rows[y].begin(), rows[y].end(), block.begin() + long(y * stride));
    }
    const Bytes given = block;
    w.SetBufRowBytes(int(stride));
    const bool byLine = info.nBitsPerSample % 2 == 0 && info.nSamplesPerPixel != 3;
    for (int y = 0, n; y < info.nHeight; y += n) {
        n = byLine ? 1 : std::min(7, info.nHeight - y);
        ASSERT_EQ(byLine ? w.WriteLine(&block[y * stride]) : w.WriteLines(&block[y * stride], n), n) << y;
    }
    ASSERT_EQ(w.Close(), 1);
    EXPECT_EQ(block, given);

    std::vector<Bytes> back;  // libtiff gives 16-bit samples in host order, as the caller gave them
    std::string complaints;
    ASSERT_TRUE(ReadLibtiffStrict(path, &back, &complaints));
    EXPECT_EQ(complaints, "");
    ASSERT_EQ(back, rows);

    // libtiff finds the tags: a palette of 257 × each colour, tile sizes
    // rounded up to multiples of 32 and stored back in the caller's description.
    TIFF* t = TIFFOpen(path.c_str(), "r");
    ASSERT_NE(t, nullptr);
    auto get = [t](uint32_t tag, auto v) { TIFFGetField(t, tag, &v); return double(v); };
    const int photometrics[] = {0, 2, 3, -1, -1, -1, -1, -1, -1, 5};
    EXPECT_EQ(std::vector<double>({get(TIFFTAG_COMPRESSION, uint16_t()), get(TIFFTAG_PREDICTOR, uint16_t(1)),
                                   get(TIFFTAG_GROUP3OPTIONS, uint32_t()), get(TIFFTAG_PHOTOMETRIC, uint16_t(9)),
                                   get(TIFFTAG_XRESOLUTION, 0.0f), get(TIFFTAG_YRESOLUTION, 0.0f),
                                   get(TIFFTAG_RESOLUTIONUNIT, uint16_t())}),
              std::vector<double>({double(info.nCompression), double(c.predictor), double(c.t4Options),
                                   info.nImageType == VXIMG_MINISBLACK ? 1.0 : photometrics[info.nImageType], 300,
                                   72.5, RESUNIT_INCH}));
    if (info.bTiled) {
        EXPECT_EQ(get(TIFFTAG_TILEWIDTH, uint32_t()), info.nTileWidth ? info.nTileWidth : 128);
        EXPECT_EQ(get(TIFFTAG_TILELENGTH, uint32_t()), info.nTileLength ? info.nTileLength : 128);
    } else if (info.nCompression != 1) {  // libtiff cuts large uncompressed strips
        EXPECT_EQ(get(TIFFTAG_ROWSPERSTRIP, uint32_t()), info.nRowsPerStrip ? info.nRowsPerStrip : 40);
        EXPECT_EQ(TIFFNumberOfStrips(t), info.nRowsPerStrip == 16 ? 3u : 1u);
    }
    uint16_t* map[3];
    if (info.nImageType == VXIMG_PALETTE && TIFFGetField(t, TIFFTAG_COLORMAP, &map[0], &map[1], &map[2]) == 1)
        for (size_t i = 0; i < palette.size(); ++i)
            ASSERT_EQ(std::vector<int>({map[0][i], map[1][i], map[2][i]}),
                      std::vector<int>({palette[i].rgbRed * 257, palette[i].rgbGreen * 257, palette[i].rgbBlue * 257}))
                << i;
    else
        EXPECT_NE(info.nImageType, VXIMG_PALETTE) << "no ColorMap";
    TIFFClose(t);

    CTifFile f;
    ASSERT_EQ(f.Open(path.c_str()), 1);
    Bytes read(joined.size());
    ASSERT_EQ(f.ReadLines(read.data(), info.nHeight), info.nHeight);
    EXPECT_EQ(read, joined);
}

INSTANTIATE_TEST_SUITE_P(Matrix, RoundTrip, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case>& i) { return i.param.name; });

// Every image of the matrix as one page of a single file, in one pass: each
// page reads back through libtiff (strict) and our reader, with PageNumber
// giving its index and the page count.
TEST(MultiPage, EveryMatrixImageAsAPageOfOneFile)
{
    const std::vector<Case> cases = Cases();
    TempDir dir;
    const std::string path = dir.Path("pages.tif");
    CTifFile w;
    std::vector<std::vector<Bytes>> pages;
    for (size_t p = 0; p < cases.size(); ++p) {
        VXIMGINFO info = cases[p].info;
        ASSERT_EQ(p == 0 ? w.Create(path.c_str(), &info) : w.AddPage(&info), 1) << cases[p].name;
        ASSERT_TRUE(cases[p].predictor == 1 || w.SetEncodeParams(317, 2) == 1);
        ASSERT_TRUE(info.nCompression != 3 || w.SetEncodeParams(292, unsigned(cases[p].t4Options)) == 1);
        pages.push_back(Rows(info, uint32_t(p)));
        for (const Bytes& r : pages.back())
            ASSERT_EQ(w.WriteLine(Bytes(r).data()), 1);
    }
    ASSERT_EQ(w.Close(), 1);
    ASSERT_EQ(CTifFile::CountPages(path.c_str()), int(cases.size()));
    TIFF* t = TIFFOpen(path.c_str(), "r");
    ASSERT_NE(t, nullptr);
    for (size_t p = 0; p < cases.size(); ++p) {
        uint16_t index = 0, total = 0;
        ASSERT_TRUE(TIFFSetDirectory(t, tdir_t(p)));
        ASSERT_EQ(TIFFGetField(t, TIFFTAG_PAGENUMBER, &index, &total), 1);
        EXPECT_EQ(std::vector<size_t>({index, total}), std::vector<size_t>({p, cases.size()}));
        std::vector<Bytes> back;
        std::string complaints;
        ASSERT_TRUE(ReadLibtiffStrict(path, &back, &complaints, int(p))) << cases[p].name;
        EXPECT_EQ(complaints, "");
        EXPECT_EQ(back, pages[p]) << cases[p].name;
        CTifFile f;
        ASSERT_EQ(f.OpenPage(path.c_str(), int(p)), 1);
        for (const Bytes& r : pages[p]) {
            Bytes got(r.size());
            ASSERT_EQ(f.ReadLine(got.data()), 1);
            ASSERT_EQ(got, r) << cases[p].name;
        }
    }
    TIFFClose(t);

    // The pages copied into another file as stored, the first after a refusal
    // of a source that differs; a page of lines between them.
    const std::string copy = dir.Path("copy.tif");
    CTifFile c;
    for (size_t p = 0; p < cases.size(); ++p) {
        CTifFile from;
        ASSERT_EQ(from.OpenPage(path.c_str(), int(p)), 1);
        VXIMGINFO info;
        from.GetImgInfo(&info);
        ASSERT_EQ(p == 0 ? c.Create(copy.c_str(), &info) : c.AddPage(&info), 1);
        if (p == 0) {
            CTifFile other;
            ASSERT_EQ(other.OpenPage(path.c_str(), 1), 1);
            EXPECT_EQ(c.CopyPageData(&other), 0);
        }
        ASSERT_EQ(c.CopyPageData(&from), 1) << cases[p].name;
        ASSERT_EQ(c.WriteLine(Bytes(pages[p][0]).data()), 0) << "the page is complete";
    }
    ASSERT_EQ(c.Close(), 1);
    for (size_t p = 0; p < cases.size(); ++p) {
        std::vector<Bytes> back;
        std::string complaints;
        ASSERT_TRUE(ReadLibtiffStrict(copy, &back, &complaints, int(p))) << cases[p].name;
        EXPECT_EQ(complaints, "");
        EXPECT_EQ(back, pages[p]) << cases[p].name;
    }
}

TEST(Create, RefusesBadDescriptionsAndRemovesOnlyItsOwnFile)
{
    const struct {
        const char* name;
        void (*edit)(VXIMGINFO&);
    } bad[] = {
        {"HeightZero", [](VXIMGINFO& i) { i.nHeight = 0; }},
        {"WidthZero", [](VXIMGINFO& i) { i.nWidth = 0; }},
        {"SamplesZero", [](VXIMGINFO& i) { i.nSamplesPerPixel = 0; }},
        {"BitsNegative", [](VXIMGINFO& i) { i.nBitsPerSample = -8; }},
        {"RowOverflows", [](VXIMGINFO& i) { i.nWidth = 0x7FFFFFFF, i.nSamplesPerPixel = 4, i.nBitsPerSample = 16; }},
        {"RowsPerStripNegative", [](VXIMGINFO& i) { i.nRowsPerStrip = -1; }},
        {"TooManyStrips", [](VXIMGINFO& i) { i.nHeight = 0x7FFFFFFF, i.nRowsPerStrip = 1; }},
        {"TileWidthNegative", [](VXIMGINFO& i) { i.bTiled = 1, i.nTileWidth = -32; }},
        {"TileHuge", [](VXIMGINFO& i) { i.bTiled = 1, i.nTileWidth = 0x7FFFFFF0; }},
        {"Palette17Bits", [](VXIMGINFO& i) { i.nImageType = VXIMG_PALETTE, i.nBitsPerSample = 17; }},
        {"JpegPalette", [](VXIMGINFO& i) { i.nCompression = 7, i.nImageType = VXIMG_PALETTE; }},
        {"NoCompression", [](VXIMGINFO& i) { i.nCompression = 0; }},
        // The fax compressions take one sample of one bit only.
        {"Fax4TwoSamples", [](VXIMGINFO& i) { i.nCompression = 4, i.nBitsPerSample = 1, i.nSamplesPerPixel = 2; }},
        {"Fax2TwoBits", [](VXIMGINFO& i) { i.nCompression = 2, i.nBitsPerSample = 2; }},
        {"ResolutionNegative", [](VXIMGINFO& i) { i.dXResolution = -1; }},
        {"ResolutionNaN", [](VXIMGINFO& i) { i.dYResolution = std::numeric_limits<double>::quiet_NaN(); }},
        {"ResolutionInfinite", [](VXIMGINFO& i) { i.dXResolution = std::numeric_limits<double>::infinity(); }},
        {"ResolutionAbove32Bits", [](VXIMGINFO& i) { i.dXResolution = 5e9; }},
        {"ResolutionThousandthsAbove32Bits", [](VXIMGINFO& i) { i.dYResolution = 4294967.5; }},
    };
    TempDir dir;
    const std::string path = dir.Path("old.tif");
    const VXIMGINFO grey = WriteInfo(VXIMG_MINISBLACK, 16, 4, 1, 8);
    for (const auto& b : bad) {
        dir.Write("old.tif", Bytes{1, 2, 3});
        VXIMGINFO info = grey;
        b.edit(info);
        CTifFile f;
        EXPECT_EQ(f.Create(path.c_str(), &info), 0) << b.name;
        const int failure = CTifFile::GetLastFailure();
        EXPECT_FALSE(std::filesystem::exists(path)) << b.name << ": the file it truncated is gone";
        EXPECT_EQ(f.WriteLine(Bytes(64).data()), 0) << b.name;
        EXPECT_EQ(f.Close(), 0) << b.name;
        // As the second page of a file: refused alike, and the file never finished.
        VXIMGINFO first = grey;
        ASSERT_EQ(f.Create(path.c_str(), &first), 1);
        ASSERT_EQ(f.WriteLines(Bytes(64).data(), 4), 4);
        EXPECT_EQ(f.AddPage(&info), 0) << b.name;
        EXPECT_EQ(CTifFile::GetLastFailure(), failure) << b.name;
        EXPECT_EQ(f.WriteLine(Bytes(64).data()), 0) << b.name;
        EXPECT_EQ(f.Close(), 0) << b.name;
        const Bytes file = ReadFileBytes(path);
        EXPECT_EQ(Bytes(file.begin(), file.begin() + 8), Bytes(8, 0)) << b.name;
    }
    {
        // Nothing written, a null description, a page without lines.
        VXIMGINFO info = grey;
        CTifFile f;
        EXPECT_EQ(f.AddPage(&info), 0);
        ASSERT_EQ(f.Create(path.c_str(), &info), 1);
        EXPECT_EQ(f.AddPage(nullptr), 0);
        EXPECT_EQ(f.AddPage(&info), 0) << "the first page has no line";
        EXPECT_EQ(f.Close(), 0);
    }
    // Edge values that are fine: the largest resolutions, a tiny one (0/1000).
    for (double r : {4294967295.0, 4294967.295, 0.0004}) {
        VXIMGINFO info = grey;
        info.dXResolution = r;
        CTifFile f;
        EXPECT_EQ(f.Create(path.c_str(), &info), 1) << r;
    }
    // An unknown image type, or no path or description: nothing touched.
    dir.Write("old.tif", Bytes{1, 2, 3});
    VXIMGINFO type3 = WriteInfo(3, 16, 4, 1, 8), ok = grey;
    CTifFile f;
    EXPECT_EQ(f.Create(path.c_str(), &type3), 0);
    EXPECT_EQ(f.Create(nullptr, &type3), 0);
    EXPECT_EQ(f.Create(path.c_str(), nullptr), 0);
    EXPECT_EQ(ReadFileBytes(path), (Bytes{1, 2, 3}));
    // A file that another stream holds is neither truncated nor removed.
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
    VXIMGINFO info = WriteInfo(VXIMG_MINISBLACK, 16, 4, 1, 8);
    EXPECT_EQ(f.Create(out.c_str(), &info), 0);
    EXPECT_FALSE(std::filesystem::exists(out));
    Bytes rows = PatternRows(16, 4);
    EXPECT_EQ(f.ReadLine(rows.data()), 1) << "the open file is untouched";
    EXPECT_EQ(f.SetEncodeParams(317, 2), 0) << "not writing";
    EXPECT_EQ(f.WriteLine(rows.data()), 0);
    ASSERT_EQ(f.Close(), 1);
    EXPECT_EQ(f.SetEncodeParams(317, 1), 0) << "nothing open";
    ASSERT_EQ(f.Create(out.c_str(), &info), 1);
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
        VXIMGINFO info = WriteInfo(VXIMG_MINISBLACK, 10, 40, 1, 8, 32946, 16);
        info.bTiled = tiled;
        CTifFile f;
        ASSERT_EQ(f.Create(path.c_str(), &info), 1);
        Bytes rows = PatternRows(10, 41);
        EXPECT_EQ(f.WriteLine(nullptr), 0);
        EXPECT_EQ(f.WriteLines(nullptr, 3), 0);
        EXPECT_EQ(f.WriteLines(rows.data(), 0), 0);
        EXPECT_EQ(f.WriteLines(rows.data(), -2), 0);
        // A wider stride set before does not outlive the caller's last word,
        // and one narrower than a row is ignored: the rows lie 10 apart.
        f.SetBufRowBytes(20);
        f.SetBufRowBytes(10, 20);
        f.SetBufRowBytes(9);
        EXPECT_EQ(f.WriteLines(rows.data(), 35), 35);  // across two strip boundaries
        EXPECT_EQ(f.SetEncodeParams(317, 2), 0) << "rows are already encoded";
        EXPECT_EQ(f.WriteLines(rows.data() + 350, 10), 5) << "only the lines left";
        EXPECT_EQ(f.WriteLine(rows.data()), 0);
        EXPECT_EQ(f.WriteLines(rows.data(), 1), 0);
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
    // The last tile holds 11 of its 32 pixels, or 31: the row's bytes then
    // fill the tile's, and still end inside a byte.
    for (int width : {75, 95}) {
        VXIMGINFO info = WriteInfo(VXIMG_MINISBLACK, width, 130, 1, 4);
        info.bTiled = 1, info.nTileWidth = 32, info.nTileLength = 128;
        CTifFile f;
        ASSERT_EQ(f.Create(path.c_str(), &info), 1);
        const Bytes row(size_t(width + 1) / 2, 0xFF);
        for (int y = 0; y < 130; ++y)
            ASSERT_EQ(f.WriteLine(Bytes(row).data()), 1) << y;
        ASSERT_EQ(f.Close(), 1);
        TIFF* t = TIFFOpen(path.c_str(), "r");
        ASSERT_NE(t, nullptr);
        Bytes tile(size_t(TIFFTileSize(t)));
        ASSERT_EQ(tile.size(), 16u * 128);
        ASSERT_GT(TIFFReadTile(t, tile.data(), 64, 0, 0, 0), 0);  // columns 64..95
        const size_t whole = size_t(width - 64) / 2;
        for (size_t i = 0; i < tile.size(); ++i)
            ASSERT_EQ(tile[i], i % 16 < whole ? 0xFF : i % 16 == whole ? 0xF0 : 0) << width << " " << i;
        ASSERT_GT(TIFFReadTile(t, tile.data(), 0, 128, 0, 0), 0);  // rows 128..255, of which 2 in the image
        for (size_t i = 0; i < tile.size(); ++i)
            ASSERT_EQ(tile[i], i < 32 ? 0xFF : 0) << i;
        TIFFClose(t);
    }
}

// A page that ends before its declared height (a fax page whose end is known
// only at the end) holds exactly the lines written, and libtiff reads it
// without a word; with no line at all the file gets no header.
TEST(Write, CloseAfterFewerLinesEndsTheImageThere)
{
    TempDir dir;
    const std::string path = dir.Path("short.tif");
    const struct { int compression, bits, tiled; } kinds[] = {{1, 8, 0}, {4, 1, 0}, {1, 8, 1}, {32946, 8, 1}};
    for (const auto& k : kinds)
        for (int written : {0, 20, 32, 33}) {
            VXIMGINFO info = WriteInfo(k.bits == 1 ? VXIMG_MINISWHITE : VXIMG_MINISBLACK, 70, 100, 1, k.bits,
                                       k.compression, 16);
            info.bTiled = k.tiled, info.nTileWidth = info.nTileLength = 32;
            const std::vector<Bytes> rows = Rows(info, 7);
            CTifFile f;
            ASSERT_EQ(f.Create(path.c_str(), &info), 1);
            for (int y = 0; y < written; ++y)
                ASSERT_EQ(f.WriteLine(Bytes(rows[size_t(y)]).data()), 1);
            ASSERT_EQ(f.Close(), written > 0 ? 1 : 0) << k.compression << " " << written;
            const Bytes file = ReadFileBytes(path);
            if (written == 0) {
                EXPECT_TRUE(file.size() < 8 || Bytes(file.begin(), file.begin() + 8) == Bytes(8, 0));
                continue;
            }
            std::vector<Bytes> back;
            std::string complaints;
            ASSERT_TRUE(ReadLibtiffStrict(path, &back, &complaints)) << complaints;
            EXPECT_EQ(complaints, "");
            EXPECT_EQ(back, std::vector<Bytes>(rows.begin(), rows.begin() + written))
                << k.compression << " tiled " << k.tiled << " " << written;
        }
}

TEST(Write, FullDiskLeavesNoFileThatLooksValid)
{
    TempDir dir;
    const std::string path = dir.Path("full.tif");
    struct rlimit old;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
    // Data of 100 strips of 1000 bytes: the limit cuts into strip 20. Then
    // data that fits exactly (16 + 2000 bytes) but leaves no room for the
    // strip arrays and the directory.
    const struct { int height; rlim_t limit; bool linesFail; } cases[] = {{100, 20000, true}, {2, 2016, false}};
    for (const auto& c : cases) {
        VXIMGINFO info = WriteInfo(VXIMG_MINISBLACK, 1000, c.height, 1, 8, 1, 1);
        Bytes rows = PatternRows(1000, uint32_t(c.height));
        struct rlimit lim = old;
        lim.rlim_cur = c.limit;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lim), 0);
        CTifFile f;
        const int created = f.Create(path.c_str(), &info), accepted = f.WriteLines(rows.data(), c.height);
        const int closed = f.Close(), again = f.Close();
        setrlimit(RLIMIT_FSIZE, &old);
        EXPECT_EQ(created, 1);
        EXPECT_EQ(accepted < c.height, c.linesFail) << accepted;
        EXPECT_EQ(closed, 0);
        EXPECT_EQ(again, 0) << "a second Close";
        const Bytes file = ReadFileBytes(path);
        ASSERT_GE(file.size(), 8u);
        EXPECT_EQ(Bytes(file.begin(), file.begin() + 8), Bytes(8, 0)) << "no header";
    }
    std::signal(SIGXFSZ, oldSignal);
}

// An encoder that cannot get its memory is reported as memory, not as a
// compression without an encoder: a Group 4 reference row of 31 MB under an
// address-space limit, in a child process.
TEST(WriteDeathTest, EncoderWithoutMemoryIsReportedAsMemory)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's allocator reserves its own address space";
#endif
    TempDir dir;
    const std::string path = dir.Path("m.tif");
    VXIMGINFO info = WriteInfo(VXIMG_MINISWHITE, 250000000, 1, 1, 1, 4);
    EXPECT_EXIT(
        {
            unsigned long pages = 0;
            FILE* statm = std::fopen("/proc/self/statm", "r");
            if (statm == nullptr || std::fscanf(statm, "%lu", &pages) != 1)
                std::_Exit(1);
            struct rlimit lim;
            getrlimit(RLIMIT_AS, &lim);
            lim.rlim_cur = pages * 4096 + (16u << 20);
            setrlimit(RLIMIT_AS, &lim);
            CTifFile f;
            std::_Exit(f.Create(path.c_str(), &info) == 0 ? CTifFile::GetLastFailure() : 0);
        },
        ::testing::ExitedWithCode(VXTIFF_FAIL_MEMORY), "");
}

// The form follows the file's real end: classic below the classic limit,
// BigTIFF past it (the limit lowered, or the data placed past 4 GiB by hand
// in a sparse file), also when only a later page passes it, or when asked
// for. libtiff and our reader read every page exactly.
TEST(Write, FormFollowsTheRealEnd)
{
    TempDir dir;
    const std::string path = dir.Path("big.tif");
    const struct { uint64_t limit, start; bool force; int pages; bool big; } cases[] = {
        {100000, 0, false, 3, false}, {300, 0, false, 1, true}, {9000, 0, false, 3, true},
        {TIF_CLASSIC_END, 0, true, 2, true}, {TIF_CLASSIC_END, TIF_CLASSIC_END - 150, false, 2, true},
    };
    for (const auto& c : cases) {
        std::vector<std::vector<Bytes>> pages;
        CTifFile f;
        for (int p = 0; p < c.pages; ++p) {
            VXIMGINFO info = WriteInfo(VXIMG_MINISBLACK, 100, 40, 1, 8, p == 1 ? 5 : 1, 16);
            info.bTiled = p == 2, info.nTileWidth = info.nTileLength = 32;
            ASSERT_EQ(p == 0 ? f.Create(path.c_str(), &info) : f.AddPage(&info), 1);
            auto* chain = static_cast<CTifPageChain*>(f.m_pStream);
            chain->classicEnd = c.limit;
            if (p == 0 && c.start != 0) {  // strip 0 begins there instead
                ASSERT_EQ(f.m_pStream->Seek(int64_t(chain->stripOffset = c.start), SEEK_SET), int64_t(c.start));
            }
            ASSERT_EQ(f.SetBigTiff(c.force), 1);
            pages.push_back(Rows(info, uint32_t(p)));
            for (Bytes row : pages.back())
                ASSERT_EQ(f.WriteLine(row.data()), 1);
        }
        ASSERT_EQ(f.Close(), 1);
        unsigned char head[4] = {};
        FILE* in = std::fopen(path.c_str(), "rb");
        ASSERT_TRUE(in != nullptr && std::fread(head, 1, 4, in) == 4);
        std::fclose(in);
        EXPECT_EQ(head[2], c.big ? 43 : 42) << c.limit << " " << c.pages;
        EXPECT_EQ(CTifFile::CountPages(path.c_str()), c.pages);
        for (int p = 0; p < c.pages; ++p) {
            std::vector<Bytes> back;
            std::string complaints;
            ASSERT_TRUE(ReadLibtiffStrict(path, &back, &complaints, p)) << complaints;
            EXPECT_EQ(back, pages[size_t(p)]) << c.limit << " page " << p;
            CTifFile r;
            ASSERT_EQ(r.OpenPage(path.c_str(), p), 1);
            for (const Bytes& row : pages[size_t(p)]) {
                Bytes got(row.size());
                ASSERT_EQ(r.ReadLine(got.data()), 1);
                EXPECT_EQ(got, row);
            }
        }
    }
}

}  // namespace
