// The vxtiff tool's convert, rotate, merge and split commands and batches,
// run as a user runs them: the built binary on files written by libtiff, its
// output read back by libtiff.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <tiffio.h>

#include "support/tool_run.h"
#include "tif/tif_file.h"

namespace {

using namespace tiftest;

// An image in strips of 8 rows at 200 x 100 dpi.
LibtiffPage Page(uint32_t w, uint32_t h, uint16_t samples, uint16_t bits, uint16_t photometric)
{
    LibtiffPage s = tiftest::Shape(w, h, samples, bits, photometric);
    s.xResolution = 200, s.yResolution = 100, s.resolutionUnit = 2;
    return s;
}

// Files in the directory other than those named: what a failed run left behind.
std::vector<std::string> Others(const TempDir& dir, const std::vector<std::string>& known)
{
    std::vector<std::string> found;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
        const std::string name = e.path().filename().string();
        if (std::find(known.begin(), known.end(), name) == known.end())
            found.push_back(name);
    }
    return found;
}

class ToolTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (std::string(VXTIFF_TOOL).empty())
            GTEST_SKIP() << "the tool is not built";
    }
    TempDir dir;
};

// Every output compression and layout, from a bilevel, a palette, a
// big-endian 16-bit, a Deflate + Predictor 2 RGB and a FillOrder 2 LZW image
// (the fax compressions from the bilevel ones only).
TEST_F(ToolTest, ConvertKeepsPixelsPaletteAndResolution)
{
    LibtiffPage palette = Page(72, 41, 1, 4, 3);
    for (int i = 0; i < 3 * 16; ++i)
        palette.colorMap.push_back(uint16_t((i * 37 % 256) * 257));
    LibtiffPage bigEndian16 = Page(40, 20, 1, 16, 1);
    bigEndian16.bigEndian = true;
    LibtiffPage deflatePred = Page(30, 25, 3, 8, 2);
    deflatePred.compression = 32946, deflatePred.predictor = 2;
    LibtiffPage lsbFirst = Page(72, 41, 1, 1, 0);  // as a fax program stores LZW pages
    lsbFirst.compression = 5, lsbFirst.fillOrder = 2;
    const LibtiffPage sources[] = {Page(72, 41, 1, 1, 0), palette, bigEndian16, deflatePred, lsbFirst};
    const struct { std::vector<std::string> args; int compression, t4Options; bool tiled; } layouts[] = {
        {{}, 0, 0, false},  // the input's compression
        {{"--compression", "none", "--rows-per-strip", "7"}, 1, 0, false},
        {{"--compression", "packbits", "--tile", "32x32"}, 32773, 0, true},
        {{"--compression", "deflate", "--tile", "40x40"}, 8, 0, true},
        {{"--compression", "deflate-legacy"}, 32946, 0, false},
        {{"--compression", "lzw", "--rows-per-strip", "3"}, 5, 0, false},
        {{"--compression", "g3"}, 3, 0, false},
        {{"--compression", "g3-2d", "--rows-per-strip", "7"}, 3, 1, false},
        {{"--compression", "g4", "--tile", "32x32"}, 4, 0, true}};
    for (const LibtiffPage& s : sources) {
        const std::vector<Bytes> rows = Pattern(s);
        const std::string in = dir.Path("in.tif"), out = dir.Path("out.tif");
        ASSERT_TRUE(WriteLibtiff(in, s, rows));
        for (const auto& layout : layouts) {
            if (layout.compression >= 2 && layout.compression <= 4 && s.bits != 1)
                continue;
            std::vector<std::string> args = {"convert", in, out};
            args.insert(args.end(), layout.args.begin(), layout.args.end());
            SCOPED_TRACE(std::to_string(s.samples * s.bits) + "-bit to " + std::to_string(layout.compression));
            const ToolResult r = Tool(dir, args);
            ASSERT_EQ(r.status, 0) << r.err;
            std::vector<Bytes> back;
            std::string complaints;
            ASSERT_TRUE(ReadLibtiffStrict(out, &back, &complaints));
            EXPECT_EQ(complaints, "");
            EXPECT_EQ(back, rows);
            CTifFile f;
            ASSERT_EQ(f.Open(out.c_str()), 1);
            VXIMGINFO info;
            f.GetImgInfo(&info);
            int predictor = 1, t4Options = 0;
            f.GetTagValue(317, &predictor);
            f.GetTagValue(292, &t4Options);
            EXPECT_EQ(info.bTiled, layout.tiled);
            EXPECT_EQ(info.dXResolution, 200.0);
            EXPECT_EQ(info.dYResolution, 100.0);
            EXPECT_EQ(info.nCompression, layout.compression ? layout.compression : s.compression);
            EXPECT_EQ(t4Options, layout.t4Options);
            // The input's predictor stays while the output takes one.
            const bool predicted = info.nCompression == 32946 || info.nCompression == 8 || info.nCompression == 5;
            EXPECT_EQ(predictor, predicted ? s.predictor : 1);
            if (s.photometric == 3) {
                ASSERT_EQ(f.m_nColors, 16);
                std::vector<uint16_t> map(f.m_pRedMap, f.m_pRedMap + 16);
                map.insert(map.end(), f.m_pGreenMap, f.m_pGreenMap + 16);
                map.insert(map.end(), f.m_pBlueMap, f.m_pBlueMap + 16);
                EXPECT_EQ(map, s.colorMap);
            }
        }
    }
    EXPECT_EQ(Others(dir, {"in.tif", "out.tif"}), std::vector<std::string>{});
}

