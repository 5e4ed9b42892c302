// tif_deflate_scheme.cpp — the Deflate scheme: Predictor to the codec.
#include "codec/tif_deflate_scheme.h"

#include "codec/tif_predictor_tag.h"

int CTifDeflateCompression::SetEncodeParam(int tag, int value)
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

int CTifDeflateCompression::AddTags()
{
    return TifAddPredictorTag(m_pFile, m_nPredictor);
}

int CTifDeflateCompression::WriteTags()
{
    return TifWritePredictorTag(m_pFile, m_nPredictor);
}

int CTifDeflateCompression::ReadTags()
{
    return TifReadPredictorTag(m_pFile);
}
