// line_salvage.cpp — see line_salvage.h.
#include "convert/line_salvage.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

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

}  // namespace

Salvager::Salvager(CTifFile& in) : in_(in)
{
    VXIMGINFO info;
    in.GetImgInfo(&info);
    paper_ = PaperRow(in, info);
    height_ = info.nHeight;
    unit_ = info.nRowsPerStrip > 0 && info.nRowsPerStrip < info.nHeight ? info.nRowsPerStrip : info.nHeight;
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
    return d;
}