// The image turned pixel by pixel from its rows: R90 line L is column L bottom up.
std::vector<Bytes> Turned(const std::vector<Bytes>& rows, const LibtiffPage& s, bool r90)
{
    const size_t bits = size_t(s.samples) * s.bits;
    std::vector<Bytes> out(s.width, Bytes((s.height * bits + 7) / 8, 0));
    for (uint32_t line = 0; line < s.width; ++line) {
        const uint32_t c = r90 ? line : s.width - 1 - line;
        for (uint32_t p = 0; p < s.height; ++p) {
            const Bytes& row = rows[r90 ? s.height - 1 - p : p];
            for (size_t from = c * bits, to = p * bits; from < (c + 1) * bits; ++from, ++to)
                if (row[from / 8] & (0x80 >> (from % 8)))
                    out[line][to / 8] |= 0x80 >> (to % 8);
        }
    }
    return out;
}

// Every pixel of `rows` in the opposite corner: rows bottom up, pixels right to left.
std::vector<Bytes> HalfTurned(const std::vector<Bytes>& rows, const LibtiffPage& s)
{
    const uint32_t bits = s.samples * s.bits;
    std::vector<Bytes> out(s.height, Bytes(s.RowBytes(), 0));
    for (uint32_t y = 0; y < s.height; ++y)
        for (uint32_t x = 0; x < s.width; ++x)
            for (uint32_t b = 0; b < bits; ++b) {
                const uint32_t from = (s.width - 1 - x) * bits + b, to = x * bits + b;
                if (rows[s.height - 1 - y][from / 8] & (0x80 >> (from % 8)))
                    out[y][to / 8] |= uint8_t(0x80 >> (to % 8));
            }
    return out;
}

