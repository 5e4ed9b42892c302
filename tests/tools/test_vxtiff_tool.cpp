// The vxtiff tool's convert and rotate commands, run as a user runs them: the
// built binary on files written by libtiff, its output read back by libtiff.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/tool_run.h"
#include "tif/tif_file.h"

namespace {

using namespace tiftest;

// An image in strips of 8 rows at 200 x 100 dpi.
LibtiffSpec Page(uint32_t w, uint32_t h, uint16_t samples, uint16_t bits, uint16_t photometric)
{
    LibtiffSpec s = tiftest::Shape(w, h, samples, bits, photometric);
    s.xResolution = 200, s.yResolution = 100, s.resolutionUnit = 2;
    return s;
}

// Files in the directory other than those named: what a failed run left behind.
std::vector<std::string> Others(const TempDir& dir, const std::vector<std::string>& known)
{
    std::vector<std::string> found;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
        const std::string name = e.path().filename().string();
        if (std::find(known.begin(), known.end(), name) == known.end())
            found.push_back(name);
    }
    return found;
}

class ToolTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (std::string(VXTIFF_TOOL).empty())
            GTEST_SKIP() << "the tool is not built";
    }
    TempDir dir;
};

// Every output compression and layout, from a bilevel, a palette, a
// big-endian 16-bit and a Deflate + Predictor 2 RGB image (the fax
// compressions from the bilevel one only).
TEST_F(ToolTest, ConvertKeepsPixelsPaletteAndResolution)
{
    LibtiffSpec palette = Page(72, 41, 1, 4, 3);
    for (int i = 0; i < 3 * 16; ++i)
        palette.colorMap.push_back(uint16_t((i * 37 % 256) * 257));
    LibtiffSpec bigEndian16 = Page(40, 20, 1, 16, 1);
    bigEndian16.bigEndian = true;
    LibtiffSpec deflatePred = Page(30, 25, 3, 8, 2);
    deflatePred.compression = 32946, deflatePred.predictor = 2;
    const LibtiffSpec sources[] = {Page(72, 41, 1, 1, 0), palette, bigEndian16, deflatePred};
    const struct { std::vector<std::string> args; int compression, t4Options; bool tiled; } layouts[] = {
        {{}, 0, 0, false},  // the input's compression
        {{"--compression", "none", "--rows-per-strip", "7"}, 1, 0, false},
        {{"--compression", "packbits", "--tile", "32x32"}, 32773, 0, true},
        {{"--compression", "deflate", "--tile", "40x40"}, 32946, 0, true},
        {{"--compression", "lzw", "--rows-per-strip", "3"}, 5, 0, false},
        {{"--compression", "g3"}, 3, 0, false},
        {{"--compression", "g3-2d", "--rows-per-strip", "7"}, 3, 1, false},
        {{"--compression", "g4", "--tile", "32x32"}, 4, 0, true}};
    for (const LibtiffSpec& s : sources) {
        const std::vector<Bytes> rows = Pattern(s);
        const std::string in = dir.Path("in.tif"), out = dir.Path("out.tif");
        ASSERT_TRUE(WriteLibtiff(in, s, rows));
        for (const auto& layout : layouts) {
            if (layout.compression >= 2 && layout.compression <= 4 && s.bits != 1)
                continue;
            std::vector<std::string> args = {"convert", in, out};
            args.insert(args.end(), layout.args.begin(), layout.args.end());
            SCOPED_TRACE(std::to_string(s.samples * s.bits) + "-bit to " + std::to_string(layout.compression));
            const ToolResult r = Tool(dir, args);
            ASSERT_EQ(r.status, 0) << r.err;
            std::vector<Bytes> back;
            std::string complaints;
            ASSERT_TRUE(ReadLibtiffStrict(out, &back, &complaints));
            EXPECT_EQ(complaints, "");
            EXPECT_EQ(back, rows);
            CTifFile f;
            ASSERT_EQ(f.Open(out.c_str()), 1);
            VXIMGINFO info;
            f.GetImgInfo(&info);
            int predictor = 1, t4Options = 0;
            f.GetTagValue(317, &predictor);
            f.GetTagValue(292, &t4Options);
            EXPECT_EQ(info.bTiled, layout.tiled);
            EXPECT_EQ(info.dXResolution, 200.0);
            EXPECT_EQ(info.dYResolution, 100.0);
            EXPECT_EQ(info.nCompression, layout.compression ? layout.compression : s.compression);
            EXPECT_EQ(t4Options, layout.t4Options);
            // The input's predictor stays while the output takes one.
            EXPECT_EQ(predictor, info.nCompression == 32946 || info.nCompression == 5 ? s.predictor : 1);
            if (s.photometric == 3) {
                ASSERT_EQ(f.m_nColors, 16);
                std::vector<uint16_t> map(f.m_pRedMap, f.m_pRedMap + 16);
                map.insert(map.end(), f.m_pGreenMap, f.m_pGreenMap + 16);
                map.insert(map.end(), f.m_pBlueMap, f.m_pBlueMap + 16);
                EXPECT_EQ(map, s.colorMap);
            }
        }
    }
    EXPECT_EQ(Others(dir, {"in.tif", "out.tif"}), std::vector<std::string>{});
}

