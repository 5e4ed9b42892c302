// tif_builder.h — writes exact TIFF bytes for tests, well-formed or not.
//
// A TiffBuilder lays a file out as: the 8-byte header, then data blocks in the
// order they are added (AddData), then the directory, then the out-of-line values of its entries. Everything is written
// in the builder's byte order. Nothing is validated: any tag, type, count, value
// field, header or directory offset can be given, so damaged files are as easy
// to make as sound ones.
//
//   tiftest::TiffBuilder b(/*bigEndian=*/true);
//   b.StripImage({8, 4, 1, 8, tiftest::kMinIsBlack, 2}, pixels);  // tags + strips
//   b.Set(tiftest::kTagXResolution, tiftest::kRational, {300, 1});
//   b.Remove(tiftest::kTagStripByteCounts);
//   tiftest::TempDir dir;
//   std::string path = dir.Write("x.tif", b.Build());
//
// Entries are sorted by tag when built (stable, so duplicates keep their order).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tiftest {

using Bytes = std::vector<uint8_t>;

enum FieldType : uint16_t {
    kByte = 1, kAscii = 2, kShort = 3, kLong = 4, kRational = 5,
    kSByte = 6, kUndefined = 7, kSShort = 8, kSLong = 9, kSRational = 10,
};

enum Tag : uint16_t {
    kTagImageWidth = 256, kTagImageLength = 257, kTagBitsPerSample = 258,
    kTagCompression = 259, kTagPhotometric = 262, kTagFillOrder = 266,
    kTagStripOffsets = 273, kTagSamplesPerPixel = 277, kTagRowsPerStrip = 278,
    kTagStripByteCounts = 279, kTagXResolution = 282, kTagYResolution = 283,
    kTagPlanarConfig = 284, kTagT4Options = 292, kTagResolutionUnit = 296,
    kTagPredictor = 317, kTagColorMap = 320, kTagTileWidth = 322,
    kTagTileLength = 323, kTagTileOffsets = 324, kTagTileByteCounts = 325,
};

enum Photometric : int {
    kMinIsWhite = 0, kMinIsBlack = 1, kRgb = 2, kPalette = 3, kMask = 4,
    kSeparated = 5, kYCbCr = 6,
};

// An uncompressed image for StripImage / TileImage.
struct BuiltImage {
    uint32_t width;
    uint32_t height;
    uint16_t samples;
    uint16_t bits;
    int photometric;
    uint32_t rowsPerStrip;  // StripImage only; 0 writes no RowsPerStrip tag
    uint16_t compression = 1;

    // Packed bytes of one image row.
    uint32_t RowBytes() const { return (width * samples * bits + 7) / 8; }
};

class TiffBuilder {
public:
    explicit TiffBuilder(bool bigEndian = false);

    bool bigEndian() const { return big_; }

    // Header. By default "II"/"MM", 42 and the directory's actual offset.
    TiffBuilder& Header(std::array<uint8_t, 8> raw) { rawHeader_ = true, header_ = raw; return *this; }  // verbatim
    TiffBuilder& Version(uint16_t version) { version_ = version; return *this; }
    TiffBuilder& IfdOffset(uint32_t offset) { ifdOffsetSet_ = true, ifdOffset_ = offset; return *this; }
    // Writes `count` as the entry count instead of the real number.
    TiffBuilder& EntryCount(uint16_t count) { countSet_ = true, count_ = count; return *this; }

    // Appends a data block (2-byte aligned) and returns its offset.
    uint32_t AddData(const Bytes& data);

    // Entries. Values are given as numbers and encoded by type: one byte each for
    // BYTE/ASCII/SBYTE/UNDEFINED, 16 bits for SHORT/SSHORT, 32 for LONG/SLONG,
    // and numerator, denominator pairs for RATIONAL. The count is the number of
    // values (pairs for RATIONAL). Values over 4 bytes go out of line.
    TiffBuilder& Add(uint16_t tag, uint16_t type, const std::vector<uint32_t>& values);
    // Like Add, but replaces every entry with the same tag.
    TiffBuilder& Set(uint16_t tag, uint16_t type, const std::vector<uint32_t>& values);
    // An entry with any count and a verbatim 4-byte value field (not swapped).
    TiffBuilder& Raw(uint16_t tag, uint16_t type, uint32_t count, std::array<uint8_t, 4> field);
    // An entry whose value field holds `offset` (in file byte order).
    TiffBuilder& AtOffset(uint16_t tag, uint16_t type, uint32_t count, uint32_t offset);
    TiffBuilder& Remove(uint16_t tag);

    // Writes the tags and strips of an uncompressed image from `pixels`, packed
    // rows of image.RowBytes() each. Strips take rowsPerStrip rows (all rows when
    // it is 0); BitsPerSample is SHORT with one value per sample.
    TiffBuilder& StripImage(const BuiltImage& image, const Bytes& pixels);
    // The same as tiles of tileWidth × tileLength; tiles past the image edge are
    // padded with `pad`.
    TiffBuilder& TileImage(const BuiltImage& image, uint32_t tileWidth, uint32_t tileLength,
                           const Bytes& pixels, uint8_t pad = 0);

    // Values of `width` bytes each (1, 2 or 4) in the builder's byte order.
    Bytes Encode(const std::vector<uint32_t>& values, int width) const;

    // The file. `truncateTo` cuts it (when shorter than the file).
    Bytes Build(size_t truncateTo = SIZE_MAX) const;

private:
    struct Entry {
        uint16_t tag;
        uint16_t type;
        uint32_t count;
        Bytes values;  // encoded values, or the verbatim value field
        bool raw;
    };

    void Put(Bytes& out, size_t at, uint32_t v, int width) const;
    void ImageTags(const BuiltImage& image);

    bool big_;
    Bytes data_;  // everything from offset 0 up to the directory
    bool rawHeader_ = false;
    std::array<uint8_t, 8> header_{};
    uint16_t version_ = 42;
    bool ifdOffsetSet_ = false;
    uint32_t ifdOffset_ = 0;
    bool countSet_ = false;
    uint16_t count_ = 0;
    std::vector<Entry> entries_;
};

// Pixel pattern used across tests: byte i of row y depends on both, so a wrong
// row, a shifted byte or a swapped pair shows.
Bytes PatternRows(uint32_t rowBytes, uint32_t rows, uint32_t seed = 0);

}  // namespace tiftest
