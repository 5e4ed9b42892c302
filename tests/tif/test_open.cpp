// Opening: every way a file fails to open (on exact bytes), and what a sound
// file's directory turns into: strips and tiles, resolutions, photometric
// types, palettes, and nothing left over from a previous file.
#include <cstring>
#include <functional>

#include <gtest/gtest.h>

#include "codec/tif_codec.h"
#include "support/temp_dir.h"
#include "support/tif_builder.h"
#include "tif/tif_file.h"

namespace {

using namespace tiftest;

const ImageSpec kGray{16, 10, 1, 8, kMinIsBlack, 4};  // strips of 4, 4, 2 rows

TiffBuilder Stripped(bool big, const ImageSpec& spec = kGray)
{
    TiffBuilder b(big);
    b.StripImage(spec, PatternRows(spec.RowBytes(), spec.height));
    return b;
}

TiffBuilder Tiled(bool big)
{
    ImageSpec spec{40, 20, 1, 8, kMinIsBlack, 0};
    TiffBuilder b(big);
    b.TileImage(spec, 16, 16, PatternRows(spec.RowBytes(), spec.height));  // 3 × 2 tiles
    return b;
}

bool IsEmpty(const CTifFile& f)
{
    return f.m_pStream == nullptr && f.m_pIfd == nullptr && f.m_pStripOffsets == nullptr &&
           f.m_pStripByteCounts == nullptr && f.m_ppTileRow == nullptr && f.m_pRedMap == nullptr &&
           f.m_pDecoder == nullptr && f.m_pCompression == nullptr;
}

struct BadFile {
    const char* name;
    std::function<Bytes(bool big)> make;
};

Bytes Edit(TiffBuilder b, const std::function<void(TiffBuilder&)>& f, size_t truncateTo = SIZE_MAX)
{
    f(b);
    return b.Build(truncateTo);
}

const BadFile kBadFiles[] = {
    {"Empty", [](bool) { return Bytes{}; }},
    {"HeaderShort", [](bool big) { return Stripped(big).Build(7); }},
    {"ByteOrderMixed", [](bool big) { return Edit(Stripped(big), [](TiffBuilder& b) { b.Header({'I', 'M', 42, 0, 8, 0, 0, 0}); }); }},
    {"ByteOrderLowercase", [](bool big) { return Edit(Stripped(big), [](TiffBuilder& b) { b.Header({'i', 'i', 42, 0, 8, 0, 0, 0}); }); }},
    {"Version43", [](bool big) { return Edit(Stripped(big), [](TiffBuilder& b) { b.Version(43); }); }},
    {"DirectoryPastEnd", [](bool big) { return Edit(Stripped(big), [](TiffBuilder& b) { b.IfdOffset(0x7FFFFFF0); }); }},
    {"DirectoryCountCut", [](bool big) {
         Bytes f = Stripped(big).Build();
         return Edit(Stripped(big), [&](TiffBuilder& b) { b.IfdOffset(uint32_t(f.size() - 1)); });
     }},
    {"DirectoryBlockCut", [](bool big) { return Edit(Stripped(big), [](TiffBuilder& b) { b.EntryCount(200); }); }},
    {"Planar2", [](bool big) { return Edit(Stripped(big), [](TiffBuilder& b) { b.Set(kTagPlanarConfig, kShort, {2}); }); }},
    {"Planar0", [](bool big) { return Edit(Stripped(big), [](TiffBuilder& b) { b.Set(kTagPlanarConfig, kShort, {0}); }); }},
    {"NoWidth", [](bool big) { return Edit(Stripped(big), [](TiffBuilder& b) { b.Remove(kTagImageWidth); }); }},
    {"NoLength", [](bool big) { return Edit(Stripped(big), [](TiffBuilder& b) { b.Remove(kTagImageLength); }); }},
    {"WidthZero", [](bool big) { return Edit(Stripped(big), [](TiffBuilder& b) { b.Set(kTagImageWidth, kLong, {0}); }); }},
    {"LengthZero", [](bool big) { return Edit(Stripped(big), [](TiffBuilder& b) { b.Set(kTagImageLength, kShort, {0}); }); }},
    {"WidthNegative", [](bool big) { return Edit(Stripped(big), [](TiffBuilder& b) { b.Set(kTagImageWidth, kLong, {0x80000000}); }); }},
    {"WidthRational", [](bool big) { return Edit(Stripped(big), [](TiffBuilder& b) { b.Set(kTagImageWidth, kRational, {16, 1}); }); }},
    {"NoCompression", [](bool big) { return Edit(Stripped(big), [](TiffBuilder& b) { b.Remove(kTagCompression); }); }},
    {"CompressionJpeg", [](bool big) { return Edit(Stripped(big), [](TiffBuilder& b) { b.Set(kTagCompression, kShort, {7}); }); }},
    {"CompressionOldJpeg", [](bool big) { return Edit(Stripped(big), [](TiffBuilder& b) { b.Set(kTagCompression, kShort, {6}); }); }},
    {"CompressionUnknown", [](bool big) { return Edit(Stripped(big), [](TiffBuilder& b) { b.Set(kTagCompression, kShort, {12345}); }); }},
    {"PhotometricMask", [](bool big) { return Edit(Stripped(big), [](TiffBuilder& b) { b.Set(kTagPhotometric, kShort, {4}); }); }},
    {"PhotometricLab", [](bool big) { return Edit(Stripped(big), [](TiffBuilder& b) { b.Set(kTagPhotometric, kShort, {8}); }); }},
    {"PhotometricLogL", [](bool big) { return Edit(Stripped(big), [](TiffBuilder& b) { b.Set(kTagPhotometric, kShort, {32844}); }); }},
    {"SamplesNoBits", [](bool big) {
         return Edit(Stripped(big), [](TiffBuilder& b) { b.Set(kTagSamplesPerPixel, kShort, {3}).Remove(kTagBitsPerSample); });
     }},
    {"SamplesBitsRational", [](bool big) {
         return Edit(Stripped(big), [](TiffBuilder& b) { b.Set(kTagSamplesPerPixel, kShort, {3}).Set(kTagBitsPerSample, kRational, {8, 1}); });
     }},
    {"SamplesZero", [](bool big) { return Edit(Stripped(big), [](TiffBuilder& b) { b.Set(kTagSamplesPerPixel, kShort, {0}); }); }},
    {"BitsZero", [](bool big) { return Edit(Stripped(big), [](TiffBuilder& b) { b.Set(kTagBitsPerSample, kShort, {0}); }); }},
    {"NoOffsets", [](bool big) { return Edit(Stripped(big), [](TiffBuilder& b) { b.Remove(kTagStripOffsets); }); }},
    {"OffsetsEmpty", [](bool big) { return Edit(Stripped(big), [](TiffBuilder& b) { b.Set(kTagStripOffsets, kLong, {}); }); }},
    {"OffsetsRational", [](bool big) { return Edit(Stripped(big), [](TiffBuilder& b) { b.Set(kTagStripOffsets, kRational, {8, 1}); }); }},
    {"FewerOffsets", [](bool big) { return Edit(Stripped(big), [](TiffBuilder& b) { b.Set(kTagStripOffsets, kLong, {8, 72}); }); }},
    {"FewerByteCounts", [](bool big) { return Edit(Stripped(big), [](TiffBuilder& b) { b.Set(kTagStripByteCounts, kLong, {64, 64}); }); }},
    {"NoByteCountsSeveralStrips", [](bool big) { return Edit(Stripped(big), [](TiffBuilder& b) { b.Remove(kTagStripByteCounts); }); }},
    {"ByteCountsUnreadable", [](bool big) {
         return Edit(Stripped(big), [](TiffBuilder& b) { b.Remove(kTagRowsPerStrip).Set(kTagStripOffsets, kLong, {8}).Set(kTagStripByteCounts, kRational, {160, 1}); });
     }},
    {"OffsetsOutsideFile", [](bool big) { return Edit(Stripped(big), [](TiffBuilder& b) { b.Remove(kTagStripOffsets).AtOffset(kTagStripOffsets, kLong, 3, 0xFFFF0000); }); }},
    {"FirstStripPastEnd", [](bool big) { return Edit(Stripped(big), [](TiffBuilder& b) { b.Set(kTagStripOffsets, kLong, {0x10000000, 8, 8}); }); }},
    {"FirstStripRunsPastEnd", [](bool big) { return Edit(Stripped(big), [](TiffBuilder& b) { b.Set(kTagStripByteCounts, kLong, {0x7FFFFFFF, 64, 32}); }); }},
    {"RowOverLimit", [](bool big) {
         return Edit(Stripped(big), [](TiffBuilder& b) { b.Set(kTagImageWidth, kLong, {0x40000000}).Set(kTagBitsPerSample, kShort, {16}); });
     }},
    {"TileOffsetsFewer", [](bool big) { return Edit(Tiled(big), [](TiffBuilder& b) { b.Set(kTagTileOffsets, kLong, {8, 8, 8, 8, 8}); }); }},
    {"TileByteCountsAbsent", [](bool big) { return Edit(Tiled(big), [](TiffBuilder& b) { b.Remove(kTagTileByteCounts); }); }},
    {"TileByteCountsFewer", [](bool big) { return Edit(Tiled(big), [](TiffBuilder& b) { b.Set(kTagTileByteCounts, kLong, {256}); }); }},
    {"TileWidthAbsent", [](bool big) { return Edit(Tiled(big), [](TiffBuilder& b) { b.Remove(kTagTileWidth); }); }},
    {"TileLengthAbsent", [](bool big) { return Edit(Tiled(big), [](TiffBuilder& b) { b.Remove(kTagTileLength); }); }},
    {"TileWidthZero", [](bool big) { return Edit(Tiled(big), [](TiffBuilder& b) { b.Set(kTagTileWidth, kLong, {0}); }); }},
    {"TileLengthZero", [](bool big) { return Edit(Tiled(big), [](TiffBuilder& b) { b.Set(kTagTileLength, kShort, {0}); }); }},
    {"TileWidthNegative", [](bool big) { return Edit(Tiled(big), [](TiffBuilder& b) { b.Set(kTagTileWidth, kLong, {0xFFFFFFF0}); }); }},
    {"TileRowNotWholeBytes", [](bool big) {
         return Edit(Tiled(big), [](TiffBuilder& b) { b.Set(kTagBitsPerSample, kShort, {1}).Set(kTagTileWidth, kLong, {12}); });
     }},
    {"TileRowOverLimit", [](bool big) {
         // Two tiles across of 65536 × 4096 bytes: 512 MiB for the tile row.
         return Edit(Tiled(big), [](TiffBuilder& b) {
             b.Set(kTagImageWidth, kLong, {65537}).Set(kTagImageLength, kLong, {1})
              .Set(kTagTileWidth, kLong, {65536}).Set(kTagTileLength, kLong, {4096})
              .Set(kTagTileOffsets, kLong, {8, 8}).Set(kTagTileByteCounts, kLong, {1, 1});
         });
     }},
    {"FirstTileRowUnreadable", [](bool big) {
         return Edit(Tiled(big), [](TiffBuilder& b) { b.Set(kTagTileByteCounts, kLong, {256, 256, 0x10000, 256, 256, 256}); });
     }},
};

class OpenFails : public ::testing::TestWithParam<std::tuple<BadFile, bool>> {};

TEST_P(OpenFails, AndLeavesTheObjectEmptyAndReusable)
{
    const auto& [bad, big] = GetParam();
    TempDir dir;
    std::string path = dir.Write("bad.tif", bad.make(big));
    CTifFile f;
    EXPECT_EQ(f.Open(path.c_str()), 0);
    EXPECT_TRUE(IsEmpty(f));
    EXPECT_EQ(f.Close(), 0);
    std::vector<uint8_t> row(64, 0xEE);
    EXPECT_EQ(f.ReadLine(row.data()), 0);
    EXPECT_EQ(f.SeekLine(0), 0);
    // The same object then opens a sound file.
    std::string good = dir.Write("good.tif", Stripped(big).Build());
    ASSERT_EQ(f.Open(good.c_str()), 1);
    ASSERT_EQ(f.ReadLine(row.data()), 1);
    EXPECT_EQ(Bytes(row.begin(), row.begin() + 16), PatternRows(16, 1));
}

INSTANTIATE_TEST_SUITE_P(Directory, OpenFails,
                         ::testing::Combine(::testing::ValuesIn(kBadFiles), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "_MM" : "_II");
                         });

