// tif_builder.cpp — the test-side TIFF writer.
#include "support/tif_builder.h"

#include <algorithm>

namespace tiftest {

TiffBuilder::TiffBuilder(bool bigEndian) : big_(bigEndian), data_(8, 0) {}

uint32_t TiffBuilder::AddData(const Bytes& data)
{
    data_.resize(data_.size() + data_.size() % 2);
    const auto at = static_cast<uint32_t>(data_.size());
    data_.insert(data_.end(), data.begin(), data.end());
    return at;
}

void TiffBuilder::Put(Bytes& out, size_t at, uint32_t v, int width) const
{
    out.resize(std::max(out.size(), at + width));
    for (int i = 0; i < width; ++i)
        out[at + (big_ ? width - 1 - i : i)] = static_cast<uint8_t>(v >> (8 * i));
}

Bytes TiffBuilder::Encode(const std::vector<uint32_t>& values, int width) const
{
    Bytes out;
    for (size_t i = 0; i < values.size(); ++i)
        Put(out, width * i, values[i], width);
    return out;
}

TiffBuilder& TiffBuilder::Add(uint16_t tag, uint16_t type, const std::vector<uint32_t>& values)
{
    const bool pairs = type == kRational || type == kSRational;
    const int width = type == kShort || type == kSShort ? 2 : type == kLong || type == kSLong || pairs ? 4 : 1;
    const auto count = static_cast<uint32_t>(pairs ? values.size() / 2 : values.size());
    entries_.push_back({tag, type, count, Encode(values, width), false});
    return *this;
}

TiffBuilder& TiffBuilder::Set(uint16_t tag, uint16_t type, const std::vector<uint32_t>& values)
{
    return Remove(tag).Add(tag, type, values);
}

TiffBuilder& TiffBuilder::Raw(uint16_t tag, uint16_t type, uint32_t count, std::array<uint8_t, 4> field)
{
    entries_.push_back({tag, type, count, Bytes(field.begin(), field.end()), true});
    return *this;
}

TiffBuilder& TiffBuilder::AtOffset(uint16_t tag, uint16_t type, uint32_t count, uint32_t offset)
{
    Bytes f = Encode({offset}, 4);
    return Raw(tag, type, count, {f[0], f[1], f[2], f[3]});
}

TiffBuilder& TiffBuilder::Remove(uint16_t tag)
{
    entries_.erase(std::remove_if(entries_.begin(), entries_.end(), [tag](const Entry& e) { return e.tag == tag; }),
                   entries_.end());
    return *this;
}

void TiffBuilder::ImageTags(const BuiltImage& s)
{
    Set(kTagImageWidth, kLong, {s.width}).Set(kTagImageLength, kLong, {s.height});
    Set(kTagBitsPerSample, kShort, std::vector<uint32_t>(s.samples, s.bits)).Set(kTagSamplesPerPixel, kShort, {s.samples});
    Set(kTagCompression, kShort, {s.compression}).Set(kTagPhotometric, kShort, {uint32_t(s.photometric)});
}

TiffBuilder& TiffBuilder::StripImage(const BuiltImage& s, const Bytes& pixels)
{
    const size_t rps = s.rowsPerStrip ? s.rowsPerStrip : s.height, stripBytes = rps * s.RowBytes();
    std::vector<uint32_t> offsets, counts;
    for (size_t from = 0; from < size_t(s.height) * s.RowBytes(); from += stripBytes) {
        const auto first = pixels.begin() + std::min(from, pixels.size());
        const Bytes strip(first, pixels.begin() + std::min(pixels.size(), from + stripBytes));
        offsets.push_back(AddData(strip));
        counts.push_back(static_cast<uint32_t>(strip.size()));
    }
    ImageTags(s);
    Set(kTagStripOffsets, kLong, offsets).Set(kTagStripByteCounts, kLong, counts);
    if (s.rowsPerStrip)
        Set(kTagRowsPerStrip, kLong, {s.rowsPerStrip});
    return *this;
}

TiffBuilder& TiffBuilder::TileImage(const BuiltImage& s, uint32_t tw, uint32_t tl, const Bytes& pixels, uint8_t pad)
{
    const uint32_t rowBytes = s.RowBytes(), tileRowBytes = (tw * s.samples * s.bits + 7) / 8;
    std::vector<uint32_t> offsets, counts;
    for (uint32_t y0 = 0; y0 < s.height; y0 += tl) {
        for (uint32_t x0 = 0; x0 < rowBytes; x0 += tileRowBytes) {
            Bytes tile(size_t(tileRowBytes) * tl, pad);
            for (uint32_t r = 0; r < tl && y0 + r < s.height; ++r)
                for (uint32_t i = 0; i < tileRowBytes && x0 + i < rowBytes; ++i)
                    if (size_t(y0 + r) * rowBytes + x0 + i < pixels.size())
                        tile[size_t(r) * tileRowBytes + i] = pixels[size_t(y0 + r) * rowBytes + x0 + i];
            offsets.push_back(AddData(tile));
            counts.push_back(static_cast<uint32_t>(tile.size()));
        }
    }
    ImageTags(s);
    Set(kTagTileWidth, kLong, {tw}).Set(kTagTileLength, kLong, {tl});
    Set(kTagTileOffsets, kLong, offsets).Set(kTagTileByteCounts, kLong, counts);
    return *this;
}

Bytes TiffBuilder::Build(size_t truncateTo) const
{
    Bytes out = data_;
    out.resize(out.size() + out.size() % 2);
    const auto ifd = static_cast<uint32_t>(out.size());
    std::vector<Entry> entries = entries_;
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
    const size_t n = entries.size();
    size_t extra = ifd + 2 + 12 * n + 4;  // the next-directory pointer stays 0; out-of-line values follow
    out.resize(extra, 0);
    Put(out, ifd, countSet_ ? count_ : static_cast<uint32_t>(n), 2);
    for (size_t i = 0; i < n; ++i) {
        const Entry& e = entries[i];
        const size_t at = ifd + 2 + 12 * i;
        Put(out, at, e.tag, 2);
        Put(out, at + 2, e.type, 2);
        Put(out, at + 4, e.count, 4);
        if (e.raw || e.values.size() <= 4) {
            std::copy(e.values.begin(), e.values.end(), out.begin() + at + 8);
        } else {
            extra += extra % 2;
            Put(out, at + 8, static_cast<uint32_t>(extra), 4);
            out.resize(std::max(out.size(), extra + e.values.size()));
            std::copy(e.values.begin(), e.values.end(), out.begin() + extra);
            extra += e.values.size();
        }
    }
    if (rawHeader_) {
        std::copy(header_.begin(), header_.end(), out.begin());
    } else {
        out[0] = out[1] = big_ ? 'M' : 'I';
        Put(out, 2, version_, 2);
        Put(out, 4, ifdOffsetSet_ ? ifdOffset_ : ifd, 4);
    }
    out.resize(std::min(out.size(), truncateTo));
    return out;
}

Bytes PatternRows(uint32_t rowBytes, uint32_t rows, uint32_t seed)
{
    Bytes out(size_t(rowBytes) * rows);
    for (uint32_t y = 0; y < rows; ++y)
        for (uint32_t i = 0; i < rowBytes; ++i)
            out[size_t(y) * rowBytes + i] = static_cast<uint8_t>((y * 31 + i * 7 + seed * 13 + (i >> 8)) ^ (y >> 3));
    return out;
}

}  // namespace tiftest
