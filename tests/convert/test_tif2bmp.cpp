// TIFF-to-BMP conversion: header fields, pixels against a resampling of plainly
// read lines, and every result code with the file it leaves.
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "convert/tif2bmp.h"
#include "support/temp_dir.h"
#include "support/tif_builder.h"
#include "tif/tif_file.h"

namespace {

using tiftest::Bytes;

uint32_t Get32(const Bytes& b, size_t at)
{
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}
uint32_t Get16(const Bytes& b, size_t at) { return b[at] | b[at + 1] << 8; }

bool Exists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

struct Case {
    uint32_t width, height;
    uint32_t xNum, xDen;  // XResolution
    uint32_t unit;        // ResolutionUnit, 0: absent
    int photometric;
    uint32_t tileWidth, tileLength;  // 0: strips of 7 rows
    int target;
    int wantWidth, wantRows;  // worked out by hand
};

void PrintTo(const Case& c, std::ostream* os)
{
    *os << c.width << "x" << c.height << " at " << c.xNum << "/" << c.xDen << " to " << c.target;
}

std::string MakeTiff(const tiftest::TempDir& dir, const Case& c, const std::string& name = "in.tif")
{
    tiftest::ImageSpec spec{c.width, c.height, 1, 1, c.photometric, c.tileWidth ? 0u : 7u};
    const Bytes pixels = tiftest::PatternRows(spec.RowBytes(), c.height, 1);
    tiftest::TiffBuilder b;
    if (c.tileWidth)
        b.TileImage(spec, c.tileWidth, c.tileLength, pixels);
    else
        b.StripImage(spec, pixels);
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
    auto record = [](void* ctx, int written, int total) {
        static_cast<std::vector<std::pair<int, int>>*>(ctx)->emplace_back(written, total);
    };
    ASSERT_EQ(VXTiff2BmpEx(tif.c_str(), bmp.c_str(), c.target, record, &calls), VXTIFF2BMP_OK);
    const Bytes out = tiftest::ReadFileBytes(bmp);
    const int rowBytes = (c.wantWidth + 31) / 32 * 4;
    ASSERT_EQ(out.size(), 62u + size_t(rowBytes) * c.wantRows);

    // Resolution in pixels per inch as the source reports it.
    const double x = double(c.xNum) / c.xDen * (c.unit == 3 ? 2.54 : 1.0);
    EXPECT_EQ(Get16(out, 0), 0x4D42u);
    EXPECT_EQ(Get32(out, 2), out.size());
    EXPECT_EQ(Get16(out, 6), uint32_t(x) & 0xFFFF);
    EXPECT_EQ(Get16(out, 8), uint32_t(x) & 0xFFFF);
    EXPECT_EQ(Get32(out, 10), 62u);
    EXPECT_EQ(Get32(out, 14), 40u);
    EXPECT_EQ(int32_t(Get32(out, 18)), c.wantWidth);
    EXPECT_EQ(int32_t(Get32(out, 22)), -c.wantRows);
    EXPECT_EQ(Get16(out, 26), 1u);
    EXPECT_EQ(Get16(out, 28), 1u);
    EXPECT_EQ(Get32(out, 30), 0u);
    EXPECT_EQ(Get32(out, 34), 0u);
    EXPECT_EQ(Get32(out, 38), c.width);
    EXPECT_EQ(Get32(out, 42), c.height);
    EXPECT_EQ(Get32(out, 46), 0u);
    EXPECT_EQ(Get32(out, 50), 0u);
    const bool setIsBlack = c.photometric == tiftest::kMinIsWhite;
    EXPECT_EQ(Get32(out, 54), setIsBlack ? 0xFFFFFFFFu : 0u);
    EXPECT_EQ(Get32(out, 58), setIsBlack ? 0u : 0xFFFFFFFFu);

    ASSERT_EQ(calls.size(), size_t(c.wantRows));
    for (size_t i = 0; i < calls.size(); ++i)
        EXPECT_EQ(calls[i], std::make_pair(int(i) + 1, c.wantRows));

    // Reference: output row j is the first source row y with trunc(y R / X) = j
    // (each output row is hit in turn), pixel i the source column
    // trunc(i X / R) with R in single precision.
    CTifFile f;
    ASSERT_EQ(f.Open(tif.c_str()), 1);
    std::vector<Bytes> lines(c.height, Bytes((c.width + 7) / 8 + 64));
    for (auto& l : lines)
        ASSERT_EQ(f.ReadLine(l.data()), 1);
    int j = 0;
    double last = -1;
    for (uint32_t y = 0; y < c.height; ++y) {
        const double t = std::trunc(y * (c.target / x));
        if (t == last)
            continue;
        last = t;
        const uint8_t* row = out.data() + 62 + size_t(j) * rowBytes;
        for (int i = 0; i < rowBytes * 8; ++i) {
            const int got = row[i / 8] >> (7 - i % 8) & 1;
            int want = 0;
            if (i < c.wantWidth) {
                const int s = int(std::trunc(i * (x / double(float(c.target)))));
                want = lines[y][s / 8] >> (7 - s % 8) & 1;
            }
            ASSERT_EQ(got, want) << "output row " << j << " (source row " << y << "), pixel " << i;
        }
        ++j;
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
    Case{77, 20, 80, 1, 3, tiftest::kMinIsBlack, 0, 0, 300, 113, 20}));   // 80 per cm = 203.2 dpi

TEST(Convert, RefusalsLeaveNoFile)
{
    tiftest::TempDir dir;
    const std::string bmp = dir.Path("out.bmp");
    const Case good{64, 8, 200, 1, 2, tiftest::kMinIsWhite, 0, 0, 100, 32, 4};
    const std::string tif = MakeTiff(dir, good);
    struct Refusal {
        std::string tiff;
        int target;
        int code;
    };
    auto variant = [&](const std::string& name, const Case& c) { return MakeTiff(dir, c, name); };
    Case noRes = good, zeroRes = good, negRes = good, tiny = good, wide = good, huge = good;
    noRes.xDen = 0;
    zeroRes.xNum = 0;
    negRes.xNum = uint32_t(-200);
    tiny.xNum = 1000;  // 2 / 1000 × 64 pixels: nothing left
    wide.xNum = 1;
    wide.xDen = 2000000;  // 2 × 2000000 × 64 pixels: far too wide
    huge.height = 600;
    huge.xNum = 1;
    huge.xDen = 500000;  // 64000000 pixels wide (8 MB rows) × 600 rows: over 4 GiB
    tiftest::TiffBuilder grey;
    grey.StripImage({8, 2, 1, 8, tiftest::kMinIsBlack, 0}, Bytes(16, 7));
    grey.Set(tiftest::kTagXResolution, tiftest::kRational, {200, 1});
    const std::vector<Refusal> refusals = {
        {tif, 1, VXTIFF2BMP_ERR_TARGET},
        {tif, 0, VXTIFF2BMP_ERR_TARGET},
        {tif, -300, VXTIFF2BMP_ERR_TARGET},
        {dir.Path("missing.tif"), 100, VXTIFF2BMP_ERR_OPEN},
        {dir.Write("grey.tif", grey.Build()), 100, VXTIFF2BMP_ERR_NOT_BILEVEL},
        {variant("nores.tif", noRes), 100, VXTIFF2BMP_ERR_NO_RESOLUTION},
        {variant("zerores.tif", zeroRes), 100, VXTIFF2BMP_ERR_NO_RESOLUTION},
        {variant("negres.tif", negRes), 100, VXTIFF2BMP_ERR_NO_RESOLUTION},
        {variant("tiny.tif", tiny), 2, VXTIFF2BMP_ERR_SIZE},
        {variant("wide.tif", wide), 2, VXTIFF2BMP_ERR_SIZE},
        {variant("huge.tif", huge), 2, VXTIFF2BMP_ERR_SIZE},
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

TEST(Convert, FailedWriteIsReported)
{
    if (!Exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    tiftest::TempDir dir;
    const std::string tif = MakeTiff(dir, {1728, 200, 200, 1, 2, tiftest::kMinIsWhite, 0, 0, 0, 0, 0});
    EXPECT_EQ(VXTiff2Bmp(tif.c_str(), "/dev/full", 200), VXTIFF2BMP_ERR_WRITE);
    EXPECT_TRUE(Exists("/dev/full"));  // a device is never removed
}

// Lines that cannot be decoded do not stop the conversion; before any line was
// read their rows are blank.
TEST(Convert, UnreadableLinesGiveBlankRows)
{
    tiftest::TempDir dir;
    tiftest::ImageSpec spec{16, 14, 1, 1, tiftest::kMinIsWhite, 7};
    tiftest::TiffBuilder b;
    b.StripImage(spec, Bytes(28, 0xFF));
    b.Set(tiftest::kTagStripByteCounts, tiftest::kLong, {0, 14});  // strip 0 holds nothing
    b.Set(tiftest::kTagXResolution, tiftest::kRational, {100, 1});
    const std::string tif = dir.Write("in.tif", b.Build());
    const std::string bmp = dir.Path("out.bmp");
    ASSERT_EQ(VXTiff2Bmp(tif.c_str(), bmp.c_str(), 100), VXTIFF2BMP_OK);
    const Bytes out = tiftest::ReadFileBytes(bmp);
    ASSERT_EQ(out.size(), 62u + 4 * 14);
    for (int y = 0; y < 14; ++y)
        EXPECT_EQ(Get32(out, 62 + 4 * y), y < 7 ? 0u : 0xFFFFu) << "row " << y;
}

}  // namespace
