// Compression schemes at open: which directory values reach the decoder (fax
// T4Options and FillOrder, Predictor) and which refuse the file.
#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "support/tif_builder.h"
#include "tif/tif_file.h"

namespace {

using namespace tiftest;

// A one-row image of 8 bytes (bits of 1 or 2: of 8 bits) whose one strip
// holds `strip`; tag values < 0 are left out.
std::string Build(const TempDir& dir, bool big, uint16_t compression, uint16_t bits, const Bytes& strip,
                  int t4Options = -1, int fillOrder = -1, uint16_t predictorType = kShort, int predictor = -1)
{
    TiffBuilder b(big);
    b.StripImage({uint32_t(strip.size() * 8 / bits), 1, 1, bits, bits <= 2 ? kMinIsWhite : kMinIsBlack, 1, compression}, strip);
    b.Set(kTagImageWidth, kLong, {bits <= 2 ? 8u / bits : 64u / bits});
    if (t4Options >= 0) b.Set(kTagT4Options, kLong, {uint32_t(t4Options)});
    if (fillOrder >= 0) b.Set(kTagFillOrder, kShort, {uint32_t(fillOrder)});
    if (predictor >= 0) b.Set(kTagPredictor, predictorType, {uint32_t(predictor)});
    return dir.Write("x.tif", b.Build());
}

struct FaxCase {
    const char* name;
    int compression, t4Options, fillOrder;
    Bytes strip;
    uint16_t bits = 1;  // 2: every bit of the row is still a pixel
};

class FaxScheme : public ::testing::TestWithParam<FaxCase> {};

// Each strip holds the row 0x18 (white 3, black 2, white 3) only when its tags
// reach the decoder as they should.
TEST_P(FaxScheme, TagsReachTheDecoder)
{
    const FaxCase& c = GetParam();
    for (bool big : {false, true}) {
        TempDir dir;
        CTifFile f;
        ASSERT_EQ(f.Open(Build(dir, big, uint16_t(c.compression), c.bits, c.strip, c.t4Options, c.fillOrder).c_str()), 1);
        uint8_t row = 0;
        ASSERT_EQ(f.ReadLine(&row), 1);
        EXPECT_EQ(row, 0x18);
    }
}

INSTANTIATE_TEST_SUITE_P(Fax, FaxScheme, ::testing::Values(
    FaxCase{"G4_T4OptionsIgnored", 4, 1, -1, {0x31, 0xC0, 0x04, 0x00, 0x40}},
    FaxCase{"G4_FillOrder2", 4, -1, 2, {0x8C, 0x03, 0x20, 0x00, 0x02}},
    FaxCase{"MH_FillOrder2", 2, -1, 2, {0x71, 0x00}},
    FaxCase{"MH_FillOrder1", 2, -1, 1, {0x8E, 0x00}},
    FaxCase{"MH_T4OptionsIgnored", 2, 1, -1, {0x8E, 0x00}},
    FaxCase{"G3_T4Options0", 3, 0, -1, {0x00, 0x18, 0xE0}},
    FaxCase{"G3_2D", 3, 1, -1, {0x00, 0x1C, 0x70}},
    FaxCase{"G3_2D_FillOrder2", 3, 5, 2, {0x00, 0x38, 0x0E}},
    FaxCase{"G3_FillBits", 3, 4, -1, {0x00, 0x01, 0x8E, 0x00}},
    FaxCase{"MH_2BitSamples", 2, -1, -1, {0x8E, 0x00}, 2}),
    [](const ::testing::TestParamInfo<FaxCase>& i) { return std::string(i.param.name); });

TEST(GeneralSchemes, UnusablePredictorsFailToOpen)
{
    TempDir dir;
    const Bytes lzw = {0x80, 0x10, 0x60, 0x20};  // any strip: opening stops before it
    CTifFile f;
    EXPECT_EQ(f.Open(Build(dir, false, 5, 8, lzw, -1, -1, kShort, 3).c_str()), 0);  // floating point
    EXPECT_EQ(f.Open(Build(dir, false, 32946, 4, lzw, -1, -1, kShort, 2).c_str()), 0);  // 4-bit samples
    EXPECT_EQ(f.Open(Build(dir, false, 8, 8, lzw, -1, -1, kLong, 0x10002).c_str()), 0);
    // PackBits ignores Predictor: TIFF 6.0 defines it for LZW only.
    const Bytes packbits = {0x07, 1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_EQ(f.Open(Build(dir, false, 32773, 8, packbits, -1, -1, kShort, 2).c_str()), 1);
    Bytes row(8);
    EXPECT_EQ(f.ReadLine(row.data()), 1);
    EXPECT_EQ(row, Bytes(packbits.begin() + 1, packbits.end()));
}

}  // namespace
