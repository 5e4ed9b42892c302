// tif2pdf.cpp — the PDF document of TIFF pages, and VXTiff2Pdf.
//
// Objects go out in the order they are made: for each page its image (and
// the image's length and height), its content stream, its page object; at
// the end the page tree, the catalog and the document information. The
// content stream follows the image so that an image ending early (the rest
// of its page undecodable: white) is drawn at the top of its page.
#include "convert/tif2pdf.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>

#include "codec/tif_tiff.h"
#include "convert/tif2pdf_document.h"
#include "convert/tif2pdf_image.h"
#include "io/tif_stream.h"

namespace {

constexpr double kDefaultDpi = 200.0;

// A usable resolution: what lies outside gives a page of absurd size.
bool Usable(double dpi) { return std::isfinite(dpi) && dpi >= 1e-2 && dpi <= 1e6; }

// The ASCII value of `tag`, "" when absent. The stream position, which the
// decoder reads on from, is put back.
std::string AsciiTag(CTifFile& f, int tag)
{
    const int64_t at = f.m_pStream->Tell();
    int count = 0;
    unsigned char* bytes = nullptr;
    std::string s;
    if (f.GetTagBytes(tag, &count, &bytes) && count > 0)
        s.assign(reinterpret_cast<const char*>(bytes), size_t(count));
    std::free(bytes);
    f.m_pStream->Seek(at, SEEK_SET);
    return s.substr(0, s.find('\0'));
}

// "D:YYYYMMDDHHmmSS" from TIFF's "YYYY:MM:DD HH:MM:SS"; "" when it is not that.
std::string PdfDate(const std::string& t)
{
    static const char kShape[] = "dddd:dd:dd dd:dd:dd";
    if (t.size() != sizeof kShape - 1)
        return {};
    std::string digits;
    for (size_t i = 0; i < t.size(); ++i) {
        const bool digit = t[i] >= '0' && t[i] <= '9';
        if ((kShape[i] == 'd') != digit || (!digit && t[i] != kShape[i]))
            return {};
        if (digit)
            digits += t[i];
    }
    return "D:" + digits;
}

std::string Where(const std::string& tiff, int page) { return tiff + " page " + std::to_string(page + 1); }

}  // namespace

CTifPdfDocument::CTifPdfDocument(TifPdfSettings settings, std::function<void(const std::string&)> report)
    : settings_(std::move(settings)), report_(std::move(report))
{
}

int CTifPdfDocument::Create(const char* path)
{
    if (!pdf_.Create(path, "1.4"))
        return VXTIFF2PDF_ERR_CREATE;
    root_ = pdf_.Reserve();
    pagesNumber_ = pdf_.Reserve();
    return VXTIFF2PDF_OK;
}

int CTifPdfDocument::Skip(const std::string& where, const std::string& why)
{
    ++skipped_;
    if (report_)
        report_(where + ": skipped: " + why);
    return settings_.strict ? VXTIFF2PDF_ERR_UNSUPPORTED : VXTIFF2PDF_INCOMPLETE;
}

void CTifPdfDocument::TakeMetadata()
{
    metadata_ = true;
    title_ = settings_.title;
    if (title_.empty())
        title_ = AsciiTag(in_, TIF_TAG_DOCUMENTNAME);
    if (title_.empty())
        title_ = AsciiTag(in_, TIF_TAG_IMAGEDESCRIPTION);
    date_ = PdfDate(AsciiTag(in_, TIF_TAG_DATETIME));
}

int CTifPdfDocument::AddPage(const std::string& tiff, int page)
{
    if (failed_)
        return VXTIFF2PDF_ERR_WRITE;
    damage_ = PageDamage();
    const std::string where = Where(tiff, page);
    if (!reader_.Reach(tiff, page))
        return Skip(where, CTifFile::GetLastFailureText());
    if (!metadata_)
        TakeMetadata();
    const std::string why = PdfImageRefusal(in_);
    if (!why.empty())
        return Skip(where, why);
    const int status = WritePage();
    if (status != VXTIFF2PDF_OK || !damage_.any())
        return status;
    return settings_.strict ? VXTIFF2PDF_ERR_UNSUPPORTED : VXTIFF2PDF_INCOMPLETE;
}

