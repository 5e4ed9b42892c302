// TIFF-to-BMP conversion: header fields, pixels against a resampling of plainly
// read lines, and every result code with the file it leaves.
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

using tiftest::Bytes;

// A little-endian field of `bytes` bytes.
uint32_t Get(const Bytes& b, size_t at, int bytes = 4)
{
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | b[at + i];
    return v;
}

bool Exists(const std::string& path) { return std::filesystem::exists(path); }

struct Case {
    uint32_t width, height;
    uint32_t xNum, xDen;  // XResolution
    uint32_t unit;        // ResolutionUnit, 0: absent
    int photometric;
    uint32_t tileWidth, tileLength;  // 0: strips of 7 rows
    int target;
    int wantWidth, wantRows;  // worked out by hand
    uint16_t compression = 1;
};

// A progress callback: a plain function, since a lambda has the default
// calling convention and the callback is __stdcall on Windows.
void VXTIFF_STDCALL RecordProgress(void* ctx, int written, int total)
{
    static_cast<std::vector<std::pair<int, int>>*>(ctx)->emplace_back(written, total);
}

void PrintTo(const Case& c, std::ostream* os) { *os << c.width << "x" << c.height << " to " << c.target; }

std::string MakeTiff(const tiftest::TempDir& dir, const Case& c, const std::string& name = "in.tif")
{
    tiftest::BuiltImage image{c.width, c.height, 1, 1, c.photometric, c.tileWidth ? 0u : 7u};
    const Bytes pixels = tiftest::PatternRows(image.RowBytes(), c.height, 1);
#if VXTIFF_TEST_WITH_LIBTIFF
    if (c.compression != 1) {  // encoded by libtiff
        tiftest::LibtiffPage s;
        s.width = c.width, s.height = c.height, s.bits = 1, s.photometric = uint16_t(c.photometric);
        s.compression = c.compression, s.rowsPerStrip = 7, s.xResolution = float(c.xNum) / c.xDen;
        std::vector<Bytes> rows;
        for (uint32_t y = 0; y < c.height; ++y)
            rows.emplace_back(pixels.begin() + y * image.RowBytes(), pixels.begin() + (y + 1) * image.RowBytes());
        EXPECT_TRUE(tiftest::WriteLibtiff(dir.Path(name), s, rows));
        return dir.Path(name);
    }
#endif
    tiftest::TiffBuilder b;
    if (c.tileWidth)
        b.TileImage(image, c.tileWidth, c.tileLength, pixels);
    else
        b.StripImage(image, pixels);
    if (c.xDen)
        b.Set(tiftest::kTagXResolution, tiftest::kRational, {c.xNum, c.xDen});
    if (c.unit)
        b.Set(tiftest::kTagResolutionUnit, tiftest::kShort, {c.unit});
    return dir.Write(name, b.Build());
}

class ConvertTest : public ::testing::TestWithParam<Case> {};

