// Reading lines from strips and tiles: line by line, in chunks across strip and
// tile-row boundaries, after seeks in every direction, at caller strides, and
// at the ends of damaged strips.
#include <algorithm>
#include <cstring>

#include <gtest/gtest.h>

#include "codec/tif_codec.h"
#include "support/temp_dir.h"
#include "support/tif_builder.h"
#include "tif/tif_file.h"

namespace {

using namespace tiftest;

// One image layout under test; `tileWidth` 0 means strips of `rowsPerStrip` rows.
struct Layout {
    const char* name;
    ImageSpec spec;
    uint32_t tileWidth, tileLength;
};

const Layout kLayouts[] = {
    {"Strips1", {23, 10, 1, 8, kMinIsBlack, 1}, 0, 0},
    {"Strips4", {23, 10, 1, 8, kMinIsBlack, 4}, 0, 0},  // last strip partial
    {"OneStrip", {23, 10, 3, 8, kRgb, 0}, 0, 0},
    {"Bilevel", {70, 13, 1, 1, kMinIsWhite, 5}, 0, 0},
    {"TilesPartial", {40, 20, 1, 8, kMinIsBlack, 0}, 16, 16},  // 3 × 2 tiles, edges cut
    {"TilesLow", {40, 20, 1, 8, kMinIsBlack, 0}, 16, 8},       // 3 tile rows
    {"TilesExact", {32, 32, 2, 8, kMinIsBlack, 0}, 16, 16},    // 2 × 2 whole tiles
    {"TilesBilevel", {50, 17, 1, 1, kMinIsWhite, 0}, 16, 16},
};

class Read : public ::testing::TestWithParam<std::tuple<Layout, bool>> {
protected:
    void SetUp() override
    {
        const auto& [layout, big] = GetParam();
        spec_ = layout.spec;
        rowBytes_ = spec_.RowBytes();
        pixels_ = PatternRows(rowBytes_, spec_.height);
        TiffBuilder b(big);
        if (layout.tileWidth)
            b.TileImage(spec_, layout.tileWidth, layout.tileLength, pixels_, 0xAB);
        else
            b.StripImage(spec_, pixels_);
        path_ = dir_.Write("r.tif", b.Build());
        ASSERT_EQ(file_.Open(path_.c_str()), 1);
        ASSERT_EQ(file_.m_nRowBytes, int(rowBytes_));
    }
    Bytes Row(uint32_t y) const
    {
        return Bytes(pixels_.begin() + y * rowBytes_, pixels_.begin() + (y + 1) * rowBytes_);
    }
    Bytes ReadOne()
    {
        Bytes row(rowBytes_ + 16, 0xEE);
        if (file_.ReadLine(row.data()) != 1)
            return {};
        EXPECT_TRUE(std::all_of(row.begin() + rowBytes_, row.end(), [](uint8_t v) { return v == 0xEE; }))
            << "wrote past the row";
        row.resize(rowBytes_);
        return row;
    }
    bool tiled() const { return std::get<0>(GetParam()).tileWidth != 0; }

    TempDir dir_;
    std::string path_;
    CTifFile file_;
    ImageSpec spec_{};
    uint32_t rowBytes_ = 0;
    Bytes pixels_;
};

INSTANTIATE_TEST_SUITE_P(Layouts, Read, ::testing::Combine(::testing::ValuesIn(kLayouts), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "_MM" : "_II");
                         });

TEST_P(Read, LineByLineThenNothing)
{
    for (uint32_t y = 0; y < spec_.height; ++y)
        ASSERT_EQ(ReadOne(), Row(y)) << "line " << y;
    if (tiled()) {
        // The rows that fill the last tile below the image, then the end.
        const uint32_t padded = (spec_.height + file_.m_nTileLength - 1) / file_.m_nTileLength * file_.m_nTileLength;
        for (uint32_t y = spec_.height; y < padded; ++y) {
            Bytes row = ReadOne();
            ASSERT_EQ(row.size(), rowBytes_) << y;
            EXPECT_EQ(row, Bytes(rowBytes_, 0xAB)) << y;
        }
    }
    EXPECT_TRUE(ReadOne().empty());
    EXPECT_TRUE(ReadOne().empty());
}

TEST_P(Read, ChunksStraddlingBoundariesMatchLineByLine)
{
    for (int chunk : {1, 3, 5, 7, 16, int(spec_.height)}) {
        ASSERT_EQ(file_.SeekLine(0), 1);
        Bytes all;
        Bytes buf(size_t(chunk) * rowBytes_);
        int total = 0;
        while (total < int(spec_.height)) {
            int want = std::min(chunk, int(spec_.height) - total);
            int got = file_.ReadLines(buf.data(), want);
            ASSERT_EQ(got, want) << "chunk " << chunk << " at " << total;
            all.insert(all.end(), buf.begin(), buf.begin() + size_t(got) * rowBytes_);
            total += got;
        }
        EXPECT_EQ(all, pixels_) << "chunk " << chunk;
    }
}

