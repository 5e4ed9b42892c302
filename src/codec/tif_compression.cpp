// tif_compression.cpp — the scheme base class: codecs from the registry, no
// tags of its own.
#include "codec/tif_compression.h"

#include "tif/tif_file.h"

TifCodecParams CTifCompression::FileParams() const
{
    // The codec works on rows of one tile.
    const int width = m_pFile->m_bTiled ? m_pFile->m_nTileWidth : m_pFile->m_nWidth;
    return TifCodecParams{m_pFile->m_nCompression, width, m_pFile->m_nSamplesPerPixel, m_pFile->m_nBitsPerSample};
}

TifCodec* CTifCompression::CreateEncoder()
{
    TifCodecParams p = FileParams();
    return TifCreateEncoder(&p);
}

int CTifCompression::HasEncoder() const
{
    TifCodecParams p = FileParams();
    return TifHasEncoder(&p);
}

TifCodec* CTifCompression::CreateDecoder()
{
    TifCodecParams p = FileParams();
    return TifCreateDecoder(&p);
}

int CTifCompression::SetEncodeParam(int, int) { return 1; }
int CTifCompression::AddTags() { return 1; }
int CTifCompression::WriteTags() { return 1; }
int CTifCompression::ReadTags() { return 1; }