TEST(OpenPath, BadPathsFail)
{
    TempDir dir;
    CTifFile f;
    EXPECT_EQ(f.Open(nullptr), 0);
    EXPECT_EQ(f.Open(""), 0);
    EXPECT_EQ(f.Open(dir.path().c_str()), 0);
    EXPECT_EQ(f.Open(dir.Path("missing.tif").c_str()), 0);
    EXPECT_EQ(f.Open("/dev/null"), 0);
    EXPECT_TRUE(IsEmpty(f));
}

// Opened description of a file built with `edit` applied to the stripped base.
struct Opened {
    TempDir dir;
    CTifFile file;
    VXIMGINFO info{};
    int ok = 0;
    explicit Opened(const Bytes& bytes)
    {
        std::string p = dir.Write("x.tif", bytes);
        ok = file.Open(p.c_str());
        file.GetImgInfo(&info);
    }
};

class OpenDescribes : public ::testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(ByteOrder, OpenDescribes, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "MM" : "II"; });

TEST_P(OpenDescribes, RowsPerStripOutOfRangeMeansOneStrip)
{
    for (int variant = 0; variant < 4; ++variant) {
        TiffBuilder b(GetParam());
        b.StripImage({16, 10, 1, 8, kMinIsBlack, 0}, PatternRows(16, 10));
        if (variant == 1) b.Set(kTagRowsPerStrip, kLong, {0});
        if (variant == 2) b.Set(kTagRowsPerStrip, kShort, {11});
        if (variant == 3) b.Set(kTagRowsPerStrip, kLong, {0xFFFFFFFF});
        Opened o(b.Build());
        ASSERT_EQ(o.ok, 1) << variant;
        EXPECT_EQ(o.info.nRowsPerStrip, 10) << variant;
        EXPECT_EQ(o.file.m_nStrips, 1) << variant;
    }
}