TEST_P(Read, MoreLinesThanRemainReturnsWhatRemains)
{
    ASSERT_EQ(file_.SeekLine(int(spec_.height) - 3), 1);
    Bytes buf(size_t(40) * rowBytes_);
    int got = file_.ReadLines(buf.data(), 40);
    if (tiled()) {
        // Up to the end of the last tile row, padding rows included.
        const int padded = (int(spec_.height) + file_.m_nTileLength - 1) / file_.m_nTileLength * file_.m_nTileLength;
        EXPECT_EQ(got, padded - int(spec_.height) + 3);
    } else {
        EXPECT_EQ(got, 3);
    }
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 3 * rowBytes_),
              Bytes(pixels_.end() - 3 * rowBytes_, pixels_.end()));
    EXPECT_EQ(file_.ReadLines(buf.data(), 40), 0);
}

TEST_P(Read, SeekEveryWay)
{
    const int h = int(spec_.height);
    // Forward within the first strip or tile row, back, to the current line,
    // forward across boundaries, negative, the last line, and past the end.
    const int targets[] = {2, 1, 1, 0, h - 1, 3, h / 2, h / 2, -5, h - 2, 0};
    for (int t : targets) {
        ASSERT_EQ(file_.SeekLine(t), 1) << t;
        EXPECT_EQ(ReadOne(), Row(std::max(t, 0))) << "after SeekLine(" << t << ")";
    }
    EXPECT_EQ(file_.SeekLine(h), 0);
    EXPECT_EQ(file_.SeekLine(h + 1000), 0);
    EXPECT_EQ(file_.SeekLine(0x7FFFFFFF), 0);
    ASSERT_EQ(file_.SeekLine(h - 1), 1);
    EXPECT_EQ(ReadOne(), Row(h - 1));
}

TEST_P(Read, WiderCallerStride)
{
    // Set alone, or with the decoder's stride kept apart (rows then delivered one by one).
    for (bool apart : {false, true}) {
        const int stride = int(rowBytes_) + (apart ? 7 : 13), n = int(spec_.height);
        if (apart)
            file_.SetBufRowBytes(stride, int(rowBytes_));
        else
            file_.SetBufRowBytes(stride);
        EXPECT_EQ(file_.m_nBufRowBytes, stride);
        ASSERT_EQ(file_.SeekLine(0), 1);
        Bytes buf(size_t(stride) * (n + 1), 0xEE);
        ASSERT_EQ(file_.ReadLines(buf.data(), n), n);
        for (int y = 0; y < n; ++y) {
            EXPECT_EQ(Bytes(buf.begin() + y * stride, buf.begin() + y * stride + rowBytes_), Row(y)) << y;
            if (!tiled())  // between rows the caller's bytes stay as they were
                EXPECT_EQ(buf[size_t(y) * stride + rowBytes_], 0xEE) << y;
        }
        EXPECT_EQ(buf[size_t(stride) * n + stride - 1], 0xEE);
    }
}

TEST_P(Read, StrideSettings)
{
    const int decoderStride = TifState(file_.m_pDecoder)->rowStride;
    file_.SetBufRowBytes(0);
    file_.SetBufRowBytes(-8);
    EXPECT_EQ(file_.m_nBufRowBytes, int(rowBytes_));
    file_.SetBufRowBytes(1);  // narrower than a row: the decoder keeps its stride
    EXPECT_EQ(file_.m_nBufRowBytes, 1);
    EXPECT_EQ(TifState(file_.m_pDecoder)->rowStride, decoderStride);
    file_.SetBufRowBytes(int(rowBytes_) * 4);
    file_.SetBufRowBytes(int(rowBytes_) * 4, int(rowBytes_) * 8);
    if (tiled())  // the tile buffers' rows stay packed
        EXPECT_EQ(TifState(file_.m_pDecoder)->rowStride, decoderStride);
    else
        EXPECT_EQ(TifState(file_.m_pDecoder)->rowStride, int(rowBytes_) * 8);
}

TEST_P(Read, BadArguments)
{
    Bytes buf(rowBytes_ * 4);
    EXPECT_EQ(file_.ReadLine(nullptr), 0);
    EXPECT_EQ(file_.ReadLines(nullptr, 3), 0);
    EXPECT_EQ(file_.ReadLines(buf.data(), 0), 0);
    EXPECT_EQ(file_.ReadLines(buf.data(), -4), 0);
    EXPECT_EQ(file_.m_nCurLine, 0);
    EXPECT_EQ(ReadOne(), Row(0));
    EXPECT_EQ(file_.SeekLine(-1), 1);
    EXPECT_EQ(ReadOne(), Row(0));
    file_.GetImgInfo(nullptr);
    file_.GetColorMap(-1, nullptr);
    file_.GetColorMap(5, nullptr);
}

