// tif_registry.cpp — the constant table from TIFF Compression value to codec
// constructors. A missing constructor means the direction is not supported.
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
};

constexpr TifCodecRegistryRow TifCodecRegistry[] = {
    {1, TifNewRawDecoder, TifNewRawEncoder},
    {2, TifNewFaxDecoder, TifNewFaxEncoder, TifFaxEncoderAccepts},
    {3, TifNewFaxDecoder, TifNewFaxEncoder, TifFaxEncoderAccepts},
    {4, TifNewFaxDecoder, TifNewFaxEncoder, TifFaxEncoderAccepts},
    {5, TifNewLzwDecoder, TifNewLzwEncoder},
    {32773, TifNewPackBitsDecoder, TifNewPackBitsEncoder},
    // Deflate under both its codes: 8 as TIFF readers expect it today, 32946
    // as older writers labelled it. The data is the same.
    {8, TifNewDeflateDecoder, TifNewDeflateEncoder},
    {32946, TifNewDeflateDecoder, TifNewDeflateEncoder},
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
