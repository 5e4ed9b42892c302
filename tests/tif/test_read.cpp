// Reading lines where the file or the call is out of the ordinary: tile
// padding, caller strides and bad arguments, tile rows no longer held,
// surplus tiles, and the ends of damaged strips and tiles. (Plain reading of
// every layout is in test_interop.cpp.)
#include <algorithm>

#include <gtest/gtest.h>

#include "codec/tif_codec.h"
#include "support/codec_io.h"
#if VXTIFF_TEST_WITH_LIBTIFF  // Windows builds have no libtiff
#include "support/libtiff_util.h"
#endif
#include "support/temp_dir.h"
#include "support/tif_builder.h"
#include "tif/tif_bytes.h"
#include "tif/tif_failure.h"
#include "tif/tif_file.h"

namespace {

using namespace tiftest;

// 40 × 20 grey, opened: in 3 × 2 tiles of 16 × 16 padded with 0xAB, or in
// strips of 6 rows.
struct TestFile {
    TempDir dir;
    CTifFile f;
    Bytes pixels = PatternRows(40, 20);
    explicit TestFile(bool tiled = true, bool big = false, void (*edit)(TiffBuilder&) = nullptr)
    {
        TiffBuilder b(big);
        if (tiled)
            b.TileImage({40, 20, 1, 8, kMinIsBlack, 0}, 16, 16, pixels, 0xAB);
        else
            b.StripImage({40, 20, 1, 8, kMinIsBlack, 6}, pixels);
        if (edit)
            edit(b);
        EXPECT_EQ(f.Open(dir.Write("t.tif", b.Build()).c_str()), 1);
    }
    Bytes Row(int y) const { return Bytes(pixels.begin() + y * 40, pixels.begin() + (y + 1) * 40); }
};

TEST(ReadTiles, PaddingRowsComeFromTheLastTileRow)
{
    TestFile t;
    Bytes rows(40 * 40, 0xEE);
    EXPECT_EQ(t.f.ReadLines(rows.data(), 40), 32);
    EXPECT_EQ(Bytes(rows.begin(), rows.begin() + 800), t.pixels);
    EXPECT_EQ(Bytes(rows.begin() + 800, rows.begin() + 32 * 40), Bytes(12 * 40, 0xAB));
    EXPECT_EQ(rows[32 * 40], 0xEE);
}

TEST(Read, StrideSettingsAndBadArguments)
{
    for (bool tiled : {false, true}) {
        TestFile t(tiled);
        CTifFile& f = t.f;
        Bytes buf(160);
        EXPECT_EQ(f.ReadLine(nullptr), 0);
        EXPECT_EQ(f.ReadLines(nullptr, 3), 0);
        EXPECT_EQ(f.ReadLines(buf.data(), 0), 0);
        EXPECT_EQ(f.ReadLines(buf.data(), -4), 0);
        f.GetImgInfo(nullptr);  // ignored: the position and the rows below stay as they were
        EXPECT_EQ(f.m_nCurLine, 0);
        const int decoderStride = TifState(f.m_pDecoder)->rowStride;
        f.SetBufRowBytes(0);
        f.SetBufRowBytes(-8);
        EXPECT_EQ(f.m_nBufRowBytes, 40);
        EXPECT_EQ(f.ReadLine(buf.data()), 1);
        EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 40), t.Row(0));
        f.SetBufRowBytes(1);  // narrower than a row: the decoder keeps its stride
        EXPECT_EQ(f.m_nBufRowBytes, 1);
        EXPECT_EQ(TifState(f.m_pDecoder)->rowStride, decoderStride);
        f.SetBufRowBytes(320);
        // The second stride is not the codec's to keep: rows land 160 apart, in
        // a buffer just long enough (a tiled row takes the whole stride), and
        // the tile buffers' rows stay packed.
        f.SetBufRowBytes(160, 320);
        Bytes two(tiled ? 320 : 200, 0xEE);
        ASSERT_EQ(f.ReadLines(two.data(), 2), 2);
        EXPECT_EQ(Bytes(two.begin(), two.begin() + 40), t.Row(1));
        EXPECT_EQ(Bytes(two.begin() + 160, two.begin() + 200), t.Row(2));
        EXPECT_EQ(TifState(f.m_pDecoder)->rowStride, tiled ? decoderStride : 160);
    }
}