TEST_P(ConvertTest, HeaderAndPixels)
{
    const Case c = GetParam();
    tiftest::TempDir dir;
    const std::string tif = MakeTiff(dir, c);
    const std::string bmp = dir.Path("out.bmp");
    std::vector<std::pair<int, int>> calls;
    ASSERT_EQ(VXTiff2BmpEx(tif.c_str(), bmp.c_str(), c.target, RecordProgress, &calls), VXTIFF2BMP_OK);
    const Bytes out = tiftest::ReadFileBytes(bmp);
    const int rowBytes = (c.wantWidth + 31) / 32 * 4;
    ASSERT_EQ(out.size(), 62u + size_t(rowBytes) * c.wantRows);

    // Every header field; the resolution is in pixels per inch as the source reports it.
    const uint32_t dpi = uint32_t(double(c.xNum) / c.xDen * (c.unit == 3 ? 2.54 : 1.0)) & 0xFFFF;
    const uint32_t black = 0, white = 0xFFFFFFFF;
    const bool setIsBlack = c.photometric == tiftest::kMinIsWhite;
    const std::vector<std::pair<int, uint32_t>> fields16 = {{0, 0x4D42}, {6, dpi}, {8, dpi}, {26, 1}, {28, 1}};
    const std::vector<std::pair<int, uint32_t>> fields32 = {
        {2, uint32_t(out.size())}, {10, 62}, {14, 40}, {18, uint32_t(c.wantWidth)}, {22, uint32_t(-c.wantRows)},
        {30, 0}, {34, 0}, {38, c.width}, {42, c.height}, {46, 0}, {50, 0},
        {54, setIsBlack ? white : black}, {58, setIsBlack ? black : white}};
    for (auto [at, want] : fields16)
        EXPECT_EQ(Get(out, at, 2), want) << "16-bit field at " << at;
    for (auto [at, want] : fields32)
        EXPECT_EQ(Get(out, at), want) << "32-bit field at " << at;

    ASSERT_EQ(calls.size(), size_t(c.wantRows));
    for (size_t i = 0; i < calls.size(); ++i)
        EXPECT_EQ(calls[i], std::make_pair(int(i) + 1, c.wantRows));

    // Reference: each output row is the first source row y of a new trunc(y R / X),
    // pixel i the source column trunc(i X / R) with R in single precision.
    const double x = double(c.xNum) / c.xDen * (c.unit == 3 ? 2.54 : 1.0);
    CTifFile f;
    ASSERT_EQ(f.Open(tif.c_str()), 1);
    Bytes line((c.width + 7) / 8 + 64);
    int j = 0;
    for (uint32_t y = 0; y < c.height; ++y) {
        ASSERT_EQ(f.ReadLine(line.data()), 1);
        if (y > 0 && std::trunc(y * (c.target / x)) == std::trunc((y - 1) * (c.target / x)))
            continue;
        const uint8_t* row = out.data() + 62 + size_t(j++) * rowBytes;
        for (int i = 0; i < rowBytes * 8; ++i) {
            const int s = int(std::trunc(i * (x / double(float(c.target)))));
            const int want = i < c.wantWidth ? line[s / 8] >> (7 - s % 8) & 1 : 0;
            ASSERT_EQ(row[i / 8] >> (7 - i % 8) & 1, want) << "row " << j - 1 << ", pixel " << i;
        }
    }
    EXPECT_EQ(j, c.wantRows);
}

INSTANTIATE_TEST_SUITE_P(Cases, ConvertTest, ::testing::Values(
    // 200 → 100 dpi on 1728 pixels: 864 wide, 108 row bytes, rows from 0, 2, 4, ...
    Case{1728, 40, 200, 1, 2, tiftest::kMinIsWhite, 0, 0, 100, 864, 20},
    Case{61, 13, 300, 1, 0, tiftest::kMinIsBlack, 0, 0, 300, 61, 13},     // unscaled, padded rows
    Case{50, 9, 100, 1, 2, tiftest::kMinIsBlack, 0, 0, 250, 125, 9},      // wider, same rows
    Case{333, 31, 200, 1, 2, tiftest::kMinIsWhite, 0, 0, 150, 249, 23},
    Case{100, 50, 204, 1, 2, tiftest::kMinIsWhite, 32, 16, 96, 47, 24},   // tiles
    Case{77, 20, 80, 1, 3, tiftest::kMinIsBlack, 0, 0, 300, 113, 20}    // 80 per cm = 203.2 dpi
#if VXTIFF_TEST_WITH_LIBTIFF
    , Case{1728, 60, 200, 1, 2, tiftest::kMinIsWhite, 0, 0, 100, 864, 30, 4}  // Group 4
#endif
    ));

