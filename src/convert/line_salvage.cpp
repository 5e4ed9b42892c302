// line_salvage.cpp — see line_salvage.h.
#include "convert/line_salvage.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "codec/tif_codec.h"
#include "io/tif_stream.h"
#include "tif/tif_wide.h"

namespace {

// A row of paper: white as the image type stores it. A palette image takes
// the entry nearest white.
std::vector<unsigned char> PaperRow(CTifFile& in, const VXIMGINFO& info)
{
    const int bits = info.nSamplesPerPixel * info.nBitsPerSample;
    std::vector<unsigned char> row(size_t((int64_t(info.nWidth) * bits + 7) / 8));
    switch (in.m_nPhotometric) {
    case 0:
    case 5: return row;  // white is 0 (min-is-white, no ink)
    case 3: break;
    default: std::fill(row.begin(), row.end(), 0xFF); return row;  // min-is-black, RGB: all ones
    }
    unsigned best = 0;
    int bestDistance = -1;
    const int colours = std::min(in.m_nColors, 1 << std::min(info.nBitsPerSample, 16));
    for (int i = 0; i < colours; ++i) {
        const int r = 65535 - in.m_pRedMap[i], g = 65535 - in.m_pGreenMap[i], b = 65535 - in.m_pBlueMap[i];
        const int distance = std::max({r, g, b});
        if (bestDistance < 0 || distance < bestDistance)
            bestDistance = distance, best = unsigned(i);
    }
    const int n = info.nBitsPerSample;
    if (n >= 8) {
        const size_t bytes = size_t(n / 8);
        for (size_t x = 0; x + bytes <= row.size(); x += bytes)
            for (size_t k = 0; k < bytes; ++k)  // in the file's byte order
                row[x + k] = static_cast<unsigned char>(best >> (8 * (in.m_bSwap ? bytes - 1 - k : k)));
    } else {
        unsigned pattern = 0;
        for (int at = 0; at < 8; at += n)
            pattern = pattern << n | (best & ((1u << n) - 1));
        std::fill(row.begin(), row.end(), static_cast<unsigned char>(pattern));
    }
    return row;
}

// The stored bytes of strip (tile) `i` inside the file.
int64_t BytesInside(CTifFile& in, int64_t length, int i)
{
    const uint64_t offset = TifStripOffset(&in, i);
    return offset < uint64_t(length) ? int64_t(std::min<uint64_t>(TifStripBytes(&in, i), length - offset)) : 0;
}

// The rows a page is given. Rows a strip's (tile row's) bytes could decode to
// at most are backed by data; the others (a missing strip, rows past what a
// short strip could hold) are paper, and there may be as many paper rows as
// all the page's data could decode to at most. So a file cut short keeps its
// page, and a page claiming rows no data could ever fill ends once that paper
// is spent: a damaged file costs no more than twice a sound file of its size.
// The claimed height when the scheme gives no bound.
int64_t RowsToGive(CTifFile& in, int64_t unit)
{
    const int64_t length = in.m_pStream != nullptr ? in.m_pStream->GetLength() : -1;
    const TifCodecParams params = {in.m_nCompression, in.m_bTiled ? in.m_nTileWidth : in.m_nWidth,
                                   in.m_nSamplesPerPixel, in.m_nBitsPerSample};
    const int across = in.m_bTiled ? std::max(1, in.m_nTilesAcross) : 1;
    const int64_t height = in.m_nHeight, kMost = int64_t(1) << 40;  // past any classic file
    int64_t total = 0;
    for (int i = 0; i < in.m_nStrips; ++i)
        total = std::min(total + BytesInside(in, length, i), kMost);
    const int64_t budget = TifMostRows(&params, total / across);
    if (budget < 0)
        return height;
    int64_t paper = 0;
    for (int64_t first = 0, i = 0; first < height; first += unit, i += across) {
        if (i >= in.m_nStrips)  // past the last strip every row is paper
            return paper + height - first > budget ? first + budget - paper : height;
        int64_t bytes = 0;
        for (int64_t k = i; k < i + across && k < in.m_nStrips; ++k)
            bytes += BytesInside(in, length, int(k));
        const int64_t rows = std::min(unit, height - first);
        const int64_t data = bytes > 0 ? std::min(rows, TifMostRows(&params, bytes / across)) : 0;
        if (paper + rows - data > budget)
            return first + data + (budget - paper);
        paper += rows - data;
    }
    return height;
}

}  // namespace

Salvager::Salvager(CTifFile& in) : in_(in)
{
    VXIMGINFO info;
    in.GetImgInfo(&info);
    paper_ = PaperRow(in, info);
    height_ = info.nHeight;
    unit_ = info.nRowsPerStrip > 0 && info.nRowsPerStrip < info.nHeight ? info.nRowsPerStrip : info.nHeight;
    rows_ = int(std::clamp<int64_t>(RowsToGive(in, std::max(1, unit_)), std::min(1, height_), height_));
    position_ = -1;
}

void Salvager::Read(unsigned char* rows, int first, int count)
{
    const size_t rowBytes = paper_.size();
    const int end = first + count;
    for (int y = first; y < end;) {
        if (PaperTo(y) == y) {
            int got = 0;
            if (position_ == y || in_.SeekLine(y) == 1)
                got = std::max(0, in_.ReadLines(rows + size_t(y - first) * rowBytes, end - y));
            y += got;
            position_ = y;
            dataEnd_ = std::max(dataEnd_, got > 0 ? y : 0);
            if (y >= end)
                break;
            // The rest of this strip cannot be decoded: paper up to the next one.
            endsEarly_ = endsEarly_ || CTifFile::GetLastFailure() == VXTIFF_FAIL_CUT_SHORT;
            paperFrom_ = y;
            paperTo_ = int(std::min<int64_t>(height_, (int64_t(y) / unit_ + 1) * unit_));
            position_ = -1;
        }
        for (const int next = std::min(end, paperTo_); y < next; ++y)
            std::memcpy(rows + size_t(y - first) * rowBytes, paper_.data(), rowBytes);
    }
}

PageDamage Salvager::Damage()
{
    PageDamage d;
    d.lines = in_.GetDamagedLines(&d.first);
    d.endsEarly = endsEarly_;
    d.claimed = rows_ < height_ ? height_ : 0;
    d.rows = rows_;
    return d;
}
