// VXTiff2Pdf against the peers as black boxes: every page Ghostscript renders
// at the page's own resolution equals the rows the TIFF was written from,
// qpdf --check finds nothing, our structural check passes, and the MediaBox
// is tiff2pdf's. Inputs are written by libtiff; a peer that is not installed
// skips the test (CI installs them all).
#include <tiffio.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../../fuzz/pdf_check.h"
#include "convert/tif2pdf.h"
#include "tif/tif_file.h"
#include "support/libtiff_util.h"
#include "support/run_program.h"

namespace {

using namespace tiftest;

bool Installed(const std::string& program)
{
    return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

#define REQUIRE_PEERS(...)                                           \
    for (const char* peer : {__VA_ARGS__})                           \
        if (!Installed(peer))                                        \
            GTEST_SKIP() << peer << " is not installed";

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A raster Ghostscript wrote (P4 or P6): its rows packed as in the file.
struct Raster {
    std::string kind;
    int width = 0, height = 0;
    Bytes data;
};

Raster ReadPnm(const std::string& path)
{
    const Bytes b = ReadFileBytes(path);
    Raster r;
    size_t at = 0;
    std::vector<long> fields;
    r.kind = std::string(b.begin(), b.begin() + std::min<size_t>(2, b.size()));
    at = 2;
    const size_t want = r.kind == "P4" ? 2 : 3;
    while (at < b.size() && fields.size() < want) {
        if (b[at] == '#')
            while (at < b.size() && b[at] != '\n')
                ++at;
        else if (b[at] >= '0' && b[at] <= '9') {
            long v = 0;
            while (at < b.size() && b[at] >= '0' && b[at] <= '9')
                v = v * 10 + (b[at++] - '0');
            fields.push_back(v);
            continue;
        }
        ++at;
    }
    if (fields.size() != want)
        return {};
    r.width = int(fields[0]), r.height = int(fields[1]);
    r.data.assign(b.begin() + long(at) + 1, b.end());
    return r;
}

// The raster Ghostscript makes of page 1 of `pdf` at x × y dpi on `device`.
Raster Render(const TempDir& dir, const std::string& pdf, double x, double y, const std::string& device)
{
    const std::string out = dir.Path("page.pnm");
    char res[64];
    std::snprintf(res, sizeof res, "-r%gx%g", x, y);
    const ProgramResult r = RunProgram(
        "gs", {"-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=" + device, res, "-sOutputFile=" + out, pdf}, dir);
    return r.status == 0 ? ReadPnm(out) : Raster{};
}

// The source rows as Ghostscript shows them: bilevel pages black on white
// (P4), everything else in RGB (P6; its grey output, P5, loses the low bit of
// some levels).
Bytes Expected(const LibtiffPage& s, const std::vector<Bytes>& rows)
{
    Bytes out;
    for (const Bytes& row : rows) {
        for (uint32_t x = 0; x < s.width; ++x) {
            if (s.bits == 1 && s.photometric <= 1) {  // P4: a set bit is black
                if (x % 8 == 0)
                    out.push_back(0);
                const bool set = row[x / 8] >> (7 - x % 8) & 1;
                out.back() |= uint8_t((set != (s.photometric == 1)) << (7 - x % 8));
                continue;
            }
            const uint32_t pixelBits = s.samples * s.bits;
            const uint32_t at = x * pixelBits;
            const unsigned v = s.bits >= 8 ? row[at / 8] : (row[at / 8] >> (8 - s.bits - at % 8)) & ((1u << s.bits) - 1);
            if (s.photometric == 3) {
                const size_t n = size_t(1) << s.bits;
                for (size_t c = 0; c < 3; ++c)
                    out.push_back(uint8_t(s.colorMap[c * n + v] >> 8));
            } else if (s.photometric == 2) {
                out.insert(out.end(), {row[at / 8], row[at / 8 + 1], row[at / 8 + 2]});
            } else {
                const unsigned grey = v * 255 / ((1u << std::min<int>(s.bits, 8)) - 1);
                out.insert(out.end(), 3, uint8_t(s.photometric == 0 ? 255 - grey : grey));
            }
        }
    }
    return out;
}

struct Case {
    const char* name;
    LibtiffPage layout;
    bool copied;  // the Group 4 strip goes in unchanged
};

LibtiffPage Layout(uint32_t w, uint32_t h, uint16_t samples, uint16_t bits, uint16_t photometric, uint16_t compression,
                 uint32_t rowsPerStrip = 0)
{
    LibtiffPage s;
    s.width = w, s.height = h, s.samples = samples, s.bits = bits, s.photometric = photometric;
    s.compression = compression, s.rowsPerStrip = rowsPerStrip ? rowsPerStrip : h;
    s.xResolution = 150, s.yResolution = 75, s.resolutionUnit = RESUNIT_INCH;
    return s;
}

std::vector<Case> Cases()
{
    std::vector<Case> c = {
        {"g4 min-is-white, one strip", Layout(203, 61, 1, 1, 0, 4), true},
        {"g4 min-is-black, one strip", Layout(96, 40, 1, 1, 1, 4), true},
        {"g4 in strips of 16 rows", Layout(203, 61, 1, 1, 0, 4, 16), false},
        {"g4 fill order 2", Layout(120, 33, 1, 1, 0, 4), false},
        {"mh at 204 x 98 dpi", Layout(173, 47, 1, 1, 0, 2, 10), false},
        {"g3 1d", Layout(150, 30, 1, 1, 0, 3), false},
        {"g3 2d with fill bits", Layout(150, 30, 1, 1, 0, 3), false},
        {"bilevel tiles", Layout(100, 70, 1, 1, 0, 1), false},
        {"lzw bilevel min-is-black", Layout(77, 20, 1, 1, 1, 5, 7), false},
        {"grey 8 lzw predictor", Layout(90, 31, 1, 8, 1, 5, 8), false},
        {"grey 8 min-is-white", Layout(50, 20, 1, 8, 0, 1), false},
        {"grey 4 tiles", Layout(70, 40, 1, 4, 1, 32773), false},
        {"grey with alpha", Layout(33, 12, 2, 8, 1, 8), false},
        {"rgb 8 deflate", Layout(64, 30, 3, 8, 2, 8, 5), false},
        {"palette 4", Layout(45, 21, 1, 4, 3, 32773), false},
        {"palette 8", Layout(40, 16, 1, 8, 3, 5), false},
        {"grey 8 lzw fill order 2", Layout(41, 13, 1, 8, 1, 5, 4), false},
    };
    c[3].layout.fillOrder = 2;
    c[4].layout.xResolution = 204, c[4].layout.yResolution = 98;
    c[6].layout.t4Options = GROUP3OPT_2DENCODING | GROUP3OPT_FILLBITS;
    c[7].layout.tileWidth = c[7].layout.tileLength = 32;
    c[11].layout.tileWidth = c[11].layout.tileLength = 16;
    c[16].layout.fillOrder = 2;
    c[14].layout.resolutionUnit = RESUNIT_CENTIMETER, c[14].layout.xResolution = 40, c[14].layout.yResolution = 40;
    for (Case& k : c)
        if (k.layout.photometric == 3)
            for (uint32_t i = 0; i < 3u << k.layout.bits; ++i)
                k.layout.colorMap.push_back(uint16_t((i * 97 + 13) % 256 * 257));
    return c;
}

const char* Device(const LibtiffPage& s)
{
    return s.bits == 1 && s.photometric <= 1 ? "pbmraw" : "ppmraw";
}

Bytes RawStrip(const std::string& path)
{
    TIFF* t = TIFFOpen(path.c_str(), "r");
    Bytes raw(size_t(TIFFRawStripSize(t, 0)));
    TIFFReadRawStrip(t, 0, raw.data(), tmsize_t(raw.size()));
    TIFFClose(t);
    return raw;
}

// The lines of `pdfinfo -box` giving each page's MediaBox.
std::string MediaBoxes(const TempDir& dir, const std::string& pdf)
{
    const ProgramResult r = RunProgram("pdfinfo", {"-box", "-f", "1", "-l", "99", pdf}, dir);
    std::string boxes;
    for (size_t at = r.out.find("MediaBox"); at != std::string::npos; at = r.out.find("MediaBox", at + 1))
        boxes += r.out.substr(at, r.out.find('\n', at) - at) + "\n";
    return boxes;
}

std::string QpdfProblems(const TempDir& dir, const std::string& pdf)
{
    const ProgramResult r = RunProgram("qpdf", {"--check", pdf}, dir);
    return r.status == 0 && Has(r.out, "No syntax or stream encoding errors") && !Has(r.out + r.err, "WARNING")
               ? ""
               : r.out + r.err;
}

TEST(Tif2Pdf, EveryKindOfPageRendersAsItsRows)
{
    REQUIRE_PEERS("gs", "qpdf", "tiff2pdf", "pdfinfo");
    TempDir dir;
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.name);
        const LibtiffPage& s = c.layout;
        std::vector<Bytes> rows(s.height);
        for (uint32_t y = 0; y < s.height; ++y)
            rows[y] = PatternRows(s.RowBytes(), 1, y * 7 + s.width);
        for (Bytes& row : rows)  // bits past the width do not show
            if (s.width * s.samples * s.bits % 8)
                row.back() &= uint8_t(0xFF << (8 - s.width * s.samples * s.bits % 8));
        const std::string tif = dir.Path("in.tif"), pdf = dir.Path("out.pdf");
        ASSERT_TRUE(WriteLibtiff(tif, s, rows));
        VXTIFF2PDF_OPTIONS o = {};
        o.nSize = sizeof o;
        ASSERT_EQ(VXTiff2Pdf(tif.c_str(), pdf.c_str(), &o), VXTIFF2PDF_OK);
        EXPECT_EQ(o.nPages, 1);
        const Bytes bytes = ReadFileBytes(pdf);
        EXPECT_EQ(pdfcheck::StructureProblem(bytes), "");
        EXPECT_EQ(QpdfProblems(dir, pdf), "");
        const double unit = s.resolutionUnit == RESUNIT_CENTIMETER ? 2.54 : 1.0;
        const Raster r = Render(dir, pdf, s.xResolution * unit, s.yResolution * unit, Device(s));
        ASSERT_EQ(r.width, int(s.width));
        ASSERT_EQ(r.height, int(s.height));
        const Bytes want = Expected(s, rows);
        EXPECT_TRUE(r.data == want) << "the rendered page differs from the source rows";
        const std::string t2p = dir.Path("t2p.pdf");
        ASSERT_EQ(RunProgram("tiff2pdf", {"-o", t2p, tif}, dir).status, 0);
        EXPECT_EQ(MediaBoxes(dir, pdf), MediaBoxes(dir, t2p));
        if (c.copied) {
            const Bytes raw = RawStrip(tif);
            const std::string text(bytes.begin(), bytes.end());
            EXPECT_TRUE(Has(text, "stream\n" + std::string(raw.begin(), raw.end()) + "\nendstream"));
            EXPECT_LT(bytes.size(), raw.size() + 1024);
        }
    }
}

