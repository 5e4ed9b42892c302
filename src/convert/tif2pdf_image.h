// tif2pdf_image.h — the page a CTifFile has open, written as a PDF image
// XObject (internal to the library; see tif2pdf.h for what each kind of page
// becomes).
#pragma once

#include <string>

#include "convert/line_salvage.h"

class CTifFile;
class CPdfWriter;

struct PdfImage {
    int width = 0;
    int rows = 0;         // rows of the image: the page's, or those down to where its data ends
    int height = 0;       // rows of the page: its height, cut where its data could hold no more
    PageDamage damage;    // what decoding the page met (a copied strip is not decoded)
    bool sixteen = false; // 16-bit samples, which need PDF 1.5
};

// Why the page `file` has open cannot become a PDF image; "" when it can.
std::string PdfImageRefusal(CTifFile& file);

// Writes the page `file` has open (PdfImageRefusal "") as image XObject
// `number`. False when writing the PDF failed; memory exhaustion throws
// std::bad_alloc.
bool WritePdfImage(CTifFile& file, CPdfWriter& pdf, int number, PdfImage* image);
