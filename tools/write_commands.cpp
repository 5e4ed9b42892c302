// write_commands.cpp — `vxtiff convert` and `vxtiff rotate`.
//
// Both read IN through CTifFile and write a new file through Create and
// WriteLines, a band of rows at a time, so memory stays bounded whatever the
// image size. The new file is written under a temporary name beside OUT and
// renamed over OUT only once Close has succeeded: a failure at any point (or
// an interrupt) leaves OUT as it was.
#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include "write_commands.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "tif/tif_file.h"
#include "tool_common.h"

const char kWriteUsage[] =
    "       vxtiff convert IN OUT [OPTIONS]\n"
    "       vxtiff rotate IN OUT 90|270 [OPTIONS]\n"
    "options of convert and rotate:\n"
    "  --compression none|packbits|deflate|lzw|mh|g3|g3-2d|g4\n"
    "                        default: the input's when this build can write it, else none\n"
    "                        (a compression without an encoder in this build is refused)\n"
    "  --predictor 1|2       horizontal differencing, deflate and lzw only\n"
    "                        default: the input's when it used the same kind of compression\n"
    "  --rows-per-strip N    strips of N rows\n"
    "  --page N              the page of IN to read, counted from 1 (default 1)\n"
    "  --tile WxL            tiles of W x L pixels (raised to multiples of 32)\n"
    "                        default layout: the input's (rotate: tiles turned, strips kept)\n"
    "rotate turns clockwise (90) or counter-clockwise (270); pixels of 1, 2 or 4 bits\n"
    "or of whole bytes (8, 16, 24, 32, 48, 64 bits...).\n";

namespace {

constexpr size_t kBandBytes = size_t(4) << 20;      // rows decoded and encoded per call
constexpr int64_t kProgressBytes = int64_t(4) << 20;  // smaller images get no bar

struct Codec {
    const char* name;
    int compression;
    int t4Options;  // Group 3 only
};

const Codec kCodecs[] = {
    {"none", 1, 0}, {"packbits", 32773, 0}, {"deflate", 32946, 0}, {"lzw", 5, 0},
    {"mh", 2, 0},   {"g3", 3, 0},          {"g3-2d", 3, 1},       {"g4", 4, 0},
};

const Codec* CodecNamed(const std::string& name)
{
    for (const Codec& c : kCodecs)
        if (name == c.name)
            return &c;
    return nullptr;
}

// The codec that writes what the input holds; null when there is none.
const Codec* CodecOfInput(int compression, int t4Options)
{
    if (compression == 8)
        return CodecNamed("deflate");  // the same data under its other code
    if (compression == 3)
        return CodecNamed((t4Options & 1) ? "g3-2d" : "g3");
    for (const Codec& c : kCodecs)
        if (c.compression == compression)
            return &c;
    return nullptr;
}

bool Fax(int compression) { return compression >= 2 && compression <= 4; }
bool TakesPredictor(int compression) { return compression == 5 || compression == 8 || compression == 32946; }

int64_t RowBytes(int width, int samples, int bits)
{
    return (int64_t(width) * samples * bits + 7) / 8;
}

struct Options {
    std::string in, out;
    int angle = 0;                // rotate: 90 or 270
    const Codec* codec = nullptr;  // null: the input's
    int predictor = 0;            // 0: the input's
    int rowsPerStrip = 0;         // 0: the input's layout
    int tileWidth = 0, tileLength = 0;
    bool tiled = false;
    int page = 1;                 // counted from 1
};

int Usage(const std::string& why)
{
    std::fprintf(stderr, "vxtiff: %s (vxtiff --help tells more)\n", why.c_str());
    return kExitUsage;
}

bool ParseInt(const char* text, int lo, int hi, int* value)
{
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || v < lo || v > hi)
        return false;
    *value = int(v);
    return true;
}

