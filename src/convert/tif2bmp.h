// tif2bmp.h — VXTiff2Bmp: a bilevel TIFF image to a 1-bit BMP file resampled to
// a target horizontal resolution.
//
// The source must have one sample of one bit per pixel and a positive
// XResolution. With X its horizontal resolution (pixels per inch), w × h its
// size and R the target resolution, the output is W = trunc(R / X × w) pixels
// wide; output column i takes source column trunc(i × X / R), and source row y
// falls on output row trunc(y × R / X), of which only the first source row is
// used (the vertical resolution plays no part). A target above the source's
// widens the rows but keeps h rows.
//
// The BMP is uncompressed, 1 bit per pixel, rows stored top-down (negative
// height), each padded with zero bits to a multiple of 4 bytes. A set bit in the
// TIFF row stays a set bit in the BMP row; the palette gives it its colour: for
// a WhiteIsZero source (Photometric 0, fax pages) entry 0 is white and entry 1
// black, for any other source entry 0 black and entry 1 white. Header fields
// carry, besides the sizes: the source's horizontal resolution (truncated, low
// 16 bits) in both bfReserved fields, and the source's width and height in
// pixels in biXPelsPerMeter and biYPelsPerMeter.
//
// A line that cannot be decoded does not stop the conversion while a later
// strip (or tile row) of the source still delivers lines: its output row
// repeats the last line read (all zero bits before any). Once no later line can
// be read (the source's data has ended, as in a truncated file or one that
// declares more lines than it holds), the BMP is finished with the rows made
// so far and VXTIFF2BMP_ERR_CUT_SHORT is returned: a small file never makes a
// conversion write rows it does not hold. The source is checked and the memory
// allocated before the BMP file is created, so every failure but
// VXTIFF2BMP_ERR_WRITE leaves the file system as it was; after a failed write
// the partial BMP file is removed (unless it is not a regular file).
//
// Each call is self-contained and may run on any thread; no global state.
#pragma once

#include <stddef.h>

#include "../tif/tif_export.h"  // relative: found with -I<prefix>/include alone too