// 40 × 20 grey in 3 × 2 tiles of 16 × 16, opened.
struct TiledFile {
    TempDir dir;
    CTifFile f;
    Bytes pixels = PatternRows(40, 20);
    explicit TiledFile(bool big = false, void (*edit)(TiffBuilder&) = nullptr)
    {
        TiffBuilder b(big);
        b.TileImage({40, 20, 1, 8, kMinIsBlack, 0}, 16, 16, pixels);
        if (edit)
            edit(b);
        EXPECT_EQ(f.Open(dir.Write("t.tif", b.Build()).c_str()), 1);
    }
    Bytes Row(int y) const { return Bytes(pixels.begin() + y * 40, pixels.begin() + (y + 1) * 40); }
};

TEST(ReadTiles, NoTileRowHeldMeansDecodeAgain)
{
    TiledFile t(true);
    CTifFile& f = t.f;
    Bytes row(40);
    ASSERT_EQ(f.ReadLine(row.data()), 1);
    // What a rotated read leaves: the buffers no longer hold the tile row.
    for (int i = 0; i < f.m_nTilesAcross; ++i)
        std::memset(f.m_ppTileRow[i], 0x11, 256);
    f.m_nCurStrip = TIF_NO_TILE_ROW;
    f.m_nStripLinesLeft = 0;
    ASSERT_EQ(f.SeekLine(1), 1);
    ASSERT_EQ(f.ReadLine(row.data()), 1);
    EXPECT_EQ(row, t.Row(1));
}

TEST(ReadTiles, SurplusTilesAreNotImage)
{
    // TileOffsets lists a third tile row that the 20-line image does not have.
    TiledFile t(false, [](TiffBuilder& b) {
        b.Set(kTagTileOffsets, kLong, {8, 8, 8, 8, 8, 8, 8, 8, 8}).Set(kTagTileByteCounts, kLong, std::vector<uint32_t>(9, 256));
    });
    Bytes rows(64 * 40);
    EXPECT_EQ(t.f.ReadLines(rows.data(), 64), 32);  // image and padding rows only
    EXPECT_EQ(t.f.ReadLine(rows.data()), 0);
}

TEST(ReadTiles, NarrowStrideNeverWritesPastTheCallersRow)
{
    // A tiled line is assembled from tile slices; with rows spaced closer than
    // a line, each row gets only its stride's worth.
    TiledFile t;
    CTifFile& f = t.f;
    const Bytes& pixels = t.pixels;
    for (int stride : {1, 10, 16, 17, 33}) {
        f.SetBufRowBytes(stride);
        ASSERT_EQ(f.SeekLine(2), 1);
        Bytes buf(size_t(3) * stride + 40, 0xEE);
        ASSERT_EQ(f.ReadLines(buf.data(), 3), 3);
        for (int y = 0; y < 3; ++y)
            EXPECT_EQ(Bytes(buf.begin() + y * stride, buf.begin() + (y + 1) * stride),
                      Bytes(pixels.begin() + (2 + y) * 40, pixels.begin() + (2 + y) * 40 + stride))
                << stride << " " << y;
        EXPECT_EQ(Bytes(buf.begin() + 3 * stride, buf.end()), Bytes(40, 0xEE)) << stride;
        Bytes one(size_t(stride) + 40, 0xEE);
        ASSERT_EQ(f.ReadLine(one.data()), 1);
        EXPECT_EQ(Bytes(one.begin() + stride, one.end()), Bytes(40, 0xEE)) << stride;
    }
}

// A damaged strip: its byte count stops 2.5 rows into 4, and the next strip
// follows it directly in the file.
class ShortStrip : public ::testing::Test {
protected:
    void SetUp() override
    {
        TiffBuilder b;
        b.StripImage(spec_, pixels_);
        b.Set(kTagStripByteCounts, kLong, {4 * 10, 2 * 10 + 5, 2 * 10});
        ASSERT_EQ(file_.Open(dir_.Write("s.tif", b.Build()).c_str()), 1);
    }
    ImageSpec spec_{10, 10, 1, 8, kMinIsBlack, 4};
    Bytes pixels_ = PatternRows(10, 10);
    TempDir dir_;
    CTifFile file_;
};