TEST(ReadTiles, NoTileRowHeldMeansDecodeAgain)
{
    TestFile t(true, true);
    CTifFile& f = t.f;
    Bytes row(40);
    ASSERT_EQ(f.ReadLine(row.data()), 1);
    // A rotated read decodes tiles into the first tile buffer, the last one
    // from the second tile row: the buffers no longer hold the first.
    Bytes rotated(16 * 20);
    ASSERT_EQ(f.ReadLinesR90(rotated.data(), 0, 16), 1);
    ASSERT_EQ(f.SeekLine(1), 1);
    ASSERT_EQ(f.ReadLine(row.data()), 1);
    EXPECT_EQ(row, t.Row(1));
}

TEST(ReadTiles, SurplusTilesAreNotImage)
{
    // TileOffsets lists a third tile row that the 20-line image does not have.
    TestFile t(true, false, [](TiffBuilder& b) {
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
    TestFile t;
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
TEST(ReadDamaged, ShortStrip)
{
    const Bytes pixels = PatternRows(10, 10);
    TiffBuilder b;
    b.StripImage({10, 10, 1, 8, kMinIsBlack, 4}, pixels).Set(kTagStripByteCounts, kLong, {4 * 10, 2 * 10 + 5, 2 * 10});
    TempDir dir;
    CTifFile f;
    ASSERT_EQ(f.Open(dir.Write("s.tif", b.Build()).c_str()), 1);
    // Skipping through the cut fails; up to it, not.
    EXPECT_EQ(f.SeekLine(7), 0);
    ASSERT_EQ(f.SeekLine(4), 1);
    Bytes rows(120, 0xEE);
    ASSERT_EQ(f.ReadLine(rows.data()), 1);
    EXPECT_EQ(Bytes(rows.begin(), rows.begin() + 10), Bytes(pixels.begin() + 40, pixels.begin() + 50));
    // Reading stops at the byte count.
    ASSERT_EQ(f.SeekLine(0), 1);
    std::fill(rows.begin(), rows.end(), 0xEE);
    EXPECT_EQ(f.ReadLines(rows.data(), 10), 6);
    EXPECT_EQ(Bytes(rows.begin(), rows.begin() + 60), Bytes(pixels.begin(), pixels.begin() + 60));
    // The cut row holds only the strip's own bytes, never the next strip's.
    EXPECT_EQ(Bytes(rows.begin() + 60, rows.begin() + 65), Bytes(pixels.begin() + 60, pixels.begin() + 65));
    EXPECT_EQ(Bytes(rows.begin() + 65, rows.begin() + 70), Bytes(5, 0xEE));
    EXPECT_EQ(f.m_nCurLine, 6);
    EXPECT_EQ(f.ReadLine(rows.data()), 0);
    EXPECT_EQ(f.ReadLines(rows.data(), 3), 0);
    // The following strip is still reachable.
    ASSERT_EQ(f.SeekLine(8), 1);
    ASSERT_EQ(f.ReadLines(rows.data(), 5), 2);
    EXPECT_EQ(Bytes(rows.begin(), rows.begin() + 20), Bytes(pixels.begin() + 80, pixels.end()));
    // Rows delivered one by one count the same.
    ASSERT_EQ(f.SeekLine(0), 1);
    f.SetBufRowBytes(12, 10);
    EXPECT_EQ(f.ReadLines(rows.data(), 10), 6);
    EXPECT_EQ(f.m_nCurLine, 6);
    EXPECT_EQ(Bytes(rows.begin() + 5 * 12, rows.begin() + 5 * 12 + 10), Bytes(pixels.begin() + 50, pixels.begin() + 60));
}

TEST(ReadDamaged, StripRunningPastTheEndOfTheFile)
{
    BuiltImage image{10, 8, 1, 8, kMinIsBlack, 4};
    Bytes pixels = PatternRows(10, 8);
    TiffBuilder b;
    b.StripImage(image, pixels);
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

// A strip whose data cannot be read at all (its byte count runs far past the
// end of the file), in every compression: its rows are never delivered, by
// ReadLine or ReadLines, and the decoder starts afresh on the next strip.
#if VXTIFF_TEST_WITH_LIBTIFF
TEST(ReadDamaged, StripThatCannotBeLoadedInEveryCompression)
{
    struct Kind {
        uint16_t compression, bits;
        uint32_t t4Options;
    };
    const Kind kinds[] = {{1, 8, 0},     {2, 1, 0},     {3, 1, 0}, {3, 1, 1},
                          {4, 1, 0},     {5, 8, 0},     {32773, 8, 0}, {32946, 8, 0}};
    for (const Kind& k : kinds) {
        TempDir dir;
        LibtiffPage s;
        s.width = 64, s.height = 8, s.bits = k.bits, s.photometric = k.bits == 1 ? 0 : 1;
        s.compression = k.compression, s.t4Options = k.t4Options, s.rowsPerStrip = 2;
        std::vector<Bytes> rows;
        const Bytes pixels = PatternRows(s.RowBytes(), 8, 3);
        for (int y = 0; y < 8; ++y)
            rows.emplace_back(pixels.begin() + y * s.RowBytes(), pixels.begin() + (y + 1) * s.RowBytes());
        const std::string path = dir.Path("c.tif");
        ASSERT_TRUE(WriteLibtiff(path, s, rows)) << k.compression;
        // StripByteCounts[2] = 0x7FFF0000 (LONG) or 0xFFFF (SHORT), little-endian.
        Bytes file = ReadFileBytes(path);
        uint32_t counts;
        bool shorts;
        {
            CTifFile f;
            ASSERT_EQ(f.Open(path.c_str()), 1);
            ASSERT_EQ(f.m_bSwap, 0);
            counts = TifGet32(f.FindTag(279) + 8, 0);
            shorts = TifGet16(f.FindTag(279) + 2, 0) == kShort;
        }
        if (shorts)
            file[counts + 4] = 0xFF, file[counts + 5] = 0xFF;
        else
            file[counts + 8] = 0x00, file[counts + 9] = 0x00, file[counts + 10] = 0xFF, file[counts + 11] = 0x7F;
        dir.Write("c.tif", file);

        CTifFile f;
        ASSERT_EQ(f.Open(path.c_str()), 1);
        const size_t rb = s.RowBytes();
        Bytes out(8 * rb, 0xEE);
        EXPECT_EQ(f.ReadLines(out.data(), 8), 4) << k.compression;
        // The strip's two lines are counted once, however often read again.
        int first = 0;
        EXPECT_EQ(f.GetDamagedLines(&first), 2) << k.compression;
        EXPECT_EQ(first, 4) << k.compression;
        EXPECT_EQ(CTifFile::GetLastFailure(), VXTIFF_FAIL_CUT_SHORT) << k.compression;
        for (int y = 0; y < 4; ++y)
            EXPECT_EQ(Bytes(out.begin() + y * rb, out.begin() + (y + 1) * rb), rows[y]) << k.compression << " " << y;
        if (k.bits != 1) {  // the fax decoders paint the row they could not finish
            EXPECT_EQ(Bytes(out.begin() + 4 * rb, out.end()), Bytes(4 * rb, 0xEE)) << k.compression;
        }
        EXPECT_EQ(f.ReadLine(out.data()), 0) << k.compression;
        ASSERT_EQ(f.SeekLine(0), 1);
        int lines = 0;
        while (lines < 8 && f.ReadLine(out.data()) == 1)
            ++lines;
        EXPECT_EQ(lines, 4) << k.compression;
        EXPECT_EQ(f.SeekLine(5), 0) << k.compression;
        ASSERT_EQ(f.SeekLine(6), 1) << k.compression;
        ASSERT_EQ(f.ReadLines(out.data(), 4), 2) << k.compression;
        EXPECT_EQ(Bytes(out.begin(), out.begin() + rb), rows[6]) << k.compression;
        EXPECT_EQ(Bytes(out.begin() + rb, out.begin() + 2 * rb), rows[7]) << k.compression;
        EXPECT_EQ(f.GetDamagedLines(&first), 2) << k.compression;
        if (k.bits == 8) {  // rotated reading fails there too, and counts nothing again
            Bytes turned(size_t(s.width) * 8);
            EXPECT_EQ(f.ReadLinesR90(turned.data(), 0, int(s.width)), 0) << k.compression;
            EXPECT_EQ(f.GetDamagedLines(&first), 2) << k.compression;
        }
    }
}

// Damaged data that decoders meet: an LZW code past the table and garbage in
// a Deflate stream stop the strip (the read fails with VXTIFF_FAIL_BAD_DATA);
// a PackBits run past the row is cut, and its row delivered but counted.
// Either way the strip's 4 lines count.
TEST(ReadDamaged, DamagedDataIsCountedAndNamed)
{
    struct Kind {
        uint16_t compression;
        size_t at;       // byte of the second strip overwritten
        uint8_t value;
        int delivered;   // of the strip's 4 rows
        int failure;
    };
    const Kind kinds[] = {{5, 2, 0xFF, 0, VXTIFF_FAIL_BAD_DATA},
                          {32946, 2, 0xFF, 0, VXTIFF_FAIL_BAD_DATA},  // a reserved block type
                          {32773, 0, 0x81, 4, VXTIFF_FAIL_NONE}};  // runs of 128 in rows of 64
    for (const Kind& k : kinds) {
        TempDir dir;
        LibtiffPage s;
        s.width = 64, s.height = 8, s.compression = k.compression, s.rowsPerStrip = 4;
        std::vector<Bytes> rows;
        for (int y = 0; y < 8; ++y)
            rows.push_back(PatternRows(s.RowBytes(), 1, uint32_t(y)));
        const std::string path = dir.Path("d.tif");
        ASSERT_TRUE(WriteLibtiff(path, s, rows));
        Bytes file = ReadFileBytes(path);
        {
            CTifFile f;
            ASSERT_EQ(f.Open(path.c_str()), 1);
            std::fill_n(file.begin() + f.m_pStripOffsets[1] + k.at, 8, k.value);
        }
        dir.Write("d.tif", file);
        CTifFile f;
        ASSERT_EQ(f.Open(path.c_str()), 1);
        TifFail(VXTIFF_FAIL_NONE);
        Bytes out(8 * s.RowBytes());
        EXPECT_EQ(f.ReadLines(out.data(), 8), 4 + k.delivered) << k.compression;
        EXPECT_EQ(CTifFile::GetLastFailure(), k.failure) << k.compression;
        int first = -1;
        EXPECT_EQ(f.GetDamagedLines(&first), 4) << k.compression;
        EXPECT_EQ(first, 4) << k.compression;
    }
}
#endif

// Tiles read straight into the tile buffers: a tile that the end of the file
// cuts fails its whole tile row, whatever part of it is present, and the tile
// rows before it are read.
TEST(ReadDamaged, TileCutByTheEndOfTheFile)
{
    const uint32_t width = 512, height = 300, tileBytes = 256 * 256;
    const Bytes pixels = PatternRows(width, height, 9);
    TiffBuilder b;
    b.TileImage({width, height, 1, 8, kMinIsBlack, 0}, 256, 256, pixels);
    // The second tile row moves behind the directory, so that cutting it
    // leaves the directory whole.
    Bytes file = b.Build();
    {
        TempDir dir;
        CTifFile f;
        ASSERT_EQ(f.Open(dir.Write("t.tif", file).c_str()), 1);
        const uint32_t offsets = TifGet32(f.FindTag(kTagTileOffsets) + 8, 0);
        for (int i = 2; i < 4; ++i) {
            const uint32_t at = f.m_pStripOffsets[i];
            TifPut32(file.data() + offsets + 4 * i, uint32_t(file.size()), 0);
            file.insert(file.end(), file.begin() + at, file.begin() + at + tileBytes);
        }
    }
    const size_t third = file.size() - 2 * tileBytes;
    for (const size_t present : {size_t(1), size_t(100), size_t(40000), size_t(tileBytes - 1)}) {
        SCOPED_TRACE(present);
        TempDir dir;
        CTifFile f;
        ASSERT_EQ(f.Open(dir.Write("t.tif", Bytes(file.begin(), file.begin() + long(third + present))).c_str()), 1);
        Bytes out(pixels.size(), 0xEE);
        EXPECT_EQ(f.ReadLines(out.data(), int(height)), 256);
        EXPECT_EQ(Bytes(out.begin(), out.begin() + 256 * width), Bytes(pixels.begin(), pixels.begin() + 256 * width));
        EXPECT_EQ(f.ReadLine(out.data()), 0);
        EXPECT_EQ(f.SeekLine(299), 0);
        ASSERT_EQ(f.SeekLine(255), 1);
        EXPECT_EQ(f.ReadLines(out.data(), 2), 1);
    }
    TempDir dir;
    CTifFile f;  // and whole, every row
    ASSERT_EQ(f.Open(dir.Write("t.tif", file).c_str()), 1);
    Bytes out(pixels.size());
    EXPECT_EQ(f.ReadLines(out.data(), int(height)), int(height));
    EXPECT_EQ(out, pixels);
}

// A Deflate strip longer than the block a whole-strip request gathers, cut by
// the end of the file: line by line and in one call, the same rows before the
// cut are delivered and counted, and none after.
TEST(ReadDamaged, LongDeflateStripCutByTheEndOfTheFile)
{
    const uint32_t width = 3000, height = 600;
    const Bytes pixels = NoiseRows(size_t(width) * height, 7);  // stored blocks: about 1.8 MB
    const Bytes data = Zlib(pixels);
    TiffBuilder b;
    b.StripImage({width, height, 1, 8, kMinIsBlack, 0, 32946}, Bytes(1, 0));
    b.Set(kTagStripByteCounts, kLong, {uint32_t(data.size())}).Set(kTagStripOffsets, kLong, {0});
    const uint32_t at = uint32_t(b.Build().size());
    b.Set(kTagStripOffsets, kLong, {at});
    Bytes file = b.Build();
    file.insert(file.end(), data.begin(), data.begin() + long(data.size() * 3 / 4));
    TempDir dir;
    const std::string path = dir.Write("cut.tif", file);
    CTifFile f;
    ASSERT_EQ(f.Open(path.c_str()), 1);
    Bytes out(pixels.size(), 0xEE);
    int lines = 0;
    while (lines < int(height) && f.ReadLine(out.data() + size_t(lines) * width) == 1)
        ++lines;
    EXPECT_GT(lines, int(height) / 2);
    EXPECT_LT(lines, int(height) * 3 / 4);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + long(lines) * width),
              Bytes(pixels.begin(), pixels.begin() + long(lines) * width));
    for (const int count : {int(height), lines + 1}) {
        ASSERT_EQ(f.SeekLine(0), 1);
        std::fill(out.begin(), out.end(), 0xEE);
        EXPECT_EQ(f.ReadLines(out.data(), count), lines) << count;
        EXPECT_EQ(Bytes(out.begin(), out.begin() + long(lines) * width),
                  Bytes(pixels.begin(), pixels.begin() + long(lines) * width));
        EXPECT_EQ(f.ReadLines(out.data(), 2), 0);
    }
}

// A Deflate strip declaring far more rows than its stream holds: reading and
// seeking stop where the stream ends, at once.
TEST(ReadDamaged, DeflateStripDeclaringMoreRowsThanItHolds)
{
    const Bytes pixels = PatternRows(16, 20, 4);
    TiffBuilder b;
    b.StripImage({16, 20, 1, 8, kMinIsBlack, 0, 32946}, Bytes());
    const uint32_t at = b.AddData(Zlib(pixels));
    b.Set(kTagImageLength, kLong, {0x7FFFFFFF}).Set(kTagStripOffsets, kLong, {at});
    b.Set(kTagStripByteCounts, kLong, {uint32_t(Zlib(pixels).size())});
    TempDir dir;
    CTifFile f;
    ASSERT_EQ(f.Open(dir.Write("d.tif", b.Build()).c_str()), 1);
    EXPECT_EQ(f.SeekLine(0x7FFFFFFE), 0);
    EXPECT_EQ(f.SeekLine(21), 0);
    ASSERT_EQ(f.SeekLine(20), 1);  // after the last row
    EXPECT_EQ(f.ReadLine(Bytes(16).data()), 0);
    ASSERT_EQ(f.SeekLine(0), 1);
    Bytes rows(16 * 64, 0xEE);
    EXPECT_EQ(f.ReadLines(rows.data(), 64), 20);
    EXPECT_EQ(Bytes(rows.begin(), rows.begin() + 320), pixels);
    EXPECT_EQ(f.ReadLine(rows.data()), 0);
}

TEST(ReadDamaged, TileRowThatCannotBeDecoded)
{
    TestFile t(true, false, [](TiffBuilder& b) { b.Set(kTagTileByteCounts, kLong, {256, 256, 256, 256, 100, 256}); });
    Bytes rows(32 * 40);
    EXPECT_EQ(t.f.ReadLines(rows.data(), 32), 16);  // tile 4 is cut short
    EXPECT_EQ(Bytes(rows.begin(), rows.begin() + 16 * 40), Bytes(t.pixels.begin(), t.pixels.begin() + 16 * 40));
    EXPECT_EQ(t.f.ReadLine(rows.data()), 0);
    EXPECT_EQ(t.f.SeekLine(17), 0);
    ASSERT_EQ(t.f.SeekLine(15), 1);
    ASSERT_EQ(t.f.ReadLine(rows.data()), 1);
    EXPECT_EQ(Bytes(rows.begin(), rows.begin() + 40), t.Row(15));
}

}  // namespace

namespace {

// Each row as literal packets of at most 128 bytes.
Bytes LiteralPackBits(const Bytes& pixels, size_t rowBytes)
{
    Bytes out;
    for (size_t row = 0; row < pixels.size(); row += rowBytes)
        for (size_t at = 0; at < rowBytes; at += 128) {
            const size_t n = std::min<size_t>(128, rowBytes - at);
            out.push_back(uint8_t(n - 1));
            out.insert(out.end(), pixels.begin() + long(row + at), pixels.begin() + long(row + at + n));
        }
    return out;
}

}  // namespace

// A single strip that the end of the file cuts: the rows wholly inside the
// 32 KiB blocks before the cut are read, whatever the decoder's transfer size,
// and nothing after them.
TEST(ReadDamaged, StripCutByTheEndOfTheFileKeepsItsWholeBlocks)
{
    const uint32_t width = 3000, height = 100;
    const Bytes pixels = PatternRows(width, height);
    for (const uint16_t compression : {uint16_t(1), uint16_t(32773)}) {
        const Bytes data = compression == 1 ? pixels : LiteralPackBits(pixels, width);
        const size_t stored = data.size() / height;  // bytes per row in the file
        for (const size_t present : {size_t(1000), size_t(32768), size_t(40000), size_t(70000), size_t(131072 + 5000),
                                     data.size() - 1}) {
            // The strip lies behind the directory, so that cutting it leaves the directory whole.
            TiffBuilder b;
            b.StripImage({width, height, 1, 8, kMinIsBlack, 0}, Bytes(1, 0)).Set(kTagCompression, kShort, {compression});
            b.Set(kTagStripByteCounts, kLong, {uint32_t(data.size())}).Set(kTagStripOffsets, kLong, {0});
            const uint32_t at = uint32_t(b.Build().size());
            b.Set(kTagStripOffsets, kLong, {at});
            Bytes file = b.Build();
            ASSERT_EQ(file.size(), at);
            file.insert(file.end(), data.begin(), data.begin() + long(present));

            const size_t kept = present / 32768 * 32768;
            const int rows = int(kept / stored);
            TempDir dir;
            const std::string path = dir.Write("cut.tif", file);
            SCOPED_TRACE(testing::Message() << "compression " << compression << ", " << present << " bytes");
            CTifFile f;
            if (kept == 0) {
                EXPECT_EQ(f.Open(path.c_str()), 0);
                EXPECT_EQ(CTifFile::GetLastFailure(), VXTIFF_FAIL_CUT_SHORT);
                continue;
            }
            ASSERT_EQ(f.Open(path.c_str()), 1);
            Bytes out(pixels.size(), 0xEE);
            int read = 0;
            while (read < int(height) && f.ReadLine(out.data() + size_t(read) * width) == 1)
                ++read;
            EXPECT_EQ(read, rows);
            EXPECT_EQ(Bytes(out.begin(), out.begin() + long(rows) * width),
                      Bytes(pixels.begin(), pixels.begin() + long(rows) * width));
            EXPECT_EQ(f.ReadLine(out.data()), 0);
            ASSERT_EQ(f.SeekLine(0), 1);
            EXPECT_EQ(f.ReadLines(out.data(), rows), rows);
            EXPECT_EQ(f.ReadLines(out.data(), 1), 0);
            // One call for the whole strip delivers the same rows and counts them.
            ASSERT_EQ(f.SeekLine(0), 1);
            std::fill(out.begin(), out.end(), 0xEE);
            EXPECT_EQ(f.ReadLines(out.data(), int(height)), rows);
            EXPECT_EQ(Bytes(out.begin(), out.begin() + long(rows) * width),
                      Bytes(pixels.begin(), pixels.begin() + long(rows) * width));
        }
    }
}