TEST_P(OpenDescribes, SingleStripWithoutByteCountsRunsToTheEnd)
{
    TiffBuilder b(GetParam());
    Bytes pixels = PatternRows(16, 10);
    b.StripImage({16, 10, 1, 8, kMinIsBlack, 0}, pixels).Remove(kTagStripByteCounts);
    // The strip is the last thing in the file.
    Bytes file = b.Build();
    const uint32_t at = static_cast<uint32_t>(file.size());
    b.Set(kTagStripOffsets, kLong, {at});
    file = b.Build();
    ASSERT_EQ(file.size(), at);
    file.insert(file.end(), pixels.begin(), pixels.end());
    Opened o(file);
    ASSERT_EQ(o.ok, 1);
    Bytes rows(pixels.size());
    EXPECT_EQ(o.file.ReadLines(rows.data(), 10), 10);
    EXPECT_EQ(rows, pixels);
}

TEST_P(OpenDescribes, BitsPerSampleOfSeveralSamples)
{
    // SHORT × 3 lies out of line (6 bytes); LONG works as well.
    for (uint16_t type : {kShort, kLong}) {
        ImageSpec spec{5, 3, 3, 8, kRgb, 0};
        TiffBuilder b(GetParam());
        b.StripImage(spec, PatternRows(spec.RowBytes(), 3)).Set(kTagBitsPerSample, type, {8, 8, 8});
        Opened o(b.Build());
        ASSERT_EQ(o.ok, 1);
        EXPECT_EQ(o.info.nBitsPerSample, 8);
        EXPECT_EQ(o.info.nSamplesPerPixel, 3);
        EXPECT_EQ(o.file.m_nRowBytes, 15);
    }
    // One sample: an absent tag means 1 bit.
    TiffBuilder b(GetParam());
    b.StripImage({16, 2, 1, 1, kMinIsWhite, 0}, PatternRows(2, 2)).Remove(kTagBitsPerSample);
    Opened o(b.Build());
    ASSERT_EQ(o.ok, 1);
    EXPECT_EQ(o.info.nBitsPerSample, 1);
    EXPECT_EQ(o.file.m_nRowBytes, 2);
}