TEST_F(ShortStrip, ReadingStopsAtTheByteCount)
{
    Bytes rows(100, 0xEE);
    EXPECT_EQ(file_.ReadLines(rows.data(), 10), 6);
    EXPECT_EQ(Bytes(rows.begin(), rows.begin() + 60), Bytes(pixels_.begin(), pixels_.begin() + 60));
    // The cut row holds only the strip's own bytes, never the next strip's.
    EXPECT_EQ(Bytes(rows.begin() + 60, rows.begin() + 65), Bytes(pixels_.begin() + 60, pixels_.begin() + 65));
    EXPECT_EQ(Bytes(rows.begin() + 65, rows.begin() + 70), Bytes(5, 0xEE));
    EXPECT_EQ(file_.m_nCurLine, 6);
    EXPECT_EQ(file_.ReadLine(rows.data()), 0);
    EXPECT_EQ(file_.ReadLines(rows.data(), 3), 0);
    // The following strip is still reachable.
    ASSERT_EQ(file_.SeekLine(8), 1);
    ASSERT_EQ(file_.ReadLines(rows.data(), 5), 2);
    EXPECT_EQ(Bytes(rows.begin(), rows.begin() + 20), Bytes(pixels_.begin() + 80, pixels_.end()));
}

TEST_F(ShortStrip, RowByRowCountsWhatWasDelivered)
{
    file_.SetBufRowBytes(12, 10);  // rows delivered one by one
    Bytes rows(120, 0xEE);
    EXPECT_EQ(file_.ReadLines(rows.data(), 10), 6);
    EXPECT_EQ(file_.m_nCurLine, 6);
    EXPECT_EQ(Bytes(rows.begin() + 5 * 12, rows.begin() + 5 * 12 + 10), Bytes(pixels_.begin() + 50, pixels_.begin() + 60));
}

TEST_F(ShortStrip, SkippingThroughTheCutFails)
{
    EXPECT_EQ(file_.SeekLine(7), 0);
    EXPECT_EQ(file_.SeekLine(4), 1);
    Bytes row(10);
    ASSERT_EQ(file_.ReadLine(row.data()), 1);
    EXPECT_EQ(row, Bytes(pixels_.begin() + 40, pixels_.begin() + 50));
}

TEST(ReadDamaged, StripRunningPastTheEndOfTheFile)
{
    ImageSpec spec{10, 8, 1, 8, kMinIsBlack, 4};
    Bytes pixels = PatternRows(10, 8);
    TiffBuilder b;
    b.StripImage(spec, pixels);
    b.Set(kTagStripByteCounts, kLong, {40, 0x7FFF0000});
    TempDir dir;
    CTifFile f;
    ASSERT_EQ(f.Open(dir.Write("p.tif", b.Build()).c_str()), 1);
    Bytes rows(80);
    EXPECT_EQ(f.ReadLines(rows.data(), 8), 4);
    EXPECT_EQ(Bytes(rows.begin(), rows.begin() + 40), Bytes(pixels.begin(), pixels.begin() + 40));
    EXPECT_EQ(f.ReadLine(rows.data()), 0);
    EXPECT_EQ(f.SeekLine(5), 0);
    EXPECT_EQ(f.SeekLine(2), 1);
    EXPECT_EQ(f.ReadLine(rows.data()), 1);
}

TEST(ReadDamaged, TileRowThatCannotBeDecoded)
{
    TiledFile t(false, [](TiffBuilder& b) { b.Set(kTagTileByteCounts, kLong, {256, 256, 256, 256, 100, 256}); });
    Bytes rows(32 * 40);
    EXPECT_EQ(t.f.ReadLines(rows.data(), 32), 16);  // tile 4 is cut short
    EXPECT_EQ(Bytes(rows.begin(), rows.begin() + 16 * 40), Bytes(t.pixels.begin(), t.pixels.begin() + 16 * 40));
    EXPECT_EQ(t.f.ReadLine(rows.data()), 0);
    EXPECT_EQ(t.f.SeekLine(17), 0);
    ASSERT_EQ(t.f.SeekLine(15), 1);
    ASSERT_EQ(t.f.ReadLine(rows.data()), 1);
    EXPECT_EQ(Bytes(rows.begin(), rows.begin() + 40), t.Row(15));
}

TEST(ReadUnopened, EveryEntryPointFailsQuietly)
{
    CTifFile f;
    Bytes buf(64);
    EXPECT_EQ(f.ReadLine(buf.data()), 0);
    EXPECT_EQ(f.ReadLines(buf.data(), 2), 0);
    EXPECT_EQ(f.SeekLine(0), 0);
    f.SetBufRowBytes(10);
    f.SetBufRowBytes(10, 20);
    RGBQUAD c{1, 2, 3, 4};
    f.GetColorMap(1, &c);
    EXPECT_EQ(c.rgbRed, 3);
    VXIMGINFO info;
    f.GetImgInfo(&info);
    EXPECT_EQ(info.nWidth, 0);
    EXPECT_EQ(f.Close(), 0);
}

}  // namespace
