// tif_predicted_scheme.cpp — the Predictor tag between a file and its LZW or
// Deflate codec.
#include "codec/tif_predicted_scheme.h"

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

int CTifPredictedCompression::SetEncodeParam(int tag, int value)
{
    if (tag != TIF_TAG_PREDICTOR)
        return 1;  // nothing else to set
    // The directory must describe the rows as encoded: a value the encoder
    // refuses is not written either. The decoders' byte-order bit has no
    // place here.
    TifCodec* encoder = m_pFile->m_pEncoder;
    if ((value != 1 && value != 2) || encoder == nullptr || !encoder->SetParam(encoder, TIF_TAG_PREDICTOR, value))
        return 0;
    m_nPredictor = value;
    return 1;
}

int CTifPredictedCompression::AddTags()
{
    return m_nPredictor == 1 ? 1 : m_pFile->AddTag(TIF_TAG_PREDICTOR, TIF_TYPE_SHORT);
}

int CTifPredictedCompression::WriteTags()
{
    return m_nPredictor == 1 ? 1 : m_pFile->SetTagValue(TIF_TAG_PREDICTOR, m_nPredictor);
}

int CTifPredictedCompression::ReadTags()
{
    int value = 1;
    m_pFile->GetTagValue(TIF_TAG_PREDICTOR, &value);
    if (value == 1)
        return 1;
    TifCodec* decoder = m_pFile->m_pDecoder;
    if (decoder == nullptr || value < 0 || value > 0xFFFF)
        return 0;
    const bool fileBigEndian = m_pFile->m_bSwap != 0;  // set for "MM" files
    if (fileBigEndian != HostIsBigEndian())
        value |= 1 << 16;
    return decoder->SetParam(decoder, TIF_TAG_PREDICTOR, value) ? 1 : 0;
}
