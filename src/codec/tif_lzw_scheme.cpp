// tif_lzw_scheme.cpp — the Lzw scheme: Predictor to the codec.
#include "codec/tif_lzw_scheme.h"

#include "codec/tif_predictor_tag.h"

int CTifLzwCompression::SetEncodeParam(int tag, int value)
{
    if (tag != TIF_TAG_PREDICTOR)
        return 1;  // nothing else to set
    // The directory must describe the rows as encoded: a value the encoder
    // refuses is not written either.
    if (!TifSetEncoderPredictor(m_pFile, value))
        return 0;
    m_nPredictor = value;
    return 1;
}

int CTifLzwCompression::AddTags()
{
    return TifAddPredictorTag(m_pFile, m_nPredictor);
}

int CTifLzwCompression::WriteTags()
{
    return TifWritePredictorTag(m_pFile, m_nPredictor);
}

int CTifLzwCompression::ReadTags()
{
    return TifReadPredictorTag(m_pFile);
}