TEST(Tif2Pdf, SixteenBitSamplesMakeAVersion15File)
{
    REQUIRE_PEERS("qpdf");
    TempDir dir;
    for (bool big : {false, true}) {
        LibtiffPage s = Layout(20, 10, 1, 16, 1, 32946);
        s.bigEndian = big;
        std::vector<Bytes> rows(s.height, PatternRows(s.RowBytes(), 1, 3));
        const std::string tif = dir.Path("in.tif"), pdf = dir.Path("out.pdf");
        ASSERT_TRUE(WriteLibtiff(tif, s, rows));
        ASSERT_EQ(VXTiff2Pdf(tif.c_str(), pdf.c_str(), nullptr), VXTIFF2PDF_OK);
        EXPECT_EQ(QpdfProblems(dir, pdf), "");
        EXPECT_TRUE(Has(RunProgram("qpdf", {"--show-object=1", pdf}, dir).out, "/Version /1.5"));
        // The samples go in big-endian, whatever the file's order (the rows
        // here are in the host's): qpdf decodes the stream.
        const ProgramResult q = RunProgram("qpdf", {"--show-object=3", "--filtered-stream-data", pdf}, dir);
        std::string want;
        for (const Bytes& row : rows)
            for (size_t i = 0; i < row.size(); i += 2)
                want += {char(row[i + 1]), char(row[i])};
        EXPECT_TRUE(q.out == want) << q.out.size() << " bytes";
    }
}

