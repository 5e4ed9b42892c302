// fuzz_topdf.cpp — any file converted by VXTiff2Pdf: no crash, hang or
// sanitizer report; a PDF it writes passes the structural check of
// pdf_check.h and holds the pages it reports; a failed conversion leaves no
// PDF behind. Failed checks trap.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "convert/tif2pdf.h"
#include "fuzz_temp.h"
#include "pdf_check.h"

namespace {

void Check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

std::string& PdfPath()
{
    static std::string path;
    return path;
}

void RemovePdf() { std::remove(PdfPath().c_str()); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& tiff = fuzztemp::Make("fuzz_topdf");
    if (tiff.empty())
        return 0;
    if (PdfPath().empty()) {
        PdfPath() = tiff + ".pdf";
        std::atexit(RemovePdf);
    }
    {
        std::ofstream out(tiff, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    }
    RemovePdf();
    VXTIFF2PDF_OPTIONS o = {};
    o.nSize = sizeof o;
    const int result = VXTiff2Pdf(tiff.c_str(), PdfPath().c_str(), &o);
    std::ifstream in(PdfPath(), std::ios::binary);
    const std::vector<uint8_t> pdf((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (result < 0) {
        Check(!in.is_open());
        return 0;
    }
    Check(result == VXTIFF2PDF_OK || result == VXTIFF2PDF_INCOMPLETE);
    Check(o.nPages > 0 && (result == VXTIFF2PDF_OK) == (o.nSkippedPages == 0 && o.nBadLines == 0));
    Check(pdfcheck::StructureProblem(pdf).empty());
    Check(pdfcheck::PageCount(pdf) == o.nPages);
    return 0;
}
