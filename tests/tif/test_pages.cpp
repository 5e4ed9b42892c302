// Multi-page files: counting pages and opening page N, on files written by
// libtiff and on hostile chains of next-directory offsets.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/libtiff_util.h"
#include "support/temp_dir.h"
#include "support/tif_builder.h"
#include "tif/tif_file.h"

namespace {

using namespace tiftest;

std::vector<Bytes> ReadAll(CTifFile& f)
{
    VXIMGINFO info;
    f.GetImgInfo(&info);
    std::vector<Bytes> rows;
    for (int y = 0; y < info.nHeight; ++y) {
        Bytes row(size_t(f.m_nRowBytes) + 64);
        EXPECT_EQ(f.ReadLine(row.data()), 1) << y;
        row.resize(size_t(f.m_nRowBytes));
        rows.push_back(row);
    }
    return rows;
}

std::vector<Bytes> Rows(const LibtiffPage& s, uint32_t seed)
{
    const Bytes all = PatternRows(s.RowBytes(), s.height, seed);
    std::vector<Bytes> rows;
    for (uint32_t y = 0; y < s.height; ++y)
        rows.emplace_back(all.begin() + y * s.RowBytes(), all.begin() + (y + 1) * s.RowBytes());
    return rows;
}

class LibtiffPages : public ::testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(ByteOrder, LibtiffPages, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "MM" : "II"; });

// Three pages of different kinds: a G4 fax page, LZW grey tiles, PackBits RGB.
TEST_P(LibtiffPages, CountAndOpenEach)
{
    std::vector<LibtiffPage> pages(3);
    pages[0].width = 200, pages[0].height = 30, pages[0].bits = 1, pages[0].photometric = 0, pages[0].compression = 4;
    pages[1].width = 40, pages[1].height = 33, pages[1].compression = 5, pages[1].tileWidth = 16, pages[1].tileLength = 16;
    pages[2].width = 9, pages[2].height = 5, pages[2].samples = 3, pages[2].photometric = 2, pages[2].compression = 32773;
    std::vector<std::vector<Bytes>> rows;
    for (auto& p : pages) {
        p.bigEndian = GetParam();
        rows.push_back(Rows(p, uint32_t(rows.size()) + 1));
    }
    TempDir dir;
    const std::string path = dir.Path("pages.tif");
    ASSERT_TRUE(WriteLibtiffPages(path, pages, rows));

    EXPECT_EQ(CTifFile::CountPages(path.c_str()), 3);
    EXPECT_EQ(CTifFile::GetLastFailure(), VXTIFF_FAIL_NONE);
    for (int i = 0; i < 3; ++i) {
        CTifFile f;
        ASSERT_EQ(f.OpenPage(path.c_str(), i), 1) << i << ": " << CTifFile::GetLastFailureText();
        VXIMGINFO info;
        f.GetImgInfo(&info);
        EXPECT_EQ(info.nWidth, int(pages[i].width));
        EXPECT_EQ(info.nCompression, pages[i].compression);
        EXPECT_EQ(info.bTiled, pages[i].tileWidth != 0);
        EXPECT_EQ(ReadAll(f), rows[i]) << i;
    }
    // Page by page on one object, read halfway or not at all before moving on.
    CTifFile walk;
    EXPECT_EQ(walk.NextPage(), 0) << "nothing open";
    ASSERT_EQ(walk.Open(path.c_str()), 1);
    for (int i = 1; i < 3; ++i) {
        Bytes row(512);
        ASSERT_EQ(walk.ReadLine(row.data()), 1);
        ASSERT_EQ(walk.NextPage(), 1) << i << ": " << CTifFile::GetLastFailureText();
        EXPECT_EQ(ReadAll(walk), rows[i]) << i;
    }
    EXPECT_EQ(walk.NextPage(), 0);
    EXPECT_EQ(CTifFile::GetLastFailure(), VXTIFF_FAIL_NO_PAGE);
    EXPECT_EQ(walk.m_pStream, nullptr);
    // Page 0 is what Open gives, field for field.
    CTifFile a, b;
    ASSERT_EQ(a.Open(path.c_str()), 1);
    ASSERT_EQ(b.OpenPage(path.c_str(), 0), 1);
    VXIMGINFO ia, ib;
    a.GetImgInfo(&ia);
    b.GetImgInfo(&ib);
    EXPECT_EQ(std::memcmp(&ia, &ib, sizeof ia), 0);
    EXPECT_EQ(ReadAll(a), ReadAll(b));

    for (int bad : {3, 4, -1, TIF_MAX_PAGES, 0x7FFFFFFF, int(0x80000000)}) {
        CTifFile f;
        EXPECT_EQ(f.OpenPage(path.c_str(), bad), 0) << bad;
        EXPECT_EQ(CTifFile::GetLastFailure(), VXTIFF_FAIL_NO_PAGE) << bad;
        EXPECT_EQ(f.m_pStream, nullptr);
    }
}

