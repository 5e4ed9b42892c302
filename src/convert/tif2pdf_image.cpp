// tif2pdf_image.cpp — a TIFF page as a PDF image XObject: a single Group 4
// strip copied as stored, other bilevel pages encoded again as one Group 4
// stream, everything else deflated with the PNG predictors. Rows are read a
// band at a time, salvaged as every converter does (line_salvage.h), and
// encoded straight into the file, so nothing grows with the page.
#include "convert/tif2pdf_image.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "codec/tif_codec.h"
#include "codec/tif_tiff.h"
#include "convert/line_salvage.h"
#include "convert/pdf_writer.h"
#include "io/tif_exception.h"
#include "io/tif_stream.h"
#include "tif/tif_file.h"
#include "tif/tif_wide.h"

namespace {

constexpr size_t kBandBytes = size_t(256) << 10;  // decoded rows held at once
constexpr int kCopyBlock = 65536;

int TagOr(CTifFile& f, int tag, int absent)
{
    int v = absent;
    return f.GetTagValue(tag, &v) ? v : absent;
}

bool Bilevel(CTifFile& f)
{
    return f.m_nSamplesPerPixel == 1 && f.m_nBitsPerSample == 1 &&
           (f.m_nImageType == VXIMG_MINISWHITE || f.m_nImageType == VXIMG_MINISBLACK);
}

int ColorsOf(int imageType)
{
    switch (imageType) {
    case VXIMG_RGB: return 3;
    case VXIMG_CMYK: return 4;
    default: return 1;
    }
}

std::string Num(int64_t v) { return std::to_string(v); }

// The dictionary entries every image shares; `height` a number or a reference.
std::string ImageDict(int width, const std::string& height, int bits, const std::string& space)
{
    return "/Type/XObject/Subtype/Image/Width " + Num(width) + "/Height " + height + "/BitsPerComponent " +
           Num(bits) + "/ColorSpace" + space;
}

// Whether the paper row shows as the page does where nothing is drawn (white):
// always, but for a palette without white.
bool PaperIsBlank(CTifFile& f, const std::vector<unsigned char>& paper)
{
    if (f.m_nImageType != VXIMG_PALETTE)
        return true;
    const int index = paper.empty() ? 0 : paper[0] >> (8 - std::min(f.m_nBitsPerSample, 8));  // 8 bits at most
    if (index >= f.m_nColors)
        return false;
    std::vector<RGBQUAD> map(size_t(index) + 1, RGBQUAD{0, 0, 0, 0});
    f.GetColorMap(index + 1, map.data());
    return map.back().rgbRed == 255 && map.back().rgbGreen == 255 && map.back().rgbBlue == 255;
}

// The page's rows, a band at a time, salvaged: a row that cannot be decoded
// comes as paper. Paper after the last row read from data is held back, and
// given only when data follows: the image ends with the data, and the page
// below it, white already, shows the rest. So a page whose data ends early
// costs no work for its missing rows, however many its height claims (not
// for a palette without white, whose paper must be drawn).
class RowReader {
public:
    RowReader(CTifFile& f, size_t rowBytes)
        : f_(f), salvager_(f),
          band_(int(std::clamp<size_t>(kBandBytes / rowBytes, 1, size_t(salvager_.Height())))),
          rows_(size_t(band_) * rowBytes), trim_(PaperIsBlank(f, salvager_.Paper()))
    {
    }
    // The next rows (0 at the end), at data().
    int Next()
    {
        if (flush_ > 0)
            return Paper();
        if (ready_ > 0) {
            const int n = ready_;
            ready_ = 0;
            at_ = rows_.data();
            given_ += n;
            return n;
        }
        while (done_ < salvager_.Height()) {
            if (const int known = salvager_.PaperTo(done_); known > done_) {
                held_ += known - done_;
                done_ = known;
                continue;
            }
            const int n = std::min(band_, salvager_.Height() - done_);
            salvager_.Read(rows_.data(), done_, n);
            const int data = std::clamp(salvager_.DataEnd() - done_, 0, n);
            done_ += n;
            if (data == 0) {
                held_ += n;
                continue;
            }
            flush_ = held_, ready_ = data, held_ = n - data;
            return Next();
        }
        if (held_ > 0 && (!trim_ || given_ == 0)) {  // paper to draw; an image has a row at least
            flush_ = trim_ ? 1 : held_;
            held_ = 0;
            return Next();
        }
        return 0;
    }
    unsigned char* data() { return at_; }
    int band() const { return band_; }
    int given() const { return given_; }  // the image's rows
    int height() const { return salvager_.Height(); }  // the page's
    PageDamage Damage() { return salvager_.Damage(); }

private:
    // Paper rows held back, a band at a time.
    int Paper()
    {
        if (paperBand_.empty())
            for (int i = 0; i < band_; ++i)
                paperBand_.insert(paperBand_.end(), salvager_.Paper().begin(), salvager_.Paper().end());
        const int n = std::min(flush_, band_);
        flush_ -= n;
        given_ += n;
        at_ = paperBand_.data();
        return n;
    }

