// VXTiff2BmpOpt: square pixels at the target resolution in both directions,
// the resolution in the header, source resolution overrides, pages, the count
// of undecodable lines, exact mode against VXTiff2Bmp, and bad options.
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "convert/tif2bmp.h"
#if VXTIFF_TEST_WITH_LIBTIFF  // Windows builds have no libtiff
#include "support/libtiff_util.h"
#endif
#include "support/temp_dir.h"
#include "support/tif_builder.h"
#include "tif/tif_file.h"

namespace {

using namespace tiftest;

uint32_t Get(const Bytes& b, size_t at, int bytes = 4)
{
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | b[at + i];
    return v;
}

struct Source {
    uint32_t width, height;
    uint32_t x, y;  // XResolution, YResolution (n/1), 0: absent
    uint32_t unit;  // ResolutionUnit, 0: absent
};

std::string MakeTiff(const TempDir& dir, const Source& s, const std::string& name = "in.tif")
{
    BuiltImage image{s.width, s.height, 1, 1, kMinIsWhite, 16};
    TiffBuilder b;
    b.StripImage(image, PatternRows(image.RowBytes(), s.height, 5));
    if (s.x)
        b.Set(kTagXResolution, kRational, {s.x, 1});
    if (s.y)
        b.Set(kTagYResolution, kRational, {s.y, 1});
    if (s.unit)
        b.Set(kTagResolutionUnit, kShort, {s.unit});
    return dir.Write(name, b.Build());
}

// Not a lambda: the callback is __stdcall on Windows.
void VXTIFF_STDCALL RecordProgress(void* ctx, int written, int total)
{
    static_cast<std::vector<std::pair<int, int>>*>(ctx)->emplace_back(written, total);
}

VXTIFF2BMP_OPTIONS Options()
{
    VXTIFF2BMP_OPTIONS o = {};
    o.nSize = sizeof o;
    return o;
}

struct SquareCase {
    const char* name;
    Source source;
    int target;
    double overrideX, overrideY;
    int wantWidth, wantRows;
    double rowStep, columnStep;  // source rows / columns per output row / column
    uint32_t ppm;                // header resolution, pixels per metre
};

void PrintTo(const SquareCase& c, std::ostream* os) { *os << c.name; }

const SquareCase kSquare[] = {
    // A normal-mode fax page: 204 × 98 dpi to 200 dpi, square.
    {"FaxNormalTo200", {1728, 110, 204, 98, 2}, 200, 0, 0, 1694, 224, 98.0 / 200, 204.0 / 200, 7874},
    {"FaxFineTo100", {1728, 60, 204, 196, 2}, 100, 0, 0, 847, 30, 196.0 / 100, 204.0 / 100, 3937},
    // Enlarging repeats rows and columns.
    {"Enlarge100To300", {40, 10, 100, 100, 2}, 300, 0, 0, 120, 30, 1.0 / 3, 1.0 / 3, 11811},
    // Target 0 keeps the horizontal resolution and squares the vertical.
    {"KeepTheSourcesX", {1728, 110, 204, 98, 0}, 0, 0, 0, 1728, 228, 98.0 / 204, 1.0, 8031},
    {"NoYResolutionIsX", {64, 20, 200, 0, 2}, 100, 0, 0, 32, 10, 2.0, 2.0, 3937},
    {"Centimetres", {64, 20, 80, 40, 3}, 0, 0, 0, 64, 40, 0.5, 1.0, 8000},
    // Overrides: no resolution, a unit-less 1/1, and over the file's own.
    {"OverrideAbsent", {64, 20, 0, 0, 0}, 200, 100, 0, 128, 40, 0.5, 0.5, 7874},
    {"OverrideUnitless", {64, 20, 1, 1, 1}, 200, 200, 100, 64, 40, 0.5, 1.0, 7874},
    {"OverrideTheFiles", {64, 20, 300, 300, 2}, 100, 200, 200, 32, 10, 2.0, 2.0, 3937},
    // Unknown resolution and no target: pixel for pixel, no resolution.
    {"CopyWithoutResolution", {61, 13, 0, 0, 0}, 0, 0, 0, 61, 13, 1.0, 1.0, 0},
    {"CopyUnitless", {61, 13, 1, 1, 1}, 0, 0, 0, 61, 13, 1.0, 1.0, 0},
};

class Square : public ::testing::TestWithParam<SquareCase> {};
INSTANTIATE_TEST_SUITE_P(Cases, Square, ::testing::ValuesIn(kSquare),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(Square, GeometryHeaderAndPixels)
{
    const SquareCase& c = GetParam();
    TempDir dir;
    const std::string tif = MakeTiff(dir, c.source);
    const std::string bmp = dir.Path("out.bmp");
    VXTIFF2BMP_OPTIONS o = Options();
    o.dSourceXResolution = c.overrideX;
    o.dSourceYResolution = c.overrideY;
    o.nBadLines = 99;
    ASSERT_EQ(VXTiff2BmpOpt(tif.c_str(), bmp.c_str(), c.target, &o), VXTIFF2BMP_OK);
    EXPECT_EQ(o.nBadLines, 0);
    const Bytes out = ReadFileBytes(bmp);
    const int rowBytes = (c.wantWidth + 31) / 32 * 4;
    ASSERT_EQ(out.size(), 62u + size_t(rowBytes) * c.wantRows);
    EXPECT_EQ(Get(out, 2), out.size());
    EXPECT_EQ(Get(out, 6, 2), 0u);
    EXPECT_EQ(Get(out, 8, 2), 0u);
    EXPECT_EQ(Get(out, 18), uint32_t(c.wantWidth));
    EXPECT_EQ(Get(out, 22), uint32_t(-c.wantRows));
    EXPECT_EQ(Get(out, 38), c.ppm);
    EXPECT_EQ(Get(out, 42), c.ppm);
    EXPECT_EQ(Get(out, 54), 0xFFFFFFFFu);  // WhiteIsZero: entry 0 white

    CTifFile f;
    ASSERT_EQ(f.Open(tif.c_str()), 1);
    std::vector<Bytes> lines;
    for (uint32_t y = 0; y < c.source.height; ++y) {
        Bytes line((c.source.width + 7) / 8);
        ASSERT_EQ(f.ReadLine(line.data()), 1);
        lines.push_back(line);
    }
    for (int o = 0; o < c.wantRows; ++o) {
        const Bytes& line = lines[size_t(std::trunc(o * c.rowStep + 1e-6))];
        const uint8_t* row = out.data() + 62 + size_t(o) * rowBytes;
        for (int i = 0; i < rowBytes * 8; ++i) {
            const int s = int(std::trunc(i * c.columnStep + 1e-6));
            const int want = i < c.wantWidth ? line[s / 8] >> (7 - s % 8) & 1 : 0;
            ASSERT_EQ(row[i / 8] >> (7 - i % 8) & 1, want) << "row " << o << ", pixel " << i;
        }
    }
}

// Exact mode is VXTiff2Bmp byte for byte, also where square mode differs.
TEST(ConvertOptions, ExactIsTheOriginal)
{
    const Source sources[] = {{1728, 110, 204, 98, 2}, {50, 9, 100, 0, 2}, {77, 20, 80, 80, 3}};
    TempDir dir;
    for (const Source& s : sources)
        for (int target : {50, 100, 200, 300}) {
            const std::string tif = MakeTiff(dir, s);
            ASSERT_EQ(VXTiff2Bmp(tif.c_str(), dir.Path("a.bmp").c_str(), target), VXTIFF2BMP_OK);
            VXTIFF2BMP_OPTIONS o = Options();
            o.bExact = 1;
            ASSERT_EQ(VXTiff2BmpOpt(tif.c_str(), dir.Path("b.bmp").c_str(), target, &o), VXTIFF2BMP_OK);
            EXPECT_EQ(ReadFileBytes(dir.Path("a.bmp")), ReadFileBytes(dir.Path("b.bmp"))) << s.width << " " << target;
        }
    // The override stands in for an absent XResolution, in the reserved fields too.
    const std::string none = MakeTiff(dir, {64, 20, 0, 0, 0});
    VXTIFF2BMP_OPTIONS o = Options();
    o.bExact = 1;
    EXPECT_EQ(VXTiff2BmpOpt(none.c_str(), dir.Path("c.bmp").c_str(), 100, &o), VXTIFF2BMP_ERR_NO_RESOLUTION);
    o.dSourceXResolution = 200;
    ASSERT_EQ(VXTiff2BmpOpt(none.c_str(), dir.Path("c.bmp").c_str(), 100, &o), VXTIFF2BMP_OK);
    const Bytes out = ReadFileBytes(dir.Path("c.bmp"));
    EXPECT_EQ(Get(out, 18), 32u);
    EXPECT_EQ(Get(out, 22), uint32_t(-10));
    EXPECT_EQ(Get(out, 6, 2), 200u);
    EXPECT_EQ(Get(out, 38), 64u);
}

TEST(ConvertOptions, NullOptionsAreTheDefaults)
{
    TempDir dir;
    const std::string tif = MakeTiff(dir, {1728, 110, 204, 98, 2});
    ASSERT_EQ(VXTiff2BmpOpt(tif.c_str(), dir.Path("a.bmp").c_str(), 200, nullptr), VXTIFF2BMP_OK);
    VXTIFF2BMP_OPTIONS o = Options();
    ASSERT_EQ(VXTiff2BmpOpt(tif.c_str(), dir.Path("b.bmp").c_str(), 200, &o), VXTIFF2BMP_OK);
    EXPECT_EQ(ReadFileBytes(dir.Path("a.bmp")), ReadFileBytes(dir.Path("b.bmp")));
}

TEST(ConvertOptions, ProgressCountsOutputRows)
{
    TempDir dir;
    const std::string tif = MakeTiff(dir, {40, 10, 100, 100, 2});
    std::vector<std::pair<int, int>> calls;
    VXTIFF2BMP_OPTIONS o = Options();
    o.pContext = &calls;
    o.pfnProgress = RecordProgress;
    ASSERT_EQ(VXTiff2BmpOpt(tif.c_str(), dir.Path("a.bmp").c_str(), 200, &o), VXTIFF2BMP_OK);
    ASSERT_EQ(calls.size(), 20u);
    EXPECT_EQ(calls.front(), std::make_pair(1, 20));
    EXPECT_EQ(calls.back(), std::make_pair(20, 20));
}

// Rows whose source line cannot be decoded are counted, and so are the rows
// missing when the data ends; enlarging counts each repeated row.
TEST(ConvertOptions, BadLinesAreCounted)
{
    const struct {
        std::vector<uint32_t> counts;  // StripByteCounts of three strips of 7 rows
        int target;
        int result, bad, rows;
    } kCases[] = {
        {{14, 14, 14}, 100, VXTIFF2BMP_OK, 0, 21},
        {{0, 14, 14}, 100, VXTIFF2BMP_OK, 7, 21},
        {{14, 5, 14}, 100, VXTIFF2BMP_OK, 5, 21},  // 2.5 of strip 1's rows are there
        {{14, 0, 14}, 200, VXTIFF2BMP_OK, 14, 42},
        {{14, 14, 0}, 100, VXTIFF2BMP_ERR_CUT_SHORT, 7, 14},
        {{0, 0, 0}, 100, VXTIFF2BMP_ERR_CUT_SHORT, 21, 0},
    };
    TempDir dir;
    for (const auto& c : kCases) {
        BuiltImage image{16, 21, 1, 1, kMinIsWhite, 7};
        TiffBuilder b;
        b.StripImage(image, Bytes(42, 0x55));
        b.Set(kTagStripByteCounts, kLong, c.counts).Set(kTagXResolution, kRational, {100, 1});
        const std::string tif = dir.Write("in.tif", b.Build());
        VXTIFF2BMP_OPTIONS o = Options();
        ASSERT_EQ(VXTiff2BmpOpt(tif.c_str(), dir.Path("out.bmp").c_str(), c.target, &o), c.result)
            << ::testing::PrintToString(c.counts);
        EXPECT_EQ(o.nBadLines, c.bad) << ::testing::PrintToString(c.counts);
        EXPECT_EQ(Get(ReadFileBytes(dir.Path("out.bmp")), 22), uint32_t(-c.rows));
        o.bExact = 1;
        if (c.target > 1 && c.target <= 100) {  // exact mode never repeats rows
            ASSERT_EQ(VXTiff2BmpOpt(tif.c_str(), dir.Path("out.bmp").c_str(), c.target, &o), c.result);
            EXPECT_EQ(o.nBadLines, c.bad);
        }
    }
}

#if VXTIFF_TEST_WITH_LIBTIFF
TEST(ConvertOptions, Pages)
{
    std::vector<LibtiffPage> pages(2);
    pages[0].width = 64, pages[0].height = 8, pages[1].width = 128, pages[1].height = 4;
    std::vector<std::vector<Bytes>> rows(2);
    for (int p = 0; p < 2; ++p) {
        pages[p].bits = 1, pages[p].photometric = 0, pages[p].compression = 4;
        pages[p].xResolution = pages[p].yResolution = 100, pages[p].resolutionUnit = 2;
        for (uint32_t y = 0; y < pages[p].height; ++y)
            rows[p].push_back(PatternRows(pages[p].RowBytes(), 1, y + 7 * p));
    }
    TempDir dir;
    const std::string tif = dir.Path("pages.tif");
    ASSERT_TRUE(WriteLibtiffPages(tif, pages, rows));
    const std::string bmp = dir.Path("out.bmp");
    VXTIFF2BMP_OPTIONS o = Options();
    o.nPage = 1;
    ASSERT_EQ(VXTiff2BmpOpt(tif.c_str(), bmp.c_str(), 100, &o), VXTIFF2BMP_OK);
    const Bytes out = ReadFileBytes(bmp);
    EXPECT_EQ(Get(out, 18), 128u);
    EXPECT_EQ(Get(out, 22), uint32_t(-4));
    for (int y = 0; y < 4; ++y)
        EXPECT_EQ(Bytes(out.begin() + 62 + 16 * y, out.begin() + 78 + 16 * y), rows[1][size_t(y)]) << y;
    o.nPage = 2;
    EXPECT_EQ(VXTiff2BmpOpt(tif.c_str(), dir.Path("none.bmp").c_str(), 100, &o), VXTIFF2BMP_ERR_OPEN);
    EXPECT_EQ(CTifFile::GetLastFailure(), VXTIFF_FAIL_NO_PAGE);
    EXPECT_FALSE(std::filesystem::exists(dir.Path("none.bmp")));
}
#endif

TEST(ConvertOptions, BadValuesLeaveNoFile)
{
    TempDir dir;
    const std::string tif = MakeTiff(dir, {64, 20, 200, 200, 2});
    const std::string bmp = dir.Path("out.bmp");
    auto with = [](void (*edit)(VXTIFF2BMP_OPTIONS&)) {
        VXTIFF2BMP_OPTIONS o = Options();
        edit(o);
        return o;
    };
    const struct {
        const char* name;
        VXTIFF2BMP_OPTIONS options;
        int resolution;
        int result;
    } kBad[] = {
        {"SizeZero", with([](auto& o) { o.nSize = 0; }), 100, VXTIFF2BMP_ERR_OPTIONS},
        {"SizeLarger", with([](auto& o) { o.nSize += 8; }), 100, VXTIFF2BMP_ERR_OPTIONS},
        {"PageNegative", with([](auto& o) { o.nPage = -1; }), 100, VXTIFF2BMP_ERR_OPTIONS},
        {"PageMissing", with([](auto& o) { o.nPage = 1; }), 100, VXTIFF2BMP_ERR_OPEN},
        {"PageHuge", with([](auto& o) { o.nPage = 0x7FFFFFFF; }), 100, VXTIFF2BMP_ERR_OPEN},
        {"XNegative", with([](auto& o) { o.dSourceXResolution = -200; }), 100, VXTIFF2BMP_ERR_OPTIONS},
        {"YNaN", with([](auto& o) { o.dSourceYResolution = std::nan(""); }), 100, VXTIFF2BMP_ERR_OPTIONS},
        {"XInfinite", with([](auto& o) { o.dSourceXResolution = INFINITY; }), 100, VXTIFF2BMP_ERR_OPTIONS},
        {"ResolutionNegative", Options(), -1, VXTIFF2BMP_ERR_TARGET},
        {"ExactResolution1", with([](auto& o) { o.bExact = 1; }), 1, VXTIFF2BMP_ERR_TARGET},
        {"ExactResolution0", with([](auto& o) { o.bExact = 1; }), 0, VXTIFF2BMP_ERR_TARGET},
        {"TooWide", Options(), 0x7FFFFFFF, VXTIFF2BMP_ERR_SIZE},
        {"TooNarrow", with([](auto& o) { o.dSourceXResolution = 1e9; }), 1, VXTIFF2BMP_ERR_SIZE},
    };
    for (const auto& b : kBad) {
        VXTIFF2BMP_OPTIONS o = b.options;
        EXPECT_EQ(VXTiff2BmpOpt(tif.c_str(), bmp.c_str(), b.resolution, &o), b.result) << b.name;
        EXPECT_FALSE(std::filesystem::exists(bmp)) << b.name;
    }
    VXTIFF2BMP_OPTIONS o = Options();
    EXPECT_EQ(VXTiff2BmpOpt(nullptr, bmp.c_str(), 100, &o), VXTIFF2BMP_ERR_OPEN);
    EXPECT_EQ(CTifFile::GetLastFailure(), VXTIFF_FAIL_ARGUMENT);
    EXPECT_EQ(VXTiff2BmpOpt(dir.Path("missing.tif").c_str(), bmp.c_str(), 100, &o), VXTIFF2BMP_ERR_OPEN);
    EXPECT_EQ(CTifFile::GetLastFailure(), VXTIFF_FAIL_NO_FILE);
    EXPECT_EQ(VXTiff2BmpOpt(tif.c_str(), nullptr, 100, &o), VXTIFF2BMP_ERR_CREATE);
    EXPECT_EQ(VXTiff2BmpOpt(tif.c_str(), tif.c_str(), 100, &o), VXTIFF2BMP_ERR_CREATE);
    EXPECT_EQ(VXTiff2BmpOpt(tif.c_str(), dir.path().c_str(), 100, &o), VXTIFF2BMP_ERR_CREATE);
    // A positive target needs a known source resolution.
    const std::string unitless = MakeTiff(dir, {64, 20, 1, 1, 1}, "unitless.tif");
    EXPECT_EQ(VXTiff2BmpOpt(unitless.c_str(), bmp.c_str(), 200, &o), VXTIFF2BMP_ERR_NO_RESOLUTION);
    EXPECT_FALSE(std::filesystem::exists(bmp));
}

}  // namespace
