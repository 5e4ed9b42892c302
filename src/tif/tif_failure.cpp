// tif_failure.cpp — the per-thread record of the last open or create failure.
#include "tif/tif_failure.h"

#include <cstdio>

#include "io/tif_stream.h"
#include "tif/tif_file.h"

namespace {

struct Failure {
    int code = VXTIFF_FAIL_NONE;
    int value = 0;
    char text[96] = {};
};

thread_local Failure g_last;

const char* CompressionName(int c)
{
    switch (c) {
    case 0: return " (none given)";
    case 6: case 7: return " (JPEG)";
    case 34712: return " (JPEG 2000)";
    case 34925: return " (LZMA)";
    case 50000: return " (Zstandard)";
    case 50001: return " (WebP)";
    default: return "";
    }
}

}  // namespace

int TifFail(int failure, int value)
{
    g_last.code = failure;
    g_last.value = value;
    return 0;
}

int TifStreamFailure(int streamFailure, bool creating)
{
    switch (streamFailure) {
    case TIF_STREAM_NOT_FOUND: return creating ? VXTIFF_FAIL_CREATE : VXTIFF_FAIL_NO_FILE;
    case TIF_STREAM_DENIED: return VXTIFF_FAIL_PERMISSION;
    case TIF_STREAM_NOT_FILE: return VXTIFF_FAIL_NOT_A_FILE;
    case TIF_STREAM_IN_USE: return VXTIFF_FAIL_IN_USE;
    default: return creating ? VXTIFF_FAIL_CREATE : VXTIFF_FAIL_NO_FILE;
    }
}

int CTifFile::GetLastFailure() { return g_last.code; }

int CTifFile::GetLastFailureValue() { return g_last.value; }

const char* CTifFile::GetFailureText(int failure)
{
    switch (failure) {
    case VXTIFF_FAIL_NONE: return "no failure";
    case VXTIFF_FAIL_ARGUMENT: return "no path or description given";
    case VXTIFF_FAIL_BUSY: return "the object already holds an open file";
    case VXTIFF_FAIL_NO_FILE: return "no such file";
    case VXTIFF_FAIL_PERMISSION: return "permission denied";
    case VXTIFF_FAIL_NOT_A_FILE: return "not a file";
    case VXTIFF_FAIL_IN_USE: return "file in use";
    case VXTIFF_FAIL_NOT_TIFF: return "not a TIFF file";
    case VXTIFF_FAIL_BIGTIFF: return "BigTIFF (not supported)";
    case VXTIFF_FAIL_COMPRESSION: return "compression not supported";
    case VXTIFF_FAIL_PREDICTOR: return "predictor not supported";
    case VXTIFF_FAIL_PHOTOMETRIC: return "photometric interpretation not supported";
    case VXTIFF_FAIL_PLANAR: return "separate planes (not supported)";
    case VXTIFF_FAIL_DAMAGED: return "damaged directory";
    case VXTIFF_FAIL_CUT_SHORT: return "data cut short";
    case VXTIFF_FAIL_BAD_DATA: return "damaged image data";
    case VXTIFF_FAIL_TOO_LARGE: return "image too large";
    case VXTIFF_FAIL_MEMORY: return "out of memory";
    case VXTIFF_FAIL_NO_PAGE: return "no such page";
    case VXTIFF_FAIL_CREATE: return "cannot create the file";
    case VXTIFF_FAIL_INVALID: return "invalid image description";
    case VXTIFF_FAIL_NO_ENCODER: return "no encoder for this compression and image";
    case VXTIFF_FAIL_TOO_MANY_PAGES: return "too many pages";
    default: return "unknown failure";
    }
}

const char* CTifFile::GetLastFailureText()
{
    Failure& f = g_last;
    switch (f.code) {
    case VXTIFF_FAIL_COMPRESSION:
        std::snprintf(f.text, sizeof f.text, "compression %d%s not supported", f.value, CompressionName(f.value));
        break;
    case VXTIFF_FAIL_PREDICTOR:
        std::snprintf(f.text, sizeof f.text, "predictor %d not supported", f.value);
        break;
    case VXTIFF_FAIL_PHOTOMETRIC:
        std::snprintf(f.text, sizeof f.text, "photometric interpretation %d not supported", f.value);
        break;
    case VXTIFF_FAIL_NO_ENCODER:
        std::snprintf(f.text, sizeof f.text, "no encoder for compression %d%s and this image", f.value,
                      CompressionName(f.value));
        break;
    default:
        std::snprintf(f.text, sizeof f.text, "%s", GetFailureText(f.code));
        break;
    }
    return f.text;
}