#ifdef __cplusplus
extern "C" {
#endif

// Results of VXTiff2Bmp and VXTiff2BmpEx.
enum {
    VXTIFF2BMP_OK = 0,
    VXTIFF2BMP_ERR_OPEN = -1,           // the TIFF file (or page) cannot be opened and read as a TIFF
                                        // image; CTifFile::GetLastFailure says why
    VXTIFF2BMP_ERR_CREATE = -2,         // the BMP file cannot be created
    VXTIFF2BMP_ERR_MEMORY = -3,         // no memory for the column table or the row buffers
    VXTIFF2BMP_ERR_TARGET = -4,         // target resolution 1 or less (VXTiff2BmpOpt: negative, or 1
                                        // or less with bExact)
    VXTIFF2BMP_ERR_OPTIONS = -5,        // VXTiff2BmpOpt: nSize, nPage or a source resolution is invalid
    VXTIFF2BMP_ERR_NOT_BILEVEL = -11,   // the TIFF is not one sample of one bit per pixel
    VXTIFF2BMP_ERR_NO_RESOLUTION = -12, // the TIFF has no positive horizontal resolution
    VXTIFF2BMP_ERR_SIZE = -13,          // output width 0 or above VXTIFF2BMP_MAX_WIDTH, or file over 4 GiB
    VXTIFF2BMP_ERR_CUT_SHORT = -14,     // the source's data ended early: the BMP was written, holding
                                        // the rows before that point (its header says how many)
    VXTIFF2BMP_ERR_WRITE = -21,         // writing or closing the BMP file failed
};

// Widest output row, in pixels.
enum { VXTIFF2BMP_MAX_WIDTH = 1 << 26 };

// Called after every written output row with the rows written so far (1 on the
// first call) and the number of rows the file will hold. On Windows, VXTiff2Bmp
// uses it to let the calling thread's pending window messages be handled.
typedef void(VXTIFF_STDCALL* VXTiff2BmpProgress)(void* context, int rowsWritten, int rowsTotal);

// Converts `tiffPath` into `bmpPath` (created, or replaced) at `resolution`
// pixels per inch. Returns VXTIFF2BMP_OK or one of the negative codes above.
// On Windows the thread's pending window messages are handled after every row;
// elsewhere nothing else happens during the call.
VXTIFF_API int VXTIFF_STDCALL VXTiff2Bmp(const char* tiffPath, const char* bmpPath, int resolution);

// The same, calling `progress(context, ...)` after every row instead (none when
// `progress` is null).
VXTIFF_API int VXTIFF_STDCALL VXTiff2BmpEx(const char* tiffPath, const char* bmpPath, int resolution,
                                           VXTiff2BmpProgress progress, void* context);

// Options of VXTiff2BmpOpt. Zero it, set nSize, then what differs:
//   VXTIFF2BMP_OPTIONS o = {0};  o.nSize = sizeof o;  o.nPage = 1;
typedef struct VXTIFF2BMP_OPTIONS {
    int nSize;                      // sizeof(VXTIFF2BMP_OPTIONS)
    int nPage;                      // the page to convert, counted from 0 (CTifFile::OpenPage)
    int bExact;                     // nonzero: VXTiff2Bmp's geometry and header, byte for byte;
                                    // 0: square pixels (below)
    double dSourceXResolution;      // > 0: the source's horizontal resolution in pixels per inch,
                                    // used instead of the file's (for files without one, or with
                                    // a unit-less 1/1); 0: the file's
    double dSourceYResolution;      // > 0: likewise vertical; 0: the file's, or with an X override
                                    // the X override
    VXTiff2BmpProgress pfnProgress; // called after every written row (may be null)
    void* pContext;                 // handed to pfnProgress
    int nBadLines;                  // out: output rows whose source line could not be decoded
                                    // (they repeat the line above), plus the rows missing at the
                                    // end when the source's data ended early (ERR_CUT_SHORT)
    // Out, when nSize covers them (VXTIFF2BMP_OPTIONS_V1_SIZE: a structure
    // that ends before them is still taken, and they are not written):
    int nDamagedLines;              // source lines damaged or undecodable among those read
                                    // (CTifFile::GetDamagedLines), 0 for a sound page
    int nFirstDamagedLine;          // the first of them, from 0; -1 when none
    int nDataFailure;               // VXTIFF_FAIL_CUT_SHORT when a line could not be read because
                                    // the data ended, VXTIFF_FAIL_BAD_DATA when because it is
                                    // damaged (the last such failure), 0 when every line read
} VXTIFF2BMP_OPTIONS;

// The size of the structure before nDamagedLines, as callers built it first.
enum { VXTIFF2BMP_OPTIONS_V1_SIZE = (int)offsetof(VXTIFF2BMP_OPTIONS, nDamagedLines) };

// Converts page `nPage` of `tiffPath` into `bmpPath`; `options` may be null
// (page 0, square pixels, the file's resolution, no progress).
//
// Square pixels (bExact 0): with sx × sy the source resolution (the overrides,
// else the file's XResolution and YResolution unless its ResolutionUnit is 1,
// none; a missing YResolution is taken as the XResolution) and R the target
// (`resolution`, or sx when `resolution` is 0), the output has square pixels
// at R in both directions: trunc(w × R / sx) × trunc(h × R / sy) pixels;
// output column i takes source column trunc(i × sx / R), output row o source
// row trunc(o × sy / R), so reducing drops rows and columns evenly and
// enlarging repeats them. A normal-mode fax page of 1728 × 1100 at 204 × 98
// dpi becomes 1694 × 2244 at 200 dpi. biXPelsPerMeter and biYPelsPerMeter
// hold R in pixels per metre (rounded); the bfReserved fields are 0. With
// `resolution` 0 and no known source resolution the page is copied pixel for
// pixel and the resolution fields are 0; a positive `resolution` without a
// known source resolution gives VXTIFF2BMP_ERR_NO_RESOLUTION.
//
// Exact (bExact nonzero): as VXTiff2BmpEx(tiffPath, bmpPath, resolution,
// pfnProgress, pContext), with dSourceXResolution (when > 0) taking the place
// of the file's horizontal resolution.
//
// Results as VXTiff2Bmp, plus VXTIFF2BMP_ERR_OPTIONS; a page that does not
// exist gives VXTIFF2BMP_ERR_OPEN (GetLastFailure: VXTIFF_FAIL_NO_PAGE).
// Damaged lines do not change the result unless the data ends early
// (VXTIFF2BMP_ERR_CUT_SHORT): count them with nBadLines.
VXTIFF_API int VXTIFF_STDCALL VXTiff2BmpOpt(const char* tiffPath, const char* bmpPath, int resolution,
                                            VXTIFF2BMP_OPTIONS* options);

#ifdef __cplusplus
}
#endif
