// tif_deflate_scheme.cpp — the Deflate scheme: Predictor to the codec.
#include "codec/tif_deflate_scheme.h"

#include "codec/tif_predictor_tag.h"

int CTifDeflateCompression::SetEncodeParam(int tag, int value)
{
    if (tag == TIF_TAG_PREDICTOR) {
        m_nPredictor = value;
        TifSetEncoderPredictor(m_pFile, value);
    }
    return 1;
}

int CTifDeflateCompression::ReadTags()
{
    return TifReadPredictorTag(m_pFile);
}
