// tif_registry.cpp — the constant table from TIFF Compression value to codec
// constructors. A missing constructor means the direction is not supported.
#include <cstdint>

#include "codec/fax/tif_fax.h"
#include "codec/tif_codec.h"
#include "codec/general/tif_deflate.h"
#include "codec/general/tif_lzw.h"
#include "codec/general/tif_packbits.h"

namespace {

using TifCodecCtor = TifCodec* (*)(const TifCodecParams*);
using TifCodecAccepts = bool (*)(const TifCodecParams*);

struct TifCodecRegistryRow {
    int compression;
    TifCodecCtor newDecoder;
    TifCodecCtor newEncoder;
    // The geometries the encoder codes; null: every geometry.
    TifCodecAccepts encoderAccepts = nullptr;
    // The most bytes one stored byte decodes to; 0: one row per stored bit.
    int mostBytesPerByte = 1;
};

// Fax rows take one bit at least (a Group 4 vertical-0 code); PackBits gives
// 128 bytes from 2; an LZW code of 9 bits or more stands for 4,096 bytes at
// most; Deflate gives 258 bytes from a length and a distance code of one bit
// each (RFC 1951: 1,032 to 1).
constexpr int kFaxRows = 0, kPackBitsMost = 64, kLzwMost = 4096, kDeflateMost = 1032;

constexpr TifCodecRegistryRow TifCodecRegistry[] = {
    {1, TifNewRawDecoder, TifNewRawEncoder},
    {2, TifNewFaxDecoder, TifNewFaxEncoder, TifFaxEncoderAccepts, kFaxRows},
    {3, TifNewFaxDecoder, TifNewFaxEncoder, TifFaxEncoderAccepts, kFaxRows},
    {4, TifNewFaxDecoder, TifNewFaxEncoder, TifFaxEncoderAccepts, kFaxRows},
    {5, TifNewLzwDecoder, TifNewLzwEncoder, nullptr, kLzwMost},
    {32773, TifNewPackBitsDecoder, TifNewPackBitsEncoder, nullptr, kPackBitsMost},
    // Deflate under both its codes: 8 as TIFF readers expect it today, 32946
    // as older writers labelled it. The data is the same.
    {8, TifNewDeflateDecoder, TifNewDeflateEncoder, nullptr, kDeflateMost},
    {32946, TifNewDeflateDecoder, TifNewDeflateEncoder, nullptr, kDeflateMost},
};

const TifCodecRegistryRow* FindRow(const TifCodecParams* p)
{
    if (p == nullptr || p->width <= 0 || p->samplesPerPixel <= 0 || p->bitsPerSample <= 0)
        return nullptr;
    for (const auto& row : TifCodecRegistry)
        if (row.compression == p->compression)
            return &row;
    return nullptr;
}

}  // namespace

TifCodec* TifCreateDecoder(const TifCodecParams* params)
{
    const TifCodecRegistryRow* row = FindRow(params);
    return row && row->newDecoder ? row->newDecoder(params) : nullptr;
}

TifCodec* TifCreateEncoder(const TifCodecParams* params)
{
    const TifCodecRegistryRow* row = FindRow(params);
    return row && row->newEncoder ? row->newEncoder(params) : nullptr;
}

int TifHasEncoder(const TifCodecParams* params)
{
    const TifCodecRegistryRow* row = FindRow(params);
    return row && row->newEncoder && (!row->encoderAccepts || row->encoderAccepts(params)) ? 1 : 0;
}

int64_t TifMostRows(const TifCodecParams* params, int64_t bytes)
{
    const TifCodecRegistryRow* row = FindRow(params);
    if (row == nullptr || row->newDecoder == nullptr || bytes < 0)
        return -1;
    constexpr int64_t kBytesMax = INT64_MAX / 8 / kLzwMost;  // more than any file holds; no overflow below
    bytes = bytes < kBytesMax ? bytes : kBytesMax;
    if (row->mostBytesPerByte == kFaxRows)
        return bytes * 8;
    const int64_t rowBytes = (int64_t(params->width) * params->samplesPerPixel * params->bitsPerSample + 7) / 8;
    return (bytes * row->mostBytesPerByte + rowBytes - 1) / rowBytes;
}
