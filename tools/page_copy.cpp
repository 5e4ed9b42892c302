// page_copy.cpp — see page_copy.h.
#include "page_copy.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "page_tags.h"
#include "salvage.h"
#include "tif/tif_file.h"

namespace {

// The codec's encoder codes pixels such as the page's (the fax codings:
// bilevel only).
bool Encodes(const Codec* codec, const VXIMGINFO& info)
{
    const TifCodecParams p = {codec->compression, info.nWidth, info.nSamplesPerPixel, info.nBitsPerSample};
    // JPEG codes colours, not palette indices, and RGB without extra samples.
    if (codec->tag == TIF_TAG_JPEGQUALITY &&
        (info.nImageType == VXIMG_PALETTE || (info.nImageType == VXIMG_RGB && info.nSamplesPerPixel != 3)))
        return false;
    return TifHasEncoder(&p) != 0;
}

size_t RowBytes(const VXIMGINFO& info)
{
    return size_t((int64_t(info.nWidth) * info.nSamplesPerPixel * info.nBitsPerSample + 7) / 8);
}

// Reverses the bytes of each sample of `sampleBytes` bytes of `count` rows
// (a big-endian input: the output is little-endian).
void SwapSamples(unsigned char* rows, size_t rowBytes, int count, size_t sampleBytes)
{
    for (int r = 0; r < count; ++r) {
        unsigned char* p = rows + size_t(r) * rowBytes;
        for (size_t i = 0; i + sampleBytes <= rowBytes; i += sampleBytes)
            std::reverse(p + i, p + i + sampleBytes);
    }
}

// The pixels of one byte in reverse order, for pixels of 1, 2 or 4 bits.
unsigned char ReverseByte(unsigned v, int bits)
{
    unsigned r = 0;
    for (int i = 0; i < 8; i += bits)
        r = r << bits | ((v >> i) & ((1u << bits) - 1));
    return static_cast<unsigned char>(r);
}

// Pixels of whole bytes, moved whole.
void ReverseWholeBytes(const unsigned char* src, unsigned char* dst, size_t rowBytes, int bits)
{
    const size_t pixel = size_t(bits / 8);
    for (size_t x = 0, from = rowBytes - pixel; x < rowBytes; x += pixel, from -= pixel)
        std::memcpy(dst + x, src + from, pixel);
}

// Pixels of 1, 2 or 4 bits: the bytes in reverse order, each one's pixels
// reversed through a table.
void ReversePacked(const unsigned char* src, unsigned char* dst, size_t rowBytes, int width, int bits)
{
    // One table per pixel size, made once: rows are far shorter than 256 entries.
    static const auto kTables = [] {
        std::array<std::array<unsigned char, 256>, 3> t{};
        for (int k = 0; k < 3; ++k)
            for (unsigned v = 0; v < 256; ++v)
                t[size_t(k)][v] = ReverseByte(v, 1 << k);
        return t;
    }();
    const auto& table = kTables[bits == 1 ? 0 : bits == 2 ? 1 : 2];
    for (size_t i = 0; i < rowBytes; ++i)
        dst[i] = table[src[rowBytes - 1 - i]];
    // The source's bits past the width came first: shifted out.
    const int pad = int(rowBytes * 8 - size_t(width) * size_t(bits));
    if (pad > 0) {
        for (size_t i = 0; i + 1 < rowBytes; ++i)
            dst[i] = static_cast<unsigned char>(dst[i] << pad | dst[i + 1] >> (8 - pad));
        dst[rowBytes - 1] = static_cast<unsigned char>(dst[rowBytes - 1] << pad);
    }
}

// Other pixel sizes (3, 12 bits...): bit by bit.
void ReverseBitwise(const unsigned char* src, unsigned char* dst, size_t rowBytes, int width, int bits)
{
    std::memset(dst, 0, rowBytes);
    for (int64_t x = 0; x < width; ++x) {
        const int64_t from = (int64_t(width) - 1 - x) * bits, to = x * bits;
        for (int b = 0; b < bits; ++b)
            if (src[(from + b) >> 3] & (0x80 >> ((from + b) & 7)))
                dst[(to + b) >> 3] |= static_cast<unsigned char>(0x80 >> ((to + b) & 7));
    }
}

// One page of IN written to the document: plan, describe, then the data.
class PageJob {
public:
    PageJob(const WriteOptions& o, PageReader& reader, DocumentWriter& doc, Progress& bar)
        : o_(o), reader_(reader), in_(reader.file), doc_(doc), bar_(bar)
    {
    }