// Every pixel size turned: 90 and 270 those the reader rotates, 180 all of
// them, widths that leave bits past the last pixel, a tiled source, and an
// image of two bands.
TEST_F(ToolTest, RotateMatchesRotationOfPlainRows)
{
    LibtiffPage tiled = Page(70, 45, 1, 1, 0), bigEndian16 = Page(21, 11, 1, 16, 1);
    tiled.tileWidth = 32, tiled.tileLength = 16, bigEndian16.bigEndian = true;
    const LibtiffPage sources[] = {Page(61, 37, 1, 1, 0), tiled,           Page(23, 19, 1, 8, 1), Page(29, 7, 1, 2, 1),
                                   Page(27, 9, 1, 4, 1),  Page(13, 5, 1, 16, 1), Page(11, 6, 3, 8, 2),
                                   Page(9, 4, 4, 8, 5),   Page(7, 5, 3, 16, 2), Page(5, 3, 4, 16, 5),
                                   Page(15, 4, 3, 4, 2),  Page(1000, 900, 3, 16, 2), bigEndian16};
    for (const LibtiffPage& s : sources) {
        const std::vector<Bytes> rows = Pattern(s);
        const std::string in = dir.Path("in.tif"), out = dir.Path("out.tif");
        ASSERT_TRUE(WriteLibtiff(in, s, rows));
        const int bits = s.samples * s.bits;
        for (const std::string angle : {"90", "270", "180"}) {
            if (angle != "180" && bits % 8 != 0 && 8 % bits != 0)
                continue;  // a quarter turn takes pixels of whole bytes or that divide one
            SCOPED_TRACE(std::to_string(bits) + "-bit " + (s.tileWidth ? "tiled " : "") + angle);
            const ToolResult r = Tool(dir, {"rotate", in, out, angle, "--compression", "packbits"});
            ASSERT_EQ(r.status, 0) << r.err;
            std::vector<Bytes> back;
            ASSERT_TRUE(ReadLibtiff(out, &back));
            EXPECT_EQ(back, angle == "180" ? HalfTurned(rows, s) : Turned(rows, s, angle == "90"));
            CTifFile f;
            ASSERT_EQ(f.Open(out.c_str()), 1);
            for (const Bytes& want : back) {  // our reader reads the same lines
                Bytes line(want.size());
                ASSERT_EQ(f.ReadLine(line.data()), 1);
                EXPECT_EQ(line, want);
            }
            VXIMGINFO info;
            f.GetImgInfo(&info);
            const bool quarter = angle != "180";
            EXPECT_EQ(info.nWidth, int(quarter ? s.height : s.width));
            EXPECT_EQ(info.dXResolution, quarter ? 100.0 : 200.0);  // the resolutions turn with the image
            EXPECT_EQ(info.dYResolution, quarter ? 200.0 : 100.0);
            EXPECT_EQ(info.bTiled, s.tileWidth != 0);
        }
    }
}

// Pages of every kind: fax, palette, big-endian 16-bit, tiled Deflate RGB.
std::vector<LibtiffPage> MixedPages()
{
    LibtiffPage fax = Page(70, 45, 1, 1, 0);
    fax.compression = 4, fax.xResolution = 204, fax.yResolution = 98;
    LibtiffPage palette = Page(33, 20, 1, 4, 3);
    for (int i = 0; i < 3 * 16; ++i)
        palette.colorMap.push_back(uint16_t((i * 37 % 256) * 257));
    LibtiffPage bigEndian16 = Page(19, 12, 1, 16, 1);
    bigEndian16.bigEndian = true, bigEndian16.xResolution = 300;
    LibtiffPage rgb = Page(40, 35, 3, 8, 2);
    rgb.compression = 32946, rgb.predictor = 2, rgb.tileWidth = 32, rgb.tileLength = 32;
    return {bigEndian16, fax, palette, rgb};  // the first page makes the file big-endian
}

std::string WriteMixed(const TempDir& dir, const std::string& name, std::vector<std::vector<Bytes>>* rows)
{
    const std::vector<LibtiffPage> pages = MixedPages();
    for (size_t p = 0; p < pages.size(); ++p)
        rows->push_back(Pattern(pages[p], uint32_t(p)));
    EXPECT_TRUE(WriteLibtiffPages(dir.Path(name), pages, *rows));
    return dir.Path(name);
}

// Page `page` of `path` by libtiff (complaints fail the test) and by our reader.
std::vector<Bytes> PageRows(const std::string& path, int page, VXIMGINFO* info)
{
    std::vector<Bytes> rows, ours;
    std::string complaints;
    EXPECT_TRUE(ReadLibtiffStrict(path, &rows, &complaints, page)) << path << " page " << page;
    EXPECT_EQ(complaints, "");
    CTifFile f;
    EXPECT_EQ(f.OpenPage(path.c_str(), page), 1);
    f.GetImgInfo(info);
    for (Bytes row(size_t(f.m_nRowBytes)); int(ours.size()) < info->nHeight && f.ReadLine(row.data()) == 1;)
        ours.push_back(row);
    if (f.m_bSwap && info->nBitsPerSample == 16)
        SwapRows16(&ours);  // delivered in the file's byte order
    EXPECT_EQ(ours, rows) << "our reader, page " << page;
    return rows;
}