// The image turned pixel by pixel from its rows: R90 line L is column L bottom up.
std::vector<Bytes> Turned(const std::vector<Bytes>& rows, const LibtiffSpec& s, bool r90)
{
    const int bytes = s.bits / 8;
    std::vector<Bytes> out(s.width, Bytes(bytes ? s.height * bytes : (s.height + 7) / 8, 0));
    for (uint32_t line = 0; line < s.width; ++line) {
        const uint32_t c = r90 ? line : s.width - 1 - line;
        for (uint32_t p = 0; p < s.height; ++p) {
            const Bytes& row = rows[r90 ? s.height - 1 - p : p];
            if (bytes == 0 && (row[c / 8] & (0x80 >> (c % 8))))
                out[line][p / 8] |= 0x80 >> (p % 8);
            for (int i = 0; i < bytes; ++i)
                out[line][p * bytes + i] = row[c * bytes + i];
        }
    }
    return out;
}

TEST_F(ToolTest, RotateMatchesRotationOfPlainRows)
{
    LibtiffSpec tiled = Page(70, 45, 1, 1, 0);
    tiled.tileWidth = 32, tiled.tileLength = 16;
    const LibtiffSpec sources[] = {Page(61, 37, 1, 1, 0), tiled, Page(23, 19, 1, 8, 1)};
    for (const LibtiffSpec& s : sources) {
        const std::vector<Bytes> rows = Pattern(s);
        const std::string in = dir.Path("in.tif"), out = dir.Path("out.tif");
        ASSERT_TRUE(WriteLibtiff(in, s, rows));
        for (const char* angle : {"90", "270"}) {
            SCOPED_TRACE(std::to_string(s.bits) + "-bit " + (s.tileWidth ? "tiled " : "") + angle);
            const ToolResult r = Tool(dir, {"rotate", in, out, angle, "--compression", "packbits"});
            ASSERT_EQ(r.status, 0) << r.err;
            std::vector<Bytes> back;
            ASSERT_TRUE(ReadLibtiff(out, &back));
            EXPECT_EQ(back, Turned(rows, s, angle[0] == '9'));
            CTifFile f;
            ASSERT_EQ(f.Open(out.c_str()), 1);
            VXIMGINFO info;
            f.GetImgInfo(&info);
            EXPECT_EQ(info.nWidth, int(s.height));
            EXPECT_EQ(info.dXResolution, 100.0);  // the resolutions turn with the image
            EXPECT_EQ(info.dYResolution, 200.0);
            EXPECT_EQ(info.bTiled, s.tileWidth != 0);
        }
    }
}

