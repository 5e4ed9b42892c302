// vxtiff.h — the library's one public header for C++ programs:
//
//     #include <vxtiff/vxtiff.h>      (compile with -I<prefix>/include)
//
// brings CTifFile (tif/tif_file.h: reading, writing and the tag API, with
// VXIMGINFO and the failure codes), VXTiff2Bmp and its variants
// (convert/tif2bmp.h) and VXTiff2Pdf (convert/tif2pdf.h). Including those
// headers one by one (with -I<prefix>/include/vxtiff) keeps working; C
// programs include the two conversion headers, which are C as well as C++.
#pragma once

#include "tif/tif_file.h"
#include "convert/tif2bmp.h"
#include "convert/tif2pdf.h"