// Every page kept, each with its own kind and resolution: copied as stored by
// default, re-encoded when asked, turned by rotate.
TEST_F(ToolTest, EveryPageKeptThroughConvertAndRotate)
{
    std::vector<std::vector<Bytes>> rows;
    const std::string in = WriteMixed(dir, "in.tif", &rows), out = dir.Path("out.tif");
    const std::vector<LibtiffPage> specs = MixedPages();
    const struct {
        std::vector<std::string> args;
        std::vector<int> pages;  // the input's pages in the output
    } cases[] = {
        {{"convert"}, {0, 1, 2, 3}},
        {{"convert", "--compression=packbits"}, {0, 1, 2, 3}},
        {{"convert", "--rows-per-strip=5", "--page", "4,2-3"}, {3, 1, 2}},
        {{"convert", "--page=3-"}, {2, 3}},
        {{"rotate", "180"}, {0, 1, 2, 3}},
        {{"rotate", "90", "--page=2,4"}, {1, 3}},  // 90 takes whole-byte or bilevel pixels
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {c.args[0], in, out};
        args.insert(args.end(), c.args.begin() + 1, c.args.end());
        SCOPED_TRACE(args.back());
        const ToolResult r = Tool(dir, args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "vxtiff: " + in + " -> " + out + ": " + std::to_string(c.pages.size()) + " of 4 pages written\n");
        ASSERT_EQ(CTifFile::CountPages(out.c_str()), int(c.pages.size()));
        const std::string angle = args[0] == "rotate" ? args[3] : "";
        const bool quarter = angle == "90", half = angle == "180";
        for (size_t i = 0; i < c.pages.size(); ++i) {
            const int p = c.pages[i];
            const LibtiffPage& s = specs[size_t(p)];
            VXIMGINFO info, source;
            const std::vector<Bytes> want = PageRows(in, p, &source);
            EXPECT_EQ(PageRows(out, int(i), &info), half ? HalfTurned(want, s) : quarter ? Turned(want, s, true) : want);
            EXPECT_EQ(info.dXResolution, quarter ? s.yResolution : s.xResolution) << "page " << p;
            EXPECT_EQ(info.dYResolution, quarter ? s.xResolution : s.yResolution) << "page " << p;
            EXPECT_EQ(info.nImageType, source.nImageType);
            CTifFile a, b;
            ASSERT_EQ(a.OpenPage(in.c_str(), p) + b.OpenPage(out.c_str(), int(i)), 2);
            // By default the stored data is copied (but 16-bit samples change byte order).
            if (args.size() == 3 && s.bits <= 8) {
                EXPECT_EQ(std::vector<uint32_t>(a.m_pStripByteCounts, a.m_pStripByteCounts + a.m_nStrips),
                          std::vector<uint32_t>(b.m_pStripByteCounts, b.m_pStripByteCounts + b.m_nStrips));
            }
        }
    }
}

// The tags that describe a page, set by libtiff on page 1 of `path`.
void Describe(const std::string& path, uint16_t orientation)
{
    TIFF* t = TIFFOpen(path.c_str(), "r+");
    ASSERT_NE(t, nullptr);
    for (ttag_t tag : {269, 270, 271, 272, 285, 305, 306, 315, 316, 33432})
        TIFFSetField(t, tag, ("text of " + std::to_string(tag)).c_str());
    TIFFSetField(t, TIFFTAG_ORIENTATION, orientation);
    TIFFSetField(t, TIFFTAG_XPOSITION, 1.5f);
    TIFFSetField(t, TIFFTAG_YPOSITION, 2.5f);
    TIFFSetField(t, TIFFTAG_PAGENUMBER, 2, 5);
    ASSERT_EQ(TIFFRewriteDirectory(t), 1);
    TIFFClose(t);
}

// The page as shown (libtiff applies a mirroring Orientation), packed RGBA top row first.
std::vector<uint32_t> Shown(const std::string& path, uint32_t* w, uint32_t* h)
{
    TIFF* t = TIFFOpen(path.c_str(), "r");
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, w);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, h);
    std::vector<uint32_t> px(size_t(*w) * *h);
    EXPECT_EQ(TIFFReadRGBAImageOriented(t, *w, *h, px.data(), ORIENTATION_TOPLEFT, 0), 1);
    TIFFClose(t);
    return px;
}