TEST_F(ToolTest, FailuresLeaveNoOutputAndKeepAnExistingOne)
{
    const LibtiffSpec s = Page(16, 8, 1, 8, 1);
    const std::string in = dir.Path("in.tif"), out = dir.Path("out.tif");
    ASSERT_TRUE(WriteLibtiff(in, s, Pattern(s)));
    const Bytes inBytes = ReadFileBytes(in);
    dir.Write("text.tif", {'h', 'e', 'l', 'l', 'o'});
    std::filesystem::create_symlink(in, dir.Path("link.tif"));

    // Bad arguments: status 2, nothing made.
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"convert", in}, {"convert", in, out, "--compression", "jpeg"}, {"convert", in, out, "--predictor", "3"},
             {"convert", in, out, "--tile", "0x32"}, {"convert", in, out, "--tile", "32x32", "--rows-per-strip", "4"},
             {"convert", in, out, "--bogus"}, {"convert", in, out, "--compression", "none", "--predictor", "2"},
             {"rotate", in, out}, {"rotate", in, out, "45"}}) {
        const ToolResult r = Tool(dir, args);
        EXPECT_EQ(r.status, 2) << args.back();
        EXPECT_NE(r.err.find("vxtiff: "), std::string::npos);
        EXPECT_FALSE(std::filesystem::exists(out)) << args.back();
    }
    // Failures of the run: status 1, one line; an existing OUT stays as it was.
    const Bytes old = {'o', 'l', 'd'};
    dir.Write("out.tif", old);
    struct Case {
        std::vector<std::string> args;
        const char* says;
        int status = 1;
    };
    const Case cases[] = {
        {{"convert", dir.Path("missing.tif"), out}, "no such file"},
        {{"convert", dir.Path("text.tif"), out}, "cannot open: not a TIFF file"},
        {{"rotate", in, in, "90"}, "same file"},
        {{"convert", dir.Path("link.tif"), in}, "same file"},
        {{"convert", in, dir.Path("no/such/dir/out.tif")}, "cannot create", 4},
        {{"convert", in, out, "--compression", "g4"}, "bilevel"},
    };
    for (const Case& c : cases) {
        const ToolResult r = Tool(dir, c.args);
        EXPECT_EQ(r.status, c.status) << c.says;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(ReadFileBytes(out), old);
        EXPECT_EQ(ReadFileBytes(in), inBytes);
    }
    // Garbage in the last strip: a run that decodes fails part way (convert
    // without a compression would copy the strips as they are).
    LibtiffSpec big = Page(64, 64, 1, 8, 1);
    big.compression = 32946;
    ASSERT_TRUE(WriteLibtiff(dir.Path("cut.tif"), big, Pattern(big)));
    Bytes bytes = ReadFileBytes(dir.Path("cut.tif"));
    {
        CTifFile f;
        ASSERT_EQ(f.Open(dir.Path("cut.tif").c_str()), 1);
        const uint32_t last = uint32_t(f.m_nStrips - 1);
        std::fill_n(bytes.begin() + f.m_pStripOffsets[last], f.m_pStripByteCounts[last], 0xFF);
    }
    dir.Write("cut.tif", bytes);
    for (const char* cmd : {"convert", "rotate"}) {
        std::vector<std::string> args = {cmd, dir.Path("cut.tif"), out};
        args.push_back(cmd[0] == 'r' ? "270" : "--compression=lzw");
        const ToolResult r = Tool(dir, args);
        EXPECT_EQ(r.status, 1) << cmd;
        EXPECT_NE(r.err.find("damaged"), std::string::npos) << r.err;
        EXPECT_EQ(ReadFileBytes(out), old);
    }
    EXPECT_EQ(Others(dir, {"in.tif", "out.tif", "text.tif", "link.tif", "cut.tif"}), std::vector<std::string>{});
}

}  // namespace
