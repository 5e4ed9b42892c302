// tif_lzw_scheme.cpp — the Lzw scheme: Predictor to the codec.
#include "codec/tif_lzw_scheme.h"

#include "codec/tif_predictor_tag.h"

int CTifLzwCompression::SetEncodeParam(int tag, int value)
{
    if (tag == TIF_TAG_PREDICTOR) {
        m_nPredictor = value;
        TifSetEncoderPredictor(m_pFile, value);
    }
    return 1;
}

int CTifLzwCompression::ReadTags()
{
    return TifReadPredictorTag(m_pFile);
}