TEST_P(OpenDescribes, PhotometricToImageType)
{
    const std::pair<int, int> table[] = {{0, VXIMG_MINISWHITE}, {1, VXIMG_MINISBLACK}, {2, VXIMG_RGB},
                                         {3, VXIMG_PALETTE},   {5, VXIMG_CMYK},        {6, VXIMG_RGB},
                                         {-1, VXIMG_MINISWHITE}};  // -1: tag absent
    for (auto [photometric, type] : table) {
        TiffBuilder b = Stripped(GetParam());
        if (photometric < 0)
            b.Remove(kTagPhotometric);
        else
            b.Set(kTagPhotometric, kShort, {uint32_t(photometric)});
        Opened o(b.Build());
        ASSERT_EQ(o.ok, 1) << photometric;
        EXPECT_EQ(o.info.nImageType, type) << photometric;
    }
}

TEST_P(OpenDescribes, Resolutions)
{
    struct Case {
        std::vector<uint32_t> x, y;  // empty: absent
        int unit;                    // 0: absent
        double ex, ey;
    };
    const Case cases[] = {
        {{100, 1}, {200, 1}, 3, 254.0, 508.0},  // centimetres
        {{100, 1}, {200, 1}, 2, 100.0, 200.0},
        {{100, 1}, {200, 1}, 0, 100.0, 200.0},
        {{100, 1}, {200, 1}, 1, 100.0, 200.0},
        {{}, {300, 2}, 0, 0.0, 150.0},
        {{}, {}, 3, 0.0, 0.0},
        {{0xFFFFFF9C, 1}, {1, 3}, 0, -100.0, 1.0 / 3.0},  // signed numerator
        {{300, 0}, {0, 0}, 0, 0.0, 0.0},                  // zero denominators
    };
    for (const Case& c : cases) {
        TiffBuilder b = Stripped(GetParam());
        if (!c.x.empty()) b.Set(kTagXResolution, kRational, c.x);
        if (!c.y.empty()) b.Set(kTagYResolution, kRational, c.y);
        if (c.unit) b.Set(kTagResolutionUnit, kShort, {uint32_t(c.unit)});
        Opened o(b.Build());
        ASSERT_EQ(o.ok, 1);
        EXPECT_DOUBLE_EQ(o.info.dXResolution, c.ex);
        EXPECT_DOUBLE_EQ(o.info.dYResolution, c.ey);
    }
}