TEST(Convert, RefusalsLeaveNoFile)
{
    tiftest::TempDir dir;
    const std::string bmp = dir.Path("out.bmp");
    const Case good{64, 8, 200, 1, 2, tiftest::kMinIsWhite, 0, 0, 100, 32, 4};
    const std::string tif = MakeTiff(dir, good);
    // The good image with another XResolution (0/0: none) and height.
    auto variant = [&](const std::string& name, uint32_t num, uint32_t den, uint32_t height = 8) {
        return MakeTiff(dir, {64, height, num, den, 2, tiftest::kMinIsWhite, 0, 0, 0, 0, 0}, name);
    };
    tiftest::TiffBuilder grey;
    grey.StripImage({8, 2, 1, 8, tiftest::kMinIsBlack, 0}, Bytes(16, 7));
    grey.Set(tiftest::kTagXResolution, tiftest::kRational, {200, 1});
    tiftest::TiffBuilder negative;
    negative.StripImage({64, 8, 1, 1, tiftest::kMinIsWhite, 0}, Bytes(64, 7));
    negative.Set(tiftest::kTagXResolution, tiftest::kSRational, {uint32_t(-200), 1});
    struct Refusal {
        std::string tiff;
        int target, code;
    };
    const std::vector<Refusal> refusals = {
        {tif, 1, VXTIFF2BMP_ERR_TARGET},
        {tif, -300, VXTIFF2BMP_ERR_TARGET},
        {dir.Path("missing.tif"), 100, VXTIFF2BMP_ERR_OPEN},
        {dir.Write("grey.tif", grey.Build()), 100, VXTIFF2BMP_ERR_NOT_BILEVEL},
        {variant("nores.tif", 0, 0), 100, VXTIFF2BMP_ERR_NO_RESOLUTION},
        {variant("zerores.tif", 0, 1), 100, VXTIFF2BMP_ERR_NO_RESOLUTION},
        {dir.Write("negres.tif", negative.Build()), 100, VXTIFF2BMP_ERR_NO_RESOLUTION},
        {variant("tiny.tif", 1000, 1), 2, VXTIFF2BMP_ERR_SIZE},        // 0.128 pixels wide
        {variant("wide.tif", 1, 2000000), 2, VXTIFF2BMP_ERR_SIZE},     // 256000000 pixels wide
        {variant("huge.tif", 1, 500000, 600), 2, VXTIFF2BMP_ERR_SIZE}, // 8 MB rows × 600: over 4 GiB
    };
    for (const Refusal& r : refusals) {
        EXPECT_EQ(VXTiff2Bmp(r.tiff.c_str(), bmp.c_str(), r.target), r.code) << r.tiff << " at " << r.target;
        EXPECT_FALSE(Exists(bmp));
    }
    EXPECT_EQ(VXTiff2Bmp(nullptr, bmp.c_str(), 100), VXTIFF2BMP_ERR_OPEN);
    EXPECT_EQ(VXTiff2Bmp(tif.c_str(), nullptr, 100), VXTIFF2BMP_ERR_CREATE);
    EXPECT_EQ(VXTiff2Bmp(tif.c_str(), dir.Path("no/such/dir.bmp").c_str(), 100), VXTIFF2BMP_ERR_CREATE);

    // The source named as the target stays as it was.
    const Bytes before = tiftest::ReadFileBytes(tif);
    EXPECT_EQ(VXTiff2Bmp(tif.c_str(), tif.c_str(), 100), VXTIFF2BMP_ERR_CREATE);
    EXPECT_EQ(tiftest::ReadFileBytes(tif), before);

    // A refused conversion leaves an existing file alone.
    const std::string old = dir.Write("old.bmp", Bytes{1, 2, 3});
    EXPECT_EQ(VXTiff2Bmp(tif.c_str(), old.c_str(), 1), VXTIFF2BMP_ERR_TARGET);
    EXPECT_EQ(tiftest::ReadFileBytes(old), (Bytes{1, 2, 3}));
}

// An existing file, longer or shorter, ends up exactly as a new one.
TEST(Convert, ReplacesAnExistingFile)
{
    tiftest::TempDir dir;
    const std::string tif = MakeTiff(dir, {300, 90, 200, 1, 2, tiftest::kMinIsWhite, 0, 0, 0, 0, 0});
    const std::string fresh = dir.Path("fresh.bmp");
    ASSERT_EQ(VXTiff2Bmp(tif.c_str(), fresh.c_str(), 100), VXTIFF2BMP_OK);
    for (size_t size : {size_t(100000), size_t(10)}) {
        const std::string old = dir.Write("old.bmp", Bytes(size, 0xEE));
        ASSERT_EQ(VXTiff2Bmp(tif.c_str(), old.c_str(), 100), VXTIFF2BMP_OK);
        EXPECT_EQ(tiftest::ReadFileBytes(old), tiftest::ReadFileBytes(fresh)) << "over " << size << " bytes";
    }
}