    int Run(const std::string& path, int page, std::string* why)
    {
        if (!reader_.Reach(path, page))
            return Failed(why, "cannot open: " + OpenFailure(path.c_str(), page + 1));
        in_.GetImgInfo(&src_);
        *why = CheckInput();
        if (!why->empty())
            return kExitFailed;
        Salvager salvager(in_);
        src_.nHeight = salvager.Height();
        VXIMGINFO info = Describe();
        bar_.Start(info.nHeight, int64_t(info.nHeight) * int64_t(RowBytes(info)));
        const int status = Plan(&info, why);
        if (status != kExitOk)
            return status;
        *why = Begin(&info);
        if (why->empty())
            *why = CarryTags(in_, doc_.file(), o_.angle);
        if (!why->empty())
            return Status(*why);
        errno = 0;
        if (copyable_ && src_.nHeight == in_.m_nHeight && doc_.file().CopyPageData(&in_) == 1) {
            bar_.Rows(info.nHeight);
            // Copied data is carried over as it is, damage included: decode it
            // once all the same, so that damage is reported, not hidden.
            Check(salvager, info.nHeight);
        } else {
            copyErrno_ = errno;  // a copy that failed part way failed the whole write
            if (!explicit_ && codec_->tag == TIF_TAG_JPEGQUALITY) {
                const int named = PageToName(path, page + 1);
                Say("note: " + path + (named > 0 ? " page " + std::to_string(named) : std::string()) +
                    ": JPEG compressed again loses detail (--compression lzw or deflate keeps it)");
            }
            *why = SetParams();
            if (why->empty())
                *why = o_.angle == 180   ? HalfTurn(info, salvager)
                       : o_.angle != 0 ? QuarterTurn(info, salvager)
                                       : Lines(info, salvager);
            if (!why->empty())
                return Status(*why);
        }
        const PageDamage damage = salvager.Damage();
        if (!damage.any())
            return kExitOk;
        *why = DamageWarning(damage, PageToName(path, page + 1));
        return kExitDamaged;
    }

private:
    // A failure of the output's file, or of the input.
    static int Status(const std::string& why)
    {
        return why.compare(0, 7, "writing") == 0 ? kExitOutput : kExitFailed;
    }

    static int Failed(std::string* why, const std::string& text)
    {
        *why = text;
        return kExitFailed;
    }

    std::string CheckInput()
    {
        if (in_.m_nPhotometric == 6)
            return "YCbCr images are not converted (the library delivers them as stored)";
        const int pixelBits = src_.nSamplesPerPixel * src_.nBitsPerSample;
        if ((o_.angle == 90 || o_.angle == 270) && pixelBits % 8 != 0 && 8 % pixelBits != 0)
            return "rotate 90 and 270 take pixels of 1, 2 or 4 bits or of whole bytes, not " +
                   std::to_string(pixelBits) + " bits";
        return {};
    }

