// The tool run as a separate process on inputs made without libtiff, so that
// it runs on Windows too: text output, binary standard output, replacing an
// existing output, the temporary file of a failed or refused write, pages
// and batches on several threads.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "io/tif_stream.h"
#include "support/run_program.h"
#include "support/temp_dir.h"
#include "support/tif_builder.h"
#include "tif/tif_file.h"

#ifndef VXTIFF_TOOL
#define VXTIFF_TOOL ""
#endif

namespace {

using namespace tiftest;

class ToolProcess : public ::testing::Test {
protected:
    void SetUp() override
    {
        tool_ = ToolPath(VXTIFF_TOOL);
        if (tool_.empty())
            GTEST_SKIP() << "the tool is not built";
        // Bilevel, 200 dpi; rows of 0x0A (LF) bytes and of their inverse, one
        // of which a BMP holds and a text-mode stream would expand.
        pixels_ = PatternRows(8, 40);
        std::fill(pixels_.begin(), pixels_.begin() + 16, 0x0A);
        std::fill(pixels_.begin() + 16, pixels_.begin() + 32, 0xF5);
        TiffBuilder b;
        b.StripImage({64, 40, 1, 1, kMinIsWhite, 8}, pixels_);
        b.Set(kTagXResolution, kRational, {200, 1}).Set(kTagYResolution, kRational, {200, 1});
        in_ = dir_.Write("in.tif", b.Build());
    }
    ProgramResult Run(const std::vector<std::string>& args) { return RunProgram(tool_, args, dir_); }

    // Files in the directory whose name says they are a write in progress.
    int PartFiles() const
    {
        int n = 0;
        for (const auto& e : std::filesystem::directory_iterator(dir_.path()))
            n += e.path().filename().string().find(".part") != std::string::npos ? 1 : 0;
        return n;
    }
    Bytes Rows(const std::string& path)
    {
        CTifFile f;
        if (!f.Open(path.c_str()))
            return {};
        Bytes rows(pixels_.size(), 0);
        return f.ReadLines(rows.data(), 40) == 40 ? rows : Bytes{};
    }

    TempDir dir_;
    std::string tool_, in_;
    Bytes pixels_;
};

TEST_F(ToolProcess, InfoAndBmpToFileAndToStandardOutput)
{
    const ProgramResult info = Run({"info", in_});
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("64 x 40 pixels"), std::string::npos) << info.out;

    const std::string bmp = dir_.Path("out.bmp");
    const ProgramResult toFile = Run({"tobmp", in_, bmp, "200"});
    ASSERT_EQ(toFile.status, 0) << toFile.err;
    const Bytes file = ReadFileBytes(bmp);
    ASSERT_GT(file.size(), 62u);
    ASSERT_NE(std::count(file.begin(), file.end(), 0x0A), 0);  // else the next check proves nothing
    const ProgramResult toOut = Run({"tobmp", in_, "-", "200"});
    EXPECT_EQ(toOut.status, 0) << toOut.err;
    EXPECT_EQ(Bytes(toOut.out.begin(), toOut.out.end()), file);
}

// convert writes beside OUT and renames over it: an existing OUT is replaced;
// a failure, or an OUT that another opener holds, leaves OUT as it was and no
// temporary file behind (it must be closed before it can be removed).
TEST_F(ToolProcess, ConvertReplacesOrLeavesOutputWhole)
{
    const std::string out = dir_.Path("out.tif");
    const Bytes old = {'o', 'l', 'd'};
    const std::string text = dir_.Write("text.tif", {'h', 'e', 'l', 'l', 'o'});
    const struct {
        const char* name;
        std::string input;
        bool holdOutput;
        int status;  // -1: 0 or 4, as the system lets an open file be replaced
    } kCases[] = {
        {"over an existing file", in_, false, 0},
        {"unreadable input", text, false, 1},
        {"output held open", in_, true, -1},
    };
    for (const auto& c : kCases) {
        dir_.Write("out.tif", old);
        // Held by a stream that lets others read: a rename over it may fail.
        CTifFileStream holder;
        if (c.holdOutput) {
            ASSERT_EQ(holder.Open(out.c_str(), 0), 1);
        }
        const ProgramResult r = Run({"convert", c.input, out, "--compression", "lzw"});
        if (holder.handle != -1)
            holder.Close();
        if (c.status >= 0) {
            EXPECT_EQ(r.status, c.status) << c.name << ": " << r.err;
        } else {
            EXPECT_TRUE(r.status == 0 || r.status == 4) << c.name << ": " << r.status << " " << r.err;
        }
        if (r.status == 0) {
            EXPECT_EQ(Rows(out), pixels_) << c.name;
        } else {
            EXPECT_EQ(ReadFileBytes(out), old) << c.name;
        }
        EXPECT_EQ(PartFiles(), 0) << c.name;
    }
}

// A batch on two threads, one file unreadable; pages merged, split and
// turned twice back to the start.
TEST_F(ToolProcess, BatchAndPages)
{
    const std::string text = dir_.Write("text.tif", {'h', 'e', 'l', 'l', 'o'});
    const std::string second = dir_.Write("second.tif", ReadFileBytes(in_));
    ProgramResult r = Run({"convert", in_, text, second, "--out-dir", dir_.Path("out"), "-j", "2"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("2 files converted, 1 failed"), std::string::npos) << r.err;
    EXPECT_EQ(Rows(dir_.Path("out/in.tif")), pixels_);
    EXPECT_EQ(Rows(dir_.Path("out/second.tif")), pixels_);

    const std::string both = dir_.Path("both.tif"), turned = dir_.Path("turned.tif");
    ASSERT_EQ(Run({"merge", in_, second, both}).status, 0);
    ASSERT_EQ(Run({"rotate", both, turned, "180"}).status, 0);
    ASSERT_EQ(Run({"rotate", turned, both, "180", "--compression=g4"}).status, 0);
    r = Run({"split", both, dir_.Path("page")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(CTifFile::CountPages(both.c_str()), 2);
    EXPECT_EQ(Rows(dir_.Path("page-002.tif")), pixels_);
    EXPECT_EQ(PartFiles(), 0);
}

}  // namespace