// A one-page file and where its next-directory offset sits.
struct Chain {
    Bytes bytes;
    uint32_t ifd;
    size_t IfdBytes() const { return 2 + 12 * size_t(bytes[ifd] | bytes[ifd + 1] << 8) + 4; }
    size_t Next(uint32_t at) const { return at + 2 + 12 * size_t(bytes[at] | bytes[at + 1] << 8); }
    void SetNext(uint32_t at, uint32_t next)
    {
        for (int k = 0; k < 4; ++k)
            bytes[Next(at) + k] = uint8_t(next >> (8 * k));
    }
    // Appends a copy of the first directory (its values are shared) at an
    // offset of the given parity; returns that offset.
    uint32_t AppendCopy(bool odd)
    {
        if ((bytes.size() % 2 == 1) != odd)
            bytes.push_back(0);
        const auto at = uint32_t(bytes.size());
        const Bytes copy(bytes.begin() + ifd, bytes.begin() + ifd + IfdBytes());
        bytes.insert(bytes.end(), copy.begin(), copy.end());
        SetNext(at, 0);
        return at;
    }
};

Chain OnePage()
{
    Chain c;
    c.bytes = TiffBuilder().StripImage({16, 10, 1, 8, kMinIsBlack, 4}, PatternRows(16, 10)).Build();
    c.ifd = uint32_t(c.bytes[4] | c.bytes[5] << 8 | c.bytes[6] << 16 | c.bytes[7] << 24);
    return c;
}

struct HostileChain {
    const char* name;
    void (*edit)(Chain&);
    int pages;  // counted; each opens as the first page
};

const HostileChain kChains[] = {
    {"End", [](Chain&) {}, 1},
    {"LoopToItself", [](Chain& c) { c.SetNext(c.ifd, c.ifd); }, 1},
    {"PastTheEnd", [](Chain& c) { c.SetNext(c.ifd, uint32_t(c.bytes.size()) + 100); }, 1},
    {"AllOnes", [](Chain& c) { c.SetNext(c.ifd, 0xFFFFFFFF); }, 1},
    {"IntoTheLastByte", [](Chain& c) { c.SetNext(c.ifd, uint32_t(c.bytes.size()) - 1); }, 1},
    {"NextCutByTheEnd", [](Chain& c) {
         const uint32_t at = c.AppendCopy(false);
         c.SetNext(c.ifd, at);
         c.bytes.resize(c.bytes.size() - 2); }, 1},
    {"ToAnEmptyDirectory", [](Chain& c) {
         c.bytes.insert(c.bytes.end(), {0, 0, 0, 0, 0, 0});
         c.SetNext(c.ifd, uint32_t(c.bytes.size()) - 6); }, 1},
    {"OddOffset", [](Chain& c) { c.SetNext(c.ifd, c.AppendCopy(true)); }, 2},
    {"EvenOffset", [](Chain& c) { c.SetNext(c.ifd, c.AppendCopy(false)); }, 2},
    {"LoopOfTwo", [](Chain& c) {
         const uint32_t at = c.AppendCopy(true);
         c.SetNext(c.ifd, at);
         c.SetNext(at, c.ifd); }, 2},
    {"LoopOfThreeBackToTheSecond", [](Chain& c) {
         const uint32_t b = c.AppendCopy(false), d = c.AppendCopy(true);
         c.SetNext(c.ifd, b);
         c.SetNext(b, d);
         c.SetNext(d, b); }, 3},
};

