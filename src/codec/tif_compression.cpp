// tif_compression.cpp — the scheme base class and the factory.
#include "codec/tif_compression.h"

#include <new>

#include "codec/tif_deflate_scheme.h"
#include "codec/tif_fax_scheme.h"
#include "codec/tif_jpeg_scheme.h"
#include "codec/tif_lzw_scheme.h"
#include "tif/tif_file.h"

TifCodecParams CTifCompression::FileParams() const
{
    return TifCodecParams{m_pFile->m_nCompression, m_pFile->m_nWidth,
                          m_pFile->m_nSamplesPerPixel, m_pFile->m_nBitsPerSample};
}

TifCodec* CTifCompression::CreateEncoder()
{
    TifCodecParams p = FileParams();
    return TifCreateEncoder(&p);
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

CTifCompression* TifCreateCompression(CTifFile* file)
{
    switch (file->m_nCompression) {
    case 2:
    case 3:
    case 4:
        return new (std::nothrow) CTifFaxCompression(file);
    case 5:
        return new (std::nothrow) CTifLzwCompression(file);
    case 7:
        return new (std::nothrow) CTifJpegCompression(file);
    case 8:
    case 32946:
        return new (std::nothrow) CTifDeflateCompression(file);
    default:
        return new (std::nothrow) CTifCompression(file);
    }
}
