// The vxtiff tool's info, tobmp and topng commands and --page, run as a user
// runs them: the built binary on files written by libtiff, checked for exit
// status, message and output bytes (topng against libtiff's RGBA reading).
#include <png.h>
#include <tiffio.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "convert/tif2bmp.h"
#include "support/run_program.h"
#include "support/tool_run.h"
#include "tif/tif_bytes.h"
#include "tif/tif_file.h"

namespace {

#if defined(VXTIFF_TEST_WITH_JPEG)
constexpr bool kJpeg = true;  // this build writes JPEG
#else
constexpr bool kJpeg = false;
#endif

using namespace tiftest;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A bilevel fax page at 204 x 98 dpi.
LibtiffPage Fax(uint32_t w, uint32_t h)
{
    LibtiffPage s = Shape(w, h, 1, 1, 0);
    s.compression = 4, s.xResolution = 204, s.yResolution = 98, s.resolutionUnit = 2;
    return s;
}

int32_t Le32(const Bytes& b, size_t at) { return int32_t(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24); }

class CommandTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (std::string(VXTIFF_TOOL).empty())
            GTEST_SKIP() << "the tool is not built";
    }
    TempDir dir;
};

TEST_F(CommandTest, HelpVersionAndBadCommandLines)
{
    ToolResult r = Tool(dir, {"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(Has(r.out, "topng") && Has(r.out, "exit status")) << r.out;
    EXPECT_EQ(r.err, "");
    r = Tool(dir, {"rotate", "--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(Has(r.out, "--page LIST") && Has(r.out, "upside down (180)")) << r.out;
    r = Tool(dir, {"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("vxtiff ", 0), 0u) << r.out;
    // Every command's help: its usage, options and exit statuses, as COMMAND --help or help COMMAND.
    const std::pair<std::string, std::string> usages[] = {
        {"info", "[--json] FILE..."}, {"tobmp", "IN OUT.bmp [DPI]"}, {"topng", "IN OUT.png"},
        {"convert", "IN OUT"},        {"rotate", "IN OUT 90|180|270"}, {"merge", "IN... OUT"},
        {"split", "IN PREFIX"}};
    for (const auto& [cmd, usage] : usages)
        for (const std::vector<std::string>& args : {std::vector<std::string>{cmd, "--help"}, {"help", cmd}}) {
            r = Tool(dir, args);
            EXPECT_EQ(r.status, 0) << cmd;
            EXPECT_EQ(r.err, "");
            EXPECT_TRUE(Has(r.out, "Usage: vxtiff " + cmd + " " + usage) && Has(r.out, "Options:") &&
                        Has(r.out, "exit status: 0 ") && Has(r.out, " 2 bad command line"))
                << r.out;
        }
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {}, {"frobnicate"}, {"info"}, {"tobmp", "a.tif"}, {"tobmp", "a", "b", "1"}, {"tobmp", "a", "b", "x"},
             {"tobmp", "a", "b", "--exact"}, {"tobmp", "a", "b", "--source-dpi", "0"},
             {"tobmp", "a", "b", "--page", "0"}, {"topng", "a"}, {"topng", "a", "b", "--page", "x"},
             {"convert", "a", "b", "--page", "-1"}, {"help", "frobnicate"}}) {
        r = Tool(dir, args);
        EXPECT_EQ(r.status, 2) << (args.empty() ? "" : args.back());
        EXPECT_EQ(r.err.rfind("vxtiff: ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
}

// Options as --opt=value and --opt value; compressions by name or alias in
// any case, or by number.
TEST_F(CommandTest, OptionFormsAndCompressionNames)
{
    LibtiffPage bilevel = Fax(64, 20), gray = Shape(16, 12, 1, 8, 1);
    gray.xResolution = gray.yResolution = 100, gray.resolutionUnit = 2;
    const std::string bi = dir.Path("bi.tif"), gr = dir.Path("gray.tif"), out = dir.Path("out.tif");
    ASSERT_TRUE(WriteLibtiffPages(bi, {bilevel, bilevel}, {Pattern(bilevel), Pattern(bilevel, 3)}));
    ASSERT_TRUE(WriteLibtiff(gr, gray, Pattern(gray)));
    const struct {
        std::vector<std::string> args;  // after convert IN OUT, IN bilevel unless "gray" is first
        int status, compression;        // of OUT; 0: the input's
    } cases[] = {
        {{"--compression=LZW"}, 0, 5},          {{"--compression", "Zip"}, 0, 8},
        {{"--compression=adobe-deflate"}, 0, 8}, {{"--compression=DEFLATE"}, 0, 8},
        {{"--compression=8"}, 0, 8},            {{"--compression=deflate-legacy"}, 0, 32946},
        {{"--compression=32946"}, 0, 32946},    {{"--compression=raw"}, 0, 1},
        {{"--compression=None"}, 0, 1},         {{"--compression=PackBits"}, 0, 32773},
        {{"--compression=fax3"}, 0, 3},         {{"--compression=G3-2D"}, 0, 3},
        {{"--compression=fax4"}, 0, 4},         {{"--compression=ccitt"}, 0, 4},
        {{"--compression=rle"}, 0, 2},          {{"--compression=Huffman"}, 0, 2},
        {{"--compression=2"}, 0, 2},            {{"gray", "--compression=zip", "--predictor=2"}, 0, 8},
        {{"--rows-per-strip=5"}, 0, 0},         {{"--tile=32x32"}, 0, 0},
        {{"--bigtiff"}, 0, 0},                  {{"--compression=lzw", "--bigtiff"}, 0, 5},
        {{"--page=2"}, 0, 0},                   {{"--page=2-", "--compression=g4"}, 0, 4},
        {{"gray", "--compression=JPEG:80"}, kJpeg ? 0 : 2, 7}, {{"--compression=7"}, kJpeg ? 1 : 2, 0},  // bilevel: refused
        {{"--compression=jpeg:0"}, 2, 0},       {{"--compression=lzw:90"}, 2, 0},
        {{"--compression=0"}, 2, 0},            {{"--compression="}, 2, 0},
        {{"--compression=deflate8"}, 2, 0},     {{"--predictor=3"}, 2, 0},
    };
    for (const auto& c : cases) {
        const bool useGray = c.args[0] == "gray";
        std::vector<std::string> args = {"convert", useGray ? gr : bi, out};
        args.insert(args.end(), c.args.begin() + (useGray ? 1 : 0), c.args.end());
        std::filesystem::remove(out);
        const ToolResult r = Tool(dir, args);
        EXPECT_EQ(r.status, c.status) << args.back() << ": " << r.err;
        if (c.status != 0)
            continue;
        CTifFile f;
        ASSERT_EQ(f.Open(out.c_str()), 1) << args.back();
        EXPECT_EQ(f.m_nCompression, c.compression ? c.compression : useGray ? 1 : 4) << args.back();
        EXPECT_EQ(ReadFileBytes(out)[2], args.back() == "--bigtiff" ? 43 : 42) << args.back();
    }
    // The other commands' options.
    const std::vector<std::string> others[] = {
        {"tobmp", bi, dir.Path("o.bmp"), "--dpi=100", "--page=2"},
        {"tobmp", dir.Path("plain.tif"), dir.Path("o.bmp"), "--source-dpi=200x100"},
        {"topng", bi, dir.Path("o.png"), "--page=2"},
        {"convert", bi, gr, "--out-dir=" + dir.Path("d"), "--jobs=2", "--compression=Fax4"}};
    LibtiffPage plain = Shape(16, 8, 1, 1, 0);
    ASSERT_TRUE(WriteLibtiff(dir.Path("plain.tif"), plain, Pattern(plain)));
    for (const auto& args : others) {
        const ToolResult r = Tool(dir, args);
        EXPECT_EQ(r.status, args[0] == "convert" ? 1 : 0) << args.back() << ": " << r.err;  // gray is no fax
        EXPECT_TRUE(std::filesystem::exists(args[0] == "convert" ? dir.Path("d/bi.tif") : args[2])) << args.back();
    }
}

TEST_F(CommandTest, InfoListsEveryPageByName)
{
    LibtiffPage g3 = Fax(64, 20);
    g3.compression = 3, g3.t4Options = 1;
    LibtiffPage gray = Shape(10, 6, 1, 8, 1);
    gray.compression = 32946, gray.predictor = 2;
    const std::string multi = dir.Path("multi.tif");
    ASSERT_TRUE(WriteLibtiffPages(multi, {g3, gray}, {Pattern(g3), Pattern(gray)}));
    LibtiffPage bigEndian = Shape(12, 5, 1, 16, 1);
    bigEndian.bigEndian = true;
    ASSERT_TRUE(WriteLibtiff(dir.Path("be.tif"), bigEndian, Pattern(bigEndian)));
    dir.Write("text.tif", {'h', 'e', 'l', 'l', 'o'});

    ToolResult r = Tool(dir, {"info", multi, dir.Path("be.tif")});
    EXPECT_EQ(r.status, 0) << r.err;
    for (const char* line : {"pages:             2", "page 1 of 2:", "page 2 of 2:", "photometric:     0 min-is-white",
                             "photometric:     1 min-is-black", "compression:     3 CCITT Group 3",
                             "T4Options:       1 (2-D coding)", "predictor:       2 horizontal differencing",
                             "resolution:      204 x 98 pixels per inch", "resolution unit: 2 inch",
                             "resolution:      none", "byte order:        little-endian (II)",
                             "byte order:        big-endian (MM)", "fill order:      1 most significant bit first",
                             "size:            10 x 6 pixels", "samples:         1 per pixel, 16 bits each",
                             "sample format:   1 unsigned integer"})
        EXPECT_TRUE(Has(r.out, line)) << line << "\n" << r.out;

    // The reason for each file that cannot be read, the system's where the
    // library names none; the others are still listed.
    const std::string longName = dir.Path(std::string(300, 'x') + ".tif");
    std::filesystem::create_symlink("loop.tif", dir.Path("loop.tif"));
    r = Tool(dir, {"info", dir.Path("missing.tif"), dir.path(), dir.Path("text.tif"), longName, dir.Path("loop.tif"),
                   dir.Path("be.tif")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "vxtiff: " + dir.Path("missing.tif") + ": no such file\nvxtiff: " + dir.path() +
                         ": not a file\nvxtiff: " + dir.Path("text.tif") + ": not a TIFF file\nvxtiff: " + longName +
                         ": " + std::strerror(ENAMETOOLONG) + "\nvxtiff: " + dir.Path("loop.tif") + ": " +
                         std::strerror(ELOOP) + "\n");
    EXPECT_TRUE(Has(r.out, "file:              " + dir.Path("be.tif"))) << r.out;
}

// Pages the library does not decode (made by tiffcp: LZMA, separate planes)
// are described from their directories, as libtiff reads them; --json gives
// one document that a JSON parser reads, whatever the file names hold.
TEST_F(CommandTest, InfoDescribesUndecodablePagesAndWritesJson)
{
    LibtiffPage rgb = Shape(40, 24, 3, 8, 2);
    rgb.xResolution = 300, rgb.yResolution = 150, rgb.resolutionUnit = 2, rgb.rowsPerStrip = 16;
    const std::string plain = dir.Path("rgb.tif"), lzma = dir.Path("lzma.tif"), planar = dir.Path("planar.tif");
    ASSERT_TRUE(WriteLibtiff(plain, rgb, Pattern(rgb)));
    const std::string multi = dir.Path("multi.tif");
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"-c", "lzma", plain, lzma}, {"-p", "separate", plain, planar}, {plain, lzma, multi}}) {
        const ProgramResult made = RunProgram("tiffcp", args, dir);
        ASSERT_EQ(made.status, 0) << "tiffcp (libtiff-tools) is needed: " << made.err;
    }
    for (const std::string& path : {lzma, planar}) {
        CTifFile f;
        ASSERT_EQ(f.Open(path.c_str()), 0);
        VXIMGINFO info;
        ASSERT_EQ(CTifFile::DescribePage(path.c_str(), 0, &info), 1) << path;
        TIFF* t = TIFFOpen(path.c_str(), "r");
        ASSERT_NE(t, nullptr);
        uint32_t w = 0, h = 0, rows = 0;
        uint16_t samples = 0, bits = 0, compression = 0;
        float x = 0, y = 0;
        TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w), TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
        TIFFGetField(t, TIFFTAG_SAMPLESPERPIXEL, &samples), TIFFGetField(t, TIFFTAG_BITSPERSAMPLE, &bits);
        TIFFGetField(t, TIFFTAG_COMPRESSION, &compression), TIFFGetField(t, TIFFTAG_ROWSPERSTRIP, &rows);
        TIFFGetField(t, TIFFTAG_XRESOLUTION, &x), TIFFGetField(t, TIFFTAG_YRESOLUTION, &y);
        TIFFClose(t);
        EXPECT_EQ(std::vector<double>({double(info.nWidth), double(info.nHeight), double(info.nSamplesPerPixel),
                                       double(info.nBitsPerSample), double(info.nCompression),
                                       double(info.nRowsPerStrip), info.dXResolution, info.dYResolution}),
                  std::vector<double>({double(w), double(h), double(samples), double(bits), double(compression),
                                       double(std::min(rows, h)), x, y}))
            << path;
    }
    ToolResult r = Tool(dir, {"info", multi, planar});
    EXPECT_EQ(r.status, 1);
    for (const char* line : {"page 2 of 2:\n  size:            40 x 24 pixels\n  samples:         3 per pixel, 8 bits each",
                             "compression:     34925 unknown", "resolution:      300 x 150 pixels per inch",
                             "  cannot be decoded: compression 34925 (LZMA) not supported\n",
                             "  cannot be decoded: separate planes (not supported)\n"})
        EXPECT_TRUE(Has(r.out, line)) << line << "\n" << r.out;
    EXPECT_EQ(r.err, "vxtiff: " + multi + " page 2: compression 34925 (LZMA) not supported\nvxtiff: " + planar +
                         " page 1: separate planes (not supported)\n");

    // A name with a quote, a backslash, control characters, a byte that is
    // not UTF-8 and a UTF-8 letter: the parser gets back its code points.
    const std::string odd = dir.Path("q\"b\\n\nt\t\x01\xff\xc3\xa9.tif");
    dir.Write(odd.substr(odd.rfind('/') + 1), ReadFileBytes(plain));
    dir.Write("text.tif", {'h', 'e', 'l', 'l', 'o'});
    r = Tool(dir, {"info", "--json", multi, planar, dir.Path("missing.tif"), dir.Path("text.tif"), odd});
    EXPECT_EQ(r.status, 1);
    dir.Write("info.json", Bytes(r.out.begin(), r.out.end()));
    const std::string script = dir.Write("summary.py", [] {
        const std::string py =
            "import json, sys\n"
            "for f in json.load(open(sys.argv[1], encoding='utf-8')):\n"
            "    name = f['file'][f['file'].rfind('/') + 1:]\n"
            "    print(' '.join(str(ord(c)) for c in name) if name[0] == 'q' else name, f.get('error', f.get('page_count')))\n"
            "    for p in f.get('pages', []):\n"
            "        print(' ', p['page'], p['width'], p['height'], p['compression'], p['compression_name'],\n"
            "              p['layout'], p['resolution'], p.get('photometric'), p.get('error'))\n";
        return Bytes(py.begin(), py.end());
    }());
    const ProgramResult parsed = RunProgram("python3", {script, dir.Path("info.json")}, dir);
    ASSERT_EQ(parsed.status, 0) << parsed.err << r.out;
    const std::string page = "40 24 1 none strips {'x': 300, 'y': 150, 'unit': 'inch'} 2 None\n";
    EXPECT_EQ(parsed.out, "multi.tif 2\n  1 " + page +
                              "  2 40 24 34925 unknown strips {'x': 300, 'y': 150, 'unit': 'inch'} None "
                              "compression 34925 (LZMA) not supported\n"
                              "planar.tif 1\n  1 40 24 1 none strips {'x': 300, 'y': 150, 'unit': 'inch'} None "
                              "separate planes (not supported)\n"
                              "missing.tif no such file\ntext.tif not a TIFF file\n"
                              "113 34 98 92 110 10 116 9 1 255 233 46 116 105 102 1\n  1 " + page);
}

TEST_F(CommandTest, ToBmpSquarePixelsExactPagesAndDamage)
{
    const LibtiffPage fax = Fax(64, 20);
    LibtiffPage plain = Shape(48, 16, 1, 1, 0);  // no resolution
    const std::string in = dir.Path("fax.tif"), out = dir.Path("out.bmp");
    ASSERT_TRUE(WriteLibtiffPages(in, {fax, plain}, {Pattern(fax), Pattern(plain, 5)}));

    // Default: square pixels at the source's horizontal resolution: 64 x 41 rows
    // (trunc(20 x 204 / 98)), 204 dpi in both header fields.
    ToolResult r = Tool(dir, {"tobmp", in, out});
    ASSERT_EQ(r.status, 0) << r.err;
    Bytes bmp = ReadFileBytes(out);
    ASSERT_GE(bmp.size(), 54u);
    EXPECT_EQ(Le32(bmp, 18), 64);
    EXPECT_EQ(Le32(bmp, 22), -41);
    EXPECT_EQ(Le32(bmp, 38), 8031);  // 204 dpi in pixels per metre
    EXPECT_EQ(Le32(bmp, 42), 8031);
    // To standard output: the same bytes.
    r = Tool(dir, {"tobmp", in, "-"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Bytes(r.out.begin(), r.out.end()), bmp);

    // --exact: VXTiff2Bmp byte for byte.
    r = Tool(dir, {"tobmp", in, out, "100", "--exact"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(VXTiff2Bmp(in.c_str(), dir.Path("lib.bmp").c_str(), 100), VXTIFF2BMP_OK);
    EXPECT_EQ(ReadFileBytes(out), ReadFileBytes(dir.Path("lib.bmp")));

    // Page 2 has no resolution: copied pixel for pixel without DPI, refused with
    // one unless --source-dpi gives it.
    r = Tool(dir, {"tobmp", in, out, "--page", "2"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Le32(ReadFileBytes(out), 18), 48);
    r = Tool(dir, {"tobmp", in, out, "100", "--page", "2"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "--source-dpi")) << r.err;
    r = Tool(dir, {"tobmp", in, out, "100", "--page", "2", "--source-dpi", "200x100"});
    ASSERT_EQ(r.status, 0) << r.err;
    bmp = ReadFileBytes(out);
    EXPECT_EQ(Le32(bmp, 18), 24);
    EXPECT_EQ(Le32(bmp, 22), -16);
    r = Tool(dir, {"tobmp", in, out, "--page", "3"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "no page 3 (the file has 2 pages)")) << r.err;

    // Failures say why, with their own statuses.
    Bytes before = ReadFileBytes(out);
    r = Tool(dir, {"tobmp", dir.Path("missing.tif"), out});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "cannot open: no such file")) << r.err;
    r = Tool(dir, {"tobmp", in, dir.Path("no/dir/out.bmp")});
    EXPECT_EQ(r.status, 4);
    EXPECT_TRUE(Has(r.err, "cannot create: No such file")) << r.err;
    LibtiffPage gray = Shape(8, 8, 1, 8, 1);
    ASSERT_TRUE(WriteLibtiff(dir.Path("gray.tif"), gray, Pattern(gray)));
    r = Tool(dir, {"tobmp", dir.Path("gray.tif"), out});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "bilevel")) << r.err;
    EXPECT_EQ(ReadFileBytes(out), before);

    // Cut short: written, with a warning and status 3.
    LibtiffPage long1 = Shape(64, 64, 1, 1, 0);
    long1.xResolution = long1.yResolution = 100, long1.resolutionUnit = 2;
    ASSERT_TRUE(WriteLibtiff(dir.Path("cut.tif"), long1, Pattern(long1)));
    Bytes cut = ReadFileBytes(dir.Path("cut.tif"));
    cut.resize(cut.size() / 2);  // uncompressed, directory at the front: the data ends early
    dir.Write("cut.tif", cut);
    r = Tool(dir, {"tobmp", dir.Path("cut.tif"), out});
    if (r.status == 1) {
        EXPECT_TRUE(Has(r.err, "cut short")) << r.err;  // the directory lay behind the data
    } else {
        EXPECT_EQ(r.status, 3) << r.err;
        EXPECT_TRUE(Has(r.err, "warning")) << r.err;
        EXPECT_TRUE(std::filesystem::exists(out));
    }
}

// libtiff's RGBA reading of the page, top row first, as 8-bit RGB.
std::vector<uint8_t> LibtiffRgb(const std::string& path, int page, uint32_t* w, uint32_t* h)
{
    TIFF* t = TIFFOpen(path.c_str(), "r");
    std::vector<uint8_t> rgb;
    if (t == nullptr)
        return rgb;
    if (TIFFSetDirectory(t, tdir_t(page))) {
        TIFFGetField(t, TIFFTAG_IMAGEWIDTH, w);
        TIFFGetField(t, TIFFTAG_IMAGELENGTH, h);
        std::vector<uint32_t> px(size_t(*w) * *h);
        if (TIFFReadRGBAImageOriented(t, *w, *h, px.data(), ORIENTATION_TOPLEFT, 0))
            for (uint32_t p : px)
                rgb.insert(rgb.end(), {uint8_t(TIFFGetR(p)), uint8_t(TIFFGetG(p)), uint8_t(TIFFGetB(p))});
    }
    TIFFClose(t);
    return rgb;
}

// libpng's reading of the PNG as 8-bit RGB: depths below 8 expanded, 16-bit
// samples scaled (rounded), gray repeated, alpha dropped.
std::vector<uint8_t> ReadPngRgb(std::FILE* fp, uint32_t* w, uint32_t* h, std::vector<uint8_t>* rgb)
{
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        rgb->clear();
        png_destroy_read_struct(&png, &info, nullptr);
        return *rgb;
    }
    png_init_io(png, fp);
    png_read_info(png, info);
    *w = png_get_image_width(png, info), *h = png_get_image_height(png, info);
    png_set_expand(png);
    png_set_scale_16(png);
    png_set_strip_alpha(png);
    png_set_gray_to_rgb(png);
    png_read_update_info(png, info);
    rgb->resize(size_t(*w) * *h * 3);
    for (uint32_t y = 0; y < *h; ++y)
        png_read_row(png, rgb->data() + size_t(y) * *w * 3, nullptr);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return *rgb;
}

std::vector<uint8_t> PngRgb(const std::string& path, uint32_t* w, uint32_t* h)
{
    std::vector<uint8_t> rgb;
    if (std::FILE* fp = std::fopen(path.c_str(), "rb")) {
        ReadPngRgb(fp, w, h, &rgb);
        std::fclose(fp);
    }
    return rgb;
}

// The PNG's pHYs chunk: x, y and unit; empty when it has none.
std::vector<uint32_t> PngPhys(const std::string& path)
{
    std::vector<uint32_t> phys;
    std::FILE* fp = std::fopen(path.c_str(), "rb");
    if (fp == nullptr)
        return phys;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (!setjmp(png_jmpbuf(png))) {
        png_init_io(png, fp);
        png_read_info(png, info);
        png_uint_32 x = 0, y = 0;
        int unit = 0;
        if (png_get_pHYs(png, info, &x, &y, &unit) != 0)
            phys = {x, y, uint32_t(unit)};
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(fp);
    return phys;
}

TEST_F(CommandTest, ToPngMatchesLibtiffRgba)
{
    LibtiffPage palette = Shape(33, 9, 1, 4, 3);
    for (int i = 0; i < 3 * 16; ++i)
        palette.colorMap.push_back(uint16_t((i * 37 % 256) * 257));
    LibtiffPage gray16be = Shape(20, 7, 1, 16, 1);
    gray16be.bigEndian = true;
    LibtiffPage tiledRgb = Shape(40, 35, 3, 8, 2);
    tiledRgb.tileWidth = 16, tiledRgb.tileLength = 16;
    LibtiffPage fax = Fax(70, 13), blackFax = Fax(70, 13);
    blackFax.photometric = 1;  // fax data is read like any other: 1 is white here
    LibtiffPage centimetres = Shape(30, 9, 1, 8, 1), aspect = Shape(30, 9, 1, 8, 1);
    centimetres.xResolution = 80, centimetres.yResolution = 40.5f, centimetres.resolutionUnit = 3;
    aspect.xResolution = 2, aspect.yResolution = 1, aspect.resolutionUnit = 1;
    const LibtiffPage sources[] = {fax,          blackFax, Shape(61, 9, 1, 1, 1), Shape(30, 9, 1, 4, 0), Shape(30, 9, 1, 8, 0),
                                   Shape(30, 9, 1, 2, 1), Shape(30, 9, 1, 16, 1), gray16be, palette,
                                   tiledRgb,     Shape(17, 9, 3, 16, 2), Shape(17, 9, 4, 8, 5), centimetres, aspect};
    for (const LibtiffPage& s : sources) {
        SCOPED_TRACE("photometric " + std::to_string(s.photometric) + ", " + std::to_string(s.samples) + " x " +
                     std::to_string(s.bits) + " bits" + (s.bigEndian ? ", MM" : ""));
        const std::string in = dir.Path("in.tif"), out = dir.Path("out.png");
        ASSERT_TRUE(WriteLibtiff(in, s, Pattern(s)));
        const ToolResult r = Tool(dir, {"topng", in, out});
        ASSERT_EQ(r.status, 0) << r.err;
        uint32_t tw = 0, th = 0, pw = 0, ph = 0;
        const std::vector<uint8_t> want = LibtiffRgb(in, 0, &tw, &th);
        ASSERT_FALSE(want.empty());
        const std::vector<uint8_t> got = PngRgb(out, &pw, &ph);
        if (s.bits != 16) {
            EXPECT_EQ(got, want);
        } else {
            // libtiff's RGBA cuts 16-bit gray to its high byte but rounds RGB: one step apart at most.
            ASSERT_EQ(got.size(), want.size());
            for (size_t i = 0; i < got.size(); ++i)
                ASSERT_LE(std::abs(int(got[i]) - int(want[i])), 1) << "sample " << i;
        }
        EXPECT_EQ(pw, tw);
        EXPECT_EQ(ph, th);
        // The resolution in pixels per metre, or the aspect alone without a unit.
        const double perMetre = s.resolutionUnit == 3 ? 100.0 : 1 / 0.0254;
        const std::vector<uint32_t> phys =
            s.xResolution == 0 ? std::vector<uint32_t>{}
            : s.resolutionUnit == 1
                ? std::vector<uint32_t>{uint32_t(s.xResolution), uint32_t(s.yResolution), PNG_RESOLUTION_UNKNOWN}
                : std::vector<uint32_t>{uint32_t(std::lround(s.xResolution * perMetre)),
                                        uint32_t(std::lround(s.yResolution * perMetre)), PNG_RESOLUTION_METER};
        EXPECT_EQ(PngPhys(out), phys);
    }
    // A second page, to standard output.
    const LibtiffPage a = Shape(12, 5, 1, 8, 1), b = Shape(9, 4, 3, 8, 2);
    const std::string multi = dir.Path("multi.tif");
    ASSERT_TRUE(WriteLibtiffPages(multi, {a, b}, {Pattern(a), Pattern(b)}));
    const ToolResult r = Tool(dir, {"topng", multi, "-", "--page", "2"});
    ASSERT_EQ(r.status, 0) << r.err;
    dir.Write("page2.png", Bytes(r.out.begin(), r.out.end()));
    uint32_t tw = 0, th = 0, pw = 0, ph = 0;
    EXPECT_EQ(PngRgb(dir.Path("page2.png"), &pw, &ph), LibtiffRgb(multi, 1, &tw, &th));
    EXPECT_EQ(pw, 9u);
}

TEST_F(CommandTest, ToPngFailuresAndDamage)
{
    const std::string out = dir.Path("out.png");
    dir.Write("text.tif", {'M', 'M', 0, 43, 0, 4, 0, 0});
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* says;
    } cases[] = {
        {{"topng", dir.Path("missing.tif"), out}, 1, "cannot open: no such file"},
        {{"topng", dir.Path("text.tif"), out}, 1, "cannot open: BigTIFF variant not supported"},
        {{"topng", dir.path(), out}, 1, "cannot open: not a file"},
    };
    for (const Case& c : cases) {
        const ToolResult r = Tool(dir, c.args);
        EXPECT_EQ(r.status, c.status) << c.says;
        EXPECT_TRUE(Has(r.err, c.says)) << r.err;
        EXPECT_FALSE(std::filesystem::exists(out));
    }
    LibtiffPage s = Shape(16, 8, 1, 8, 1);
    ASSERT_TRUE(WriteLibtiff(dir.Path("in.tif"), s, Pattern(s)));
    ToolResult r = Tool(dir, {"topng", dir.Path("in.tif"), dir.Path("no/dir/out.png")});
    EXPECT_EQ(r.status, 4);
    EXPECT_TRUE(Has(r.err, "cannot create: No such file")) << r.err;
    r = Tool(dir, {"topng", dir.Path("in.tif"), out, "--page", "2"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "no page 2 (the file has 1 page)")) << r.err;

}

// Pixel (x, y) of packed bilevel rows.
bool Bit(const std::vector<Bytes>& rows, int x, int y) { return rows[size_t(y)][size_t(x) / 8] >> (7 - x % 8) & 1; }

// Bilevel rows turned clockwise (90) or upside down (180).
std::vector<Bytes> Turn(const std::vector<Bytes>& rows, int w, int h, int angle)
{
    const int ow = angle == 90 ? h : w, oh = angle == 90 ? w : h;
    std::vector<Bytes> out(size_t(oh), Bytes(size_t(ow + 7) / 8, 0));
    for (int y = 0; y < oh; ++y)
        for (int x = 0; x < ow; ++x)
            if (angle == 90 ? Bit(rows, y, h - 1 - x) : Bit(rows, w - 1 - x, h - 1 - y))
                out[size_t(y)][size_t(x) / 8] |= uint8_t(0x80 >> x % 8);
    return out;
}

// A page with damaged data and one cut short: topng, tobmp, convert, rotate,
// merge (also copying the stored data) and topdf write the whole page, say
// one warning in the same words and exit 3 (a batch too); the lines that
// cannot be decoded are white, in the PDF as Ghostscript shows it too.
TEST_F(CommandTest, DamagedPagesAreWrittenWholeAndWarnedAlike)
{
    const LibtiffPage s = Fax(64, 32);  // Group 4, strips of 8 rows
    const std::string sound = dir.Path("sound.tif");
    const std::vector<Bytes> rows = Pattern(s);
    ASSERT_TRUE(WriteLibtiff(sound, s, rows));
    Bytes damaged = ReadFileBytes(sound), cut = damaged;
    {
        CTifFile f;
        ASSERT_EQ(f.Open(sound.c_str()), 1);
        std::fill_n(damaged.begin() + f.m_pStripOffsets[1], f.m_pStripByteCounts[1], 0x00);  // no valid code
        const uint32_t at = TifGet32(f.FindTag(273) + 8, 0);  // the StripOffsets array
        for (int k = 2; k < 4; ++k)  // strips 2 and 3 past the end of the file
            std::fill_n(cut.begin() + at + 4 * k, 4, 0x7F);
    }
    dir.Write("damaged.tif", damaged);
    dir.Write("cut.tif", cut);
    struct File {
        const char* name;
        int lost, end;  // lines lost[lost, end)
        const char* says;
    } files[] = {{"damaged.tif", 8, 16, "8 lines damaged, the first line 9 (damaged data)"},
                 {"cut.tif", 16, 32, "16 lines damaged, the first line 17 (the data ends early)"}};
    for (const File& file : files) {
        const std::string in = dir.Path(file.name);
        std::vector<Bytes> paper = rows;  // min-is-white: white is 0
        std::fill(paper.begin() + file.lost, paper.begin() + file.end, Bytes(8, 0));
        for (const std::vector<std::string>& args :
             std::vector<std::vector<std::string>>{{"topng", in, dir.Path("o.png")},
                                                   {"tobmp", in, dir.Path("o.bmp")},
                                                   {"convert", in, dir.Path("c.tif"), "--compression", "lzw"},
                                                   {"convert", in, dir.Path("copy.tif")},  // copied as stored
                                                   {"merge", in, dir.Path("m.tif")},
                                                   {"rotate", in, dir.Path("r90.tif"), "90"},
                                                   {"rotate", in, dir.Path("r180.tif"), "180"},
                                                   {"topdf", in, dir.Path("o.pdf")},
                                                   {"topng", in, sound, "--out-dir", dir.Path("batch")}}) {
            const ToolResult r = Tool(dir, args);
            EXPECT_EQ(r.status, 3) << args[0] << " " << file.name << ": " << r.err;
            // A batch and a merge add their summary line.
            const bool batch = (args.size() > 4 && args[3] == "--out-dir") || args[0] == "merge";
            EXPECT_TRUE(Has(r.err, file.name + std::string(" -> ")) && Has(r.err, "warning: " + std::string(file.says)))
                << r.err;
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), batch ? 2 : 1) << r.err;
        }
        std::vector<Bytes> got;
        ASSERT_TRUE(ReadLibtiff(dir.Path("c.tif"), &got));
        EXPECT_EQ(got, paper) << file.name;
        ASSERT_TRUE(ReadLibtiff(dir.Path("r90.tif"), &got));
        EXPECT_EQ(got, Turn(paper, 64, 32, 90)) << file.name;
        ASSERT_TRUE(ReadLibtiff(dir.Path("r180.tif"), &got));
        EXPECT_EQ(got, Turn(paper, 64, 32, 180)) << file.name;
        uint32_t w = 0, h = 0, tw = 0, th = 0;
        const std::vector<uint8_t> png = PngRgb(dir.Path("o.png"), &w, &h), want = LibtiffRgb(sound, 0, &tw, &th);
        ASSERT_EQ(png.size(), size_t(64) * 32 * 3);
        for (int y = 0; y < 32; ++y) {
            const auto row = png.begin() + y * 64 * 3;
            if (y >= file.lost && y < file.end)
                EXPECT_TRUE(std::all_of(row, row + 64 * 3, [](uint8_t v) { return v == 255; })) << y;
            else
                EXPECT_TRUE(std::equal(row, row + 64 * 3, want.begin() + y * 64 * 3)) << y;
        }
        if (std::system("command -v gs >/dev/null 2>&1") != 0)
            continue;
        const std::string ppm = dir.Path("o.ppm");
        ASSERT_EQ(RunProgram("gs", {"-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=ppmraw", "-r204x98",
                                    "-sOutputFile=" + ppm, dir.Path("o.pdf")}, dir).status, 0);
        const Bytes shown = ReadFileBytes(ppm);  // the header, then the pixels as the PNG's
        ASSERT_GE(shown.size(), png.size());
        EXPECT_TRUE(Has(std::string(shown.begin(), shown.end() - long(png.size())), "\n64 32\n255\n"));
        EXPECT_TRUE(std::equal(png.begin(), png.end(), shown.end() - long(png.size()))) << file.name;
    }
}

// A few hundred bytes claiming 2^31 - 1 rows, in strips of 2^29 rows each
// holding a little data: every command ends the page where the paper the
// data could have held is spent, says so, and exits 3, instead of writing
// billions of paper rows.
TEST_F(CommandTest, APageClaimingRowsNoDataCouldHoldIsCut)
{
    const std::string sound = dir.Path("sound.tif");
    ASSERT_TRUE(WriteLibtiff(sound, Fax(64, 32), Pattern(Fax(64, 32))));
    Bytes claims = ReadFileBytes(sound);
    {
        CTifFile f;
        ASSERT_EQ(f.Open(sound.c_str()), 1);
        for (const auto& [tag, value] : {std::pair<int, uint32_t>{257, 0x7FFFFFFF}, {278, 1u << 29}}) {
            unsigned char* entry = f.FindTag(tag);
            ASSERT_NE(entry, nullptr);
            const size_t at = size_t(entry - f.m_pIfd) + TifGet32(claims.data() + 4, 0);
            TifPut16(claims.data() + at + 2, 4, 0);  // LONG
            TifPut32(claims.data() + at + 8, value, 0);
        }
    }
    const std::string in = dir.Write("claims.tif", claims);
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"topng", in, dir.Path("o.png")},
             {"convert", in, dir.Path("c.tif"), "--compression", "lzw"},
             {"rotate", in, dir.Path("r.tif"), "90"},
             {"topdf", in, dir.Path("o.pdf")}}) {
        const ToolResult r = Tool(dir, args);
        EXPECT_EQ(r.status, 3) << args[0] << ": " << r.err;
        EXPECT_TRUE(Has(r.err, "the page claims 2147483647 lines, its data can hold ")) << r.err;
    }
    std::vector<Bytes> rows;
    ASSERT_TRUE(ReadLibtiff(dir.Path("c.tif"), &rows));
    EXPECT_GT(rows.size(), 32u);  // the strips' data, and paper after it
    EXPECT_LT(rows.size(), claims.size() * 16);
    const std::vector<Bytes> want = Pattern(Fax(64, 32));
    EXPECT_TRUE(std::equal(want.begin(), want.begin() + 8, rows.begin()));  // the first strip's rows
    uint32_t w = 0, h = 0;
    PngRgb(dir.Path("o.png"), &w, &h);
    EXPECT_EQ(h, rows.size());
    ASSERT_TRUE(ReadLibtiff(dir.Path("r.tif"), &rows));
    EXPECT_EQ(rows.size() > 0 ? rows[0].size() * 8 : 0, (h + 7) / 8 * 8);
}

