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

// The text of each failure code, for GetFailureText.
struct FailureText {
    int code;
    const char* text;
};

const FailureText kFailureTexts[] = {
    {VXTIFF_FAIL_NONE, "no failure"},
    {VXTIFF_FAIL_ARGUMENT, "no path or description given"},
    {VXTIFF_FAIL_BUSY, "the object already holds an open file"},
    {VXTIFF_FAIL_NO_FILE, "no such file"},
    {VXTIFF_FAIL_PERMISSION, "permission denied"},
    {VXTIFF_FAIL_NOT_A_FILE, "not a file"},
    {VXTIFF_FAIL_IN_USE, "file in use"},
    {VXTIFF_FAIL_NOT_TIFF, "not a TIFF file"},
    {VXTIFF_FAIL_BIGTIFF, "BigTIFF variant not supported"},
    {VXTIFF_FAIL_COMPRESSION, "compression not supported"},
    {VXTIFF_FAIL_PREDICTOR, "predictor not supported"},
    {VXTIFF_FAIL_PHOTOMETRIC, "photometric interpretation not supported"},
    {VXTIFF_FAIL_PLANAR, "separate planes (not supported)"},
    {VXTIFF_FAIL_DAMAGED, "damaged directory"},
    {VXTIFF_FAIL_CUT_SHORT, "data cut short"},
    {VXTIFF_FAIL_BAD_DATA, "damaged image data"},
    {VXTIFF_FAIL_TOO_LARGE, "image too large"},
    {VXTIFF_FAIL_MEMORY, "out of memory"},
    {VXTIFF_FAIL_NO_PAGE, "no such page"},
    {VXTIFF_FAIL_CREATE, "cannot create the file"},
    {VXTIFF_FAIL_INVALID, "invalid image description"},
    {VXTIFF_FAIL_NO_ENCODER, "no encoder for this compression and image"},
    {VXTIFF_FAIL_TOO_MANY_PAGES, "too many pages"},
};

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
    for (const FailureText& f : kFailureTexts)
        if (f.code == failure)
            return f.text;
    return "unknown failure";
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
