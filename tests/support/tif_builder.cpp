// tif_builder.cpp — the test-side TIFF writer.
#include "support/tif_builder.h"

#include <algorithm>

namespace tiftest {

TiffBuilder::TiffBuilder(bool bigEndian) : big_(bigEndian), data_(8, 0) {}

uint32_t TiffBuilder::AddData(const Bytes& data)
{
    if (data_.size() % 2)
        data_.push_back(0);
    auto at = static_cast<uint32_t>(data_.size());
    data_.insert(data_.end(), data.begin(), data.end());
    return at;
}

void TiffBuilder::Put16(Bytes& out, size_t at, uint32_t v) const
{
    if (out.size() < at + 2)
        out.resize(at + 2, 0);
    out[at + (big_ ? 1 : 0)] = static_cast<uint8_t>(v);
    out[at + (big_ ? 0 : 1)] = static_cast<uint8_t>(v >> 8);
}

void TiffBuilder::Put32(Bytes& out, size_t at, uint32_t v) const
{
    if (out.size() < at + 4)
        out.resize(at + 4, 0);
    for (int i = 0; i < 4; ++i)
        out[at + (big_ ? 3 - i : i)] = static_cast<uint8_t>(v >> (8 * i));
}

Bytes TiffBuilder::Encode16(const std::vector<uint32_t>& values) const
{
    Bytes out;
    for (size_t i = 0; i < values.size(); ++i)
        Put16(out, 2 * i, values[i]);
    return out;
}

Bytes TiffBuilder::Encode32(const std::vector<uint32_t>& values) const
{
    Bytes out;
    for (size_t i = 0; i < values.size(); ++i)
        Put32(out, 4 * i, values[i]);
    return out;
}

Bytes TiffBuilder::EncodeValues(uint16_t type, const std::vector<uint32_t>& values) const
{
    switch (type) {
    case kShort: case kSShort:
        return Encode16(values);
    case kLong: case kSLong: case kRational:
        return Encode32(values);
    default: {
        Bytes out;
        for (uint32_t v : values)
            out.push_back(static_cast<uint8_t>(v));
        return out;
    }
    }
}

TiffBuilder& TiffBuilder::Add(uint16_t tag, uint16_t type, const std::vector<uint32_t>& values)
{
    const auto count = static_cast<uint32_t>(type == kRational ? values.size() / 2 : values.size());
    entries_.push_back({tag, type, count, EncodeValues(type, values)});
    return *this;
}

TiffBuilder& TiffBuilder::Set(uint16_t tag, uint16_t type, const std::vector<uint32_t>& values)
{
    Remove(tag);
    return Add(tag, type, values);
}

TiffBuilder& TiffBuilder::Raw(uint16_t tag, uint16_t type, uint32_t count, std::array<uint8_t, 4> field)
{
    entries_.push_back({tag, type, count, {}, true, field});
    return *this;
}

TiffBuilder& TiffBuilder::AtOffset(uint16_t tag, uint16_t type, uint32_t count, uint32_t offset)
{
    Bytes f = Encode32({offset});
    return Raw(tag, type, count, {f[0], f[1], f[2], f[3]});
}

TiffBuilder& TiffBuilder::Remove(uint16_t tag)
{
    entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                  [tag](const Entry& e) { return e.tag == tag; }),
                   entries_.end());
    return *this;
}

void TiffBuilder::ImageTags(const ImageSpec& s)
{
    Set(kTagImageWidth, kLong, {s.width}).Set(kTagImageLength, kLong, {s.height});
    Set(kTagBitsPerSample, kShort, std::vector<uint32_t>(s.samples, s.bits)).Set(kTagSamplesPerPixel, kShort, {s.samples});
    Set(kTagCompression, kShort, {s.compression}).Set(kTagPhotometric, kShort, {uint32_t(s.photometric)});
}

