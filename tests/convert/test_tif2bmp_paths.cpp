// Paths as users spell them: the system's own separators (backslashes on
// Windows), "." and ".." components. The source spelled another way is still
// the source, never overwritten.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "convert/tif2bmp.h"
#include "support/temp_dir.h"
#include "support/tif_builder.h"
#include "tif/tif_file.h"

namespace {

using namespace tiftest;

std::string Native(const std::string& path) { return std::filesystem::path(path).make_preferred().string(); }

TEST(Tif2BmpPaths, SpellingsOfOneFile)
{
    TempDir dir;
    std::filesystem::create_directory(dir.Path("sub"));
    TiffBuilder b;
    b.StripImage({32, 16, 1, 1, kMinIsWhite, 8}, PatternRows(4, 16));
    b.Set(kTagXResolution, kRational, {200, 1});
    const Bytes source = b.Build();
    const std::string tif = dir.Write("page.tif", source);
    const struct {
        std::string out;
        int result;
    } kCases[] = {
        {Native(tif), VXTIFF2BMP_ERR_CREATE},
        {Native(dir.Path("sub/../page.tif")), VXTIFF2BMP_ERR_CREATE},
        {dir.Path("./page.tif"), VXTIFF2BMP_ERR_CREATE},
        {Native(dir.Path("sub/page.bmp")), VXTIFF2BMP_OK},
        {Native(dir.Path("sub/./other.bmp")), VXTIFF2BMP_OK},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(VXTiff2Bmp(Native(tif).c_str(), c.out.c_str(), 100), c.result) << c.out;
        EXPECT_EQ(ReadFileBytes(tif), source) << c.out;
        if (c.result == VXTIFF2BMP_OK) {
            EXPECT_EQ(ReadFileBytes(c.out).size(), 62u + 8 * 4) << c.out;  // 16 x 8 pixels, rows of 4 bytes
        }
    }
    CTifFile f;
    EXPECT_EQ(f.Open(Native(dir.Path("sub/../page.tif")).c_str()), 1);
}

}  // namespace