namespace {

// The page's resolution in pixels per inch, each direction.
void PageDpi(CTifFile& f, const TifPdfSettings& s, double* x, double* y)
{
    double fx = f.m_dXResolution, fy = f.m_dYResolution;
    if (!Usable(fx))
        fx = Usable(fy) ? fy : 0.0;
    if (!Usable(fy))
        fy = fx;
    int unit = 2;
    f.GetTagValue(TIF_TAG_RESOLUTIONUNIT, &unit);
    *x = fx, *y = fy;
    if (fx == 0.0) {
        *x = s.xDpi, *y = s.yDpi;
    } else if (unit == 1) {  // the pixels' aspect alone
        *x = s.xDpi;
        *y = Usable(s.xDpi * fy / fx) ? s.xDpi * fy / fx : s.yDpi;
    }
}

}  // namespace

int CTifPdfDocument::WritePage()
{
    PdfImage image;
    const int imageNumber = pdf_.Reserve();
    if (!WritePdfImage(in_, pdf_, imageNumber, &image)) {
        failed_ = true;
        return VXTIFF2PDF_ERR_WRITE;
    }
    sixteen_ = sixteen_ || image.sixteen;
    damage_ = image.damage;
    const int64_t cut = damage_.claimed > 0 ? damage_.claimed - damage_.rows : 0;
    badLines_ = int(std::min<int64_t>(INT_MAX, int64_t(badLines_) + damage_.lines + cut));
    double xDpi, yDpi;
    PageDpi(in_, settings_, &xDpi, &yDpi);
    const std::string w = PdfNumber(image.width * 72.0 / xDpi), h = PdfNumber(image.height * 72.0 / yDpi);
    const std::string drawn = image.rows == image.height
                                  ? h + " 0 0"
                                  : PdfNumber(image.rows * 72.0 / yDpi) + " 0 " +
                                        PdfNumber((image.height - image.rows) * 72.0 / yDpi);
    const std::string content = "q " + w + " 0 0 " + drawn + " cm /Im0 Do Q";
    const int contents = pdf_.Reserve(), page = pdf_.Reserve();
    pdf_.BeginObject(contents);
    pdf_.Put("<</Length " + std::to_string(content.size()) + ">>\nstream\n" + content + "\nendstream");
    pdf_.EndObject();
    pdf_.BeginObject(page);
    pdf_.Put("<</Type/Page/Parent " + std::to_string(pagesNumber_) + " 0 R/MediaBox[0 0 " + w + " " + h +
             "]/Resources<</XObject<</Im0 " + std::to_string(imageNumber) + " 0 R>>>>/Contents " +
             std::to_string(contents) + " 0 R>>");
    pdf_.EndObject();
    kids_.push_back(page);
    if (pdf_.ok())
        return VXTIFF2PDF_OK;
    failed_ = true;
    return VXTIFF2PDF_ERR_WRITE;
}