// What says what a page is and how it shows is kept by convert, rotate and
// merge: the texts, the page number of a file of one page, the position,
// the resolution unit, the orientation (the turned page shows as the source
// shows, turned).
TEST_F(ToolTest, WhatAPageMeansIsKept)
{
    LibtiffPage gray = Page(5, 3, 1, 8, 1);
    gray.resolutionUnit = 3;
    const std::string in = dir.Path("in.tif"), out = dir.Path("out.tif");
    ASSERT_TRUE(WriteLibtiff(in, gray, Pattern(gray)));
    Describe(in, ORIENTATION_TOPRIGHT);
    uint32_t w, h, ow, oh;
    const std::vector<uint32_t> shown = Shown(in, &w, &h);
    for (const std::string angle : {"0", "90", "180"}) {
        SCOPED_TRACE(angle);
        const ToolResult r = Tool(dir, angle == "0" ? std::vector<std::string>{"convert", in, out}
                                                    : std::vector<std::string>{"rotate", in, out, angle});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        TIFF* t = TIFFOpen(out.c_str(), "r");
        ASSERT_NE(t, nullptr);
        for (ttag_t tag : {269, 270, 271, 272, 285, 305, 306, 315, 316, 33432}) {
            char* text = nullptr;
            EXPECT_EQ(TIFFGetField(t, tag, &text) ? std::string(text) : "", "text of " + std::to_string(tag));
        }
        const bool quarter = angle == "90";
        uint16_t orientation = 0, unit = 0, page = 0, pages = 0;
        float x = 0, y = 0, xres = 0;
        TIFFGetField(t, TIFFTAG_ORIENTATION, &orientation);
        TIFFGetField(t, TIFFTAG_RESOLUTIONUNIT, &unit);
        TIFFGetField(t, TIFFTAG_PAGENUMBER, &page, &pages);
        TIFFGetField(t, TIFFTAG_XPOSITION, &x);
        TIFFGetField(t, TIFFTAG_YPOSITION, &y);
        TIFFGetField(t, TIFFTAG_XRESOLUTION, &xres);
        TIFFClose(t);
        EXPECT_EQ(orientation, quarter ? ORIENTATION_BOTLEFT : ORIENTATION_TOPRIGHT);
        EXPECT_EQ(unit, RESUNIT_CENTIMETER);
        EXPECT_EQ(xres, quarter ? 100.0f : 200.0f);
        EXPECT_EQ(page * 10 + pages, 25);
        EXPECT_EQ(x, quarter ? 2.5f : 1.5f);
        EXPECT_EQ(y, quarter ? 1.5f : 2.5f);
        // Shown, the page is the source shown and turned.
        const std::vector<uint32_t> turned = Shown(out, &ow, &oh);
        for (uint32_t r = 0; r < oh; ++r)
            for (uint32_t c = 0; c < ow; ++c) {
                const uint32_t sr = quarter ? h - 1 - c : angle == "180" ? h - 1 - r : r;
                const uint32_t sc = quarter ? r : angle == "180" ? w - 1 - c : c;
                ASSERT_EQ(turned[r * ow + c], shown[sr * w + sc]) << r << "," << c;
            }
    }
    // Merged, the writer numbers the pages; the rest stays.
    ASSERT_EQ(Tool(dir, {"merge", in, in, out}).status, 0);
    CTifFile f;
    ASSERT_EQ(f.OpenPage(out.c_str(), 1), 1);
    char* text = nullptr;
    EXPECT_EQ(f.GetTagText(270, &text), 1);
    std::free(text);
    int type, count;
    void* number = nullptr;
    ASSERT_EQ(f.GetTagData(297, &type, &count, &number), 1);
    EXPECT_EQ(static_cast<uint16_t*>(number)[0] * 10 + static_cast<uint16_t*>(number)[1], 12);
    std::free(number);
}