TEST_P(OpenDescribes, TiledImage)
{
    Opened o(Tiled(GetParam()).Build());
    ASSERT_EQ(o.ok, 1);
    EXPECT_EQ(o.info.bTiled, 1);
    EXPECT_EQ(o.info.nTileWidth, 16);
    EXPECT_EQ(o.info.nTileLength, 16);
    EXPECT_EQ(o.info.nRowsPerStrip, 16);
    EXPECT_EQ(o.info.nWidth, 40);
    EXPECT_EQ(o.file.m_nStrips, 6);
    EXPECT_EQ(o.file.m_nTilesAcross, 3);
    EXPECT_EQ(o.file.m_nTilesDown, 2);
    // The decoder works on rows of one tile.
    EXPECT_EQ(TifState(o.file.m_pDecoder)->rowBytes, 16);
}

TEST_P(OpenDescribes, StripAndTileOffsetsTogetherReadAsTiles)
{
    ImageSpec spec{40, 20, 1, 8, kMinIsBlack, 0};
    Bytes pixels = PatternRows(spec.RowBytes(), spec.height);
    TiffBuilder b(GetParam());
    b.TileImage(spec, 16, 16, pixels);
    // Strip tags pointing at other bytes, which must not be read.
    uint32_t junk = b.AddData(Bytes(800, 0x55));
    b.Set(kTagStripOffsets, kLong, {junk}).Set(kTagStripByteCounts, kLong, {800}).Set(kTagRowsPerStrip, kLong, {20});
    Opened o(b.Build());
    ASSERT_EQ(o.ok, 1);
    EXPECT_EQ(o.info.bTiled, 1);
    Bytes rows(pixels.size());
    EXPECT_EQ(o.file.ReadLines(rows.data(), 20), 20);
    EXPECT_EQ(rows, pixels);
}

