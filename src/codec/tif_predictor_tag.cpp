// tif_predictor_tag.cpp — the Predictor tag between a file and its codec.
#include "codec/tif_predictor_tag.h"

#include <cstdint>
#include <cstring>

#include "codec/tif_codec.h"
#include "tif/tif_file.h"

namespace {

bool HostIsBigEndian()
{
    const uint16_t one = 1;
    unsigned char first;
    std::memcpy(&first, &one, 1);
    return first == 0;
}

}  // namespace

int TifReadPredictorTag(CTifFile* file)
{
    int value = 1;
    file->GetTagValue(TIF_TAG_PREDICTOR, &value);
    if (value == 1)
        return 1;
    TifCodec* decoder = file->m_pDecoder;
    if (decoder == nullptr || value < 0 || value > 0xFFFF)
        return 0;
    const bool fileBigEndian = file->m_bSwap != 0;  // set for "MM" files
    if (fileBigEndian != HostIsBigEndian())
        value |= 1 << 16;
    return decoder->SetParam(decoder, TIF_TAG_PREDICTOR, value) ? 1 : 0;
}

int TifSetEncoderPredictor(CTifFile* file, int value)
{
    TifCodec* encoder = file->m_pEncoder;
    if (value != 1 && value != 2)
        return 0;  // the byte-order bit of decoders has no place here
    return encoder != nullptr && encoder->SetParam(encoder, TIF_TAG_PREDICTOR, value) ? 1 : 0;
}

int TifAddPredictorTag(CTifFile* file, int predictor)
{
    return predictor == 1 ? 1 : file->AddTag(TIF_TAG_PREDICTOR, TIF_TYPE_SHORT);
}

int TifWritePredictorTag(CTifFile* file, int predictor)
{
    return predictor == 1 ? 1 : file->SetTagValue(TIF_TAG_PREDICTOR, predictor);
}