TEST(Tif2Pdf, FailuresLeaveNoFileAndPagesThatCannotBeHeldOrDamagedLinesAreCounted)
{
    TempDir dir;
    const std::string pdf = dir.Path("out.pdf"), bad = dir.Write("bad.tif", Bytes(100, 'x'));
    VXTIFF2PDF_OPTIONS o = {};
    o.nSize = sizeof o - 1;
    EXPECT_EQ(VXTiff2Pdf(bad.c_str(), pdf.c_str(), &o), VXTIFF2PDF_ERR_OPTIONS);
    o.nSize = sizeof o;
    o.dXResolution = -1;
    EXPECT_EQ(VXTiff2Pdf(bad.c_str(), pdf.c_str(), &o), VXTIFF2PDF_ERR_OPTIONS);
    o.dXResolution = 0;
    EXPECT_EQ(VXTiff2Pdf(bad.c_str(), pdf.c_str(), &o), VXTIFF2PDF_ERR_OPEN);
    EXPECT_FALSE(std::filesystem::exists(pdf));
    // A 12-bit page between two that convert.
    const LibtiffPage good = Layout(16, 8, 1, 8, 1, 1), odd = Layout(16, 8, 1, 12, 1, 1);
    const std::string tif = dir.Path("mixed.tif");
    ASSERT_TRUE(WriteLibtiffPages(tif, {good, odd, good},
                                  {std::vector<Bytes>(8, Bytes(16, 1)), std::vector<Bytes>(8, Bytes(24, 2)),
                                   std::vector<Bytes>(8, Bytes(16, 3))}));
    EXPECT_EQ(VXTiff2Pdf(tif.c_str(), pdf.c_str(), &o), VXTIFF2PDF_INCOMPLETE);
    EXPECT_EQ(o.nPages, 2);
    EXPECT_EQ(o.nSkippedPages, 1);
    EXPECT_EQ(pdfcheck::PageCount(ReadFileBytes(pdf)), 2);
    o.bStrict = 1;
    EXPECT_EQ(VXTiff2Pdf(tif.c_str(), pdf.c_str(), &o), VXTIFF2PDF_ERR_UNSUPPORTED);
    EXPECT_FALSE(std::filesystem::exists(pdf));
    // A PackBits run past its row: the line is decoded from damaged data, and
    // counted as CTifFile counts it.
    ASSERT_TRUE(WriteLibtiff(tif, Layout(16, 8, 1, 8, 1, 32773), std::vector<Bytes>(8, Bytes(16, 0x11))));
    TIFF* t = TIFFOpen(tif.c_str(), "r");
    uint64_t* offsets = nullptr;
    ASSERT_TRUE(TIFFGetField(t, TIFFTAG_STRIPOFFSETS, &offsets));
    const uint64_t row3 = offsets[0] + 4;  // each row packed as one run: two bytes
    TIFFClose(t);
    Bytes damaged = ReadFileBytes(tif);
    damaged[row3] = 0x81;
    dir.Write("mixed.tif", damaged);
    CTifFile f;
    Bytes rows(16 * 8);
    ASSERT_EQ(f.Open(tif.c_str()), 1);
    f.ReadLines(rows.data(), 8);
    const int counted = f.GetDamagedLines(nullptr);
    ASSERT_GT(counted, 0);
    EXPECT_EQ(VXTiff2Pdf(tif.c_str(), pdf.c_str(), &o), VXTIFF2PDF_ERR_UNSUPPORTED);
    EXPECT_FALSE(std::filesystem::exists(pdf));
    o.bStrict = 0;
    EXPECT_EQ(VXTiff2Pdf(tif.c_str(), pdf.c_str(), &o), VXTIFF2PDF_INCOMPLETE);
    EXPECT_EQ(o.nBadLines, counted);
    EXPECT_EQ(o.nSkippedPages, 0);
}

