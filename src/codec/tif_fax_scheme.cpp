// tif_fax_scheme.cpp — the fax compression scheme: T4Options and FillOrder.
#include "codec/tif_fax_scheme.h"

#include "codec/tif_compressions.h"
#include "tif/tif_file.h"

namespace {

// Group 3 alone has options (T4Options).
bool HasOptions(const CTifFile* file)
{
    return TifCompressionHasTag(file->m_nCompression, TIF_TAG_T4OPTIONS);
}

}  // namespace

int CTifFaxCompression::ReadTags()
{
    TifCodec* decoder = m_pFile->m_pDecoder;
    if (decoder == nullptr)
        return 1;
    // T4Options matters only for Group 3; FillOrder for all three. The
    // decoder's answers change nothing here: a refused value keeps its default.
    if (HasOptions(m_pFile)) {
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

int CTifFaxCompression::SetEncodeParam(int tag, int value)
{
    // Only Group 3 has options; everything else is accepted and ignored.
    if (!HasOptions(m_pFile) || tag != TIF_TAG_T4OPTIONS)
        return 1;
    TifCodec* encoder = m_pFile->m_pEncoder;
    if (encoder == nullptr || !encoder->SetParam(encoder, TIF_TAG_T4OPTIONS, value))
        return 0;  // a refused value is not written either
    m_nT4Options = value;
    return 1;
}

int CTifFaxCompression::AddTags()
{
    if (!HasOptions(m_pFile) || m_nT4Options == 0)
        return 1;
    return m_pFile->AddTag(TIF_TAG_T4OPTIONS, TIF_TYPE_LONG);
}

int CTifFaxCompression::WriteTags()
{
    if (!HasOptions(m_pFile) || m_nT4Options == 0)
        return 1;
    return m_pFile->SetTagValue(TIF_TAG_T4OPTIONS, m_nT4Options);
}