// Floats stored big-endian stay floats, in the right byte order; RGBA keeps
// its unassociated alpha, and a resolution without unit stays one.
TEST_F(ToolTest, SamplesKeepTheirFormatAndAlpha)
{
    const std::string in = dir.Path("in.tif"), out = dir.Path("out.tif");
    LibtiffPage floats = Page(3, 2, 1, 32, 1), rgba = Page(4, 3, 4, 8, 2);
    floats.bigEndian = true, rgba.resolutionUnit = 1;
    for (const LibtiffPage& s : {floats, rgba}) {
        const std::vector<Bytes> rows = Pattern(s);
        ASSERT_TRUE(WriteLibtiff(in, s, rows));
        TIFF* t = TIFFOpen(in.c_str(), "r+");
        const uint16_t alpha = EXTRASAMPLE_UNASSALPHA;
        s.samples == 4 ? TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &alpha)
                       : TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP);
        ASSERT_EQ(TIFFRewriteDirectory(t), 1);
        TIFFClose(t);
        for (const std::string angle : {"0", "180"}) {
            const ToolResult r = Tool(dir, angle == "0" ? std::vector<std::string>{"convert", in, out}
                                                        : std::vector<std::string>{"rotate", in, out, angle});
            ASSERT_EQ(r.status, 0) << r.err;
            std::vector<Bytes> back;
            std::string complaints;
            ASSERT_TRUE(ReadLibtiffStrict(out, &back, &complaints));
            EXPECT_EQ(complaints, "");
            EXPECT_EQ(back, angle == "0" ? rows : HalfTurned(rows, s));
            t = TIFFOpen(out.c_str(), "r");
            uint16_t format = 0, unit = 0, n = 0, *extra = nullptr;
            float xres = 0;
            TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLEFORMAT, &format);
            TIFFGetFieldDefaulted(t, TIFFTAG_EXTRASAMPLES, &n, &extra);
            TIFFGetField(t, TIFFTAG_RESOLUTIONUNIT, &unit);
            TIFFGetField(t, TIFFTAG_XRESOLUTION, &xres);
            EXPECT_EQ(format, s.samples == 4 ? SAMPLEFORMAT_UINT : SAMPLEFORMAT_IEEEFP);
            EXPECT_EQ(n == 1 ? extra[0] : 0, s.samples == 4 ? EXTRASAMPLE_UNASSALPHA : 0);
            EXPECT_EQ(unit, s.resolutionUnit);
            EXPECT_EQ(xres, 200.0f);
            TIFFClose(t);
        }
    }
}

