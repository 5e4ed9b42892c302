// bench_image.cpp — deterministic generators of the benchmark images.
//
// Everything is driven by a fixed-seed PRNG, so every run (and every machine)
// benchmarks the same pixels.
#include "bench_image.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

BenchImage::BenchImage(int w, int h, int spp, int bps)
    : width(w), height(h), samples(spp), bits(bps),
      rowBytes((size_t(w) * size_t(spp) * size_t(bps) + 7) / 8),
      data(rowBytes * size_t(h), 0)
{
}

namespace {

// splitmix64: small, fast and good enough for pictures.
class Rng {
public:
    explicit Rng(uint64_t seed) : s_(seed) {}
    uint64_t Next()
    {
        uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in [lo, hi].
    int Range(int lo, int hi) { return lo + int(Next() % uint64_t(hi - lo + 1)); }
    bool Chance(int percent) { return Range(0, 99) < percent; }

private:
    uint64_t s_;
};

// Drawing on a bilevel image; everything is clipped to the image.
class Canvas {
public:
    explicit Canvas(BenchImage& img) : img_(img) {}

    void Set(int x, int y)
    {
        if (x >= 0 && y >= 0 && x < img_.width && y < img_.height)
            img_.Row(y)[x >> 3] |= uint8_t(0x80 >> (x & 7));
    }
    void Fill(int x0, int y0, int x1, int y1)  // inclusive corners
    {
        x0 = std::max(x0, 0);
        y0 = std::max(y0, 0);
        x1 = std::min(x1, img_.width - 1);
        y1 = std::min(y1, img_.height - 1);
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                img_.Row(y)[x >> 3] |= uint8_t(0x80 >> (x & 7));
    }
    void Frame(int x0, int y0, int x1, int y1, int t)
    {
        Fill(x0, y0, x1, y0 + t - 1);
        Fill(x0, y1 - t + 1, x1, y1);
        Fill(x0, y0, x0 + t - 1, y1);
        Fill(x1 - t + 1, y0, x1, y1);
    }
    // A line of thickness t (a square pen), Bresenham.
    void Line(int x0, int y0, int x1, int y1, int t)
    {
        const int dx = std::abs(x1 - x0), sx = x0 < x1 ? 1 : -1;
        const int dy = -std::abs(y1 - y0), sy = y0 < y1 ? 1 : -1;
        int err = dx + dy;
        const int h = t / 2;
        for (;;) {
            if (t <= 1)
                Set(x0, y0);
            else
                Fill(x0 - h, y0 - h, x0 - h + t - 1, y0 - h + t - 1);
            if (x0 == x1 && y0 == y1)
                break;
            const int e2 = 2 * err;
            if (e2 >= dy) {
                err += dy;
                x0 += sx;
            }
            if (e2 <= dx) {
                err += dx;
                y0 += sy;
            }
        }
    }
    // A ring of thickness t around (cx, cy) with outer radius r.
    void Circle(int cx, int cy, int r, int t)
    {
        const long outer = long(r) * r, inner = long(std::max(r - t, 0)) * std::max(r - t, 0);
        for (int y = -r; y <= r; ++y) {
            for (int x = -r; x <= r; ++x) {
                const long d = long(x) * x + long(y) * y;
                if (d <= outer && d >= inner)
                    Set(cx + x, cy + y);
            }
        }
    }
    // Diagonal hatching (45 degrees) inside a rectangle, lines `gap` apart.
    void Hatch(int x0, int y0, int x1, int y1, int gap, bool rising)
    {
        for (int y = std::max(y0, 0); y <= std::min(y1, img_.height - 1); ++y) {
            for (int x = std::max(x0, 0); x <= std::min(x1, img_.width - 1); ++x) {
                const int k = rising ? x + y : x - y + 1000000;
                if (k % gap == 0)
                    img_.Row(y)[x >> 3] |= uint8_t(0x80 >> (x & 7));
            }
        }
    }

private:
    BenchImage& img_;
};

// A made-up font of 5 x 7 glyphs built from letter strokes (stems, bars,
// diagonals, dots), so that rendered text has the run structure of print.
class Font {
public:
    static constexpr int kGlyphs = 48;
    static constexpr int kW = 5;
    static constexpr int kH = 9;  // 7 rows plus 2 for descenders