// Parses the arguments after the command name; "" when they are good, else why not.
std::string Parse(int argc, char** argv, bool rotate, Options* o)
{
    std::vector<std::string> plain;
    for (int i = 0; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--compression") {
            if (!hasValue || (o->codec = CodecNamed(argv[++i])) == nullptr)
                return "--compression takes none, packbits, deflate, lzw, mh, g3, g3-2d or g4";
        } else if (a == "--predictor") {
            if (!hasValue || !ParseInt(argv[++i], 1, 2, &o->predictor))
                return "--predictor takes 1 or 2";
        } else if (a == "--page") {
            if (!hasValue || !ParsePage(argv[++i], &o->page))
                return "--page takes a page number from 1";
        } else if (a == "--rows-per-strip") {
            if (o->tiled)
                return "--rows-per-strip and --tile exclude each other";
            if (!hasValue || !ParseInt(argv[++i], 1, 0x7FFFFFFF, &o->rowsPerStrip))
                return "--rows-per-strip takes a whole number of 1 or more";
        } else if (a == "--tile") {
            if (o->rowsPerStrip > 0)
                return "--rows-per-strip and --tile exclude each other";
            const std::string v = hasValue ? argv[++i] : "";
            const size_t x = v.find('x');
            if (x == std::string::npos || !ParseInt(v.substr(0, x).c_str(), 1, 1 << 16, &o->tileWidth) ||
                !ParseInt(v.substr(x + 1).c_str(), 1, 1 << 16, &o->tileLength))
                return "--tile takes WxL, two whole numbers from 1 to 65536 (e.g. 256x256)";
            o->tiled = true;
        } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
            return "unknown option " + a;
        } else {
            plain.push_back(a);
        }
    }
    const size_t want = rotate ? 3 : 2;
    if (plain.size() != want)
        return rotate ? "rotate takes IN, OUT and 90 or 270" : "convert takes IN and OUT";
    o->in = plain[0];
    o->out = plain[1];
    if (rotate && plain[2] != "90" && plain[2] != "270")
        return "the angle is 90 or 270, not '" + plain[2] + "'";
    o->angle = rotate ? std::atoi(plain[2].c_str()) : 0;
    return {};
}

int Fail(const Options& o, const std::string& why, int status = kExitFailed)
{
    std::fprintf(stderr, "vxtiff: %s -> %s: %s\n", o.in.c_str(), o.out.c_str(), why.c_str());
    return status;
}

// The temporary file's name, for the interrupt handler (which may not allocate).
char g_pending[4096];