int CTifPdfDocument::Finish()
{
    if (failed_)
        return VXTIFF2PDF_ERR_WRITE;
    if (kids_.empty())
        return VXTIFF2PDF_ERR_UNSUPPORTED;
    pdf_.BeginObject(pagesNumber_);
    pdf_.Put("<</Type/Pages/Count " + std::to_string(kids_.size()) + "/Kids[");
    std::string line;
    for (size_t i = 0; i < kids_.size(); ++i) {
        line += std::to_string(kids_[i]) + " 0 R";
        line += i % 8 == 7 || i + 1 == kids_.size() ? "\n" : " ";
        if (line.size() > 4096 || i + 1 == kids_.size()) {
            pdf_.Put(line);
            line.clear();
        }
    }
    pdf_.Put("]>>");
    pdf_.EndObject();
    pdf_.BeginObject(root_);
    pdf_.Put("<</Type/Catalog/Pages " + std::to_string(pagesNumber_) + " 0 R" + (sixteen_ ? "/Version/1.5" : "") +
             ">>");
    pdf_.EndObject();
    const int info = pdf_.Reserve();
    pdf_.BeginObject(info);
    std::string dict = "<</Producer(vxtiff)";
    if (!title_.empty())
        dict += "/Title" + PdfTextString(title_);
    if (!date_.empty())
        dict += "/CreationDate(" + date_ + ")";
    pdf_.Put(dict + ">>");
    pdf_.EndObject();
    failed_ = !pdf_.Finish(root_, info);
    return failed_ ? VXTIFF2PDF_ERR_WRITE : VXTIFF2PDF_OK;
}

namespace {

// Removes what a failed conversion wrote, but never anything but a plain file.
// The path query may throw even with an error code: nothing may leave the DLL.
void RemovePartial(const char* path)
{
    try {
        std::error_code ec;
        if (std::filesystem::is_regular_file(path, ec))
            std::remove(path);
    } catch (...) {
    }
}

int Convert(const char* tiffPath, const char* pdfPath, const TifPdfSettings& settings, VXTIFF2PDF_OPTIONS* out)
{
    const int pages = CTifFile::CountPages(tiffPath);
    if (pages <= 0)
        return VXTIFF2PDF_ERR_OPEN;
    if (pdfPath == nullptr)
        return VXTIFF2PDF_ERR_CREATE;
    int result = VXTIFF2PDF_OK;
    {
        CTifPdfDocument doc(settings, nullptr);
        result = doc.Create(pdfPath);
        if (result != VXTIFF2PDF_OK)
            return result;
        for (int p = 0; p < pages && result >= 0; ++p) {
            const int status = doc.AddPage(tiffPath, p);
            result = status < 0 ? status : std::max(result, status);
        }
        if (result >= 0) {
            const int status = doc.Finish();
            result = status < 0 ? status : result;
        }
        if (out != nullptr) {
            out->nPages = doc.pages();
            out->nSkippedPages = doc.skipped();
            out->nBadLines = doc.badLines();
        }
    }  // the file is closed before it may be removed
    if (result < 0)
        RemovePartial(pdfPath);
    return result;
}

}  // namespace

int VXTIFF_STDCALL VXTiff2Pdf(const char* tiffPath, const char* pdfPath, VXTIFF2PDF_OPTIONS* options)
{
    TifPdfSettings settings;
    if (options != nullptr) {
        const VXTIFF2PDF_OPTIONS& o = *options;
        const auto bad = [](double dpi) { return !std::isfinite(dpi) || dpi < 0.0 || (dpi > 0.0 && !Usable(dpi)); };
        if (o.nSize != int(sizeof(VXTIFF2PDF_OPTIONS)) || bad(o.dXResolution) || bad(o.dYResolution))
            return VXTIFF2PDF_ERR_OPTIONS;
        settings.xDpi = o.dXResolution > 0.0 ? o.dXResolution : kDefaultDpi;
        settings.yDpi = o.dYResolution > 0.0 ? o.dYResolution : settings.xDpi;
        settings.strict = o.bStrict != 0;
        options->nPages = options->nSkippedPages = options->nBadLines = 0;
    }
    try {
        if (options != nullptr && options->pszTitle != nullptr)
            settings.title = options->pszTitle;
        return Convert(tiffPath, pdfPath, settings, options);
    } catch (...) {  // memory: nothing may leave the DLL
        if (pdfPath != nullptr)
            RemovePartial(pdfPath);
        return VXTIFF2PDF_ERR_MEMORY;
    }
}
