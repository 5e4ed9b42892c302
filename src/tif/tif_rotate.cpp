// tif_rotate.cpp — quarter-turn reading: rotated lines gathered from source columns.
//
// A rotated line is a source column. Stripped images are read through ReadLines
// into one work block of source rows at a time; tiled images are decoded a tile
// at a time into the first tile buffer, only the tile columns that the wanted
// lines touch. Bilevel pixels are moved in 8 × 8 bit blocks (a transpose of
// eight bytes), 2- and 4-bit pixels an output byte at a time, whole-byte
// pixels one by one.
#include <cstdlib>
#include <cstring>

#include "codec/tif_codec.h"
#include "codec/tif_limits.h"
#include "tif/tif_damage.h"
#include "tif/tif_file.h"
#include "tif/tif_tiles.h"

namespace {

// Where rotated pixels go: the caller's lines and the mapping from a rotated line
// to its source column and from a source row to the pixel in that line.
struct Rotation {
    unsigned char* out;  // line 0 of the call
    size_t lineBytes;    // E
    int height;          // H
    int pixelBits;       // 1, 2, 4 or a multiple of 8
    bool r90;
    int column0;         // source column of line 0

    // Source column of line k.
    int Column(int k) const { return r90 ? column0 + k : column0 - k; }
    // Pixel within a line taken from source row r.
    int Pixel(int r) const { return r90 ? height - 1 - r : r; }
};

// A block of decoded source rows: rows r0 .. r1 − 1 of the image, `stride` bytes
// apart, whose byte 0 holds image column colBase.
struct SourceBlock {
    const unsigned char* rows;
    size_t stride;
    int r0;
    int r1;
    int colBase;
};

// Transposes an 8 × 8 bit matrix held as eight bytes, row 0 in the most
// significant byte and column 0 in each byte's most significant bit.
inline uint64_t Transpose8(uint64_t x)
{
    uint64_t t;
    t = (x ^ (x >> 7)) & 0x00AA00AA00AA00AAULL;
    x = x ^ t ^ (t << 7);
    t = (x ^ (x >> 14)) & 0x0000CCCC0000CCCCULL;
    x = x ^ t ^ (t << 14);
    t = (x ^ (x >> 28)) & 0x00000000F0F0F0F0ULL;
    x = x ^ t ^ (t << 28);
    return x;
}

// Bits of columns a .. a + 7 of a packed bilevel row, column a in the most
// significant bit; columns outside [lo, hi) count as 0 and are never read.
inline unsigned Get8(const unsigned char* row, int a, int lo, int hi)
{
    if (a >= lo && a + 8 <= hi) {
        const unsigned char* b = row + (a >> 3);
        const int shift = a & 7;
        // With a shift, column a + 7 lies in the next byte, which is in the row.
        return shift == 0 ? b[0] : ((unsigned(b[0]) << 8 | b[1]) >> (8 - shift)) & 0xFFu;
    }
    unsigned v = 0;
    for (int i = 0; i < 8; ++i) {
        const int c = a + i;
        if (c >= lo && c < hi && (row[c >> 3] & (0x80 >> (c & 7))))
            v |= 0x80u >> i;
    }
    return v;
}

constexpr int kBand = 8;  // output bytes of a line per pass of RotateBits: 64 source rows

// The source rows of output bytes b0 .. b0 + nb − 1 of a line (null outside
// the block), and whether all eight of a byte's lie in it.
void BandRows(const Rotation& rot, const SourceBlock& src, int b0, int nb, const unsigned char* rows[kBand][8],
              bool whole[kBand])
{
    for (int i = 0; i < nb; ++i) {
        whole[i] = true;
        for (int q = 0; q < 8; ++q) {
            const int r = rot.Pixel(8 * (b0 + i) + q);  // Pixel is its own inverse
            const bool in = r >= src.r0 && r < src.r1;
            rows[i][q] = in ? src.rows + size_t(r - src.r0) * src.stride : nullptr;
            whole[i] = whole[i] && in;
        }
    }
}

// Columns a .. a + 7 (a = 8 × at + shift) of eight rows as an 8 × 8 bit
// matrix, row 0 in the most significant byte.
inline uint64_t Load8x8(const unsigned char* const* r, int at, int shift)
{
    uint64_t x = 0;
    if (shift == 0) {
        for (int q = 0; q < 8; ++q)
            x = x << 8 | r[q][at];
    } else {
        // Column a + 7 lies in the next byte, which is in the row.
        for (int q = 0; q < 8; ++q)
            x = x << 8 | (((unsigned(r[q][at]) << 8 | r[q][at + 1]) >> (8 - shift)) & 0xFFu);
    }
    return x;
}

// Stores a transposed block: byte m of x, from the top, is column a + m,
// which goes to the line `out` + m × e (R90) or + (7 − m) × e (R270).
template <bool R90>
inline void Store8(unsigned char* out, size_t e, uint64_t x)
{
    for (int m = 0; m < 8; ++m)
        out[size_t(R90 ? m : 7 - m) * e] = static_cast<unsigned char>(x >> (56 - 8 * m));
}

// An output byte at the edge of the block or of the call: only columns
// [lo, hi) of the run a .. a + 7 are wanted, and a byte shared with a
// neighbouring block (not `whole`) is ORed into what that block left.
template <bool R90>
void RotateEdgeByte(const unsigned char* const* rows, bool whole, int a, int lo, int hi, unsigned char* out,
                    size_t e)
{
    uint64_t x = 0;
    for (int q = 0; q < 8; ++q)
        x = x << 8 | (rows[q] != nullptr ? Get8(rows[q], a, lo, hi) : 0u);
    x = Transpose8(x);
    for (int m = lo - a; m < hi - a; ++m) {
        const auto v = static_cast<unsigned char>(x >> (56 - 8 * m));
        unsigned char* o = out + size_t(R90 ? m : 7 - m) * e;
        *o = whole ? v : static_cast<unsigned char>(*o | v);
    }
}

// Lines k0 .. k1 − 1 of the call from a block of bilevel rows, eight pixels
// (one output byte) at a time. A band of output bytes is done for one group of
// eight lines after another, so that both the source rows and the output lines
// in use stay in the cache. An output byte whose eight source rows all lie in
// the block is stored; one shared with a neighbouring block (chunk and tile
// edges) is ORed in, so that the two combine.
template <bool R90>
void RotateBits(const Rotation& rot, const SourceBlock& src, int k0, int k1)
{
    const size_t e = rot.lineBytes;  // kept local: stores through char pointers may alias `rot`
    const int pLo = rot.r90 ? rot.height - src.r1 : src.r0;
    const int pHi = rot.r90 ? rot.height - 1 - src.r0 : src.r1 - 1;
    for (int b0 = pLo >> 3; b0 <= pHi >> 3; b0 += kBand) {
        const int nb = (pHi >> 3) - b0 + 1 < kBand ? (pHi >> 3) - b0 + 1 : kBand;
        const unsigned char* rows[kBand][8];
        bool whole[kBand];
        BandRows(rot, src, b0, nb, rows, whole);
        for (int k = k0; k < k1; k += 8) {
            const int n = k1 - k < 8 ? k1 - k : 8;
            // The group's columns as a left-to-right run a .. a + 7 of which
            // [lo, hi) are wanted: R90 lines run left to right, R270 right to left.
            const int c = rot.Column(k) - src.colBase;
            const int a = R90 ? c : c - 7;
            const int lo = R90 ? c : c - n + 1;
            const int hi = R90 ? c + n : c + 1;
            const int at = a >> 3;
            const int shift = a & 7;
            unsigned char* out = rot.out + size_t(k) * e + b0;
            for (int i = 0; i < nb; ++i) {
                if (whole[i] && n == 8) {
                    const uint64_t x = Load8x8(rows[i], at, shift);
                    if (x != 0)  // the lines start zero
                        Store8<R90>(out + i, e, Transpose8(x));
                    continue;
                }
                RotateEdgeByte<R90>(rows[i], whole[i], a, lo, hi, out + i, e);
            }
        }
    }
}

// Pixels of 2 or 4 bits, packed most significant first: one output byte at a
// time from the 8 / Bits source rows it takes. A byte shared with a
// neighbouring block (chunk and tile edges) is ORed in, so that the two combine.
template <int Bits>
void RotateSmall(const Rotation& rot, const SourceBlock& src, int k0, int k1)
{
    constexpr int kPer = 8 / Bits;  // pixels per output byte
    constexpr unsigned kMask = (1u << Bits) - 1;
    const size_t e = rot.lineBytes;
    const long step = rot.r90 ? Bits : -Bits;
    const int pLo = rot.r90 ? rot.height - src.r1 : src.r0;
    const int pHi = rot.r90 ? rot.height - 1 - src.r0 : src.r1 - 1;
    for (int b = pLo / kPer; b <= pHi / kPer; ++b) {
        // The source rows of byte b's pixels; null outside the block.
        const unsigned char* rows[kPer];
        for (int q = 0; q < kPer; ++q) {
            const int r = rot.Pixel(kPer * b + q);
            rows[q] = r >= src.r0 && r < src.r1 ? src.rows + size_t(r - src.r0) * src.stride : nullptr;
        }
        unsigned char* o = rot.out + size_t(k0) * e + size_t(b);
        long c = long(rot.Column(k0) - src.colBase) * Bits;  // bit of the column within a source row
        for (int k = k0; k < k1; ++k, c += step, o += e) {
            unsigned v = 0;
            for (int q = 0; q < kPer; ++q)
                v = v << Bits | (rows[q] != nullptr ? (rows[q][c >> 3] >> (8 - Bits - (c & 7))) & kMask : 0u);
            *o = static_cast<unsigned char>(*o | v);
        }
    }
}

// Whole-byte pixels; Bytes 0 takes the size from `rot` (uncommon sizes).
template <int Bytes>
void RotatePixels(const Rotation& rot, const SourceBlock& src, int k0, int k1)
{
    const size_t bytes = Bytes > 0 ? size_t(Bytes) : size_t(rot.pixelBits / 8);
    const long step = rot.r90 ? long(bytes) : -long(bytes);
    for (int r = src.r0; r < src.r1; ++r) {
        const unsigned char* s =
            src.rows + size_t(r - src.r0) * src.stride + long(rot.Column(k0) - src.colBase) * long(bytes);
        unsigned char* o = rot.out + size_t(k0) * rot.lineBytes + size_t(rot.Pixel(r)) * bytes;
        for (int k = k0; k < k1; ++k, s += step, o += rot.lineBytes)
            std::memcpy(o, s, bytes);
    }
}

void Rotate(const Rotation& rot, const SourceBlock& src, int k0, int k1)
{
    switch (rot.pixelBits) {
    case 1: rot.r90 ? RotateBits<true>(rot, src, k0, k1) : RotateBits<false>(rot, src, k0, k1); break;
    case 2: RotateSmall<2>(rot, src, k0, k1); break;
    case 4: RotateSmall<4>(rot, src, k0, k1); break;
    case 8: RotatePixels<1>(rot, src, k0, k1); break;
    case 16: RotatePixels<2>(rot, src, k0, k1); break;
    case 24: RotatePixels<3>(rot, src, k0, k1); break;
    case 32: RotatePixels<4>(rot, src, k0, k1); break;
    case 48: RotatePixels<6>(rot, src, k0, k1); break;
    case 64: RotatePixels<8>(rot, src, k0, k1); break;
    default: RotatePixels<0>(rot, src, k0, k1); break;
    }
}

// Stripped images: the whole image passes through a work block of up to `count`
// rows. The rows lie at the decoder's own stride so that ReadLines decodes a
// chunk in one call and no row overlaps the next, whatever stride the caller
// set; the caller's stride is restored afterwards.
int RotateStrips(CTifFile* f, const Rotation& rot, int count)
{
    TifCodecState* s = TifState(f->m_pDecoder);
    const int stride = s->rowStride > f->m_nRowBytes ? s->rowStride : f->m_nRowBytes;
    const int chunk = count < f->m_nHeight ? count : f->m_nHeight;
    const int64_t size = TifCheckedSize(chunk, stride);
    if (size <= 0)
        return 0;
    auto* block = static_cast<unsigned char*>(std::calloc(size_t(size), 1));
    if (block == nullptr)
        return 0;
    const int callerStride = f->m_nBufRowBytes;
    f->m_nBufRowBytes = stride;
    int ok = 1;
    for (int g = 0; g < f->m_nHeight && ok; g += chunk) {
        const int n = f->m_nHeight - g < chunk ? f->m_nHeight - g : chunk;
        ok = f->SeekLine(g) && f->ReadLines(block, n) == n;
        if (ok)
            Rotate(rot, SourceBlock{block, size_t(stride), g, g + n, 0}, 0, count);
    }
    f->m_nBufRowBytes = callerStride;
    std::free(block);
    return ok;
}

// Tiled images: lines are made in groups whose columns share a tile column;
// each tile of that column is decoded into the first tile buffer.
int RotateTiles(CTifFile* f, const Rotation& rot, int count)
{
    const int tileLineBytes = TifTileLineBytes(f);
    const TifCodecState* s = TifState(f->m_pDecoder);
    // The tile buffer holds the tile's lines exactly a tile line apart.
    if (s->rowStride != tileLineBytes || s->reverse)
        return 0;
    // From here on the tile buffers stop holding the tile row m_nCurStrip names.
    f->m_nCurStrip = TIF_NO_TILE_ROW;
    f->m_nStripLinesLeft = 0;
    const int tw = f->m_nTileWidth;
    const int tl = f->m_nTileLength;
    for (int k = 0; k < count;) {
        const int c = rot.Column(k);
        const int within = c % tw;
        int n = rot.r90 ? tw - within : within + 1;
        if (n > count - k)
            n = count - k;
        for (int t = 0; t < f->m_nTilesDown; ++t) {
            const int tile = t * f->m_nTilesAcross + c / tw;
            if (!TifLoadTile(f, tile, f->m_ppTileRow[0])) {
                f->m_nStripLinesLeft = 0;
                return 0;
            }
            const int r0 = t * tl;
            const int r1 = f->m_nHeight - r0 < tl ? f->m_nHeight : r0 + tl;
            Rotate(rot, SourceBlock{f->m_ppTileRow[0], size_t(tileLineBytes), r0, r1, c - within}, k, k + n);
        }
        k += n;
    }
    f->m_nStripLinesLeft = 0;
    return 1;
}

int ReadRotated(CTifFile* f, void* buffer, int first, int count, bool r90)
{
    if (f->m_pDecoder == nullptr || f->m_bWrite)
        return 0;
    if (first < 0 || int64_t(first) + count > f->m_nWidth)
        return 0;  // columns outside the image
    const int64_t bits = int64_t(f->m_nSamplesPerPixel) * f->m_nBitsPerSample;
    if (bits % 8 != 0 && 8 % bits != 0)
        return 0;  // 3, 6, 12 bits...: pixels that straddle bytes are not rotated
    if (count <= 0)
        return 1;
    if (buffer == nullptr)
        return 0;
    const int64_t lineBytes = (int64_t(f->m_nHeight) * bits + 7) / 8;
    std::memset(buffer, 0, size_t(count) * size_t(lineBytes));

    Rotation rot;
    rot.out = static_cast<unsigned char*>(buffer);
    rot.lineBytes = size_t(lineBytes);
    rot.height = f->m_nHeight;
    rot.pixelBits = static_cast<int>(bits);
    rot.r90 = r90;
    rot.column0 = r90 ? first : f->m_nWidth - 1 - first;
    return f->m_bTiled ? RotateTiles(f, rot, count) : RotateStrips(f, rot, count);
}

}  // namespace

int CTifFile::ReadLinesR90(void* buffer, int first, int count)
{
    return ReadRotated(this, buffer, first, count, true);
}

int CTifFile::ReadLinesR270(void* buffer, int first, int count)
{
    return ReadRotated(this, buffer, first, count, false);
}
