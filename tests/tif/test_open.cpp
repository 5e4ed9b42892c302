// Opening: every way a file fails to open (on exact bytes), and what a sound
// file's directory turns into: strips and tiles, resolutions, photometric
// types, palettes, and nothing left over from a previous file.
#include <algorithm>
#include <cstring>
#include <iterator>
#include <vector>

#include <gtest/gtest.h>

#include "codec/tif_codec.h"
#include "io/tif_stream.h"
#include "support/platform.h"
#include "support/temp_dir.h"
#include "support/tif_builder.h"
#include "tif/tif_file.h"

namespace {

using namespace tiftest;

// Grey 16 × 10 in strips of 4, 4, 2 rows; or 40 × 20 in 3 × 2 tiles of 16 × 16.
TiffBuilder Sound(bool big, bool tiled = false, int photometric = kMinIsBlack)
{
    TiffBuilder b(big);
    if (tiled)
        b.TileImage({40, 20, 1, 8, photometric, 0}, 16, 16, PatternRows(40, 20));
    else
        b.StripImage({16, 10, 1, 8, photometric, 4}, PatternRows(16, 10));
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
    bool tiled;
    int failure;  // what GetLastFailure says, with its value
    int value;
    void (*edit)(TiffBuilder&);
    size_t cut = SIZE_MAX;  // file length
};

const BadFile kBadFiles[] = {
    {"Empty", false, VXTIFF_FAIL_NOT_TIFF, 0, [](TiffBuilder&) {}, 0},
    {"HeaderShort", false, VXTIFF_FAIL_CUT_SHORT, 0, [](TiffBuilder&) {}, 7},
    {"DirectoryCountCut", false, VXTIFF_FAIL_CUT_SHORT, 0, [](TiffBuilder& b) { b.IfdOffset(uint32_t(b.Build().size() - 1)); }},
    {"ByteOrderMixed", false, VXTIFF_FAIL_NOT_TIFF, 0, [](TiffBuilder& b) { b.Header({'I', 'M', 42, 0, 8, 0, 0, 0}); }},
    {"ByteOrderLowercase", false, VXTIFF_FAIL_NOT_TIFF, 0, [](TiffBuilder& b) { b.Header({'i', 'i', 42, 0, 8, 0, 0, 0}); }},
    {"Version43Offsets4", false, VXTIFF_FAIL_BIGTIFF, 0, [](TiffBuilder& b) { b.Header({'I', 'I', 43, 0, 4, 0, 0, 0}); }},
    {"Version43Cut", false, VXTIFF_FAIL_CUT_SHORT, 0, [](TiffBuilder& b) { b.Header({'I', 'I', 43, 0, 8, 0, 0, 0}); }, 12},
    {"DirectoryPastEnd", false, VXTIFF_FAIL_CUT_SHORT, 0, [](TiffBuilder& b) { b.IfdOffset(0x7FFFFFF0); }},
    {"DirectoryBlockCut", false, VXTIFF_FAIL_CUT_SHORT, 0, [](TiffBuilder& b) { b.EntryCount(200); }},
    {"Planar2", false, VXTIFF_FAIL_PLANAR, 0, [](TiffBuilder& b) { b.Set(kTagPlanarConfig, kShort, {2}); }},
    {"Planar0", false, VXTIFF_FAIL_DAMAGED, 0, [](TiffBuilder& b) { b.Set(kTagPlanarConfig, kShort, {0}); }},
    {"NoWidth", false, VXTIFF_FAIL_DAMAGED, 0, [](TiffBuilder& b) { b.Remove(kTagImageWidth); }},
    {"NoLength", false, VXTIFF_FAIL_DAMAGED, 0, [](TiffBuilder& b) { b.Remove(kTagImageLength); }},
    {"WidthZero", false, VXTIFF_FAIL_DAMAGED, 0, [](TiffBuilder& b) { b.Set(kTagImageWidth, kLong, {0}); }},
    {"LengthZero", false, VXTIFF_FAIL_DAMAGED, 0, [](TiffBuilder& b) { b.Set(kTagImageLength, kShort, {0}); }},
    {"WidthNegative", false, VXTIFF_FAIL_DAMAGED, 0, [](TiffBuilder& b) { b.Set(kTagImageWidth, kLong, {0x80000000}); }},
    {"WidthRational", false, VXTIFF_FAIL_DAMAGED, 0, [](TiffBuilder& b) { b.Set(kTagImageWidth, kRational, {16, 1}); }},
    // JPEG of 16-bit samples: no libjpeg reads it (and none is there without one).
    {"CompressionJpeg", false, VXTIFF_FAIL_COMPRESSION, 7, [](TiffBuilder& b) { b.Set(kTagCompression, kShort, {7}); b.Set(kTagBitsPerSample, kShort, {16}); }},
    // Old-style JPEG whose strips need tables stored apart: refused.
    {"CompressionOldJpeg", false, VXTIFF_FAIL_COMPRESSION, 6, [](TiffBuilder& b) { b.Set(kTagCompression, kShort, {6}); b.Set(519, kLong, {8}); }},
    {"CompressionUnknown", false, VXTIFF_FAIL_COMPRESSION, 12345, [](TiffBuilder& b) { b.Set(kTagCompression, kShort, {12345}); }},
    {"PhotometricMask", false, VXTIFF_FAIL_PHOTOMETRIC, 4, [](TiffBuilder& b) { b.Set(kTagPhotometric, kShort, {4}); }},
    {"PhotometricLab", false, VXTIFF_FAIL_PHOTOMETRIC, 8, [](TiffBuilder& b) { b.Set(kTagPhotometric, kShort, {8}); }},
    {"PhotometricLogL", false, VXTIFF_FAIL_PHOTOMETRIC, 32844, [](TiffBuilder& b) { b.Set(kTagPhotometric, kShort, {32844}); }},
    {"SamplesZero", false, VXTIFF_FAIL_DAMAGED, 0, [](TiffBuilder& b) { b.Set(kTagSamplesPerPixel, kShort, {0}); }},
    {"BitsZero", false, VXTIFF_FAIL_DAMAGED, 0, [](TiffBuilder& b) { b.Set(kTagBitsPerSample, kShort, {0}); }},
    {"NoOffsets", false, VXTIFF_FAIL_DAMAGED, 0, [](TiffBuilder& b) { b.Remove(kTagStripOffsets); }},
    {"OffsetsEmpty", false, VXTIFF_FAIL_DAMAGED, 0, [](TiffBuilder& b) { b.Set(kTagStripOffsets, kLong, {}); }},
    {"OffsetsRational", false, VXTIFF_FAIL_DAMAGED, 0, [](TiffBuilder& b) { b.Set(kTagStripOffsets, kRational, {8, 1}); }},
    {"FewerOffsets", false, VXTIFF_FAIL_DAMAGED, 0, [](TiffBuilder& b) { b.Set(kTagStripOffsets, kLong, {8, 72}); }},
    {"FewerByteCounts", false, VXTIFF_FAIL_DAMAGED, 0, [](TiffBuilder& b) { b.Set(kTagStripByteCounts, kLong, {64, 64}); }},
    {"NoByteCountsSeveralStrips", false, VXTIFF_FAIL_DAMAGED, 0, [](TiffBuilder& b) { b.Remove(kTagStripByteCounts); }},
    {"OffsetsOutsideFile", false, VXTIFF_FAIL_CUT_SHORT, 0, [](TiffBuilder& b) { b.Remove(kTagStripOffsets).AtOffset(kTagStripOffsets, kLong, 3, 0xFFFF0000); }},
    {"FirstStripPastEnd", false, VXTIFF_FAIL_CUT_SHORT, 0, [](TiffBuilder& b) { b.Set(kTagStripOffsets, kLong, {0x10000000, 8, 8}); }},
    {"FirstStripRunsPastEnd", false, VXTIFF_FAIL_CUT_SHORT, 0, [](TiffBuilder& b) { b.Set(kTagStripByteCounts, kLong, {0x7FFFFFFF, 64, 32}); }},
    {"TileOffsetsFewer", true, VXTIFF_FAIL_DAMAGED, 0, [](TiffBuilder& b) { b.Set(kTagTileOffsets, kLong, {8, 8, 8, 8, 8}); }},
    {"TileByteCountsAbsent", true, VXTIFF_FAIL_DAMAGED, 0, [](TiffBuilder& b) { b.Remove(kTagTileByteCounts); }},
    {"TileByteCountsFewer", true, VXTIFF_FAIL_DAMAGED, 0, [](TiffBuilder& b) { b.Set(kTagTileByteCounts, kLong, {256}); }},
    {"TileWidthAbsent", true, VXTIFF_FAIL_DAMAGED, 0, [](TiffBuilder& b) { b.Remove(kTagTileWidth); }},
    {"TileLengthAbsent", true, VXTIFF_FAIL_DAMAGED, 0, [](TiffBuilder& b) { b.Remove(kTagTileLength); }},
    {"TileWidthZero", true, VXTIFF_FAIL_DAMAGED, 0, [](TiffBuilder& b) { b.Set(kTagTileWidth, kLong, {0}); }},
    {"TileLengthZero", true, VXTIFF_FAIL_DAMAGED, 0, [](TiffBuilder& b) { b.Set(kTagTileLength, kShort, {0}); }},
    {"TileWidthNegative", true, VXTIFF_FAIL_DAMAGED, 0, [](TiffBuilder& b) { b.Set(kTagTileWidth, kLong, {0xFFFFFFF0}); }},
    {"SamplesNoBits", false, VXTIFF_FAIL_DAMAGED, 0, [](TiffBuilder& b) { b.Set(kTagSamplesPerPixel, kShort, {3}).Remove(kTagBitsPerSample); }},
    {"SamplesBitsRational", false, VXTIFF_FAIL_DAMAGED, 0, [](TiffBuilder& b) { b.Set(kTagSamplesPerPixel, kShort, {3}).Set(kTagBitsPerSample, kRational, {8, 1}); }},
    {"ByteCountsUnreadable", false, VXTIFF_FAIL_DAMAGED, 0, [](TiffBuilder& b) {
         b.Remove(kTagRowsPerStrip).Set(kTagStripOffsets, kLong, {8}).Set(kTagStripByteCounts, kRational, {160, 1}); }},
    {"RowOverLimit", false, VXTIFF_FAIL_TOO_LARGE, 0, [](TiffBuilder& b) { b.Set(kTagImageWidth, kLong, {0x40000000}).Set(kTagBitsPerSample, kShort, {16}); }},
    {"TileRowNotWholeBytes", true, VXTIFF_FAIL_DAMAGED, 0, [](TiffBuilder& b) { b.Set(kTagBitsPerSample, kShort, {1}).Set(kTagTileWidth, kLong, {12}); }},
    // Two tiles across of 65536 × 4096 bytes: 512 MiB for the tile row.
    {"TileRowOverLimit", true, VXTIFF_FAIL_TOO_LARGE, 0, [](TiffBuilder& b) {
         b.Set(kTagImageWidth, kLong, {65537}).Set(kTagImageLength, kLong, {1}).Set(kTagTileWidth, kLong, {65536})
             .Set(kTagTileLength, kLong, {4096}).Set(kTagTileOffsets, kLong, {8, 8}).Set(kTagTileByteCounts, kLong, {1, 1}); }},
    {"PredictorFloatingPoint", false, VXTIFF_FAIL_PREDICTOR, 3, [](TiffBuilder& b) {
         b.Set(kTagCompression, kShort, {5}).Set(kTagPredictor, kShort, {3}); }},
    // Uncompressed bytes declared as Deflate: the first tile row does not decode.
    {"FirstTileRowUndecodable", true, VXTIFF_FAIL_BAD_DATA, 0, [](TiffBuilder& b) { b.Set(kTagCompression, kShort, {32946}); }},
    {"DirectoryAtZero", false, VXTIFF_FAIL_DAMAGED, 0, [](TiffBuilder& b) { b.IfdOffset(0); }},
    {"FirstTileRowUnreadable", true, VXTIFF_FAIL_CUT_SHORT, 0, [](TiffBuilder& b) { b.Set(kTagTileByteCounts, kLong, {256, 256, 0x10000, 256, 256, 256}); }},
};

// The files whose directory is readable: what it holds is why Open fails.
const char* const kDescribed[] = {
    "Planar2", "Planar0", "CompressionJpeg", "CompressionOldJpeg", "CompressionUnknown",
    "PhotometricMask", "PhotometricLab", "PhotometricLogL", "NoOffsets", "OffsetsEmpty", "OffsetsRational",
    "FewerOffsets", "FewerByteCounts", "NoByteCountsSeveralStrips", "OffsetsOutsideFile", "FirstStripPastEnd",
    "FirstStripRunsPastEnd", "TileOffsetsFewer", "TileByteCountsAbsent", "TileByteCountsFewer",
    "ByteCountsUnreadable", "TileRowOverLimit", "PredictorFloatingPoint", "FirstTileRowUndecodable",
    "FirstTileRowUnreadable"};

class OpenFails : public ::testing::TestWithParam<std::tuple<BadFile, bool>> {};

TEST_P(OpenFails, AndLeavesTheObjectEmptyAndReusable)
{
    const auto& [bad, big] = GetParam();
    TiffBuilder b = Sound(big, bad.tiled);
    bad.edit(b);
    TempDir dir;
    CTifFile f;
    const std::string path = dir.Write("bad.tif", b.Build(bad.cut));
    EXPECT_EQ(f.Open(path.c_str()), 0);
    EXPECT_TRUE(IsEmpty(f));
    EXPECT_EQ(CTifFile::GetLastFailure(), bad.failure) << CTifFile::GetLastFailureText();
    EXPECT_EQ(CTifFile::GetLastFailureValue(), bad.value);
    // Its directory alone: described when readable, else refused for the same reason.
    const bool described = std::find_if(std::begin(kDescribed), std::end(kDescribed), [&](const char* name) {
                               return std::strcmp(name, bad.name) == 0;
                           }) != std::end(kDescribed);
    VXIMGINFO info{};
    info.nWidth = -7;
    ASSERT_EQ(CTifFile::DescribePage(path.c_str(), 0, &info), described ? 1 : 0) << CTifFile::GetLastFailureText();
    if (described) {
        const bool wide = std::strcmp(bad.name, "TileRowOverLimit") == 0;
        EXPECT_EQ(std::vector<int>({info.nWidth, info.nHeight, info.bTiled, info.nSamplesPerPixel}),
                  std::vector<int>({wide ? 65537 : bad.tiled ? 40 : 16, wide ? 1 : bad.tiled ? 20 : 10, bad.tiled, 1}));
        EXPECT_EQ(CTifFile::GetLastFailure(), VXTIFF_FAIL_NONE);
    } else {
        EXPECT_EQ(info.nWidth, -7);
        EXPECT_EQ(CTifFile::GetLastFailure(), bad.failure) << CTifFile::GetLastFailureText();
        EXPECT_EQ(CTifFile::GetLastFailureValue(), bad.value);
    }
    // Every entry point of the empty object fails quietly.
    EXPECT_EQ(f.Close(), 0);
    std::vector<uint8_t> row(64, 0xEE);
    EXPECT_EQ(f.ReadLine(row.data()), 0);
    EXPECT_EQ(f.ReadLines(row.data(), 2), 0);
    EXPECT_EQ(f.SeekLine(0), 0);
    f.SetBufRowBytes(10, 20);
    RGBQUAD c{1, 2, 3, 4};
    f.GetColorMap(1, &c);
    EXPECT_EQ(c.rgbRed, 3);
    // The same object then opens a sound file.
    ASSERT_EQ(f.Open(dir.Write("good.tif", Sound(big).Build()).c_str()), 1);
    EXPECT_EQ(CTifFile::GetLastFailure(), VXTIFF_FAIL_NONE);
    ASSERT_EQ(f.ReadLine(row.data()), 1);
    EXPECT_EQ(Bytes(row.begin(), row.begin() + 16), PatternRows(16, 1));
}

INSTANTIATE_TEST_SUITE_P(Directory, OpenFails, ::testing::Combine(::testing::ValuesIn(kBadFiles), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + (std::get<1>(info.param) ? "_MM" : "_II");
                         });

TEST(OpenPath, BadPathsFail)
{
    TempDir dir;
    CTifFile f;
    EXPECT_EQ(f.Open(nullptr), 0);
    EXPECT_EQ(f.Open(""), 0);
    EXPECT_EQ(f.Open(dir.path().c_str()), 0);
    EXPECT_EQ(f.Open(dir.Path("missing.tif").c_str()), 0);
    EXPECT_EQ(f.Open(NullDevice()), 0);
    EXPECT_TRUE(IsEmpty(f));
}

// A file opened from its bytes, with its description.
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
    // Absent, 0, more than the image, and all ones.
    for (auto [type, rows] : {std::pair<uint16_t, uint32_t>{0, 0}, {kLong, 0}, {kShort, 11}, {kLong, 0xFFFFFFFF}}) {
        TiffBuilder b(GetParam());
        b.StripImage({16, 10, 1, 8, kMinIsBlack, 0}, PatternRows(16, 10));
        if (type) b.Set(kTagRowsPerStrip, type, {rows});
        Opened o(b.Build());
        ASSERT_EQ(o.ok, 1) << rows;
        EXPECT_EQ(o.info.nRowsPerStrip, 10) << rows;
        EXPECT_EQ(o.file.m_nStrips, 1) << rows;
    }
}

