// Why Open and Create fail: the reason each path, file and description gives,
// the texts, and that each thread keeps its own.
#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <set>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "io/tif_stream.h"
#include "support/platform.h"
#include "support/temp_dir.h"
#include "support/tif_builder.h"
#include "tif/tif_failure.h"
#include "tif/tif_file.h"

namespace {

using namespace tiftest;

Bytes SoundFile() { return TiffBuilder().StripImage({16, 10, 1, 8, kMinIsBlack, 4}, PatternRows(16, 10)).Build(); }

int OpenFailure(const char* path)
{
    CTifFile f;
    EXPECT_EQ(f.Open(path), 0);
    return CTifFile::GetLastFailure();
}

TEST(OpenFailure, Paths)
{
    TempDir dir;
    EXPECT_EQ(OpenFailure(nullptr), VXTIFF_FAIL_ARGUMENT);
    EXPECT_EQ(OpenFailure(""), VXTIFF_FAIL_NO_FILE);
    EXPECT_EQ(OpenFailure(dir.Path("missing.tif").c_str()), VXTIFF_FAIL_NO_FILE);
    EXPECT_EQ(OpenFailure(dir.Path("missing/x.tif").c_str()), VXTIFF_FAIL_NO_FILE);
    EXPECT_EQ(OpenFailure(dir.path().c_str()), VXTIFF_FAIL_NOT_A_FILE);
    EXPECT_EQ(OpenFailure(NullDevice()), VXTIFF_FAIL_NOT_A_FILE);
    EXPECT_EQ(OpenFailure(dir.Write("a.png", {0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 13}).c_str()),
              VXTIFF_FAIL_NOT_TIFF);
    // A file below the TIFF path: its "directory" is a file.
    const std::string file = dir.Write("x.tif", SoundFile());
    EXPECT_EQ(OpenFailure((file + "/y.tif").c_str()), VXTIFF_FAIL_NO_FILE);
}

TEST(OpenFailure, PermissionDenied)
{
    if (!PermissionsRefuse())
        GTEST_SKIP() << "file permissions do not refuse reading here";
    TempDir dir;
    const std::string path = dir.Write("x.tif", SoundFile());
    ASSERT_EQ(chmod(path.c_str(), 0), 0);
    EXPECT_EQ(OpenFailure(path.c_str()), VXTIFF_FAIL_PERMISSION);
}

TEST(OpenFailure, StreamReasonsMapToFailures)
{
    const struct {
        int stream;
        int open, create;
    } kMap[] = {
        {TIF_STREAM_NOT_FOUND, VXTIFF_FAIL_NO_FILE, VXTIFF_FAIL_CREATE},
        {TIF_STREAM_DENIED, VXTIFF_FAIL_PERMISSION, VXTIFF_FAIL_PERMISSION},
        {TIF_STREAM_NOT_FILE, VXTIFF_FAIL_NOT_A_FILE, VXTIFF_FAIL_NOT_A_FILE},
        {TIF_STREAM_IN_USE, VXTIFF_FAIL_IN_USE, VXTIFF_FAIL_IN_USE},
        {TIF_STREAM_OTHER, VXTIFF_FAIL_NO_FILE, VXTIFF_FAIL_CREATE},
    };
    for (const auto& m : kMap) {
        EXPECT_EQ(TifStreamFailure(m.stream, false), m.open) << m.stream;
        EXPECT_EQ(TifStreamFailure(m.stream, true), m.create) << m.stream;
    }
}

TEST(OpenFailure, InUseAndBusy)
{
    TempDir dir;
    const std::string path = dir.Write("x.tif", SoundFile());
    CTifFile reader;
    ASSERT_EQ(reader.Open(path.c_str()), 1);
    EXPECT_EQ(reader.Open(path.c_str()), 0);
    EXPECT_EQ(CTifFile::GetLastFailure(), VXTIFF_FAIL_BUSY);
    EXPECT_EQ(reader.OpenPage(path.c_str(), 0), 0);
    EXPECT_EQ(CTifFile::GetLastFailure(), VXTIFF_FAIL_BUSY);

    // Readers share a file; a creator refuses them and they refuse it.
    VXIMGINFO info{VXIMG_MINISBLACK, 0, 4, 2, 1, 8, 0, 1, 0, 0, 0.0, 0.0};
    CTifFile writer;
    EXPECT_EQ(writer.Create(path.c_str(), &info), 0);
    EXPECT_EQ(CTifFile::GetLastFailure(), VXTIFF_FAIL_IN_USE);
    reader.Close();
    const std::string made = dir.Path("made.tif");
    ASSERT_EQ(writer.Create(made.c_str(), &info), 1);
    EXPECT_EQ(CTifFile::GetLastFailure(), VXTIFF_FAIL_NONE);
    EXPECT_EQ(OpenFailure(made.c_str()), VXTIFF_FAIL_IN_USE);
    EXPECT_EQ(CTifFile::CountPages(made.c_str()), 0);
    EXPECT_EQ(CTifFile::GetLastFailure(), VXTIFF_FAIL_IN_USE);
    EXPECT_EQ(writer.Create(made.c_str(), &info), 0);
    EXPECT_EQ(CTifFile::GetLastFailure(), VXTIFF_FAIL_BUSY);
}

// Every cut of a sound file fails as cut short, except those too short to
// show a TIFF byte-order mark.
TEST(OpenFailure, EveryTruncationIsDataCutShort)
{
    for (bool big : {false, true}) {
        // Every out-of-line value of this file is needed (strip offsets and counts).
        const Bytes whole = TiffBuilder(big).StripImage({16, 10, 1, 8, kMinIsBlack, 4}, PatternRows(16, 10)).Build();
        // Pages are counted while the directory itself is whole.
        auto get = [&](size_t at, int bytes) {
            uint32_t v = 0;
            for (int k = 0; k < bytes; ++k)
                v |= uint32_t(whole[at + k]) << (big ? 8 * (bytes - 1 - k) : 8 * k);
            return v;
        };
        const uint32_t ifd = get(4, 4);
        const size_t dirEnd = ifd + 2 + 12 * size_t(get(ifd, 2)) + 4;
        TempDir dir;
        for (size_t n = 0; n < whole.size(); ++n) {
            const int want = n < 2 ? VXTIFF_FAIL_NOT_TIFF : VXTIFF_FAIL_CUT_SHORT;
            const std::string path = dir.Write("cut.tif", Bytes(whole.begin(), whole.begin() + n));
            EXPECT_EQ(OpenFailure(path.c_str()), want) << n << (big ? " MM" : " II");
            EXPECT_EQ(CTifFile::CountPages(path.c_str()), n >= dirEnd ? 1 : 0) << n;
        }
    }
}

struct CreateCase {
    const char* name;
    VXIMGINFO info;
    int failure, value;
};

VXIMGINFO Grey(int width, int height)
{
    return VXIMGINFO{VXIMG_MINISBLACK, 0, width, height, 1, 8, 0, 1, 0, 0, 0.0, 0.0};
}

template <class F>
VXIMGINFO Edit(VXIMGINFO info, F f)
{
    f(info);
    return info;
}

TEST(CreateFailure, Descriptions)
{
    const CreateCase kCases[] = {
        {"ImageType3", Edit(Grey(4, 4), [](auto& i) { i.nImageType = 3; }), VXTIFF_FAIL_INVALID, 0},
        {"HeightZero", Grey(4, 0), VXTIFF_FAIL_INVALID, 0},
        {"WidthNegative", Grey(-4, 4), VXTIFF_FAIL_INVALID, 0},
        {"BitsZero", Edit(Grey(4, 4), [](auto& i) { i.nBitsPerSample = 0; }), VXTIFF_FAIL_INVALID, 0},
        {"RowsPerStripNegative", Edit(Grey(4, 4), [](auto& i) { i.nRowsPerStrip = -1; }), VXTIFF_FAIL_INVALID, 0},
        {"Palette32Bits", Edit(Grey(4, 4), [](auto& i) { i.nImageType = VXIMG_PALETTE, i.nBitsPerSample = 32; }),
         VXTIFF_FAIL_INVALID, 0},
        {"ResolutionNaN", Edit(Grey(4, 4), [](auto& i) { i.dXResolution = std::nan(""); }), VXTIFF_FAIL_INVALID, 0},
        {"ResolutionNegative", Edit(Grey(4, 4), [](auto& i) { i.dYResolution = -1.0; }), VXTIFF_FAIL_INVALID, 0},
        {"TileWidthNegative", Edit(Grey(4, 4), [](auto& i) { i.bTiled = 1, i.nTileWidth = -32; }), VXTIFF_FAIL_INVALID, 0},
        {"RowOverLimit", Edit(Grey(0x40000000, 4), [](auto& i) { i.nSamplesPerPixel = 4; }), VXTIFF_FAIL_TOO_LARGE, 0},
        {"Jpeg16Bits", Edit(Grey(4, 4), [](auto& i) { i.nCompression = 7, i.nBitsPerSample = 16; }), VXTIFF_FAIL_NO_ENCODER, 7},
        {"Unknown", Edit(Grey(4, 4), [](auto& i) { i.nCompression = 12345; }), VXTIFF_FAIL_NO_ENCODER, 12345},
        {"G4OnGrey", Edit(Grey(4, 4), [](auto& i) { i.nCompression = 4; }), VXTIFF_FAIL_NO_ENCODER, 4},
    };
    TempDir dir;
    const std::string path = dir.Path("out.tif");
    for (const CreateCase& c : kCases) {
        VXIMGINFO info = c.info;
        CTifFile f;
        EXPECT_EQ(f.Create(path.c_str(), &info), 0) << c.name;
        EXPECT_EQ(CTifFile::GetLastFailure(), c.failure) << c.name << ": " << CTifFile::GetLastFailureText();
        EXPECT_EQ(CTifFile::GetLastFailureValue(), c.value) << c.name;
        EXPECT_FALSE(std::filesystem::exists(path)) << c.name;
    }
}

TEST(CreateFailure, Paths)
{
    TempDir dir;
    VXIMGINFO info = Grey(4, 4);
    CTifFile f;
    const struct {
        const char* path;
        int failure;
    } kPaths[] = {
        {nullptr, VXTIFF_FAIL_ARGUMENT},
        {"", VXTIFF_FAIL_CREATE},
        {NullDevice(), VXTIFF_FAIL_NOT_A_FILE},
    };
    for (const auto& p : kPaths) {
        EXPECT_EQ(f.Create(p.path, &info), 0);
        EXPECT_EQ(CTifFile::GetLastFailure(), p.failure) << (p.path ? p.path : "null");
    }
    EXPECT_EQ(f.Create(dir.Path("x.tif").c_str(), nullptr), 0);
    EXPECT_EQ(CTifFile::GetLastFailure(), VXTIFF_FAIL_ARGUMENT);
    EXPECT_EQ(f.Create(dir.Path("missing/x.tif").c_str(), &info), 0);
    EXPECT_EQ(CTifFile::GetLastFailure(), VXTIFF_FAIL_CREATE);
    EXPECT_EQ(f.Create(dir.path().c_str(), &info), 0);
    EXPECT_EQ(CTifFile::GetLastFailure(), VXTIFF_FAIL_NOT_A_FILE);
    if (PermissionsRefuse()) {
        ASSERT_EQ(chmod(dir.path().c_str(), 0500), 0);
        EXPECT_EQ(f.Create(dir.Path("x.tif").c_str(), &info), 0);
        EXPECT_EQ(CTifFile::GetLastFailure(), VXTIFF_FAIL_PERMISSION);
        chmod(dir.path().c_str(), 0700);
    }
}

TEST(Failure, TextsAreDistinctAndNamed)
{
    std::set<std::string> seen;
    for (int code = VXTIFF_FAIL_NONE; code <= VXTIFF_FAIL_TOO_MANY_PAGES; ++code) {
        const std::string text = CTifFile::GetFailureText(code);
        EXPECT_NE(text, "unknown failure") << code;
        EXPECT_TRUE(seen.insert(text).second) << text;
    }
    EXPECT_STREQ(CTifFile::GetFailureText(-1), "unknown failure");
    EXPECT_STREQ(CTifFile::GetFailureText(VXTIFF_FAIL_TOO_MANY_PAGES + 1), "unknown failure");
    EXPECT_STREQ(CTifFile::GetFailureText(VXTIFF_FAIL_BIGTIFF), "BigTIFF variant not supported");
    EXPECT_STREQ(CTifFile::GetFailureText(VXTIFF_FAIL_PLANAR), "separate planes (not supported)");
}

TEST(Failure, LastTextCarriesTheValue)
{
    const struct {
        int failure, value;
        const char* text;
    } kTexts[] = {
        {VXTIFF_FAIL_COMPRESSION, 7, "compression 7 (JPEG) not supported"},
        {VXTIFF_FAIL_COMPRESSION, 12345, "compression 12345 not supported"},
        {VXTIFF_FAIL_COMPRESSION, 0, "compression 0 (none given) not supported"},
        {VXTIFF_FAIL_PREDICTOR, 3, "predictor 3 not supported"},
        {VXTIFF_FAIL_PHOTOMETRIC, 8, "photometric interpretation 8 not supported"},
        {VXTIFF_FAIL_NO_ENCODER, 4, "no encoder for compression 4 and this image"},
        {VXTIFF_FAIL_NO_FILE, 0, "no such file"},
        {VXTIFF_FAIL_NONE, 0, "no failure"},
    };
    for (const auto& t : kTexts) {
        TifFail(t.failure, t.value);
        EXPECT_STREQ(CTifFile::GetLastFailureText(), t.text);
    }
}

TEST(Failure, EachThreadKeepsItsOwn)
{
    TempDir dir;
    EXPECT_EQ(OpenFailure(dir.Path("missing.tif").c_str()), VXTIFF_FAIL_NO_FILE);
    int other = -1;
    std::thread t([&] {
        other = CTifFile::GetLastFailure();  // nothing failed on this thread yet
        OpenFailure(dir.path().c_str());
    });
    t.join();
    EXPECT_EQ(other, VXTIFF_FAIL_NONE);
    EXPECT_EQ(CTifFile::GetLastFailure(), VXTIFF_FAIL_NO_FILE);
}

}  // namespace