TEST(Tif2Pdf, DocumentInformationFromTheFirstPageOrTheOptions)
{
    REQUIRE_PEERS("pdfinfo");
    TempDir dir;
    const std::string tif = dir.Path("in.tif"), pdf = dir.Path("out.pdf");
    ASSERT_TRUE(WriteLibtiff(tif, Layout(8, 8, 1, 1, 0, 4), std::vector<Bytes>(8, Bytes(1, 0x5A))));
    TIFF* t = TIFFOpen(tif.c_str(), "r+");
    TIFFSetField(t, TIFFTAG_DOCUMENTNAME, "Invoice (copy)");
    TIFFSetField(t, TIFFTAG_DATETIME, "2021:03:04 05:06:07");
    TIFFRewriteDirectory(t);
    TIFFClose(t);
    ASSERT_EQ(VXTiff2Pdf(tif.c_str(), pdf.c_str(), nullptr), VXTIFF2PDF_OK);
    std::string info = RunProgram("pdfinfo", {"-isodates", pdf}, dir).out;
    EXPECT_TRUE(Has(info, "Title:           Invoice (copy)\n")) << info;
    EXPECT_TRUE(Has(info, "CreationDate:    2021-03-04T05:06:07")) << info;
    VXTIFF2PDF_OPTIONS o = {};
    o.nSize = sizeof o;
    o.pszTitle = "Gr\xC3\xB6\xC3\x9F" "e \xE2\x82\xAC";
    ASSERT_EQ(VXTiff2Pdf(tif.c_str(), pdf.c_str(), &o), VXTIFF2PDF_OK);
    info = RunProgram("pdfinfo", {pdf}, dir).out;
    EXPECT_TRUE(Has(info, "Title:           Gr\xC3\xB6\xC3\x9F" "e \xE2\x82\xAC\n")) << info;
}

}  // namespace
