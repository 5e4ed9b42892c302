// bench_image.h — the benchmark's source images, generated deterministically.
//
// Bilevel images hold packed rows, most significant bit first, 1 = black (they
// are stored as PhotometricInterpretation 0, white is zero). Photo-like images
// hold 8-bit samples, contiguous.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct BenchImage {
    int width = 0;
    int height = 0;
    int samples = 1;
    int bits = 1;
    double dpi = 200.0;
    size_t rowBytes = 0;
    std::vector<uint8_t> data;

    BenchImage(int w, int h, int spp, int bps);
    uint8_t* Row(int y) { return data.data() + size_t(y) * rowBytes; }
    const uint8_t* Row(int y) const { return data.data() + size_t(y) * rowBytes; }
    size_t Bytes() const { return data.size(); }
};

// A 1728 x 2200 fax page at 200 dpi: printed text in paragraphs, a title,
// horizontal rules, a small table and a footer. Another seed gives another
// page of the same kind (the pages of a document).
constexpr uint64_t kFaxPageSeed = 0xFA4;
BenchImage MakeFaxPage(uint64_t seed = kFaxPageSeed);
// A 9600 x 7200 technical drawing at 200 dpi: frames, a title block, thin lines,
// boxes, circles, hatched areas and text labels; mostly white.
BenchImage MakeDrawing();
// A 4000 x 3000 photo-like image of 8-bit samples (1 = grey, 3 = RGB): smooth
// gradients and blobs, a coarse texture and fine noise. The RGB image leaves
// LZW about 1:1; `sensorNoise` (grey only) adds the grain of a real camera
// image, which leaves LZW about 1.1:1 where the plain grey image gives 1.6:1.
BenchImage MakePhoto(int samples, bool sensorNoise = false);