TEST_F(CommandTest, ConvertAndRotateTakeAPage)
{
    const LibtiffPage a = Shape(12, 5, 1, 8, 1), b = Shape(9, 16, 1, 8, 1);
    const std::string multi = dir.Path("multi.tif"), out = dir.Path("out.tif");
    const std::vector<Bytes> rowsB = Pattern(b, 7);
    ASSERT_TRUE(WriteLibtiffPages(multi, {a, b}, {Pattern(a), rowsB}));
    ToolResult r = Tool(dir, {"convert", multi, out, "--page", "2", "--compression", "lzw"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<Bytes> back;
    ASSERT_TRUE(ReadLibtiff(out, &back));
    EXPECT_EQ(back, rowsB);
    r = Tool(dir, {"rotate", multi, out, "90", "--page", "2"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(ReadLibtiff(out, &back));
    ASSERT_EQ(back.size(), 9u);
    EXPECT_EQ(back[0][0], rowsB[15][0]);  // line 0 is column 0 read bottom up
    r = Tool(dir, {"rotate", multi, out, "270", "--page", "3"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "cannot open: no page 3 (the file has 2 pages)")) << r.err;
}

// A BigTIFF input (libtiff's, as tiffcp -8 writes) gives every command the
// very output its classic twin gives.
TEST_F(CommandTest, BigTiffInputsGiveWhatClassicOnesGive)
{
    LibtiffPage fax = Fax(64, 20), grey = Shape(30, 17, 1, 8, 1);
    grey.tileWidth = grey.tileLength = 16;
    const std::vector<std::vector<std::string>> commands = {
        {"convert", "--compression=g4"}, {"rotate", "90"}, {"tobmp"}, {"topng"}, {"topdf"}, {"convert"}};
    for (const LibtiffPage& page : {fax, grey}) {
        std::vector<Bytes> outputs[2];
        for (bool big : {false, true}) {
            LibtiffPage p = page;
            p.bigTiff = big, p.bigEndian = big;
            const std::string in = dir.Path(big ? "big.tif" : "classic.tif");
            ASSERT_TRUE(WriteLibtiffPages(in, {p, p}, {Pattern(p), Pattern(p, 5)}));
            for (const auto& c : commands) {
                if (page.bits != 1 && (c[0] == "tobmp" || (c.size() > 1 && c[1] == "--compression=g4")))
                    continue;
                const std::string ext = c[0] == "topdf" ? ".pdf" : c[0] == "topng" ? ".png" : c[0] == "tobmp" ? ".bmp" : ".tif";
                std::vector<std::string> args = {c[0], in, dir.Path("out" + ext)};
                args.insert(args.end(), c.begin() + 1, c.end());
                const ToolResult r = Tool(dir, args);
                EXPECT_EQ(r.status, 0) << args[0] << " " << big << ": " << r.err;
                outputs[big].push_back(ReadFileBytes(dir.Path("out" + ext)));
            }
        }
        EXPECT_EQ(outputs[0], outputs[1]) << page.bits;
    }
}

// A JPEG page keeps its stored strips when its layout is kept; compressed
// again (rotate, another layout) it says what that costs, unless asked for.
TEST_F(CommandTest, JpegPagesAreCopiedOrSayTheyAreCompressedAgain)
{
    if (!kJpeg)
        GTEST_SKIP() << "built without libjpeg";
    LibtiffPage s = Shape(40, 32, 3, 8, 1);
    s.compression = 7, s.photometric = 6, s.rowsPerStrip = 16;
    const std::string in = dir.Path("in.tif"), out = dir.Path("out.tif");
    ASSERT_TRUE(WriteLibtiff(in, s, Pattern(s)));
    const char* note = "JPEG compressed again loses detail";
    const struct {
        std::vector<std::string> args;
        bool copied, noted;
    } cases[] = {{{"convert"}, true, false}, {{"rotate", "180"}, false, true},
                 {{"convert", "--rows-per-strip", "32"}, false, true}, {{"convert", "--compression", "jpeg:60"}, false, false}};
    for (const auto& c : cases) {
        std::vector<std::string> args = {c.args[0], in, out};
        args.insert(args.end(), c.args.begin() + 1, c.args.end());
        const ToolResult r = Tool(dir, args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(Has(r.err, note), c.noted) << args.back() << ": " << r.err;
        CTifFile a, b;
        ASSERT_EQ(a.Open(in.c_str()) + b.Open(out.c_str()), 2);
        EXPECT_EQ(b.m_nCompression, 7);
        EXPECT_EQ(a.m_nStrips == b.m_nStrips && std::equal(a.m_pStripByteCounts, a.m_pStripByteCounts + a.m_nStrips,
                                                             b.m_pStripByteCounts), c.copied) << args.back();
    }
}

}  // namespace