    CTifFile& f_;
    Salvager salvager_;
    int band_;
    std::vector<unsigned char> rows_, paperBand_;
    bool trim_;
    unsigned char* at_ = nullptr;
    int done_ = 0;   // rows read
    int held_ = 0;   // paper rows held back, just before done_
    int flush_ = 0;  // paper rows to give before ready_
    int ready_ = 0;  // rows of rows_ to give
    int given_ = 0;
};

struct CodecDeleter {
    void operator()(TifCodec* c) const { c->Destroy(c); }
};
using CodecPtr = std::unique_ptr<TifCodec, CodecDeleter>;

// An encoder writing into the PDF stream being written; null without memory.
CodecPtr Encoder(int compression, int width, int bits, CPdfWriter& pdf)
{
    const TifCodecParams params = {compression, width, 1, bits};
    CodecPtr c(TifCreateEncoder(&params));
    if (c) {
        c->SetIoProc(c.get(), CPdfWriter::IoProc, &pdf);
        c->BeginStrip(c.get());
    }
    return c;
}

// Runs `encode` (which calls the codec), then ends the strip; false when the
// codec could not hand its bytes over.
template <class F>
bool Encode(TifCodec* codec, F encode)
{
    try {
        if (!encode())
            return false;
        return codec->EndStrip(codec) >= 0;
    } catch (CTifException* e) {
        delete e;
        return false;
    }
}

// ------------------------------------------------------------ bilevel pages

// A strip that can be copied: FillOrder 1, inside the file, and long enough
// for its rows (each takes at least one bit) — else it is damaged, and is
// decoded so that what cannot be becomes paper.
bool SingleG4Strip(CTifFile& f)
{
    return f.m_nCompression == 4 && !f.m_bTiled && f.m_nStrips == 1 && TagOr(f, TIF_TAG_FILLORDER, 1) == 1 &&
           f.GetRawStripSize(0) * 8 >= f.m_nHeight;
}

std::string FaxParms(int width, const std::string& rows, bool blackIs1)
{
    return "/Filter/CCITTFaxDecode/DecodeParms<</K -1/Columns " + Num(width) + "/Rows " + rows +
           (blackIs1 ? "/BlackIs1 true" : "") + ">>";
}

// The stored strip's bytes into the stream being written: by the system,
// from file to file, where it can; else read and written here.
bool CopyStrip(CTifFile& f, CPdfWriter& pdf)
{
    const int64_t bytes = f.GetRawStripSize(0);
    const auto* stream = dynamic_cast<const CTifFileStream*>(f.m_pStream);
    if (stream != nullptr && pdf.CopyFrom(stream->handle, TifStripOffset(&f, 0), uint64_t(bytes)))
        return pdf.ok();
    // Not zeroed: every byte written is read first.
    const std::unique_ptr<unsigned char[]> block(new unsigned char[size_t(std::min<int64_t>(bytes, kCopyBlock))]);
    for (int64_t at = 0; at < bytes && pdf.ok();) {
        const int n = f.ReadRawStrip(0, uint32_t(at), block.get(), int(std::min<int64_t>(bytes - at, kCopyBlock)));
        if (n <= 0)
            return false;
        pdf.Write(block.get(), size_t(n));
        at += n;
    }
    return pdf.ok();
}

// The stored strip, byte for byte.
bool CopyG4(CTifFile& f, CPdfWriter& pdf, int number, PdfImage* image)
{
    const std::string h = Num(f.m_nHeight);
    pdf.BeginStream(number, ImageDict(f.m_nWidth, h, 1, "/DeviceGray") +
                                FaxParms(f.m_nWidth, h, f.m_nImageType == VXIMG_MINISBLACK));
    const bool copied = CopyStrip(f, pdf);
    pdf.EndStream();
    image->rows = image->height = f.m_nHeight;
    return copied && pdf.ok();
}

// Decoded rows encoded again as one Group 4 stream. The fax codecs deliver
// white as 0 bits whatever the photometric, as other codecs deliver a
// min-is-white page: both are coded as they come, and a min-is-black page's
// 0 bits (black) are turned back by /BlackIs1.
bool EncodeG4(CTifFile& f, CPdfWriter& pdf, int number, int heightNumber, PdfImage* image)
{
    const std::string h = Num(heightNumber) + " 0 R";
    const bool minIsBlack = f.m_nImageType == VXIMG_MINISBLACK;
    pdf.BeginStream(number, ImageDict(f.m_nWidth, h, 1, "/DeviceGray") + FaxParms(f.m_nWidth, h, minIsBlack));
    const size_t rowBytes = size_t(f.m_nRowBytes);
    CodecPtr g4 = Encoder(4, f.m_nWidth, 1, pdf);
    if (!g4)
        throw std::bad_alloc();
    RowReader reader(f, rowBytes);
    TifUseStride(g4.get(), int(rowBytes));
    const bool ok = Encode(g4.get(), [&] {
        for (int n; (n = reader.Next()) > 0;)
            if (g4->EncodeRows(g4.get(), reader.data(), n) != n)
                return false;
        return true;
    });
    pdf.EndStream();
    image->rows = reader.given();
    image->height = reader.height();
    image->damage = reader.Damage();
    pdf.IntegerObject(heightNumber, image->rows);
    return ok && pdf.ok();
}

// ------------------------------------------------------------- other pages

// How the decoded rows become the stream's rows.
struct FlatePlan {
    int colors;         // samples kept per pixel
    int bits;
    int skipBytes;      // bytes of extra samples after each pixel's kept ones
    bool swap16;        // 16-bit samples of a little-endian file: PDF wants them big-endian
    bool predict;       // PNG predictors, a filter-type byte before each row
    size_t rowBytes;    // of the stream's rows, without the filter-type byte
};

FlatePlan PlanFlate(CTifFile& f)
{
    FlatePlan p{};
    p.colors = ColorsOf(f.m_nImageType);
    p.bits = f.m_nBitsPerSample;
    const int sampleBytes = p.bits / 8;
    p.skipBytes = (f.m_nSamplesPerPixel - p.colors) * sampleBytes;
    p.swap16 = p.bits == 16 && !f.m_bSwap;
    p.predict = p.bits >= 8 && f.m_nImageType != VXIMG_PALETTE;
    p.rowBytes = size_t((int64_t(f.m_nWidth) * p.colors * p.bits + 7) / 8);
    return p;
}

// The decoded row `src` as the stream wants it, into `dst`.
void Transform(const FlatePlan& p, const unsigned char* src, unsigned char* dst, int width)
{
    if (p.skipBytes == 0 && !p.swap16) {
        std::memcpy(dst, src, p.rowBytes);
        return;
    }
    const int keep = p.colors * p.bits / 8;
    if (p.skipBytes == 0) {
        std::memcpy(dst, src, p.rowBytes);
    } else {
        for (int x = 0; x < width; ++x, src += keep + p.skipBytes, dst += keep)
            std::memcpy(dst, src, size_t(keep));
        dst -= p.rowBytes;
    }
    if (p.swap16)
        for (size_t i = 0; i + 1 < p.rowBytes; i += 2)
            std::swap(dst[i], dst[i + 1]);
}

int Paeth(int a, int b, int c)
{
    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// PNG filter `type` of row `cur` (above it `prev`) into `out`; the sum of the
// filtered bytes taken as signed, by which the filter of each row is chosen
// (the least sum of absolute differences, as PNG encoders choose).
uint64_t Filter(int type, const unsigned char* cur, const unsigned char* prev, size_t n, int bpp, unsigned char* out)
{
    uint64_t sum = 0;
    for (size_t i = 0; i < n; ++i) {
        const int a = i >= size_t(bpp) ? cur[i - size_t(bpp)] : 0, b = prev[i];
        const int c = i >= size_t(bpp) ? prev[i - size_t(bpp)] : 0;
        int pred = 0;
        switch (type) {
        case 1: pred = a; break;
        case 2: pred = b; break;
        case 3: pred = (a + b) >> 1; break;
        case 4: pred = Paeth(a, b, c); break;
        default: break;
        }
        const auto v = static_cast<unsigned char>(cur[i] - pred);
        out[i] = v;
        sum += uint64_t(v < 128 ? v : 256 - v);
    }
    return sum;
}

std::string ColorSpace(CTifFile& f, const FlatePlan& p)
{
    if (f.m_nImageType == VXIMG_RGB)
        return "/DeviceRGB";
    if (f.m_nImageType == VXIMG_CMYK)
        return "/DeviceCMYK";
    if (f.m_nImageType != VXIMG_PALETTE)
        return "/DeviceGray";
    const int entries = 1 << p.bits;
    std::vector<RGBQUAD> map(size_t(entries), RGBQUAD{0, 0, 0, 0});
    f.GetColorMap(std::min(entries, f.m_nColors), map.data());
    std::vector<unsigned char> rgb;
    for (const RGBQUAD& q : map)
        rgb.insert(rgb.end(), {q.rgbRed, q.rgbGreen, q.rgbBlue});
    return "[/Indexed/DeviceRGB " + Num(entries - 1) + PdfHexString(rgb.data(), rgb.size()) + "]";
}

bool EncodeFlate(CTifFile& f, CPdfWriter& pdf, int number, int heightNumber, PdfImage* image)
{
    const FlatePlan p = PlanFlate(f);
    std::string dict = ImageDict(f.m_nWidth, Num(heightNumber) + " 0 R", p.bits, ColorSpace(f, p)) +
                       "/Filter/FlateDecode";
    if (p.predict)
        dict += "/DecodeParms<</Predictor 15/Colors " + Num(p.colors) + "/BitsPerComponent " + Num(p.bits) +
                "/Columns " + Num(f.m_nWidth) + ">>";
    if (f.m_nImageType == VXIMG_MINISWHITE)
        dict += "/Decode[1 0]";
    pdf.BeginStream(number, dict);
    const size_t lineBytes = p.rowBytes + (p.predict ? 1 : 0);
    CodecPtr z = Encoder(32946, int(lineBytes), 8, pdf);
    if (!z)
        throw std::bad_alloc();
    RowReader reader(f, size_t(f.m_nRowBytes));
    std::vector<unsigned char> lines(lineBytes * size_t(reader.band())), prev(p.predict ? p.rowBytes : 0);
    std::vector<unsigned char> cur(prev.size()), trial(prev.size());
    TifUseStride(z.get(), int(lineBytes));
    const int bpp = std::max(1, p.colors * p.bits / 8);
    auto line = [&](const unsigned char* src, unsigned char* out) {
        if (!p.predict) {
            Transform(p, src, out, f.m_nWidth);
            return;
        }
        Transform(p, src, cur.data(), f.m_nWidth);
        uint64_t best = Filter(0, cur.data(), prev.data(), p.rowBytes, bpp, out + 1);
        out[0] = 0;
        for (int type = 1; type <= 4 && best > 0; ++type) {
            const uint64_t sum = Filter(type, cur.data(), prev.data(), p.rowBytes, bpp, trial.data());
            if (sum < best) {
                best = sum;
                out[0] = static_cast<unsigned char>(type);
                std::memcpy(out + 1, trial.data(), p.rowBytes);
            }
        }
        prev.swap(cur);
    };
    const bool ok = Encode(z.get(), [&] {
        for (int n; (n = reader.Next()) > 0;) {
            for (int i = 0; i < n; ++i)
                line(reader.data() + size_t(i) * size_t(f.m_nRowBytes), lines.data() + size_t(i) * lineBytes);
            if (z->EncodeRows(z.get(), lines.data(), n) != n)
                return false;
        }
        return true;
    });
    pdf.EndStream();
    image->rows = reader.given();
    image->height = reader.height();
    image->damage = reader.Damage();
    image->sixteen = p.bits == 16;
    pdf.IntegerObject(heightNumber, image->rows);
    return ok && pdf.ok();
}

}  // namespace

std::string PdfImageRefusal(CTifFile& f)
{
    const int bits = f.m_nBitsPerSample, samples = f.m_nSamplesPerPixel;
    if (f.m_nPhotometric == 6)
        return "YCbCr pages are not converted (the library delivers them as stored)";
    if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16)
        return Num(bits) + "-bit samples cannot be held by a PDF image (1, 2, 4, 8 or 16)";
    if (f.m_nImageType == VXIMG_PALETTE && bits > 8)
        return "a palette of " + Num(bits) + "-bit indices cannot be held by a PDF image (8 at most)";
    const int colors = ColorsOf(f.m_nImageType);
    if (samples < colors)
        return Num(samples) + " samples per pixel are too few for its colours";
    if (samples > colors && bits < 8)
        return "extra samples of " + Num(bits) + " bits are not taken apart";
    return {};
}

bool WritePdfImage(CTifFile& f, CPdfWriter& pdf, int number, PdfImage* image)
{
    image->width = f.m_nWidth;
    if (Bilevel(f) && SingleG4Strip(f))
        return CopyG4(f, pdf, number, image);
    // The height is known once the rows are: the image ends with the data.
    const int heightNumber = pdf.Reserve();
    return Bilevel(f) ? EncodeG4(f, pdf, number, heightNumber, image)
                      : EncodeFlate(f, pdf, number, heightNumber, image);
}