    // OUT as IN is, turned when rotating a quarter turn, before the options apply.
    VXIMGINFO Describe() const
    {
        VXIMGINFO info = src_;
        if (o_.angle == 90 || o_.angle == 270) {
            std::swap(info.nWidth, info.nHeight);
            std::swap(info.dXResolution, info.dYResolution);
            std::swap(info.nTileWidth, info.nTileLength);
        }
        if (info.bTiled || info.nRowsPerStrip <= 0 || info.nRowsPerStrip >= info.nHeight)
            info.nRowsPerStrip = 0;  // tiles, or one strip
        if (o_.tiled) {
            info.bTiled = 1;
            info.nTileWidth = o_.tileWidth;
            info.nTileLength = o_.tileLength;
            info.nRowsPerStrip = 0;
        } else if (o_.rowsPerStrip > 0) {
            info.bTiled = 0;
            info.nTileWidth = info.nTileLength = 0;
            info.nRowsPerStrip = std::min(o_.rowsPerStrip, info.nHeight);
        }
        return info;
    }

    // Chooses the codec and predictor; kExitOk, or the status of a refusal.
    int Plan(VXIMGINFO* info, std::string* why)
    {
        int t4 = 0;
        in_.GetTagValue(292, &t4);
        codec_ = o_.codec;
        explicit_ = codec_ != nullptr;
        if (!explicit_)
            codec_ = CodecOfInput(src_.nCompression, t4);
        if (explicit_ && !Encodes(codec_, *info))
            return Failed(why, std::string(codec_->name) + " compresses " + TifEncoderTakes(*codec_) + " only");
        if (codec_ == nullptr || (!explicit_ && !Encodes(codec_, *info)))
            codec_ = CodecNamed("none");
        if (o_.predictor == 2 && codec_->tag != TIF_TAG_PREDICTOR) {
            *why = std::string("--predictor 2 needs deflate or lzw, not ") + codec_->name;
            return kExitUsage;
        }
        predictor_ = o_.predictor;
        if (predictor_ == 0) {
            int p = 1;
            in_.GetTagValue(317, &p);
            predictor_ = p == 2 && TifCompressionHasTag(src_.nCompression, TIF_TAG_PREDICTOR) &&
                                 codec_->tag == TIF_TAG_PREDICTOR
                             ? 2
                             : 1;
        }
        info->nCompression = codec_->compression;
        copyable_ = o_.KeepsCoding() && codec_->compression == src_.nCompression;
        return kExitOk;
    }

    // Begins the page; "" or why not. Plan chose a codec whose encoder
    // takes the page, so the writer refuses only what the image is.
    std::string Begin(VXIMGINFO* info)
    {
        errno = 0;
        if (!doc_.NextPage(info)) {
            if (CTifFile::GetLastFailure() == VXTIFF_FAIL_CREATE)
                return "writing failed: " + WriteCause(errno);
            return "the writer refuses this image (" + std::string(CTifFile::GetLastFailureText()) + ")";
        }
        if (o_.bigTiff)
            doc_.file().SetBigTiff(1);
        if (src_.nImageType == VXIMG_PALETTE && in_.m_nColors > 0) {
            std::vector<RGBQUAD> colors(size_t(in_.m_nColors));
            in_.GetColorMap(in_.m_nColors, colors.data());
            doc_.file().SetColorMap(in_.m_nColors, colors.data());
        }
        return {};
    }

    std::string SetParams()
    {
        CTifFile& out = doc_.file();
        if (codec_->tag == TIF_TAG_T4OPTIONS && !out.SetEncodeParams(TIF_TAG_T4OPTIONS, unsigned(codec_->t4Options)))
            return "the Group 3 encoder refuses T4Options " + std::to_string(codec_->t4Options);
        if (o_.quality > 0 && !out.SetEncodeParams(TIF_TAG_JPEGQUALITY, unsigned(o_.quality)))
            return "the JPEG encoder refuses quality " + std::to_string(o_.quality);
        if (predictor_ == 2 && !out.SetEncodeParams(317, 2)) {
            if (o_.predictor == 2)
                return "--predictor 2 takes 8- or 16-bit samples only";
            predictor_ = 1;  // the input's predictor, where it does not fit: none
        }
        return {};
    }

