// bench_pages.cpp — the multi-page jobs for vxtiff and libtiff, and the
// page-by-page comparison of their outputs.
#include "bench_pages.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

#include "bench_write.h"
#include "tif/tif_file.h"

namespace {

struct TiffCloser {
    void operator()(TIFF* t) const { TIFFClose(t); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

void Quiet(const char*, const char*, va_list) {}

TiffPtr OpenLt(const std::string& path, const char* mode)
{
    TIFFSetWarningHandler(Quiet);
    TIFFSetErrorHandler(Quiet);
    return TiffPtr(TIFFOpen(path.c_str(), mode));
}

// Rows moved per ReadLines and WriteLines call: a line-oriented program's
// buffer, not the whole page.
constexpr int kBlockLines = 64;

// The page `from` has open, decoded and written into the page `to` begins.
bool CopyLines(CTifFile* from, CTifFile* to, const VXIMGINFO& info)
{
    const size_t rowBytes = (size_t(info.nWidth) * size_t(info.nSamplesPerPixel * info.nBitsPerSample) + 7) / 8;
    std::vector<uint8_t> rows(rowBytes * kBlockLines);
    for (int y = 0; y < info.nHeight; y += kBlockLines) {
        const int n = std::min(kBlockLines, info.nHeight - y);
        if (from->ReadLines(rows.data(), n) != n || to->WriteLines(rows.data(), n) != n)
            return false;
    }
    return true;
}

// Begins the next page of `out`: the file itself for the first.
bool BeginPage(CTifFile* out, const std::string& path, bool first, VXIMGINFO* info)
{
    return first ? out->Create(path.c_str(), info) == 1 : out->AddPage(info) == 1;
}

// The source page's stored data into the page just begun, else its lines.
bool CopyPage(CTifFile* from, CTifFile* to, const VXIMGINFO& info, int* copied)
{
    if (to->CopyPageData(from)) {
        ++*copied;
        return true;
    }
    return CopyLines(from, to, info);
}

// The tags of the page `in` is on that describe the image, set on `out`; its
// compression replaced by `compression` unless that is 0 (the coding options
// then come along).
bool CopyTags(TIFF* in, TIFF* out, int compression)
{
    uint32_t width = 0, length = 0, rows = 0;
    uint16_t bits = 1, samples = 1, photometric = 0, fill = 1, planar = 1, unit = 2, stored = 1;
    float xres = 0, yres = 0;
    if (!TIFFGetField(in, TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(in, TIFFTAG_IMAGELENGTH, &length) ||
        !TIFFGetField(in, TIFFTAG_PHOTOMETRIC, &photometric))
        return false;
    TIFFGetFieldDefaulted(in, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(in, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(in, TIFFTAG_ROWSPERSTRIP, &rows);
    TIFFGetFieldDefaulted(in, TIFFTAG_FILLORDER, &fill);
    TIFFGetFieldDefaulted(in, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(in, TIFFTAG_COMPRESSION, &stored);
    bool ok = TIFFSetField(out, TIFFTAG_IMAGEWIDTH, width) && TIFFSetField(out, TIFFTAG_IMAGELENGTH, length) &&
              TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, bits) && TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, samples) &&
              TIFFSetField(out, TIFFTAG_PHOTOMETRIC, photometric) && TIFFSetField(out, TIFFTAG_FILLORDER, fill) &&
              TIFFSetField(out, TIFFTAG_PLANARCONFIG, planar) && TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, rows) &&
              TIFFSetField(out, TIFFTAG_COMPRESSION, uint16_t(compression != 0 ? compression : stored));
    if (ok && TIFFGetField(in, TIFFTAG_XRESOLUTION, &xres) && TIFFGetField(in, TIFFTAG_YRESOLUTION, &yres)) {
        TIFFGetFieldDefaulted(in, TIFFTAG_RESOLUTIONUNIT, &unit);
        ok = TIFFSetField(out, TIFFTAG_XRESOLUTION, xres) && TIFFSetField(out, TIFFTAG_YRESOLUTION, yres) &&
             TIFFSetField(out, TIFFTAG_RESOLUTIONUNIT, unit);
    }
    uint32_t options = 0;
    if (ok && compression == 0 && stored == COMPRESSION_CCITTFAX3 && TIFFGetField(in, TIFFTAG_GROUP3OPTIONS, &options))
        ok = TIFFSetField(out, TIFFTAG_GROUP3OPTIONS, options);
    if (ok && compression == 0 && stored == COMPRESSION_CCITTFAX4 && TIFFGetField(in, TIFFTAG_GROUP4OPTIONS, &options))
        ok = TIFFSetField(out, TIFFTAG_GROUP4OPTIONS, options);
    return ok;
}

// Every strip of the page `in` is on, as stored, into the page of `out`.
bool CopyRawStrips(TIFF* in, TIFF* out, std::vector<uint8_t>* buf)
{
    uint64_t* counts = nullptr;
    if (!TIFFGetField(in, TIFFTAG_STRIPBYTECOUNTS, &counts) || counts == nullptr)
        return false;
    const uint32_t strips = TIFFNumberOfStrips(in);
    for (uint32_t s = 0; s < strips; ++s) {
        const tmsize_t size = tmsize_t(counts[s]);
        if (buf->size() < size_t(size))
            buf->resize(size_t(size));
        if (TIFFReadRawStrip(in, s, buf->data(), size) != size || TIFFWriteRawStrip(out, s, buf->data(), size) != size)
            return false;
    }
    return true;
}

// Page `page` of `pages`; PageNumber only in a file of several.
bool WritePageNumber(TIFF* out, int page, int pages)
{
    return pages < 2 || TIFFSetField(out, TIFFTAG_PAGENUMBER, uint16_t(page), uint16_t(pages));
}

}  // namespace

namespace {

// Every input's first page as the next page of `out`, filled by `fill`;
// `compression` 0 keeps each page's own.
template <class Fill>
VxResult MergeEach(const std::vector<std::string>& in, const std::string& out, int compression, Fill fill)
{
    CTifFile doc;
    for (size_t i = 0; i < in.size(); ++i) {
        CTifFile page;
        if (!page.OpenPage(in[i].c_str(), 0))
            return VxResult::Unsupported;
        VXIMGINFO info;
        page.GetImgInfo(&info);
        if (compression != 0)
            info.nCompression = compression;
        if (!BeginPage(&doc, out, i == 0, &info))  // no encoder: Create refuses
            return compression != 0 && i == 0 ? VxResult::Unsupported : VxResult::Failed;
        if (!fill(&page, &doc, info))
            return VxResult::Failed;  // the destructor drops the unfinished file
    }
    return doc.Close() == 1 ? VxResult::Ok : VxResult::Failed;
}

}  // namespace

VxResult VxMerge(const std::vector<std::string>& in, const std::string& out, int* copied)
{
    *copied = 0;
    return MergeEach(in, out, 0, [copied](CTifFile* page, CTifFile* doc, const VXIMGINFO& info) {
        return CopyPage(page, doc, info, copied);
    });
}

bool LtMergeRaw(const std::vector<std::string>& in, const std::string& out)
{
    {
        TiffPtr doc = OpenLt(out, "w");
        std::vector<uint8_t> buf;
        for (size_t i = 0; doc && i < in.size(); ++i) {
            TiffPtr page = OpenLt(in[i], "r");
            if (!page || !CopyTags(page.get(), doc.get(), 0) || !WritePageNumber(doc.get(), int(i), int(in.size())) ||
                !CopyRawStrips(page.get(), doc.get(), &buf) || !TIFFWriteDirectory(doc.get()))
                return false;
        }
        if (!doc)
            return false;
    }
    return SyncFile(out);
}

VxResult VxMergeLines(const std::vector<std::string>& in, const std::string& out, int compression)
{
    return MergeEach(in, out, compression, CopyLines);
}

bool LtMergeScanlines(const std::vector<std::string>& in, const std::string& out, int compression)
{
    {
        TiffPtr doc = OpenLt(out, "w");
        std::vector<uint8_t> row;
        for (size_t i = 0; doc && i < in.size(); ++i) {
            TiffPtr page = OpenLt(in[i], "r");
            if (!page || !CopyTags(page.get(), doc.get(), compression) ||
                !WritePageNumber(doc.get(), int(i), int(in.size())))
                return false;
            uint32_t height = 0;
            TIFFGetField(page.get(), TIFFTAG_IMAGELENGTH, &height);
            row.resize(size_t(TIFFScanlineSize(page.get())));
            for (uint32_t y = 0; y < height; ++y)
                if (TIFFReadScanline(page.get(), row.data(), y, 0) != 1 ||
                    TIFFWriteScanline(doc.get(), row.data(), y, 0) != 1)
                    return false;
            if (!TIFFWriteDirectory(doc.get()))
                return false;
        }
        if (!doc)
            return false;
    }
    return SyncFile(out);
}

VxResult VxSplit(const std::string& in, const std::vector<std::string>& out, int* copied)
{
    *copied = 0;
    if (CTifFile::CountPages(in.c_str()) != int(out.size()))
        return VxResult::Unsupported;
    CTifFile page;
    for (size_t i = 0; i < out.size(); ++i) {
        CTifFile single;
        if (!(i == 0 ? page.Open(in.c_str()) : page.NextPage()))
            return VxResult::Unsupported;
        VXIMGINFO info;
        page.GetImgInfo(&info);
        if (!single.Create(out[i].c_str(), &info) || !CopyPage(&page, &single, info, copied) || !single.Close())
            return VxResult::Failed;
    }
    return VxResult::Ok;
}

bool LtSplitRaw(const std::string& in, const std::vector<std::string>& out)
{
    TiffPtr doc = OpenLt(in, "r");
    std::vector<uint8_t> buf;
    for (size_t i = 0; doc && i < out.size(); ++i) {
        if (i > 0 && !TIFFReadDirectory(doc.get()))
            return false;
        {
            TiffPtr single = OpenLt(out[i], "w");
            if (!single || !CopyTags(doc.get(), single.get(), 0) || !CopyRawStrips(doc.get(), single.get(), &buf) ||
                !TIFFWriteDirectory(single.get()))
                return false;
        }
        if (!SyncFile(out[i]))
            return false;
    }
    return doc != nullptr;
}

namespace {

// A page as libtiff decodes it, with what the comparison checks of its tags.
struct Decoded {
    uint32_t width = 0, height = 0;
    uint16_t compression = 0, index = 0, count = 0;
    bool numbered = false;
    size_t rowBytes = 0;
    std::vector<uint8_t> rows;
};

bool Decode(const PageRef& ref, Decoded* d)
{
    TiffPtr t = OpenLt(ref.path, "r");
    if (!t || !TIFFSetDirectory(t.get(), tdir_t(ref.page)) || !TIFFGetField(t.get(), TIFFTAG_IMAGEWIDTH, &d->width) ||
        !TIFFGetField(t.get(), TIFFTAG_IMAGELENGTH, &d->height))
        return false;
    TIFFGetFieldDefaulted(t.get(), TIFFTAG_COMPRESSION, &d->compression);
    d->numbered = TIFFGetField(t.get(), TIFFTAG_PAGENUMBER, &d->index, &d->count) == 1;
    d->rowBytes = size_t(TIFFScanlineSize(t.get()));
    d->rows.assign(d->rowBytes * d->height, 0);
    for (uint32_t y = 0; y < d->height; ++y)
        if (TIFFReadScanline(t.get(), d->rows.data() + y * d->rowBytes, y, 0) != 1)
            return false;
    return true;
}

std::string Name(const PageRef& ref)
{
    return std::filesystem::path(ref.path).filename().string() + " page " + std::to_string(ref.page);
}

// "" when `g` holds what `w` does, else what differs.
std::string ComparePage(const Decoded& w, const Decoded& g)
{
    if (w.width != g.width || w.height != g.height)
        return "is " + std::to_string(g.width) + " x " + std::to_string(g.height) + ", not " +
               std::to_string(w.width) + " x " + std::to_string(w.height);
    for (uint32_t y = 0; y < w.height; ++y)
        if (std::memcmp(w.rows.data() + y * w.rowBytes, g.rows.data() + y * g.rowBytes, w.rowBytes) != 0)
            return "row " + std::to_string(y) + " differs";
    return {};
}

}  // namespace

std::string ComparePages(const std::vector<PageRef>& want, const std::vector<PageRef>& got, int compression)
{
    if (want.size() != got.size())
        return "page counts differ";
    std::map<std::string, int> pagesOf;
    for (const PageRef& g : got)
        ++pagesOf[g.path];
    for (const auto& [path, n] : pagesOf) {
        TiffPtr t = OpenLt(path, "r");
        const int have = t ? int(TIFFNumberOfDirectories(t.get())) : 0;
        if (have != n)
            return std::filesystem::path(path).filename().string() + " has " + std::to_string(have) +
                   " pages, not " + std::to_string(n);
    }
    for (size_t i = 0; i < got.size(); ++i) {
        Decoded w, g;
        if (!Decode(want[i], &w) || !Decode(got[i], &g))
            return "libtiff cannot read " + Name(want[i]) + " or " + Name(got[i]);
        const int count = pagesOf[got[i].path];
        std::string err;
        if (g.compression != compression)
            err = "has compression " + std::to_string(g.compression);
        else if (count > 1 && (!g.numbered || g.index != got[i].page || g.count != count))
            err = "has no PageNumber " + std::to_string(got[i].page) + " of " + std::to_string(count);
        else
            err = ComparePage(w, g);
        if (!err.empty())
            return Name(got[i]) + " " + err;
    }
    return {};
}