class PageChains : public ::testing::TestWithParam<HostileChain> {};
INSTANTIATE_TEST_SUITE_P(Hostile, PageChains, ::testing::ValuesIn(kChains),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(PageChains, CountEndsAndCountedPagesOpen)
{
    Chain c = OnePage();
    GetParam().edit(c);
    TempDir dir;
    const std::string path = dir.Write("chain.tif", c.bytes);
    const int pages = GetParam().pages;
    EXPECT_EQ(CTifFile::CountPages(path.c_str()), pages);
    CTifFile first;
    ASSERT_EQ(first.Open(path.c_str()), 1);
    const std::vector<Bytes> want = ReadAll(first);
    CTifFile walk;  // the same pages, one move each
    ASSERT_EQ(walk.Open(path.c_str()), 1);
    for (int i = 0; i < pages; ++i) {
        CTifFile f;
        ASSERT_EQ(f.OpenPage(path.c_str(), i), 1) << i;
        EXPECT_EQ(ReadAll(f), want) << i;
        ASSERT_TRUE(i == 0 || walk.NextPage() == 1) << i;
        EXPECT_EQ(ReadAll(walk), want) << i;
    }
    CTifFile f;
    EXPECT_EQ(f.OpenPage(path.c_str(), pages), 0);
    EXPECT_EQ(CTifFile::GetLastFailure(), VXTIFF_FAIL_NO_PAGE);
}

// A chain longer than the bound: the count stops there, the last counted
// page still opens and the one after does not.
TEST(Pages, LongChainIsBounded)
{
    Chain c = OnePage();
    const Bytes dirBytes(c.bytes.begin() + c.ifd, c.bytes.begin() + c.ifd + c.IfdBytes());
    uint32_t last = c.ifd;
    for (int i = 0; i < TIF_MAX_PAGES + 10; ++i) {
        const auto at = uint32_t(c.bytes.size());
        c.bytes.insert(c.bytes.end(), dirBytes.begin(), dirBytes.end());
        c.SetNext(last, at);
        c.SetNext(at, 0);
        last = at;
    }
    TempDir dir;
    const std::string path = dir.Write("long.tif", c.bytes);
    EXPECT_EQ(CTifFile::CountPages(path.c_str()), TIF_MAX_PAGES);
    CTifFile f;
    EXPECT_EQ(f.OpenPage(path.c_str(), TIF_MAX_PAGES - 1), 1);
    CTifFile g;
    EXPECT_EQ(g.OpenPage(path.c_str(), TIF_MAX_PAGES), 0);
    EXPECT_EQ(CTifFile::GetLastFailure(), VXTIFF_FAIL_NO_PAGE);
}

TEST(Pages, CountBadPathsAndFiles)
{
    TempDir dir;
    const struct {
        std::string path;
        int failure;
    } kBad[] = {
        {dir.Path("missing.tif"), VXTIFF_FAIL_NO_FILE},
        {dir.path(), VXTIFF_FAIL_NOT_A_FILE},
        {dir.Write("empty.tif", {}), VXTIFF_FAIL_NOT_TIFF},
        {dir.Write("big.tif", {'I', 'I', 43, 0, 4, 0, 0, 0}), VXTIFF_FAIL_BIGTIFF},
        {dir.Write("bigcut.tif", {'I', 'I', 43, 0, 8, 0, 0, 0}), VXTIFF_FAIL_CUT_SHORT},
        {dir.Write("past.tif", {'I', 'I', 42, 0, 0, 1, 0, 0}), VXTIFF_FAIL_CUT_SHORT},
        {dir.Write("zero.tif", {'I', 'I', 42, 0, 0, 0, 0, 0}), VXTIFF_FAIL_DAMAGED},
        {dir.Write("none.tif", {'I', 'I', 42, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0}), VXTIFF_FAIL_DAMAGED},
        {dir.Write("cut.tif", {'M', 'M', 0, 42, 0, 0, 0, 8, 0, 3, 1, 0}), VXTIFF_FAIL_CUT_SHORT},
    };
    for (const auto& b : kBad) {
        EXPECT_EQ(CTifFile::CountPages(b.path.c_str()), 0) << b.path;
        EXPECT_EQ(CTifFile::GetLastFailure(), b.failure) << b.path;
    }
    EXPECT_EQ(CTifFile::CountPages(nullptr), 0);
    EXPECT_EQ(CTifFile::GetLastFailure(), VXTIFF_FAIL_ARGUMENT);
    CTifFile f;
    EXPECT_EQ(f.OpenPage(nullptr, 1), 0);
    EXPECT_EQ(CTifFile::GetLastFailure(), VXTIFF_FAIL_ARGUMENT);
    EXPECT_EQ(f.OpenPage(dir.Path("missing.tif").c_str(), 1), 0);
    EXPECT_EQ(CTifFile::GetLastFailure(), VXTIFF_FAIL_NO_FILE);
}

}  // namespace
