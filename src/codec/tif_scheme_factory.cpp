// tif_scheme_factory.cpp — TifCreateCompression: the scheme class for a
// Compression value. The only file that knows every derived scheme.
#include <new>

#include "codec/tif_compression.h"
#include "codec/tif_deflate_scheme.h"
#include "codec/tif_fax_scheme.h"
#include "codec/tif_jpeg_scheme.h"
#include "codec/tif_lzw_scheme.h"
#include "tif/tif_file.h"

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