    Font()
    {
        Rng rng(0xF0A7);
        for (int g = 0; g < kGlyphs; ++g) {
            uint8_t* m = masks_[g];
            const int kind = rng.Range(0, 9);  // 0-5 x-height, 6-8 ascender, 9 descender
            const int top = kind <= 5 ? 2 : 0;
            const int bottom = kind == 9 ? 8 : 6;
            const int parts = rng.Range(2, 4);
            for (int p = 0; p < parts; ++p) {
                switch (rng.Range(0, 7)) {
                case 0: VStroke(m, 0, top, 6); break;
                case 1: VStroke(m, 4, top, 6); break;
                case 2: VStroke(m, 2, top, bottom); break;
                case 3: HStroke(m, top, 0, 4); break;
                case 4: HStroke(m, (top + 6) / 2, 0, 4); break;
                case 5: HStroke(m, 6, 0, 4); break;
                case 6:
                    for (int i = 0; i <= 6 - top; ++i)
                        m[top + i] |= uint8_t(1 << (4 - std::min(4, i * 5 / (7 - top))));
                    break;
                default: VStroke(m, 0, 2, bottom); break;
                }
            }
            if (kind == 9)
                VStroke(m, 4, 2, 8);
        }
    }
    // Draws glyph g with its top-left at (x, y), each cell sx by sy pixels.
    void Draw(Canvas& c, int g, int x, int y, int sx, int sy) const
    {
        const uint8_t* m = masks_[g % kGlyphs];
        for (int r = 0; r < kH; ++r)
            for (int col = 0; col < kW; ++col)
                if (m[r] & (1 << (4 - col)))
                    c.Fill(x + col * sx, y + r * sy, x + col * sx + sx - 1, y + r * sy + sy - 1);
    }

private:
    static void VStroke(uint8_t* m, int col, int r0, int r1)
    {
        for (int r = r0; r <= r1; ++r)
            m[r] |= uint8_t(1 << (4 - col));
    }
    static void HStroke(uint8_t* m, int row, int c0, int c1)
    {
        for (int c = c0; c <= c1; ++c)
            m[row] |= uint8_t(1 << (4 - c));
    }
    uint8_t masks_[kGlyphs][kH] = {};
};

// Draws one ragged line of words from x0 up to x1; returns the x reached.
int TextLine(Canvas& c, const Font& f, Rng& rng, int x0, int x1, int y, int sx, int sy)
{
    const int advance = Font::kW * sx + sx;
    int x = x0;
    while (x + advance * 3 < x1) {
        const int letters = rng.Range(1, 9);
        if (x + letters * advance > x1)
            break;
        for (int i = 0; i < letters; ++i, x += advance)
            f.Draw(c, rng.Range(0, Font::kGlyphs - 1), x, y, sx, sy);
        x += advance;  // word gap
    }
    return x;
}

}  // namespace

BenchImage MakeFaxPage(uint64_t seed)
{
    BenchImage img(1728, 2200, 1, 1);
    img.dpi = 200.0;
    Canvas c(img);
    Font font;
    Rng rng(seed);
    const int left = 150, right = 1728 - 150;
    int y = 170;

    // Title in large type, then a heavy rule.
    TextLine(c, font, rng, left + 200, right - 200, y, 5, 5);
    y += Font::kH * 5 + 25;
    c.Fill(left, y, right, y + 3);
    y += 40;

    // Body text: paragraphs of 10-point-like lines, 30 pixels apart, with a rule
    // after some paragraphs and a table near the bottom.
    const int pitch = 30;
    bool tableDone = false;
    while (y < 2200 - 260) {
        if (!tableDone && y > 1350) {
            const int rows = 6, rowH = 44, cols[] = {left, left + 300, left + 700, left + 1050, right};
            for (int r = 0; r <= rows; ++r)
                c.Fill(left, y + r * rowH, right, y + r * rowH + (r == 1 ? 2 : 0));
            for (int x : cols)
                c.Fill(x, y, x + 1, y + rows * rowH);
            for (int r = 0; r < rows; ++r)
                for (int k = 0; k + 1 < 5; ++k)
                    TextLine(c, font, rng, cols[k] + 12, cols[k + 1] - 8, y + r * rowH + 12, 2, 2);
            y += rows * rowH + 50;
            tableDone = true;
            continue;
        }
        const int lines = rng.Range(3, 8);
        for (int i = 0; i < lines && y < 2200 - 260; ++i, y += pitch) {
            const int x0 = i == 0 ? left + 50 : left;
            const int x1 = i + 1 == lines ? rng.Range(left + 300, right) : right;
            TextLine(c, font, rng, x0, x1, y, 2, 2);
        }
        y += pitch / 2;
        if (rng.Chance(30)) {
            c.Fill(left, y, right, y);
            y += pitch / 2;
        }
    }

    // Footer: a rule and a short centred line.
    c.Fill(left, 2200 - 190, right, 2200 - 189);
    TextLine(c, font, rng, 1728 / 2 - 120, 1728 / 2 + 120, 2200 - 170, 2, 2);
    return img;
}

BenchImage MakeDrawing()
{
    const int W = 9600, H = 7200;
    BenchImage img(W, H, 1, 1);
    img.dpi = 200.0;
    Canvas c(img);
    Font font;
    Rng rng(0xD4A3);

    // Frames and zone marks.
    c.Frame(100, 100, W - 101, H - 101, 4);
    c.Frame(160, 160, W - 161, H - 161, 2);
    for (int i = 1; i < 8; ++i) {
        c.Fill(160 + i * (W - 320) / 8, 100, 160 + i * (W - 320) / 8 + 1, 160);
        c.Fill(160 + i * (W - 320) / 8, H - 160, 160 + i * (W - 320) / 8 + 1, H - 100);
    }

    // Title block: a grid of cells with text.
    const int tx0 = W - 161 - 2400, ty0 = H - 161 - 800;
    c.Frame(tx0, ty0, W - 161, H - 161, 3);
    for (int r = 1; r < 5; ++r)
        c.Fill(tx0, ty0 + r * 160, W - 161, ty0 + r * 160 + 1);
    for (int k = 1; k < 3; ++k)
        c.Fill(tx0 + k * 800, ty0 + 160, tx0 + k * 800 + 1, H - 161);
    TextLine(c, font, rng, tx0 + 40, W - 200, ty0 + 40, 6, 6);
    for (int r = 1; r < 5; ++r)
        for (int k = 0; k < 3; ++k)
            TextLine(c, font, rng, tx0 + k * 800 + 20, tx0 + k * 800 + 780, ty0 + r * 160 + 50, 3, 3);

    // Parts: boxes, circles, hatched sections, lines and labels, placed at random
    // in the drawing area (avoiding the title block).
    auto inArea = [&](int x, int y) { return !(x > tx0 - 200 && y > ty0 - 200); };
    for (int n = 0; n < 140; ++n) {
        const int x = rng.Range(300, W - 900), y = rng.Range(300, H - 900);
        if (!inArea(x, y))
            continue;
        switch (rng.Range(0, 5)) {
        case 0: {  // box, sometimes with a hatched section
            const int w = rng.Range(150, 1200), h = rng.Range(150, 900);
            c.Frame(x, y, x + w, y + h, rng.Range(2, 4));
            if (rng.Chance(40))
                c.Hatch(x + 4, y + 4, x + w / 2, y + h - 4, rng.Range(12, 28), rng.Chance(50));
            break;
        }
        case 1: {  // circle, with a centre mark and sometimes concentric rings
            const int r = rng.Range(40, 450);
            c.Circle(x, y, r, 2);
            if (rng.Chance(50))
                c.Circle(x, y, r * 2 / 3, 2);
            c.Fill(x - r / 4, y, x + r / 4, y);
            c.Fill(x, y - r / 4, x, y + r / 4);
            break;
        }
        case 2: {  // polyline
            int px = x, py = y;
            for (int k = rng.Range(2, 6); k > 0; --k) {
                const int qx = std::clamp(px + rng.Range(-900, 900), 200, W - 200);
                const int qy = std::clamp(py + rng.Range(-700, 700), 200, H - 200);
                c.Line(px, py, qx, qy, rng.Range(1, 3));
                px = qx;
                py = qy;
            }
            break;
        }
        case 3: {  // dimension line with arrow ticks and a label
            const int len = rng.Range(300, 1500);
            c.Fill(x, y, x + len, y);
            c.Fill(x, y - 30, x, y + 30);
            c.Fill(x + len, y - 30, x + len, y + 30);
            for (int k = 0; k < 20; ++k) {
                c.Fill(x + k, y - k / 3, x + k, y + k / 3);
                c.Fill(x + len - k, y - k / 3, x + len - k, y + k / 3);
            }
            TextLine(c, font, rng, x + len / 2 - 60, x + len / 2 + 90, y - 50, 2, 3);
            break;
        }
        case 4: {  // block of notes
            for (int k = rng.Range(2, 7), ly = y; k > 0; --k, ly += 40)
                TextLine(c, font, rng, x, x + rng.Range(300, 900), ly, 2, 3);
            break;
        }
        default: {  // hatched section with a heavy outline
            const int w = rng.Range(100, 600), h = rng.Range(100, 600);
            c.Hatch(x, y, x + w, y + h, rng.Range(10, 20), rng.Chance(50));
            c.Frame(x, y, x + w, y + h, 3);
            break;
        }
        }
    }
    return img;
}

BenchImage MakePhoto(int samples, bool sensorNoise)
{
    sensorNoise = sensorNoise && samples == 1;
    const int W = 4000, H = 3000;
    BenchImage img(W, H, samples, 8);
    img.dpi = 300.0;
    Rng rng((samples == 1 ? 0x9E7 : 0x26B) + (sensorNoise ? 0x1000 : 0));

    // Separable smooth gradients per channel.
    std::vector<float> gx(size_t(W) * 3), gy(size_t(H) * 3);
    for (int ch = 0; ch < 3; ++ch) {
        const double fx = 0.6 + ch * 0.4, fy = 0.5 + ch * 0.3, ph = ch * 1.3;
        for (int x = 0; x < W; ++x)
            gx[size_t(x) * 3 + ch] = float(50.0 * std::sin(6.2832 * fx * x / W + ph));
        for (int y = 0; y < H; ++y)
            gy[size_t(y) * 3 + ch] = float(40.0 * std::cos(6.2832 * fy * y / H + ph * 0.5));
    }
    // Soft blobs (light and shade) and sharp-edged ellipses (objects).
    struct Blob {
        float x, y, rx2, ry2, amp[3];
        bool sharp;
    };
    std::vector<Blob> blobs;
    for (int i = 0; i < 12; ++i) {
        const bool sharp = i >= 6;
        const float rx = float(rng.Range(150, 800)), ry = float(rng.Range(150, 700));
        blobs.push_back({float(rng.Range(0, W)), float(rng.Range(0, H)), rx * rx, ry * ry,
                         {float(rng.Range(-80, 80)), float(rng.Range(-80, 80)), float(rng.Range(-80, 80))},
                         sharp});
    }
    // Value noise in two octaves: lattices of random values, bilinear.
    struct Octave {
        int cell, lw;
        std::vector<float> v;
    };
    Octave octaves[2] = {{40, 0, {}}, {10, 0, {}}};
    const int amp[2] = {14, 5};
    for (int k = 0; k < 2; ++k) {
        Octave& o = octaves[k];
        o.lw = W / o.cell + 2;
        o.v.resize(size_t(o.lw) * size_t(H / o.cell + 2));
        for (auto& v : o.v)
            v = float(rng.Range(-amp[k], amp[k]));
    }

    std::vector<float> line(size_t(W) * 3);
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            float tex = 0.0f;
            for (const Octave& o : octaves) {
                const float fx = float(x % o.cell) / o.cell, fy = float(y % o.cell) / o.cell;
                const float* l0 = &o.v[size_t(y / o.cell) * o.lw + x / o.cell];
                const float* l1 = l0 + o.lw;
                tex += (l0[0] * (1 - fx) + l0[1] * fx) * (1 - fy) + (l1[0] * (1 - fx) + l1[1] * fx) * fy;
            }
            for (int ch = 0; ch < 3; ++ch)
                line[size_t(x) * 3 + ch] = 128.0f + gx[size_t(x) * 3 + ch] + gy[size_t(y) * 3 + ch] + tex;
        }
        for (const Blob& b : blobs) {
            const float ny2 = (y - b.y) * (y - b.y) / b.ry2;
            if (ny2 >= 1.0f)
                continue;
            for (int x = 0; x < W; ++x) {
                const float d = (x - b.x) * (x - b.x) / b.rx2 + ny2;
                if (d < 1.0f) {
                    const float k = b.sharp ? 1.0f - 0.3f * d : (1.0f - d) * (1.0f - d);
                    for (int ch = 0; ch < 3; ++ch)
                        line[size_t(x) * 3 + ch] += b.amp[ch] * k;
                }
            }
        }
        uint8_t* out = img.Row(y);
        if (sensorNoise) {
            // Triangular grain of about +-10 levels from two uniform draws.
            for (int x = 0; x < W; ++x) {
                const uint64_t r = rng.Next();
                const float v = 0.3f * line[size_t(x) * 3] + 0.55f * line[size_t(x) * 3 + 1] +
                                0.15f * line[size_t(x) * 3 + 2];
                out[x] = uint8_t(std::clamp(int(v) + int(r & 15) + int(r >> 8 & 7) - 11, 0, 255));
            }
            continue;
        }
        for (int x = 0; x < W; ++x) {
            const uint64_t r = rng.Next();
            const int grain = int(r & 3) - 1;  // fine sensor grain, mostly luminance
            if (samples == 1) {
                const float v = 0.3f * line[size_t(x) * 3] + 0.55f * line[size_t(x) * 3 + 1] +
                                0.15f * line[size_t(x) * 3 + 2];
                out[x] = uint8_t(std::clamp(int(v) + grain, 0, 255));
            } else {
                for (int ch = 0; ch < 3; ++ch) {
                    const int own = int((r >> (8 + ch)) & 1);
                    out[size_t(x) * 3 + ch] =
                        uint8_t(std::clamp(int(line[size_t(x) * 3 + ch]) + grain + own, 0, 255));
                }
            }
        }
    }
    return img;
}
