// vxtiff topdf run as a user runs it: page order over several inputs and
// --page, --dpi for pages without a resolution, exit statuses, OUT left as it
// was on failure, and the bundled page's size beside tiff2pdf's.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../../fuzz/pdf_check.h"
#include "support/run_program.h"
#include "support/tool_run.h"

namespace {

using namespace tiftest;

bool Installed(const std::string& program)
{
    return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class TopdfTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (std::string(VXTIFF_TOOL).empty())
            GTEST_SKIP() << "the tool is not built";
        if (!Installed("pdfinfo") || !Installed("qpdf"))
            GTEST_SKIP() << "pdfinfo or qpdf is not installed";
    }
    // "W x H" of every page, in order, as pdfinfo gives them.
    std::string Sizes(const std::string& pdf)
    {
        const ProgramResult r = RunProgram("pdfinfo", {"-f", "1", "-l", "99", pdf}, dir);
        std::string sizes;
        for (size_t at = r.out.find(" size: "); at != std::string::npos; at = r.out.find(" size: ", at + 1)) {
            const size_t from = r.out.find_first_not_of(' ', at + 6), to = r.out.find(" pts", from);
            if (r.out.compare(r.out.rfind('\n', at) + 1, 5, "Page ") == 0)
                sizes += r.out.substr(from, to - from) + ";";
        }
        return sizes;
    }
    bool Clean(const std::string& pdf)
    {
        return RunProgram("qpdf", {"--check", pdf}, dir).status == 0 &&
               pdfcheck::StructureProblem(ReadFileBytes(pdf)).empty();
    }
    TempDir dir;
};

LibtiffPage Page(uint32_t w, uint32_t h, float dpi)
{
    LibtiffPage s = Shape(w, h, 1, 1, 0);
    s.compression = 4, s.xResolution = s.yResolution = dpi, s.resolutionUnit = dpi > 0 ? 2 : 0;
    return s;
}

TEST_F(TopdfTest, PagesOfSeveralInputsInOrder)
{
    const std::string a = dir.Path("a.tif"), b = dir.Path("b.tif"), out = dir.Path("out.pdf");
    const LibtiffPage a1 = Page(144, 72, 72), a2 = Page(288, 72, 144), b1 = Page(100, 50, 0);
    ASSERT_TRUE(WriteLibtiffPages(a, {a1, a2}, {Pattern(a1), Pattern(a2)}));
    ASSERT_TRUE(WriteLibtiff(b, b1, Pattern(b1)));
    ToolResult r = Tool(dir, {"topdf", a, b, out});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Sizes(out), "144 x 72;144 x 36;36 x 18;");  // b has no resolution: 200 dpi
    EXPECT_TRUE(Clean(out));
    r = Tool(dir, {"topdf", a, b, out, "--page", "1", "--dpi", "50x100", "--title", "Two"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Sizes(out), "144 x 72;144 x 36;");
    EXPECT_TRUE(Has(RunProgram("pdfinfo", {out}, dir).out, "Title:           Two\n"));
    EXPECT_EQ(Tool(dir, {"topdf", a, out, "--page", "2"}).status, 0);
    EXPECT_EQ(Sizes(out), "144 x 36;");
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"topdf", a}, {"topdf", a, out, "--dpi", "0"}, {"topdf", a, out, "--dpi", "100y"}})
        EXPECT_EQ(Tool(dir, bad).status, 2);
}

TEST_F(TopdfTest, PagesThatCannotBeConvertedAndDamagedData)
{
    const std::string mixed = dir.Path("mixed.tif"), out = dir.Path("out.pdf");
    const LibtiffPage good = Page(64, 32, 100), odd = Shape(16, 8, 1, 12, 1);
    ASSERT_TRUE(WriteLibtiffPages(mixed, {good, odd}, {Pattern(good), Pattern(odd)}));
    dir.Write("out.pdf", Bytes{'o', 'l', 'd'});
    ToolResult r = Tool(dir, {"topdf", mixed, out, "--strict"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "page 2: skipped: 12-bit samples")) << r.err;
    EXPECT_EQ(ReadFileBytes(out), (Bytes{'o', 'l', 'd'}));
    r = Tool(dir, {"topdf", mixed, out});
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_EQ(Sizes(out), "46.08 x 23.04;");
    EXPECT_TRUE(Clean(out));
    // A Group 4 page whose strips run past the end of the file keeps its height
    // (64 x 8 at 300 dpi), with topng's one warning; --strict refuses it.
    const std::string cut = std::string(VXTIFF_TEST_DATA) + "/crashers/fuzz_open-g4-strip-past-end-of-file";
    const std::string png = Tool(dir, {"topng", cut, dir.Path("cut.png")}).err;
    r = Tool(dir, {"topdf", cut, out});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, "vxtiff: " + cut + " -> " + out + png.substr(std::min(png.size(), png.find(": warning: "))));
    EXPECT_EQ(Sizes(out), "15.36 x 1.92;");
    EXPECT_TRUE(Clean(out));
    const Bytes salvaged = ReadFileBytes(out);
    EXPECT_EQ(Tool(dir, {"topdf", cut, out, "--strict"}).status, 1);
    EXPECT_EQ(ReadFileBytes(out), salvaged);
    EXPECT_EQ(Tool(dir, {"topdf", dir.Write("no.tif", Bytes(64, 'x')), out}).status, 1);
    EXPECT_EQ(Tool(dir, {"topdf", mixed, dir.Path("no/such/dir.pdf")}).status, 4);
}

TEST_F(TopdfTest, BundledPageNoLargerThanTiff2pdfs)
{
    if (!Installed("tiff2pdf"))
        GTEST_SKIP() << "tiff2pdf is not installed";
    const std::string sample = std::string(VXTIFF_TEST_DATA) + "/../../samples/page-g4.tif";
    const std::string ours = dir.Path("ours.pdf"), theirs = dir.Path("theirs.pdf");
    ASSERT_EQ(Tool(dir, {"topdf", sample, ours}).status, 0);
    ASSERT_EQ(RunProgram("tiff2pdf", {"-o", theirs, sample}, dir).status, 0);
    EXPECT_TRUE(Clean(ours));
    EXPECT_LE(std::filesystem::file_size(ours), std::filesystem::file_size(theirs));
}

}  // namespace