extern "C" void RemovePendingAndDie(int sig)
{
    if (g_pending[0] != '\0') {
#if defined(_WIN32)
        std::remove(g_pending);
#else
        unlink(g_pending);
#endif
    }
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

// Creates `name` as an empty file unless it exists (errno EEXIST then). Not
// fopen's "x" mode: the Windows runtime refuses it as an invalid mode.
bool CreateNew(const std::string& name)
{
#if defined(_WIN32)
    const int fd = _sopen(name.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _SH_DENYNO, _S_IREAD | _S_IWRITE);
    return fd != -1 && _close(fd) == 0;
#else
    const int fd = ::open(name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
    return fd != -1 && ::close(fd) == 0;
#endif
}

// The new file under a temporary name beside OUT (same directory, so the final
// rename cannot cross file systems), removed unless Commit renamed it.
class PendingOutput {
public:
    explicit PendingOutput(std::string out) : out_(std::move(out)) {}
    ~PendingOutput()
    {
        if (!tmp_.empty())
            std::remove(tmp_.c_str());
        g_pending[0] = '\0';
    }
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;

    // Makes the temporary file; false (errno set) when the directory takes none.
    bool Reserve()
    {
        std::random_device seed;
        std::mt19937 rng(seed());
        for (int tries = 0; tries < 100; ++tries) {
            const std::string name = out_ + ".vxtiff-" + std::to_string(rng() % 1000000000u) + ".part";
            // Made only when the name is new, so nothing of anyone else is touched.
            if (CreateNew(name)) {
                tmp_ = name;
                if (tmp_.size() < sizeof g_pending) {
                    std::memcpy(g_pending, tmp_.c_str(), tmp_.size() + 1);
                    std::signal(SIGINT, RemovePendingAndDie);
                    std::signal(SIGTERM, RemovePendingAndDie);
                }
                return true;
            }
            if (errno != EEXIST)
                return false;
        }
        return false;
    }
    const std::string& path() const { return tmp_; }
    // Puts the finished file in OUT's place.
    bool Commit(std::string* why)
    {
        std::error_code ec;
        std::filesystem::rename(tmp_, out_, ec);
        if (ec) {
            *why = ec.message();
            return false;
        }
        tmp_.clear();
        return true;
    }

private:
    std::string out_;
    std::string tmp_;
};

// Byte-swaps the 16-bit samples of `rows` rows (a big-endian input: the output is little-endian).
void Swap16(unsigned char* rows, size_t rowBytes, int count, size_t stride)
{
    for (int r = 0; r < count; ++r) {
        unsigned char* p = rows + size_t(r) * stride;
        for (size_t i = 0; i + 1 < rowBytes; i += 2)
            std::swap(p[i], p[i + 1]);
    }
}

class Progress {
public:
    Progress(VXTiff2BmpProgress fn, void* context, int total, int64_t bytes)
        : fn_(bytes >= kProgressBytes ? fn : nullptr), context_(context), total_(total)
    {
    }
    void Show(int done)
    {
        if (fn_ != nullptr) {
            fn_(context_, done, total_);
            shown_ = done;
        }
    }
    // Ends an unfinished bar's line so that a message starts on its own.
    ~Progress()
    {
        if (fn_ != nullptr && shown_ >= 0 && shown_ < total_)
            std::fputc('\n', stderr);
    }

private:
    VXTiff2BmpProgress fn_;
    void* context_;
    int total_;
    int shown_ = -1;
};

// Everything both commands do: open IN, describe OUT, create it, pump the
// rows, close and rename.
class Job {
public:
    explicit Job(const Options& o) : o_(o), pending_(o.out) {}

    int Run(VXTiff2BmpProgress progress, void* context)
    {
        std::error_code ec;
        if (std::filesystem::equivalent(o_.in, o_.out, ec))
            return Fail(o_, "IN and OUT are the same file");
        if (!in_.OpenPage(o_.in.c_str(), o_.page - 1))
            return Fail(o_, "cannot open: " + OpenFailure(o_.in.c_str(), o_.page));
        in_.GetImgInfo(&src_);
        std::string why = CheckInput();
        if (!why.empty())
            return Fail(o_, why);
        VXIMGINFO info = Describe();
        const int status = Plan(&info);
        if (status != 0)
            return status;
        if (!pending_.Reserve())
            return Fail(o_, std::string("cannot create a file beside OUT: ") + std::strerror(errno), kExitOutput);
        why = Create(&info);
        if (!why.empty())
            return Fail(o_, why);
        if (src_.nImageType == VXIMG_PALETTE && in_.m_nColors > 0) {
            std::vector<RGBQUAD> colors(size_t(in_.m_nColors));
            in_.GetColorMap(in_.m_nColors, colors.data());
            out_.SetColorMap(in_.m_nColors, colors.data());
        }
        Progress bar(progress, context, info.nHeight,
                     int64_t(info.nHeight) * RowBytes(info.nWidth, info.nSamplesPerPixel, info.nBitsPerSample));
        why = o_.angle != 0 ? Rotate(info, bar) : Copy(info, bar);
        if (!why.empty())
            return Fail(o_, why, why.compare(0, 7, "writing") == 0 ? kExitOutput : kExitFailed);
        if (out_.Close() != 1)
            return Fail(o_, "finishing the output failed (disk full?)", kExitOutput);
        if (!pending_.Commit(&why))
            return Fail(o_, "cannot put the output in place: " + why, kExitOutput);
        return 0;
    }

private:
    std::string CheckInput()
    {
        if (in_.m_nPhotometric == 6)
            return "YCbCr images are not converted (the library delivers them as stored)";
        int fillOrder = 1;
        in_.GetTagValue(266, &fillOrder);
        if (fillOrder == 2 && !Fax(src_.nCompression))
            return "FillOrder 2 (least significant bit first) is read as stored only by the fax compressions";
        const int pixelBits = src_.nSamplesPerPixel * src_.nBitsPerSample;
        if (o_.angle != 0 && pixelBits % 8 != 0 && 8 % pixelBits != 0)
            return "rotate takes pixels of 1, 2, 4 bits or whole bytes, not " + std::to_string(pixelBits) + " bits";
        return {};
    }

    // OUT as IN is, turned when rotating, before the options apply.
    VXIMGINFO Describe() const
    {
        VXIMGINFO info = src_;
        if (o_.angle != 0) {
            std::swap(info.nWidth, info.nHeight);
            std::swap(info.dXResolution, info.dYResolution);
            std::swap(info.nTileWidth, info.nTileLength);
        }
        if (info.bTiled) {
            info.nRowsPerStrip = 0;
        } else if (info.nRowsPerStrip <= 0 || info.nRowsPerStrip >= info.nHeight) {
            info.nRowsPerStrip = 0;  // one strip
        }
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

    // Chooses the codec and predictor; 0, or the exit status of a refusal.
    int Plan(VXIMGINFO* info)
    {
        int t4 = 0;
        in_.GetTagValue(292, &t4);
        codec_ = o_.codec;
        explicit_ = codec_ != nullptr;
        if (!explicit_) {
            codec_ = CodecOfInput(src_.nCompression, t4);
            if (codec_ == nullptr)
                codec_ = CodecNamed("none");
        }
        if (explicit_ && Fax(codec_->compression) && info->nSamplesPerPixel * info->nBitsPerSample != 1)
            return Fail(o_, std::string(codec_->name) + " compresses bilevel (1-bit) images only");
        if (!explicit_ && Fax(codec_->compression) && info->nSamplesPerPixel * info->nBitsPerSample != 1)
            codec_ = CodecNamed("none");
        if (o_.predictor == 2 && !TakesPredictor(codec_->compression))
            return Usage(std::string("--predictor 2 needs deflate or lzw, not ") + codec_->name);
        predictor_ = o_.predictor;
        if (predictor_ == 0) {
            int p = 1;
            in_.GetTagValue(317, &p);
            predictor_ = p == 2 && TakesPredictor(src_.nCompression) && TakesPredictor(codec_->compression) ? 2 : 1;
        }
        info->nCompression = codec_->compression;
        return 0;
    }

    // Creates the temporary file; "" or why not. Whether the codec has an
    // encoder is learnt from Create itself, so the refusal ends by itself
    // when one is added.
    std::string Create(VXIMGINFO* info)
    {
        VXIMGINFO wanted = *info;
        if (!out_.Create(pending_.path().c_str(), &wanted)) {
            VXIMGINFO plain = *info;
            plain.nCompression = 1;
            if (!explicit_ && out_.Create(pending_.path().c_str(), &plain)) {
                std::fprintf(stderr, "vxtiff: note: this build cannot write %s; writing uncompressed\n",
                             codec_->name);
                codec_ = CodecNamed("none");
                predictor_ = 1;
                *info = plain;
                return {};
            }
            CTifFile probe;  // dropped without a directory; the pending file goes at the end
            if (explicit_ && info->nCompression != 1 && probe.Create(pending_.path().c_str(), &plain))
                return std::string("this build cannot write ") + codec_->name + " compression (no encoder yet)";
            return "the writer refuses this image (size, layout or resolution out of its range, or no memory)";
        }
        *info = wanted;
        if (codec_->compression == 3 && !out_.SetEncodeParams(292, unsigned(codec_->t4Options)))
            return "the Group 3 encoder refuses T4Options " + std::to_string(codec_->t4Options);
        if (predictor_ == 2 && !out_.SetEncodeParams(317, 2)) {
            if (o_.predictor == 2)
                return "--predictor 2 takes 8- or 16-bit samples only";
            predictor_ = 1;  // the input's predictor, where it does not fit: none
        }
        return {};
    }

    std::string WriteBand(unsigned char* rows, int count, size_t rowBytes, int first)
    {
        if (in_.m_bSwap && src_.nBitsPerSample == 16)
            Swap16(rows, rowBytes, count, rowBytes);
        if (out_.WriteLines(rows, count) != count)
            return "writing the output failed at line " + std::to_string(first) + " (disk full?)";
        return {};
    }

    std::string Copy(const VXIMGINFO& info, Progress& bar)
    {
        const size_t rowBytes = size_t(in_.m_nRowBytes);
        const int band = int(std::clamp<size_t>(kBandBytes / rowBytes, 1, size_t(info.nHeight)));
        std::vector<unsigned char> rows(size_t(band) * rowBytes);
        for (int y = 0; y < info.nHeight; y += band) {
            const int n = std::min(band, info.nHeight - y);
            const int got = in_.ReadLines(rows.data(), n);
            if (got != n)
                return "the input cannot be decoded from line " + std::to_string(y + got) + " on (damaged data?)";
            std::string why = WriteBand(rows.data(), n, rowBytes, y);
            if (!why.empty())
                return why;
            bar.Show(y + n);
        }
        return {};
    }

    std::string Rotate(const VXIMGINFO& info, Progress& bar)
    {
        const size_t rowBytes = size_t(RowBytes(info.nWidth, info.nSamplesPerPixel, info.nBitsPerSample));
        // Whole groups of 8 rotated lines: bilevel pixels move in 8 x 8 blocks.
        int band = int(std::clamp<size_t>(kBandBytes / rowBytes, 8, size_t(info.nHeight)));
        if (band > 8 && band < info.nHeight)
            band &= ~7;
        std::vector<unsigned char> rows(size_t(band) * rowBytes);
        for (int k = 0; k < info.nHeight; k += band) {
            const int n = std::min(band, info.nHeight - k);
            const int ok = o_.angle == 90 ? in_.ReadLinesR90(rows.data(), k, n) : in_.ReadLinesR270(rows.data(), k, n);
            if (ok != 1)
                return "the input cannot be decoded (damaged data?)";
            std::string why = WriteBand(rows.data(), n, rowBytes, k);
            if (!why.empty())
                return why;
            bar.Show(k + n);
        }
        return {};
    }

    const Options& o_;
    PendingOutput pending_;  // declared before the files: removed after they let go
    CTifFile in_;
    CTifFile out_;
    VXIMGINFO src_ = {};
    const Codec* codec_ = nullptr;
    bool explicit_ = false;
    int predictor_ = 1;
};

int Command(int argc, char** argv, bool rotate, VXTiff2BmpProgress progress, void* context)
{
    Options o;
    const std::string why = Parse(argc, argv, rotate, &o);
    if (!why.empty())
        return Usage(why);
    Job job(o);
    return job.Run(progress, context);
}

}  // namespace

int ConvertCommand(int argc, char** argv, VXTiff2BmpProgress progress, void* context)
{
    return Command(argc, argv, false, progress, context);
}

int RotateCommand(int argc, char** argv, VXTiff2BmpProgress progress, void* context)
{
    return Command(argc, argv, true, progress, context);
}
