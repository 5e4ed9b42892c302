// tif_compressions.cpp — the table of Compression values (tif_compressions.h)
// and TifCreateCompression, the scheme factory: the only file that knows
// every derived scheme and every codec constructor.
#include "codec/tif_compressions.h"

#include <new>

#include "codec/fax/tif_fax.h"
#include "codec/general/tif_deflate.h"
#include "codec/general/tif_jpeg.h"
#include "codec/general/tif_lzw.h"
#include "codec/general/tif_packbits.h"
#include "codec/tif_compression.h"
#include "codec/tif_deflate_scheme.h"
#include "codec/tif_fax_scheme.h"
#include "codec/tif_jpeg_scheme.h"
#include "codec/tif_lzw_scheme.h"
#include "tif/tif_file.h"

namespace {

template <class Scheme>
CTifCompression* NewScheme(CTifFile* file)
{
    return new (std::nothrow) Scheme(file);
}

// Fax rows take one bit at least (a Group 4 vertical-0 code); PackBits gives
// 128 bytes from 2; an LZW code of 9 bits or more stands for 4,096 bytes at
// most; Deflate gives 258 bytes from a length and a distance code of one bit
// each (RFC 1951: 1,032 to 1).
constexpr int kPackBitsMost = 64, kLzwMost = TIF_MOST_BYTES_PER_BYTE, kDeflateMost = 1032;

// Huffman-coded JPEG spends one bit at least on each 8x8 block of each
// component: 64 bytes of grey per bit, 3 x 16 x 16 bytes of 2x2-subsampled
// YCbCr per 6 bits, and 4 x 2 subsampling yields 3 x 32 x 16 bytes per 10
// bits: about 1,229 bytes per byte at most.
constexpr int kJpegMost = 1280;

#if defined(VXTIFF_HAVE_JPEG)
constexpr TifCodecCtor kJpegDecoder = TifNewJpegDecoder;
constexpr TifCodecCtor kJpegEncoder = TifNewJpegEncoder;
#else
constexpr TifCodecCtor kJpegDecoder = nullptr;  // refused as an unsupported compression
constexpr TifCodecCtor kJpegEncoder = nullptr;
#endif

constexpr TifCompressionRow kRows[] = {
    {1, "none", {"raw"}, "none", nullptr, 0, 0, 0, nullptr, TifNewRawDecoder, TifNewRawEncoder, nullptr, 1},
    {32773, "packbits", {}, "PackBits", nullptr, 0, 0, 0, nullptr, TifNewPackBitsDecoder, TifNewPackBitsEncoder,
     nullptr, kPackBitsMost},
    // Deflate under both its codes: 8 as TIFF readers expect it today, 32946
    // as older writers labelled it. The data is the same.
    {8, "deflate", {"zip", "adobe-deflate"}, "Deflate", nullptr, 0, TIF_TAG_PREDICTOR, 32946,
     NewScheme<CTifDeflateCompression>, TifNewDeflateDecoder, TifNewDeflateEncoder, nullptr, kDeflateMost},
    {32946, "deflate-legacy", {}, "Deflate (legacy code)", "the older code of the same data", 0, TIF_TAG_PREDICTOR,
     8, NewScheme<CTifDeflateCompression>, TifNewDeflateDecoder, TifNewDeflateEncoder, nullptr, kDeflateMost},
    {5, "lzw", {}, "LZW", nullptr, 0, TIF_TAG_PREDICTOR, 0, NewScheme<CTifLzwCompression>, TifNewLzwDecoder,
     TifNewLzwEncoder, nullptr, kLzwMost},
    {2, "mh", {"rle", "huffman"}, "CCITT Modified Huffman", nullptr, 0, 0, 0,
     NewScheme<CTifFaxCompression>, TifNewFaxDecoder, TifNewFaxEncoder, TifFaxEncoderAccepts, TIF_ROWS_PER_BIT},
    {3, "g3", {"fax3"}, "CCITT Group 3", "1-D", 0, TIF_TAG_T4OPTIONS, 0,
     NewScheme<CTifFaxCompression>, TifNewFaxDecoder, TifNewFaxEncoder, TifFaxEncoderAccepts, TIF_ROWS_PER_BIT},
    {3, "g3-2d", {}, "CCITT Group 3", "2-D", 1, TIF_TAG_T4OPTIONS, 0,
     NewScheme<CTifFaxCompression>, TifNewFaxDecoder, TifNewFaxEncoder, TifFaxEncoderAccepts, TIF_ROWS_PER_BIT},
    {4, "g4", {"fax4", "ccitt"}, "CCITT Group 4", "ccitt means Group 4", 0, 0, 0,
     NewScheme<CTifFaxCompression>, TifNewFaxDecoder, TifNewFaxEncoder, TifFaxEncoderAccepts, TIF_ROWS_PER_BIT},
    // JPEG is read where the build has libjpeg; old-style JPEG in its
    // self-contained forms only (tif_jpeg_scheme.h).
    {6, "ojpeg", {}, "old-style JPEG", nullptr, 0, 0, 0, NewScheme<CTifJpegCompression>, kJpegDecoder, nullptr,
     nullptr, kJpegMost},
    {7, "jpeg", {}, "JPEG", "lossy; jpeg:Q sets the quality, 1-100, default 75", 0, TIF_TAG_JPEGQUALITY, 0,
     NewScheme<CTifJpegCompression>, kJpegDecoder, kJpegEncoder, TifJpegEncoderAccepts, kJpegMost},
};

constexpr bool WithinMostBytes()
{
    for (const TifCompressionRow& row : kRows)
        if (row.mostBytesPerByte > TIF_MOST_BYTES_PER_BYTE)
            return false;
    return true;
}
static_assert(WithinMostBytes(), "TifMostRows's overflow bound assumes no row decodes more");

}  // namespace

TifCompressionRows TifCompressions()
{
    return {kRows, kRows + sizeof kRows / sizeof kRows[0]};
}

const TifCompressionRow* TifFindCompression(int compression)
{
    for (const TifCompressionRow& row : kRows)
        if (row.compression == compression)
            return &row;
    return nullptr;
}

bool TifCompressionHasTag(int compression, int tag)
{
    const TifCompressionRow* row = TifFindCompression(compression);
    return row != nullptr && tag != 0 && row->tag == tag;
}

const char* TifEncoderTakes(const TifCompressionRow& row)
{
    if (row.encoderAccepts == TifFaxEncoderAccepts)
        return "bilevel (1-bit) images";
    if (row.newEncoder != nullptr && row.encoderAccepts == TifJpegEncoderAccepts)
        return "8-bit grey, RGB and CMYK images";
    return nullptr;
}

bool TifSameCompressedData(int a, int b)
{
    const TifCompressionRow* row = TifFindCompression(a);
    return a == b || (row != nullptr && row->sameDataAs == b);
}

CTifCompression* TifCreateCompression(CTifFile* file)
{
    const TifCompressionRow* row = TifFindCompression(file->m_nCompression);
    return row != nullptr && row->newScheme != nullptr ? row->newScheme(file)
                                                       : NewScheme<CTifCompression>(file);
}