    std::string WriteBand(unsigned char* rows, int count, size_t rowBytes, int first)
    {
        if (in_.IsBigEndian() && src_.nBitsPerSample > 8 && src_.nBitsPerSample % 8 == 0)
            SwapSamples(rows, rowBytes, count, size_t(src_.nBitsPerSample / 8));
        errno = 0;
        if (doc_.file().WriteLines(rows, count) != count)
            return "writing failed at line " + std::to_string(first) + ": " + WriteCause(errno ? errno : copyErrno_);
        bar_.Rows(first + count);
        return {};
    }

    // Reads the page through, for its damage alone.
    static void Check(Salvager& salvager, int height);
    std::string Lines(const VXIMGINFO& info, Salvager& salvager);
    std::string QuarterTurn(const VXIMGINFO& info, Salvager& salvager);
    void TurnSalvaged(unsigned char* lines, int first, int count, Salvager& salvager);
    std::string HalfTurn(const VXIMGINFO& info, Salvager& salvager);

    const WriteOptions& o_;
    PageReader& reader_;
    CTifFile& in_;
    DocumentWriter& doc_;
    Progress& bar_;
    VXIMGINFO src_ = {};
    const Codec* codec_ = nullptr;
    bool explicit_ = false;
    bool copyable_ = false;
    int predictor_ = 1;
    int copyErrno_ = 0;
};

void PageJob::Check(Salvager& salvager, int height)
{
    const int band = int(std::clamp<size_t>(kBandBytes / salvager.RowBytes(), 1, size_t(height)));
    std::vector<unsigned char> rows(size_t(band) * salvager.RowBytes());
    for (int y = 0; y < height; y += band)
        salvager.Read(rows.data(), y, std::min(band, height - y));
}

std::string PageJob::Lines(const VXIMGINFO& info, Salvager& salvager)
{
    const size_t rowBytes = RowBytes(src_);
    const int band = int(std::clamp<size_t>(kBandBytes / rowBytes, 1, size_t(info.nHeight)));
    std::vector<unsigned char> rows(size_t(band) * rowBytes);
    for (int y = 0; y < info.nHeight; y += band) {
        const int n = std::min(band, info.nHeight - y);
        salvager.Read(rows.data(), y, n);
        std::string why = WriteBand(rows.data(), n, rowBytes, y);
        if (!why.empty())
            return why;
    }
    return {};
}

std::string PageJob::QuarterTurn(const VXIMGINFO& info, Salvager& salvager)
{
    const size_t rowBytes = RowBytes(info);
    // Whole groups of 8 rotated lines: bilevel pixels move in 8 x 8 blocks.
    int band = int(std::clamp<size_t>(kBandBytes / rowBytes, 8, size_t(info.nHeight)));
    if (band > 8 && band < info.nHeight)
        band &= ~7;
    std::vector<unsigned char> rows(size_t(band) * rowBytes);
    bool salvage = src_.nHeight < in_.m_nHeight;  // a page cut short: the library would turn its claim
    for (int k = 0; k < info.nHeight; k += band) {
        const int n = std::min(band, info.nHeight - k);
        // Once the library cannot turn the page, no later band is tried: its
        // reading would only fail again (and move the read position).
        salvage = salvage || (o_.angle == 90 ? in_.ReadLinesR90(rows.data(), k, n)
                                             : in_.ReadLinesR270(rows.data(), k, n)) != 1;
        if (salvage)
            TurnSalvaged(rows.data(), k, n, salvager);
        std::string why = WriteBand(rows.data(), n, rowBytes, k);
        if (!why.empty())
            return why;
    }
    return {};
}

// Rotated lines first .. first + count − 1 made pixel by pixel from the
// source rows read with salvage, for a page the library cannot turn (a line
// that cannot be decoded). Slow, and only for damaged pages.
void PageJob::TurnSalvaged(unsigned char* lines, int first, int count, Salvager& salvager)
{
    const int bits = src_.nSamplesPerPixel * src_.nBitsPerSample;
    const int height = src_.nHeight;
    const size_t lineBytes = size_t((int64_t(height) * bits + 7) / 8);
    std::memset(lines, 0, lineBytes * size_t(count));
    const size_t rowBytes = salvager.RowBytes();
    const int band = int(std::clamp<size_t>(kBandBytes / rowBytes, 1, size_t(height)));
    std::vector<unsigned char> rows(size_t(band) * rowBytes);
    for (int y = 0; y < height; y += band) {
        const int n = std::min(band, height - y);
        salvager.Read(rows.data(), y, n);
        for (int r = 0; r < n; ++r) {
            const unsigned char* row = rows.data() + size_t(r) * rowBytes;
            // R90 line k: column k bottom up; R270 line k: column W - 1 - k top down.
            const int64_t to = o_.angle == 90 ? height - 1 - (y + r) : y + r;
            for (int k = 0; k < count; ++k) {
                const int64_t column = o_.angle == 90 ? first + k : src_.nWidth - 1 - (first + k);
                unsigned char* line = lines + size_t(k) * lineBytes;
                if (bits % 8 == 0) {
                    std::memcpy(line + to * (bits / 8), row + column * (bits / 8), size_t(bits / 8));
                    continue;
                }
                const unsigned mask = (1u << bits) - 1;
                const int64_t from = column * bits, at = to * bits;
                const unsigned v = (row[from >> 3] >> (8 - bits - (from & 7))) & mask;
                line[at >> 3] = static_cast<unsigned char>(line[at >> 3] | v << (8 - bits - (at & 7)));
            }
        }
    }
}

// Bands read from the bottom up; each band's rows written last first, their
// pixels right to left.
std::string PageJob::HalfTurn(const VXIMGINFO& info, Salvager& salvager)
{
    const size_t rowBytes = RowBytes(src_);
    const int bits = src_.nSamplesPerPixel * src_.nBitsPerSample;
    const int band = int(std::clamp<size_t>(kBandBytes / rowBytes, 1, size_t(info.nHeight)));
    std::vector<unsigned char> rows(size_t(band) * rowBytes), spare(rowBytes);
    for (int end = info.nHeight; end > 0;) {
        const int n = std::min(band, end);
        end -= n;
        salvager.Read(rows.data(), end, n);
        for (int i = 0, j = n - 1; i <= j; ++i, --j) {
            unsigned char* top = rows.data() + size_t(i) * rowBytes;
            unsigned char* bottom = rows.data() + size_t(j) * rowBytes;
            ReversePixels(top, spare.data(), src_.nWidth, bits);
            if (i != j)
                ReversePixels(bottom, top, src_.nWidth, bits);
            std::memcpy(bottom, spare.data(), rowBytes);
        }
        std::string why = WriteBand(rows.data(), n, rowBytes, info.nHeight - end - n);
        if (!why.empty())
            return why;
    }
    return {};
}

}  // namespace

void ReversePixels(const unsigned char* src, unsigned char* dst, int width, int bits)
{
    const size_t rowBytes = size_t((int64_t(width) * bits + 7) / 8);
    if (bits % 8 == 0)
        ReverseWholeBytes(src, dst, rowBytes, bits);
    else if (bits == 1 || bits == 2 || bits == 4)
        ReversePacked(src, dst, rowBytes, width, bits);
    else
        ReverseBitwise(src, dst, rowBytes, width, bits);
}

int WritePage(const WriteOptions& o, const std::string& path, int page, PageReader& reader, DocumentWriter& doc,
              Progress& bar, std::string* why)
{
    PageJob job(o, reader, doc, bar);
    return job.Run(path, page, why);
}

int PagesOf(const std::string& path, std::string* why)
{
    const int pages = CTifFile::CountPages(path.c_str());
    if (pages <= 0)
        *why = "cannot open: " + OpenFailure(path.c_str(), 1);
    return pages;
}