TEST_P(OpenDescribes, SixteenBitColorMapIsScaled)
{
    // 2 colours: red {0, 65535}, green {257, 256}, blue {32768, 65534}.
    TiffBuilder b(GetParam());
    b.StripImage({8, 1, 1, 1, kPalette, 0}, {0x5A});
    b.Set(kTagColorMap, kShort, {0, 65535, 257, 256, 32768, 65534});
    Opened o(b.Build());
    ASSERT_EQ(o.ok, 1);
    EXPECT_EQ(o.file.m_nColors, 2);
    RGBQUAD c[3];
    std::memset(c, 0xA5, sizeof c);
    o.file.GetColorMap(3, c);  // more than the map holds
    EXPECT_EQ(c[0].rgbRed, 0);
    EXPECT_EQ(c[0].rgbGreen, 1);
    EXPECT_EQ(c[0].rgbBlue, 127);
    EXPECT_EQ(c[1].rgbRed, 255);
    EXPECT_EQ(c[1].rgbGreen, 0);
    EXPECT_EQ(c[1].rgbBlue, 254);
    EXPECT_EQ(c[0].rgbReserved, 0xA5);
    EXPECT_EQ(c[2].rgbRed, 0xA5);  // beyond the map: untouched
}

TEST_P(OpenDescribes, EightBitColorMapIsTakenAsIs)
{
    TiffBuilder b(GetParam());
    b.StripImage({8, 1, 1, 2, kPalette, 0}, {0x1B, 0x1B});
    b.Set(kTagColorMap, kShort, {0, 10, 20, 255, 1, 11, 21, 254, 2, 12, 22, 253});
    Opened o(b.Build());
    ASSERT_EQ(o.ok, 1);
    ASSERT_EQ(o.file.m_nColors, 4);
    RGBQUAD c[4];
    std::memset(c, 0xA5, sizeof c);
    o.file.GetColorMap(2, c);  // fewer than the map holds
    EXPECT_EQ(c[1].rgbRed, 10);
    EXPECT_EQ(c[1].rgbGreen, 11);
    EXPECT_EQ(c[1].rgbBlue, 12);
    EXPECT_EQ(c[0].rgbBlue, 2);
    EXPECT_EQ(c[2].rgbRed, 0xA5);
}

TEST_P(OpenDescribes, ColorMapOnlyForPalettes)
{
    for (int variant = 0; variant < 2; ++variant) {
        TiffBuilder b(GetParam());
        b.StripImage({8, 1, 1, 8, variant == 0 ? kMinIsBlack : kPalette, 0}, PatternRows(8, 1));
        if (variant == 0)
            b.Set(kTagColorMap, kShort, std::vector<uint32_t>(768, 300));
        Opened o(b.Build());  // variant 1: a palette image without ColorMap
        ASSERT_EQ(o.ok, 1);
        EXPECT_EQ(o.file.m_nColors, 0);
        RGBQUAD c[4];
        std::memset(c, 0xA5, sizeof c);
        o.file.GetColorMap(4, c);
        for (const RGBQUAD& q : c)
            EXPECT_EQ(q.rgbRed, 0xA5);
    }
}