TEST(Convert, FailedWriteIsReported)
{
    if (!Exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    tiftest::TempDir dir;
    const std::string tif = MakeTiff(dir, {1728, 200, 200, 1, 2, tiftest::kMinIsWhite, 0, 0, 0, 0, 0});
    EXPECT_EQ(VXTiff2Bmp(tif.c_str(), "/dev/full", 200), VXTIFF2BMP_ERR_WRITE);
    EXPECT_TRUE(Exists("/dev/full"));  // a device is never removed
}

// Lines that cannot be decoded do not stop the conversion while a later strip
// still delivers lines: their rows repeat the last line read (blank before
// any). Once no later line can be read, the BMP ends with the rows made so far.
TEST(Convert, UnreadableLines)
{
    struct Case {
        std::vector<uint32_t> counts;  // StripByteCounts of three strips of 7 rows, or of one
        uint32_t height;
        int result;
        std::vector<uint32_t> rows;  // first byte of each output row
    };
    auto rows = [](std::initializer_list<std::pair<int, uint32_t>> runs) {
        std::vector<uint32_t> v;
        for (auto [n, value] : runs)
            v.insert(v.end(), size_t(n), value);
        return v;
    };
    const std::vector<Case> cases = {
        {{0, 14, 14}, 21, VXTIFF2BMP_OK, rows({{7, 0}, {7, 2}, {7, 3}})},
        {{14, 0, 14}, 21, VXTIFF2BMP_OK, rows({{7, 1}, {7, 1}, {7, 3}})},
        {{14, 5, 14}, 21, VXTIFF2BMP_OK, rows({{7, 1}, {7, 2}, {7, 3}})},  // 2.5 rows in strip 1
        {{14, 14, 0}, 21, VXTIFF2BMP_ERR_CUT_SHORT, rows({{7, 1}, {7, 2}})},
        {{14, 5, 0}, 21, VXTIFF2BMP_ERR_CUT_SHORT, rows({{7, 1}, {2, 2}})},
        {{0, 0, 0}, 21, VXTIFF2BMP_ERR_CUT_SHORT, {}},
        // A small file declaring a million lines in its one strip.
        {{42}, 1000000, VXTIFF2BMP_ERR_CUT_SHORT, rows({{7, 1}, {7, 2}, {7, 3}})},
    };
    tiftest::TempDir dir;
    for (const Case& c : cases) {
        tiftest::BuiltImage image{16, 21, 1, 1, tiftest::kMinIsWhite, c.counts.size() == 3 ? 7u : 0u};
        Bytes pixels(42);
        for (size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = uint8_t(i / 14 + 1);  // strip s holds bytes s + 1
        tiftest::TiffBuilder b;
        b.StripImage(image, pixels);
        b.Set(tiftest::kTagStripByteCounts, tiftest::kLong, c.counts).Set(tiftest::kTagImageLength, tiftest::kLong, {c.height});
        b.Set(tiftest::kTagXResolution, tiftest::kRational, {100, 1});
        const std::string tif = dir.Write("in.tif", b.Build());
        const std::string bmp = dir.Path("out.bmp");
        ASSERT_EQ(VXTiff2Bmp(tif.c_str(), bmp.c_str(), 100), c.result) << ::testing::PrintToString(c.counts);
        const Bytes out = tiftest::ReadFileBytes(bmp);
        ASSERT_EQ(out.size(), 62u + 4 * c.rows.size());
        EXPECT_EQ(Get(out, 22), uint32_t(-int(c.rows.size())));
        for (size_t y = 0; y < c.rows.size(); ++y)
            EXPECT_EQ(Get(out, 62 + 4 * y), c.rows[y] * 0x101u) << "row " << y;
    }
}

}  // namespace