// TIFF 6.0: Compression defaults to 1.
TEST_P(OpenDescribes, WithoutCompressionIsUncompressed)
{
    TiffBuilder b(GetParam());
    b.StripImage({16, 10, 1, 8, kMinIsBlack, 4}, PatternRows(16, 10)).Remove(kTagCompression);
    Opened o(b.Build());
    ASSERT_EQ(o.ok, 1);
    EXPECT_EQ(o.info.nCompression, 1);
    Bytes rows(160);
    EXPECT_EQ(o.file.ReadLines(rows.data(), 10), 10);
    EXPECT_EQ(rows, PatternRows(16, 10));
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

TEST_P(OpenDescribes, BitsPerSample)
{
    // Three samples: SHORT × 3 lies out of line (6 bytes), LONG works as well;
    // one sample: an absent tag means 1 bit.
    for (uint16_t type : {uint16_t(kShort), uint16_t(kLong), uint16_t(0)}) {
        BuiltImage image{type ? 5u : 16u, 3, uint16_t(type ? 3 : 1), uint16_t(type ? 8 : 1), type ? kRgb : kMinIsWhite, 0};
        TiffBuilder b(GetParam());
        b.StripImage(image, PatternRows(image.RowBytes(), 3));
        type ? b.Set(kTagBitsPerSample, type, {8, 8, 8}) : b.Remove(kTagBitsPerSample);
        Opened o(b.Build());
        ASSERT_EQ(o.ok, 1) << type;
        EXPECT_EQ(o.info.nBitsPerSample, image.bits) << type;
        EXPECT_EQ(o.info.nSamplesPerPixel, image.samples) << type;
        EXPECT_EQ(o.file.m_nRowBytes, int(image.RowBytes())) << type;
    }
}

TEST_P(OpenDescribes, PhotometricToImageType)
{
    // YCbCr reads as RGB; no Photometric tag as white is zero.
    for (auto [photometric, type] : {std::pair{6, VXIMG_RGB}, {-1, VXIMG_MINISWHITE}}) {
        TiffBuilder b = Sound(GetParam());
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
        // RATIONAL is unsigned: numerators and denominators above 2^31.
        {{0x80000000, 0x10000000}, {1, 3}, 0, 8.0, 1.0 / 3.0},
        {{0xFFFFFF9C, 1}, {6, 0x80000000}, 0, 4294967196.0, 6.0 / 2147483648.0},
        {{300, 0}, {0, 0}, 0, 0.0, 0.0},  // zero denominators
    };
    for (const Case& c : cases) {
        TiffBuilder b = Sound(GetParam());
        if (!c.x.empty()) b.Set(kTagXResolution, kRational, c.x);
        if (!c.y.empty()) b.Set(kTagYResolution, kRational, c.y);
        if (c.unit) b.Set(kTagResolutionUnit, kShort, {uint32_t(c.unit)});
        Opened o(b.Build());
        ASSERT_EQ(o.ok, 1);
        EXPECT_DOUBLE_EQ(o.info.dXResolution, c.ex);
        EXPECT_DOUBLE_EQ(o.info.dYResolution, c.ey);
    }
}

TEST_P(OpenDescribes, ResolutionsFromOtherWriters)
{
    // 78.74 pixels per centimetre as one writer stores it: 200 dpi (199.9996).
    TiffBuilder b = Sound(GetParam());
    b.Set(kTagXResolution, kRational, {4294967295u, 54546194}).Set(kTagYResolution, kRational, {4294967295u, 54546194});
    b.Set(kTagResolutionUnit, kShort, {3});
    Opened o(b.Build());
    ASSERT_EQ(o.ok, 1);
    EXPECT_NEAR(o.info.dXResolution, 200.0, 1e-3);
    EXPECT_NEAR(o.info.dYResolution, 200.0, 1e-3);
    // SRATIONAL stays signed.
    TiffBuilder s = Sound(GetParam());
    s.Set(kTagXResolution, kSRational, {0xFFFFFF9C, 1}).Set(kTagYResolution, kSRational, {300, 0xFFFFFFFF});
    Opened so(s.Build());
    ASSERT_EQ(so.ok, 1);
    EXPECT_DOUBLE_EQ(so.info.dXResolution, -100.0);
    EXPECT_DOUBLE_EQ(so.info.dYResolution, -300.0);
}

TEST_P(OpenDescribes, StripAndTileOffsetsTogetherReadAsTiles)
{
    TiffBuilder b = Sound(GetParam(), true);
    // Strip tags pointing at other bytes, which must not be read.
    uint32_t junk = b.AddData(Bytes(800, 0x55));
    b.Set(kTagStripOffsets, kLong, {junk}).Set(kTagStripByteCounts, kLong, {800}).Set(kTagRowsPerStrip, kLong, {20});
    Opened o(b.Build());
    ASSERT_EQ(o.ok, 1);
    EXPECT_EQ(o.info.bTiled, 1);
    EXPECT_EQ(o.info.nTileLength, 16);
    EXPECT_EQ(o.info.nRowsPerStrip, 16);
    EXPECT_EQ(TifState(o.file.m_pDecoder)->rowBytes, 16);  // the decoder works on rows of one tile
    Bytes rows(800);
    EXPECT_EQ(o.file.ReadLines(rows.data(), 20), 20);
    EXPECT_EQ(rows, PatternRows(40, 20));
}

TEST_P(OpenDescribes, ColorMaps)
{
    struct Case {
        int photometric, bits;
        std::vector<uint32_t> map;  // empty: none
        int colors, asked;
        Bytes want;  // blue, green, red of each entry given; the rest stays 0xA5
    };
    const Case cases[] = {
        // 16-bit values are scaled; asked for more than the map holds.
        {kPalette, 1, {0, 65535, 257, 256, 32768, 65534}, 2, 3, {127, 1, 0, 0xA5, 254, 0, 255, 0xA5}},
        // All values below 256: an 8-bit map taken as is; asked for fewer.
        {kPalette, 2, {0, 10, 20, 255, 1, 11, 21, 254, 2, 12, 22, 253}, 4, 2, {2, 1, 0, 0xA5, 12, 11, 10, 0xA5}},
        {kMinIsBlack, 8, std::vector<uint32_t>(768, 300), 0, 4, {}},  // not a palette image
        {kPalette, 8, {}, 0, 4, {}},
        {kPalette, 1, {0, 65535, 257, 256, 32768, 65534}, 2, -1, {}},  // a negative count takes nothing
    };
    for (const Case& c : cases) {
        TiffBuilder b(GetParam());
        b.StripImage({8, 1, 1, uint16_t(c.bits), c.photometric, 0}, PatternRows(c.bits, 1));
        if (!c.map.empty())
            b.Set(kTagColorMap, kShort, c.map);
        Opened o(b.Build());
        ASSERT_EQ(o.ok, 1);
        EXPECT_EQ(o.file.m_nColors, c.colors);
        Bytes got(16, 0xA5), want = c.want;
        want.resize(16, 0xA5);
        o.file.GetColorMap(c.asked, nullptr);  // nowhere to put them: nothing happens
        o.file.GetColorMap(c.asked, reinterpret_cast<RGBQUAD*>(got.data()));
        EXPECT_EQ(got, want) << c.photometric << " " << c.bits;
    }
}

TEST(OpenLifecycle, SecondOpenRefusedFirstKept)
{
    TempDir dir;
    std::string a = dir.Write("a.tif", Sound(false).Build());
    std::string b = dir.Write("b.tif", Sound(true, true).Build());
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
    TiffBuilder first = Sound(true, true, kPalette);
    first.Set(kTagXResolution, kRational, {300, 1}).Set(kTagYResolution, kRational, {300, 1})
        .Set(kTagColorMap, kShort, std::vector<uint32_t>(768, 7));
    TiffBuilder second = Sound(false, false, kPalette);  // no map, no resolution

    CTifFile f;
    ASSERT_EQ(f.Open(dir.Write("1.tif", first.Build()).c_str()), 1);
    ASSERT_EQ(f.Close(), 1);
    ASSERT_EQ(f.Open(dir.Write("2.tif", second.Build()).c_str()), 1);
    Opened fresh(second.Build());
    VXIMGINFO info;
    f.GetImgInfo(&info);
    EXPECT_EQ(std::memcmp(&info, &fresh.info, sizeof info), 0);
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

namespace {

// An 8 x 2 grey BigTIFF page with one strip of 16 bytes: entry count, first
// directory, strip offset and byte count as given (0: where they belong),
// the strip written at its offset (a sparse file when that lies far out).
std::string BigTiff(const TempDir& dir, bool mm, uint64_t entries, uint64_t first, uint64_t at, uint64_t bytes,
                    uint64_t offsetsCount = 1)
{
    Bytes b(16 + 8 + 8 * 20 + 8, 0);
    auto put = [&](size_t p, uint64_t v, int n) {
        for (int i = 0; i < n; ++i)
            b[p + size_t(mm ? n - 1 - i : i)] = uint8_t(v >> (8 * i));
    };
    b[0] = b[1] = mm ? 'M' : 'I';
    put(2, 43, 2), put(4, 8, 2), put(8, first ? first : 16, 8), put(16, entries ? entries : 8, 8);
    const uint64_t e[8][4] = {{256, 3, 1, 8}, {257, 3, 1, 2}, {258, 3, 1, 8}, {259, 3, 1, 1}, {262, 3, 1, 1},
                              {273, 16, offsetsCount, at ? at : b.size()}, {278, 3, 1, 2}, {279, 16, 1, bytes ? bytes : 16}};
    for (size_t i = 0; i < 8; ++i)
        put(24 + 20 * i, e[i][0], 2), put(26 + 20 * i, e[i][1], 2), put(28 + 20 * i, e[i][2], 8),
            put(36 + 20 * i, e[i][3], e[i][1] == 3 ? 2 : 8);
    Bytes strip;
    for (int k = 0; k < 16; ++k)
        strip.push_back(uint8_t(k * 13));
    if (at == 0)
        b.insert(b.end(), strip.begin(), strip.end());
    const std::string path = dir.Write(mm ? "mm.tif" : "ii.tif", b);
    CTifFileStream s;
    if (at != 0 && at < (uint64_t(1) << 40) && s.Open(path.c_str(), TIF_OPEN_WRITE)) {
        EXPECT_TRUE(s.Seek(int64_t(at), SEEK_SET) == int64_t(at) && s.Write(strip.data(), 16) == 16);
    }
    return path;
}

// BigTIFF values of 2^63 (entry count, directory, strip offset, byte count,
// array count) fail as data past the end, allocating nothing of their size;
// a strip past 4 GiB (in a sparse file) reads back.
TEST(OpenBigTiff, HostileValuesAndAStripPastFourGibibytes)
{
    const uint64_t huge = uint64_t(1) << 63, distant = uint64_t(5) << 30;
    const struct { uint64_t entries, first, at, bytes, count; int failure; } cases[] = {
        {0, 0, 0, 0, 1, VXTIFF_FAIL_NONE},        {0, 0, distant, 0, 1, VXTIFF_FAIL_NONE},
        {huge, 0, 0, 0, 1, VXTIFF_FAIL_CUT_SHORT}, {0, huge, 0, 0, 1, VXTIFF_FAIL_CUT_SHORT},
        {0, 0, huge, 0, 1, VXTIFF_FAIL_CUT_SHORT}, {0, 0, 0, huge, 1, VXTIFF_FAIL_CUT_SHORT},
        {0, 0, 0, 0, huge, VXTIFF_FAIL_CUT_SHORT},
    };
    for (bool mm : {false, true})
        for (const auto& c : cases) {
            TempDir dir;
            const std::string path = BigTiff(dir, mm, c.entries, c.first, c.at, c.bytes, c.count);
            CTifFile f;
            EXPECT_EQ(f.Open(path.c_str()), c.failure == VXTIFF_FAIL_NONE ? 1 : 0) << mm << " " << c.at;
            EXPECT_EQ(CTifFile::GetLastFailure(), c.failure) << mm << " " << c.entries << " " << c.first;
            if (c.failure != VXTIFF_FAIL_NONE)
                continue;
            EXPECT_EQ(CTifFile::CountPages(path.c_str()), 1);
            EXPECT_EQ(f.GetRawStripSize(0), 16);
            Bytes rows(16);
            ASSERT_EQ(f.ReadLines(rows.data(), 2), 2);
            for (int k = 0; k < 16; ++k)
                EXPECT_EQ(rows[size_t(k)], uint8_t(k * 13)) << k;
        }
}

}  // namespace