TiffBuilder& TiffBuilder::StripImage(const ImageSpec& s, const Bytes& pixels)
{
    const uint32_t rowBytes = s.RowBytes();
    const uint32_t rps = s.rowsPerStrip ? s.rowsPerStrip : s.height;
    std::vector<uint32_t> offsets, counts;
    for (uint32_t y = 0; y < s.height; y += rps) {
        uint32_t rows = std::min(rps, s.height - y);
        size_t from = size_t(y) * rowBytes;
        size_t to = std::min(pixels.size(), from + size_t(rows) * rowBytes);
        Bytes strip(pixels.begin() + std::min(from, pixels.size()), pixels.begin() + to);
        offsets.push_back(AddData(strip));
        counts.push_back(static_cast<uint32_t>(strip.size()));
    }
    ImageTags(s);
    Set(kTagStripOffsets, kLong, offsets);
    if (s.rowsPerStrip)
        Set(kTagRowsPerStrip, kLong, {s.rowsPerStrip});
    Set(kTagStripByteCounts, kLong, counts);
    return *this;
}

TiffBuilder& TiffBuilder::TileImage(const ImageSpec& s, uint32_t tw, uint32_t tl, const Bytes& pixels,
                                    uint8_t pad)
{
    const uint32_t rowBytes = s.RowBytes();
    const uint32_t tileRowBytes = (tw * s.samples * s.bits + 7) / 8;
    const uint32_t across = (s.width + tw - 1) / tw, down = (s.height + tl - 1) / tl;
    std::vector<uint32_t> offsets, counts;
    for (uint32_t ty = 0; ty < down; ++ty) {
        for (uint32_t tx = 0; tx < across; ++tx) {
            Bytes tile(size_t(tileRowBytes) * tl, pad);
            for (uint32_t r = 0; r < tl; ++r) {
                uint32_t y = ty * tl + r;
                if (y >= s.height)
                    break;
                size_t from = size_t(y) * rowBytes + size_t(tx) * tileRowBytes;
                for (uint32_t i = 0; i < tileRowBytes && tx * tileRowBytes + i < rowBytes; ++i)
                    if (from + i < pixels.size())
                        tile[size_t(r) * tileRowBytes + i] = pixels[from + i];
            }
            offsets.push_back(AddData(tile));
            counts.push_back(static_cast<uint32_t>(tile.size()));
        }
    }
    ImageTags(s);
    Set(kTagTileWidth, kLong, {tw});
    Set(kTagTileLength, kLong, {tl});
    Set(kTagTileOffsets, kLong, offsets);
    Set(kTagTileByteCounts, kLong, counts);
    return *this;
}

Bytes TiffBuilder::Build(size_t truncateTo) const
{
    Bytes out = data_;
    if (out.size() % 2)
        out.push_back(0);
    const uint32_t ifd = static_cast<uint32_t>(out.size());
    std::vector<Entry> entries = entries_;
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
    const size_t n = entries.size();
    size_t extra = ifd + 2 + 12 * n + 4;  // out-of-line values follow the directory
    out.resize(extra, 0);
    Put16(out, ifd, countSet_ ? count_ : static_cast<uint32_t>(n));
    for (size_t i = 0; i < n; ++i) {
        const Entry& e = entries[i];
        const size_t at = ifd + 2 + 12 * i;
        Put16(out, at, e.tag);
        Put16(out, at + 2, e.type);
        Put32(out, at + 4, e.count);
        if (e.rawField) {
            std::copy(e.field.begin(), e.field.end(), out.begin() + at + 8);
        } else if (e.values.size() <= 4) {
            for (size_t k = 0; k < 4; ++k)
                out[at + 8 + k] = k < e.values.size() ? e.values[k] : 0;
        } else {
            extra += extra % 2;
            Put32(out, at + 8, static_cast<uint32_t>(extra));
            if (out.size() < extra + e.values.size())
                out.resize(extra + e.values.size(), 0);
            std::copy(e.values.begin(), e.values.end(), out.begin() + extra);
            extra += e.values.size();
        }
    }

    if (rawHeader_) {
        std::copy(header_.begin(), header_.end(), out.begin());
    } else {
        out[0] = out[1] = big_ ? 'M' : 'I';
        Put16(out, 2, version_);
        Put32(out, 4, ifdOffsetSet_ ? ifdOffset_ : ifd);
    }
    if (truncateTo < out.size())
        out.resize(truncateTo);
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
