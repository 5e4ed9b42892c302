// test_fax_scheme.cpp — the fax scheme hands T4Options (Compression 3 only)
// and FillOrder (2, 3, 4) from the directory to the decoder.
#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "support/tif_builder.h"
#include "tif/tif_file.h"

namespace {

struct SchemeCase {
    const char* name;
    int compression;
    int t4Options;  // -1: no entry
    int fillOrder;  // -1: no entry
    tiftest::Bytes strip;
};

class FaxScheme : public ::testing::TestWithParam<SchemeCase> {};

// Each strip holds the 8-pixel row 0x18 only when its tags reach the decoder
// as they should.
TEST_P(FaxScheme, TagsReachTheDecoder)
{
    const SchemeCase& c = GetParam();
    for (bool big : {false, true}) {
        tiftest::TiffBuilder b(big);
        const uint32_t at = b.AddData(c.strip);
        b.Add(tiftest::kTagImageWidth, tiftest::kShort, {8})
            .Add(tiftest::kTagImageLength, tiftest::kShort, {1})
            .Add(tiftest::kTagBitsPerSample, tiftest::kShort, {1})
            .Add(tiftest::kTagCompression, tiftest::kShort, {uint32_t(c.compression)})
            .Add(tiftest::kTagPhotometric, tiftest::kShort, {0})
            .Add(tiftest::kTagStripOffsets, tiftest::kLong, {at})
            .Add(tiftest::kTagRowsPerStrip, tiftest::kShort, {1})
            .Add(tiftest::kTagStripByteCounts, tiftest::kLong, {uint32_t(c.strip.size())});
        if (c.t4Options >= 0)
            b.Add(tiftest::kTagT4Options, tiftest::kLong, {uint32_t(c.t4Options)});
        if (c.fillOrder >= 0)
            b.Add(tiftest::kTagFillOrder, tiftest::kShort, {uint32_t(c.fillOrder)});
        tiftest::TempDir dir;
        CTifFile f;
        ASSERT_EQ(f.Open(dir.Write("f.tif", b.Build()).c_str()), 1);
        uint8_t row = 0;
        ASSERT_EQ(f.ReadLine(&row), 1);
        EXPECT_EQ(row, 0x18);
    }
}

INSTANTIATE_TEST_SUITE_P(Fax, FaxScheme, ::testing::Values(
    SchemeCase{"G4_T4OptionsIgnored", 4, 1, -1, {0x31, 0xC0, 0x04, 0x00, 0x40}},
    SchemeCase{"G4_FillOrder2", 4, -1, 2, {0x8C, 0x03, 0x20, 0x00, 0x02}},
    SchemeCase{"MH_FillOrder2", 2, -1, 2, {0x71, 0x00}},
    SchemeCase{"MH_FillOrder1", 2, -1, 1, {0x8E, 0x00}},
    SchemeCase{"MH_T4OptionsIgnored", 2, 1, -1, {0x8E, 0x00}},
    SchemeCase{"G3_T4Options0", 3, 0, -1, {0x00, 0x18, 0xE0}},
    SchemeCase{"G3_2D", 3, 1, -1, {0x00, 0x1C, 0x70}},
    SchemeCase{"G3_2D_FillOrder2", 3, 5, 2, {0x00, 0x38, 0x0E}}),
    [](const ::testing::TestParamInfo<SchemeCase>& i) { return std::string(i.param.name); });

}  // namespace
