// tif_tiff.h — TIFF 6.0 tag and field-type numbers, shared by the directory
// reader and writer and by the schemes and codecs (which use some tag numbers
// as parameter identifiers).
#pragma once

enum {
    TIF_TAG_NEWSUBFILETYPE = 254,
    TIF_TAG_IMAGEWIDTH = 256,
    TIF_TAG_IMAGELENGTH = 257,
    TIF_TAG_BITSPERSAMPLE = 258,
    TIF_TAG_COMPRESSION = 259,
    TIF_TAG_PHOTOMETRIC = 262,
    TIF_TAG_FILLORDER = 266,
    TIF_TAG_DOCUMENTNAME = 269,
    TIF_TAG_IMAGEDESCRIPTION = 270,
    TIF_TAG_ORIENTATION = 274,
    TIF_TAG_STRIPOFFSETS = 273,
    TIF_TAG_SAMPLESPERPIXEL = 277,
    TIF_TAG_ROWSPERSTRIP = 278,
    TIF_TAG_STRIPBYTECOUNTS = 279,
    TIF_TAG_XRESOLUTION = 282,
    TIF_TAG_YRESOLUTION = 283,
    TIF_TAG_PLANARCONFIG = 284,
    TIF_TAG_T4OPTIONS = 292,
    TIF_TAG_T6OPTIONS = 293,
    TIF_TAG_RESOLUTIONUNIT = 296,
    TIF_TAG_PAGENUMBER = 297,
    TIF_TAG_DATETIME = 306,
    TIF_TAG_PREDICTOR = 317,
    TIF_TAG_COLORMAP = 320,
    TIF_TAG_TILEWIDTH = 322,
    TIF_TAG_TILELENGTH = 323,
    TIF_TAG_TILEOFFSETS = 324,
    TIF_TAG_TILEBYTECOUNTS = 325,
    TIF_TAG_EXTRASAMPLES = 338,
    TIF_TAG_SAMPLEFORMAT = 339,
    TIF_TAG_JPEGTABLES = 347,
    TIF_TAG_JPEGIFOFFSET = 513,
    TIF_TAG_JPEGIFBYTECOUNT = 514,
    TIF_TAG_JPEGQTABLES = 519,
    TIF_TAG_JPEGDCTABLES = 520,
    TIF_TAG_JPEGACTABLES = 521,
    TIF_TAG_YCBCRCOEFFICIENTS = 529,
    TIF_TAG_YCBCRSUBSAMPLING = 530,
    TIF_TAG_YCBCRPOSITIONING = 531,
    TIF_TAG_REFERENCEBLACKWHITE = 532,
    // Not a tag: the JPEG quality (1-100) given to SetEncodeParams, the
    // number TIFF writers commonly take it under. Never written.
    TIF_TAG_JPEGQUALITY = 65537,
};

// Field types of a directory entry.
enum {
    TIF_TYPE_BYTE = 1,
    TIF_TYPE_ASCII = 2,
    TIF_TYPE_SHORT = 3,
    TIF_TYPE_LONG = 4,
    TIF_TYPE_RATIONAL = 5,
    TIF_TYPE_SBYTE = 6,
    TIF_TYPE_UNDEFINED = 7,
    TIF_TYPE_SSHORT = 8,
    TIF_TYPE_SLONG = 9,
    TIF_TYPE_SRATIONAL = 10,
    TIF_TYPE_FLOAT = 11,
    TIF_TYPE_DOUBLE = 12,
    TIF_TYPE_LONG8 = 16,  // BigTIFF: unsigned, signed, a directory offset
    TIF_TYPE_SLONG8 = 17,
    TIF_TYPE_IFD8 = 18,
};

// Bytes of one value of a field type; 0 for a type neither TIFF 6.0 nor
// BigTIFF defines.
constexpr int TifTypeSize(int type)
{
    constexpr int kSize[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
    if (type >= TIF_TYPE_LONG8 && type <= TIF_TYPE_IFD8)
        return 8;
    return type >= 1 && type <= TIF_TYPE_DOUBLE ? kSize[type] : 0;
}
