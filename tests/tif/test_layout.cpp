// The exported image description keeps its binary layout: fourteen 32-bit words.
#include <cstddef>

#include <gtest/gtest.h>

#include "tif/tif_file.h"

static_assert(sizeof(VXIMGINFO) == 56, "VXIMGINFO is 56 bytes");
static_assert(offsetof(VXIMGINFO, nImageType) == 0);
static_assert(offsetof(VXIMGINFO, bTiled) == 4);
static_assert(offsetof(VXIMGINFO, nWidth) == 8);
static_assert(offsetof(VXIMGINFO, nHeight) == 12);
static_assert(offsetof(VXIMGINFO, nSamplesPerPixel) == 16);
static_assert(offsetof(VXIMGINFO, nBitsPerSample) == 20);
static_assert(offsetof(VXIMGINFO, nRowsPerStrip) == 24);
static_assert(offsetof(VXIMGINFO, nCompression) == 28);
static_assert(offsetof(VXIMGINFO, nTileWidth) == 32);
static_assert(offsetof(VXIMGINFO, nTileLength) == 36);
static_assert(offsetof(VXIMGINFO, dXResolution) == 40);
static_assert(offsetof(VXIMGINFO, dYResolution) == 48);
static_assert(sizeof(RGBQUAD) == 4);

TEST(Layout, ImageTypeCodes)
{
    EXPECT_EQ(VXIMG_MINISWHITE, 0);
    EXPECT_EQ(VXIMG_RGB, 1);
    EXPECT_EQ(VXIMG_PALETTE, 2);
    EXPECT_EQ(VXIMG_CMYK, 9);
    EXPECT_EQ(VXIMG_MINISBLACK, 0x4000);
}
