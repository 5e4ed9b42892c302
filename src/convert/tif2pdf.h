// tif2pdf.h — VXTiff2Pdf: every page of a TIFF file as a page of a PDF file.
//
// Each page becomes one PDF page at its physical size: the MediaBox is the
// pixel size times 72 over the resolution in each direction, so pixels that
// are not square (a 204 × 98 dpi fax page) need no resampling. A page without
// a resolution (or whose ResolutionUnit is 1, none) takes the one the options
// give, 200 dpi by default (keeping the file's aspect with unit 1).
//
// Bilevel pages (one sample of one bit, min-is-white or min-is-black) are
// stored as CCITT Group 4 data (/CCITTFaxDecode): a page held as a single
// Group 4 strip with FillOrder 1 is copied byte for byte; every other one is
// decoded and encoded again, row by row, into one Group 4 stream. Grey, RGB,
// palette (/Indexed) and CMYK pages of 1, 2, 4, 8 or 16 bits per sample are
// deflated (/FlateDecode), 8- and 16-bit ones with the PNG predictors, chosen
// row by row. The file is PDF 1.4, or 1.5 when it holds 16-bit samples
// (kept as they are; 1.4 cannot hold them). Extra samples (alpha) are left
// out. Pages the library cannot read (JPEG without libjpeg, separate planes,
// YCbCr stored uncompressed, other bit depths) are skipped and counted,
// unless bStrict.
//
// A page with damaged data keeps its full height: lines decoded from damaged
// data stay as decoded, lines that cannot be decoded at all are paper (white
// as the page shows it; a palette page's entry nearest white), and both are
// counted (CTifFile::GetDamagedLines), as the vxtiff tool salvages every
// page. Where the data ends before the page does, the image ends with it and
// the page below it shows white: the missing rows cost nothing, whatever
// height the page claims. A single Group 4 strip copied as stored is not
// decoded, so its damage is not seen. /Title comes from
// the options or else from the first page's DocumentName or
// ImageDescription, /CreationDate from its DateTime, /Producer names vxtiff.
//
// One forward pass: memory does not grow with the pages beyond a few words
// each. The TIFF file is opened and checked before the PDF file is created;
// after any failure once it was created, the PDF file is removed (unless it
// is not a regular file). Each call is self-contained and may run on any
// thread.
#pragma once

#include "../tif/tif_export.h"  // relative: found with -I<prefix>/include alone too

#ifdef __cplusplus
extern "C" {
#endif

// Results of VXTiff2Pdf.
enum {
    VXTIFF2PDF_OK = 0,
    VXTIFF2PDF_INCOMPLETE = 1,         // written, but pages were skipped (nSkippedPages) or lines are
                                       // damaged (nBadLines)
    VXTIFF2PDF_ERR_OPEN = -1,          // the TIFF file cannot be read; CTifFile::GetLastFailure says why
    VXTIFF2PDF_ERR_CREATE = -2,        // the PDF file cannot be created
    VXTIFF2PDF_ERR_MEMORY = -3,        // out of memory
    VXTIFF2PDF_ERR_OPTIONS = -5,       // nSize or a resolution of the options is invalid
    VXTIFF2PDF_ERR_UNSUPPORTED = -11,  // no page could be converted; with bStrict: a page could not
                                       // be, or a line is damaged
    VXTIFF2PDF_ERR_WRITE = -21,        // writing or closing the PDF file failed
};

// Options of VXTiff2Pdf. Zero it, set nSize, then what differs:
//   VXTIFF2PDF_OPTIONS o = {0};  o.nSize = sizeof o;  o.pszTitle = "Invoice";
typedef struct VXTIFF2PDF_OPTIONS {
    int nSize;            // sizeof(VXTIFF2PDF_OPTIONS)
    double dXResolution;  // > 0: pixels per inch of pages that carry no resolution; 0: 200
    double dYResolution;  // > 0: likewise vertical; 0: as dXResolution
    const char* pszTitle; // the document's /Title (UTF-8); null: from the first page
    int bStrict;          // nonzero: a page that cannot be converted, or a damaged line, fails
                          // the whole conversion (no PDF file is left)
    int nPages;           // out: pages written
    int nSkippedPages;    // out: pages left out because they cannot be converted
    int nBadLines;        // out: damaged lines of the pages written, counted as
                          // CTifFile::GetDamagedLines does: lines decoded from damaged data
                          // (kept as decoded) and lines that cannot be decoded (written as
                          // paper), and the lines a page claims past what its data could
                          // hold (its page ends there)
} VXTIFF2PDF_OPTIONS;

// Converts every page of `tiffPath` into `pdfPath` (created, or replaced);
// `options` may be null (defaults as above). Returns VXTIFF2PDF_OK,
// VXTIFF2PDF_INCOMPLETE, or one of the negative codes above.
VXTIFF_API int VXTIFF_STDCALL VXTiff2Pdf(const char* tiffPath, const char* pdfPath, VXTIFF2PDF_OPTIONS* options);

#ifdef __cplusplus
}
#endif
