// tif2pdf_document.h — a PDF document made of TIFF pages, page by page
// (internal to the library: VXTiff2Pdf and the tool's topdf command use it).
//
//   CTifPdfDocument doc(settings, report);
//   doc.Create("out.pdf");
//   doc.AddPage("a.tif", 0);  doc.AddPage("a.tif", 1);  doc.AddPage("b.tif", 0);
//   doc.Finish();
//
// Results are VXTIFF2PDF_ codes (tif2pdf.h). The file at the path given to
// Create is never removed here: that is the caller's choice.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "convert/line_salvage.h"
#include "convert/page_reader.h"
#include "convert/pdf_writer.h"
#include "tif/tif_file.h"

struct TifPdfSettings {
    double xDpi = 200.0;  // pages without a resolution
    double yDpi = 200.0;
    std::string title;    // empty: the first page's DocumentName or ImageDescription
    bool strict = false;  // a page skipped or a damaged line fails the document
};

class CTifPdfDocument {
public:
    // `report` hears one line for each page skipped ("a.tif page 3:
    // skipped: ..."); it may be empty. A damaged page is not reported there:
    // damage() tells what it met.
    CTifPdfDocument(TifPdfSettings settings, std::function<void(const std::string&)> report);

    // Creates the PDF file: VXTIFF2PDF_OK or VXTIFF2PDF_ERR_CREATE.
    int Create(const char* path);
    // Adds page `page` (from 0) of `tiff`: VXTIFF2PDF_OK; VXTIFF2PDF_INCOMPLETE
    // when it was skipped, or written whole with damaged lines (salvaged as
    // line_salvage.h says); with `strict` then VXTIFF2PDF_ERR_UNSUPPORTED;
    // VXTIFF2PDF_ERR_WRITE when the PDF cannot be written (the document is
    // lost). Pages of one file in increasing order are reached without
    // walking the file's directories again.
    int AddPage(const std::string& tiff, int page);
    // Writes what remains and closes: VXTIFF2PDF_OK, VXTIFF2PDF_ERR_WRITE, or
    // VXTIFF2PDF_ERR_UNSUPPORTED when no page was written.
    int Finish();

    int pages() const { return int(kids_.size()); }
    int skipped() const { return skipped_; }
    int badLines() const { return badLines_; }  // damaged lines of all pages
    // What the page last added met (no damage when it was skipped).
    const PageDamage& damage() const { return damage_; }

private:
    int Skip(const std::string& where, const std::string& why);
    void TakeMetadata();
    int WritePage();

    TifPdfSettings settings_;
    std::function<void(const std::string&)> report_;
    CPdfWriter pdf_;
    TifPageReader reader_;
    CTifFile& in_ = reader_.file;
    int root_ = 0, pagesNumber_ = 0;
    std::vector<int> kids_;
    int skipped_ = 0, badLines_ = 0;
    PageDamage damage_;
    bool sixteen_ = false, metadata_ = false;
    std::string title_, date_;
    bool failed_ = false;
};