TEST(OpenTwins, ByteOrdersGiveTheSameDescriptionAndLines)
{
    auto make = [](bool big) {
        TiffBuilder b(big);
        b.StripImage({13, 7, 3, 8, kPalette, 3}, PatternRows(39, 7))
            .Set(kTagSamplesPerPixel, kShort, {1}).Set(kTagBitsPerSample, kShort, {8})
            .Set(kTagXResolution, kRational, {300, 1}).Set(kTagYResolution, kRational, {150, 1})
            .Set(kTagImageWidth, kLong, {39});
        std::vector<uint32_t> map(768);
        for (size_t i = 0; i < map.size(); ++i)
            map[i] = uint32_t(i * 85);
        b.Set(kTagColorMap, kShort, map);
        return b.Build();
    };
    Opened ii(make(false)), mm(make(true));
    ASSERT_EQ(ii.ok, 1);
    ASSERT_EQ(mm.ok, 1);
    EXPECT_EQ(std::memcmp(&ii.info, &mm.info, sizeof(VXIMGINFO)), 0);
    RGBQUAD a[256] = {}, c[256] = {};
    ii.file.GetColorMap(256, a);
    mm.file.GetColorMap(256, c);
    EXPECT_EQ(std::memcmp(a, c, sizeof a), 0);
    Bytes ra(39 * 7), rc(39 * 7);
    EXPECT_EQ(ii.file.ReadLines(ra.data(), 7), 7);
    EXPECT_EQ(mm.file.ReadLines(rc.data(), 7), 7);
    EXPECT_EQ(ra, rc);
}

TEST(OpenLifecycle, SecondOpenRefusedFirstKept)
{
    TempDir dir;
    std::string a = dir.Write("a.tif", Stripped(false).Build());
    std::string b = dir.Write("b.tif", Tiled(true).Build());
    CTifFile f;
    ASSERT_EQ(f.Open(a.c_str()), 1);
    EXPECT_EQ(f.Open(b.c_str()), 0);
    EXPECT_EQ(f.m_bTiled, 0);
    Bytes rows(160);
    EXPECT_EQ(f.ReadLines(rows.data(), 10), 10);
    EXPECT_EQ(rows, PatternRows(16, 10));
    EXPECT_EQ(f.Close(), 1);
    EXPECT_EQ(f.Close(), 0);
    EXPECT_TRUE(IsEmpty(f));
}

TEST(OpenLifecycle, ReopenShowsNothingOfThePreviousFile)
{
    TempDir dir;
    TiffBuilder first(true);
    ImageSpec spec{40, 20, 1, 8, kPalette, 0};
    first.TileImage(spec, 16, 16, PatternRows(40, 20))
        .Set(kTagXResolution, kRational, {300, 1}).Set(kTagYResolution, kRational, {300, 1})
        .Set(kTagColorMap, kShort, std::vector<uint32_t>(768, 7));
    TiffBuilder second(false);
    second.StripImage({16, 10, 1, 8, kPalette, 0}, PatternRows(16, 10));  // no map, no resolution

    CTifFile f;
    ASSERT_EQ(f.Open(dir.Write("1.tif", first.Build()).c_str()), 1);
    ASSERT_EQ(f.Close(), 1);
    ASSERT_EQ(f.Open(dir.Write("2.tif", second.Build()).c_str()), 1);
    VXIMGINFO info;
    f.GetImgInfo(&info);
    EXPECT_EQ(info.bTiled, 0);
    EXPECT_EQ(info.nTileWidth, 0);
    EXPECT_EQ(info.nTileLength, 0);
    EXPECT_EQ(info.dXResolution, 0.0);
    EXPECT_EQ(info.dYResolution, 0.0);
    EXPECT_EQ(info.nRowsPerStrip, 10);
    EXPECT_EQ(f.m_nColors, 0);
    EXPECT_EQ(f.m_bSwap, 0);
    RGBQUAD c{1, 2, 3, 4};
    f.GetColorMap(1, &c);
    EXPECT_EQ(c.rgbRed, 3);
    Bytes rows(160);
    EXPECT_EQ(f.ReadLines(rows.data(), 11), 10);
    EXPECT_EQ(rows, PatternRows(16, 10));
}

}  // namespace
