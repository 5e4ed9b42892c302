// tif_registry.cpp — codecs by TIFF Compression value, from the table of
// compressions (tif_compressions.h). A missing constructor means the
// direction is not supported.
#include <cstdint>

#include "codec/tif_codec.h"
#include "codec/tif_compressions.h"

namespace {

const TifCompressionRow* FindRow(const TifCodecParams* p)
{
    if (p == nullptr || p->width <= 0 || p->samplesPerPixel <= 0 || p->bitsPerSample <= 0)
        return nullptr;
    return TifFindCompression(p->compression);
}

}  // namespace

TifCodec* TifCreateDecoder(const TifCodecParams* params)
{
    const TifCompressionRow* row = FindRow(params);
    return row && row->newDecoder ? row->newDecoder(params) : nullptr;
}

TifCodec* TifCreateEncoder(const TifCodecParams* params)
{
    const TifCompressionRow* row = FindRow(params);
    return row && row->newEncoder ? row->newEncoder(params) : nullptr;
}

int TifHasEncoder(const TifCodecParams* params)
{
    const TifCompressionRow* row = FindRow(params);
    return row && row->newEncoder && (!row->encoderAccepts || row->encoderAccepts(params)) ? 1 : 0;
}

int64_t TifMostRows(const TifCodecParams* params, int64_t bytes)
{
    const TifCompressionRow* row = FindRow(params);
    if (row == nullptr || row->newDecoder == nullptr || bytes < 0)
        return -1;
    // More than any file holds; no overflow below.
    constexpr int64_t kBytesMax = INT64_MAX / 8 / TIF_MOST_BYTES_PER_BYTE;
    bytes = bytes < kBytesMax ? bytes : kBytesMax;
    if (row->mostBytesPerByte == TIF_ROWS_PER_BIT)
        return bytes * 8;
    const int64_t rowBytes = (int64_t(params->width) * params->samplesPerPixel * params->bitsPerSample + 7) / 8;
    return (bytes * row->mostBytesPerByte + rowBytes - 1) / rowBytes;
}