// split writes one file per page, merge joins them again: the same pages,
// their stored data unchanged; a failed page names its file and number and
// leaves no OUT.
TEST_F(ToolTest, SplitAndMergeAreInverse)
{
    std::vector<std::vector<Bytes>> rows;
    const std::string in = WriteMixed(dir, "in.tif", &rows), back = dir.Path("back.tif");
    ToolResult r = Tool(dir, {"split", in, dir.Path("part")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "vxtiff: " + in + ": 4 pages written as " + dir.Path("part") + "-NNN.tif\n");
    std::vector<std::string> parts;
    for (int p = 0; p < 4; ++p) {
        parts.push_back(dir.Path("part-00" + std::to_string(p + 1) + ".tif"));
        ASSERT_EQ(CTifFile::CountPages(parts.back().c_str()), 1);
        VXIMGINFO a, b;
        EXPECT_EQ(PageRows(parts.back(), 0, &a), PageRows(in, p, &b)) << p;
    }
    std::vector<std::string> args = {"merge"};
    args.insert(args.end(), parts.begin(), parts.end());
    args.push_back(back);
    r = Tool(dir, args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "vxtiff: " + back + ": 4 pages from 4 files written\n");
    ASSERT_EQ(CTifFile::CountPages(back.c_str()), 4);
    for (int p = 0; p < 4; ++p) {
        VXIMGINFO a, b;
        EXPECT_EQ(PageRows(back, p, &a), PageRows(in, p, &b)) << p;
        CTifFile x, y;
        ASSERT_EQ(x.OpenPage(in.c_str(), p) + y.OpenPage(back.c_str(), p), 2);
        if (a.nBitsPerSample <= 8) {  // copied as stored; 16-bit samples change byte order
            EXPECT_EQ(std::vector<uint32_t>(x.m_pStripByteCounts, x.m_pStripByteCounts + x.m_nStrips),
                      std::vector<uint32_t>(y.m_pStripByteCounts, y.m_pStripByteCounts + y.m_nStrips));
        }
    }
    // A page that cannot be written, and a file that cannot be read: nothing made.
    const std::string out = dir.Path("out.tif");
    dir.Write("text.tif", {'h', 'e', 'l', 'l', 'o'});
    const struct {
        std::vector<std::string> args;
        std::string says;
        int status;
    } cases[] = {
        {{"merge", parts[1], in, out, "--compression=g4"}, in + " page 1 -> " + out + ": g4 compresses bilevel", 1},
        {{"merge", in, dir.Path("text.tif"), out}, dir.Path("text.tif") + " -> " + out + ": cannot open: not a TIFF", 1},
        {{"merge", in, out, out}, out + " -> " + out + ": cannot open: no such file", 1},
        {{"merge", in, dir.Path("no/dir/out.tif")}, "cannot create: No such file", 4},
        {{"split", in, dir.Path("g4"), "--compression=g4", "--page=2-3"}, in + " page 3 -> " + dir.Path("g4-003.tif"), 1},
        {{"split", in, dir.Path("no/dir/p"), "--page=2"}, "cannot create: No such file", 4},
        {{"split", in, dir.Path("p"), "--page=5"}, in + ": cannot open: no page 5 (the file has 4 pages)", 1},
    };
    for (const auto& c : cases) {
        r = Tool(dir, c.args);
        EXPECT_EQ(r.status, c.status) << c.says;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_FALSE(std::filesystem::exists(out));
    }
    // The split that failed on page 3 still wrote page 2.
    EXPECT_EQ(CTifFile::CountPages(dir.Path("g4-002.tif").c_str()), 1);
    EXPECT_FALSE(std::filesystem::exists(dir.Path("g4-003.tif")));
    std::vector<std::string> known = {"in.tif", "back.tif", "text.tif", "g4-002.tif"};
    for (int p = 1; p <= 4; ++p)
        known.push_back("part-00" + std::to_string(p) + ".tif");
    EXPECT_EQ(Others(dir, known), std::vector<std::string>{});
}

// Several inputs into a directory: the good ones written, a one-line
// summary, the status of the failed one.
TEST_F(ToolTest, BatchGoesOnAfterAFailedFile)
{
    const LibtiffPage s = Page(16, 8, 1, 8, 1);
    const std::vector<Bytes> rows = Pattern(s);
    ASSERT_TRUE(WriteLibtiff(dir.Path("a.tif"), s, rows));
    ASSERT_TRUE(WriteLibtiff(dir.Path("c.tiff"), s, rows));
    dir.Write("b.tif", {'h', 'e', 'l', 'l', 'o'});
    const std::string outDir = dir.Path("out/sub");
    for (const std::vector<std::string>& extra : std::vector<std::vector<std::string>>{
             {"convert", "--compression=lzw"}, {"rotate", "180", "-j", "3"}, {"topng", "--jobs=2"}}) {
        std::vector<std::string> args = {extra[0], dir.Path("a.tif"), dir.Path("b.tif"), dir.Path("c.tiff")};
        args.insert(args.end(), extra.begin() + 1, extra.end());
        args.insert(args.end(), {"--out-dir", outDir});
        const ToolResult r = Tool(dir, args);
        EXPECT_EQ(r.status, 1) << extra[0];
        EXPECT_NE(r.err.find(dir.Path("b.tif") + " -> " + outDir + "/b."), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("not a TIFF file"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.substr(r.err.rfind("vxtiff: ")), "vxtiff: 2 files converted, 1 failed\n");
        const std::string ext = extra[0] == "topng" ? ".png" : ".tif";
        EXPECT_FALSE(std::filesystem::exists(outDir + "/b" + ext));
        for (const char* name : {"/a", "/c"}) {
            ASSERT_TRUE(std::filesystem::exists(outDir + name + ext)) << name << ext;
            std::vector<Bytes> back;
            if (ext == ".tif") {
                ASSERT_TRUE(ReadLibtiff(outDir + name + ext, &back));
                EXPECT_EQ(back, extra[0] == "rotate" ? HalfTurned(rows, s) : rows);
            }
        }
        std::filesystem::remove_all(dir.Path("out"));
    }
    // Two inputs of one name would write one output: refused before any work.
    std::filesystem::create_directory(dir.Path("d"));
    ASSERT_TRUE(WriteLibtiff(dir.Path("d/a.tif"), s, rows));
    const ToolResult r = Tool(dir, {"convert", dir.Path("a.tif"), dir.Path("d/a.tif"), "--out-dir", outDir});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("would both be written to"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(outDir));
}

TEST_F(ToolTest, FailuresLeaveNoOutputAndKeepAnExistingOne)
{
    const LibtiffPage s = Page(16, 8, 1, 8, 1);
    const std::string in = dir.Path("in.tif"), out = dir.Path("out.tif");
    ASSERT_TRUE(WriteLibtiff(in, s, Pattern(s)));
    const Bytes inBytes = ReadFileBytes(in);
    dir.Write("text.tif", {'h', 'e', 'l', 'l', 'o'});
    std::filesystem::create_symlink(in, dir.Path("link.tif"));
    TempDir other;
    ASSERT_TRUE(WriteLibtiff(other.Path("12bit.tif"), Page(16, 8, 1, 12, 1), Pattern(Page(16, 8, 1, 12, 1))));

    // Bad arguments: status 2, nothing made.
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"convert", in}, {"convert", in, out, "--compression", "jpeg:101"}, {"convert", in, out, "--predictor", "3"},
             {"convert", in, out, "--tile", "0x32"}, {"convert", in, out, "--tile", "32x32", "--rows-per-strip", "4"},
             {"convert", in, out, "--bogus"}, {"convert", in, out, "--compression", "none", "--predictor", "2"},
             {"rotate", in, out}, {"rotate", in, out, "45"}, {"rotate", in, out, "180", "--page", "2-1"},
             {"convert", in, out, "--page", "1,,2"}, {"convert", in, out, "--page", "x"}, {"convert", in, out, "--page=0"},
             {"convert", in, out, "--page", "1-2-3"}, {"convert", in, in, out}, {"convert", "--out-dir", out},
             {"convert", in, "--out-dir", out, "-j", "0"}, {"topng", in, out, "x.png"}, {"tobmp", in, "--out-dir", out, "--dpi", "1"},
             {"merge", in}, {"split", in}, {"split", in, out, "--page", "-"}}) {
        const ToolResult r = Tool(dir, args);
        EXPECT_EQ(r.status, 2) << args.back();
        EXPECT_NE(r.err.find("vxtiff: "), std::string::npos);
        EXPECT_FALSE(std::filesystem::exists(out)) << args.back();
    }
    // Failures of the run: status 1, one line; an existing OUT stays as it was.
    const Bytes old = {'o', 'l', 'd'};
    dir.Write("out.tif", old);
    struct Case {
        std::vector<std::string> args;
        const char* says;
        int status = 1;
    };
    const Case cases[] = {
        {{"convert", dir.Path("missing.tif"), out}, "no such file"},
        {{"convert", dir.Path("text.tif"), out}, "cannot open: not a TIFF file"},
        {{"rotate", in, in, "90"}, "same file"},
        {{"convert", dir.Path("link.tif"), in}, "same file"},
        {{"convert", in, dir.Path("no/such/dir/out.tif")}, "cannot create", 4},
        {{"convert", in, out, "--compression", "g4"}, "bilevel"},
        {{"rotate", other.Path("12bit.tif"), out, "90"}, "rotate 90 and 270 take pixels of 1, 2 or 4 bits or of whole bytes, not 12 bits"},
    };
    for (const Case& c : cases) {
        const ToolResult r = Tool(dir, c.args);
        EXPECT_EQ(r.status, c.status) << c.says;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(ReadFileBytes(out), old);
        EXPECT_EQ(ReadFileBytes(in), inBytes);
    }
    EXPECT_EQ(Others(dir, {"in.tif", "out.tif", "text.tif", "link.tif"}), std::vector<std::string>{});
}

}  // namespace
