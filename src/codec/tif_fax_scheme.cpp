// tif_fax_scheme.cpp — reading side of the fax compression scheme.
#include "codec/tif_fax_scheme.h"

#include "tif/tif_file.h"

int CTifFaxCompression::ReadTags()
{
    TifCodec* decoder = m_pFile->m_pDecoder;
    if (decoder == nullptr)
        return 1;
    // T4Options matters only for Group 3; FillOrder for all three. The
    // decoder's answers change nothing here: a refused value keeps its default.
    if (m_pFile->m_nCompression == 3) {
        int options = 0;
        m_pFile->GetTagValue(TIF_TAG_T4OPTIONS, &options);
        if (options != 0)
            decoder->SetParam(decoder, TIF_TAG_T4OPTIONS, options);
    }
    int fillOrder = 1;
    m_pFile->GetTagValue(TIF_TAG_FILLORDER, &fillOrder);
    if (fillOrder != 1)
        decoder->SetParam(decoder, TIF_TAG_FILLORDER, fillOrder);
    return 1;
}
