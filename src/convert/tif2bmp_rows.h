// tif2bmp_rows.h — the output rows of VXTiff2Bmp built from source lines
// (internal to the library): the geometry of the conversion and RowBuilder,
// which makes an output row a byte at a time, by table lookup where the
// column pattern allows.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

// Included by tif2bmp.cpp alone: internal linkage, so that the compiler
// inlines and specialises as it did when this was part of that file.
namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <class T>
using CArray = std::unique_ptr<T[], FreeDeleter>;

template <class T>
CArray<T> Calloc(int64_t count)
{
    return CArray<T>(static_cast<T*>(std::calloc(size_t(count), sizeof(T))));
}

struct Geometry {
    int width;        // output pixels per row
    int rowBytes;     // output row, padded to 4 bytes
    int rows;         // output rows
    double rowRatio;  // exact: output rows per source row
    double step;      // source column of output column i: trunc(i × step / stepDen)
    double stepDen;
    bool exact;       // rows as VXTiff2Bmp makes them; otherwise from rowNum / rowDen
    double rowNum;    // square: output row o comes from source row trunc(o × rowNum / rowDen)
    double rowDen;
    uint32_t ppm;     // square: the output's resolution in pixels per metre, 0 when unknown
    double slack;     // square: added before truncating, so that a ratio that should be whole
                      // (203.2 / 203.2) does not fall just short of it
};

inline unsigned SourceBit(const unsigned char* line, int32_t s)
{
    return (line[s >> 3] >> (7 - (s & 7))) & 1u;
}

// Builds output rows from source lines. An output byte whose eight source
// columns lie within two adjacent source bytes is looked up: two 256-entry
// tables, one per source byte, give the bits each contributes. Output bytes
// with the same column pattern share tables, so a regular ratio needs only a
// few; the rest are gathered bit by bit through the column table.
class RowBuilder {
public:
    // False when memory runs out.
    bool Init(const Geometry& g, int sourceWidth)
    {
        width_ = g.width;
        const int whole = g.width >> 3;
        if (!Allocate(whole))
            return false;
        FillColumns(g, sourceWidth);
        const int patterns = FindPatterns(whole);
        // A whole ratio (2:1, 1:1, ...) gives one pattern at a fixed source step.
        step_ = whole > 1 ? source_[1] - source_[0] : 0;
        uniform_ = whole > 0 && patterns == 1;
        for (int o = 0; o < whole && uniform_; ++o)
            uniform_ = pattern_[o] == 0 && source_[o] == source_[0] + o * step_;
        return true;
    }

    // Output pixel i = source bit columns[i]; the padding after the last pixel is
    // left as it is (zero). `line` has a spare byte after the source row.
    void Build(const unsigned char* line, unsigned char* out) const
    {
        const int whole = width_ >> 3;
        const int32_t* c = columns_.get();
        if (uniform_) {
            const unsigned char* t = tables_.get();
            const unsigned char* b = line + source_[0];
            for (int o = 0; o < whole; ++o, b += step_)
                out[o] = t[b[0]] | t[256 + b[1]];
        }
        for (int o = uniform_ ? whole : 0; o < whole; ++o) {
            const int p = pattern_[o];
            if (p >= 0) {
                const unsigned char* t = tables_.get() + size_t(p) * 512;
                const unsigned char* b = line + source_[o];
                out[o] = t[b[0]] | t[256 + b[1]];
            } else {
                const int32_t* k = c + 8 * o;
                out[o] = static_cast<unsigned char>(
                    SourceBit(line, k[0]) << 7 | SourceBit(line, k[1]) << 6 | SourceBit(line, k[2]) << 5 |
                    SourceBit(line, k[3]) << 4 | SourceBit(line, k[4]) << 3 | SourceBit(line, k[5]) << 2 |
                    SourceBit(line, k[6]) << 1 | SourceBit(line, k[7]));
            }
        }
        if (const int rest = width_ & 7; rest != 0) {
            unsigned v = 0;
            for (int k = 0; k < rest; ++k)
                v |= SourceBit(line, c[8 * whole + k]) << (7 - k);
            out[whole] = static_cast<unsigned char>(v);
        }
    }

private:
    static constexpr int kMaxPatterns = 64;

    bool Allocate(int whole)
    {
        columns_ = Calloc<int32_t>(width_);
        source_ = Calloc<int32_t>(whole > 0 ? whole : 1);
        pattern_ = Calloc<int16_t>(whole > 0 ? whole : 1);
        tables_ = Calloc<unsigned char>(int64_t(kMaxPatterns) * 512);
        return columns_ && source_ && pattern_ && tables_;
    }

    void FillColumns(const Geometry& g, int sourceWidth)
    {
        for (int i = 0; i < g.width; ++i) {
            const double s = std::trunc(i * g.step / g.stepDen + g.slack);
            // The single-precision target can carry the last columns just past the row.
            columns_[i] = s < sourceWidth ? static_cast<int32_t>(s) : sourceWidth - 1;
        }
    }

    // Gives each whole output byte its source byte and its tables (made for
    // the first kMaxPatterns column patterns); returns how many were made.
    int FindPatterns(int whole)
    {
        uint32_t keys[kMaxPatterns];
        int patterns = 0;
        int lastPattern = -1;
        for (int o = 0; o < whole; ++o) {
            const int32_t* c = columns_.get() + 8 * o;
            const int32_t base = c[0] >> 3;
            pattern_[o] = -1;
            source_[o] = base;
            if (c[7] - 8 * base >= 16)
                continue;  // wider than two bytes: gathered
            const uint32_t key = PatternKey(c, base);
            int p = lastPattern >= 0 && keys[lastPattern] == key ? lastPattern : FindKey(keys, patterns, key);
            if (p < 0 && patterns < kMaxPatterns) {
                p = patterns++;
                keys[p] = key;
                MakeTables(c, base, tables_.get() + size_t(p) * 512);
            }
            pattern_[o] = static_cast<int16_t>(p);
            lastPattern = p;
        }
        return patterns;
    }

    // The offsets of eight output columns from source byte base, four bits each.
    static uint32_t PatternKey(const int32_t* c, int32_t base)
    {
        uint32_t key = 0;
        for (int k = 0; k < 8; ++k)
            key = key << 4 | uint32_t(c[k] - 8 * base);
        return key;
    }

    static int FindKey(const uint32_t* keys, int patterns, uint32_t key)
    {
        for (int i = 0; i < patterns; ++i)
            if (keys[i] == key)
                return i;
        return -1;
    }

    // Tables for source bytes base and base + 1 of eight output columns.
    static void MakeTables(const int32_t* c, int32_t base, unsigned char* t)
    {
        for (int v = 0; v < 256; ++v) {
            unsigned first = 0, second = 0;
            for (int k = 0; k < 8; ++k) {
                const int r = c[k] - 8 * base;
                const unsigned bit = (unsigned(v) >> (7 - (r & 7))) & 1u;
                (r < 8 ? first : second) |= bit << (7 - k);
            }
            t[v] = static_cast<unsigned char>(first);
            t[256 + v] = static_cast<unsigned char>(second);
        }
    }

    int width_ = 0;
    bool uniform_ = false;  // every whole output byte uses pattern 0, step_ source bytes apart
    int step_ = 0;
    CArray<int32_t> columns_;        // source column of each output column
    CArray<int32_t> source_;         // first source byte of each whole output byte
    CArray<int16_t> pattern_;        // its tables, or -1: gathered
    CArray<unsigned char> tables_;
};

}  // namespace
