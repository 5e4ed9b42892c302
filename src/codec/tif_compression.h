// tif_compression.h — compression scheme objects: the TIFF-side half of a
// compression. A scheme obtains its codec from the registry, hands the file's
// compression-specific tags to the decoder and, when writing, adds and fills
// those tags. It never touches compressed data.
#pragma once

#include "codec/tif_codec.h"

class CTifFile;

class CTifCompression {
public:
    explicit CTifCompression(CTifFile* file) : m_pFile(file) {}
    virtual ~CTifCompression() {}

    virtual TifCodec* CreateEncoder();
    virtual TifCodec* CreateDecoder();
    virtual int HasEncoder() const;  // 1 when CreateEncoder fails only for lack of memory
    // The rows per strip written when `asked` are asked for: a coding in
    // blocks wants whole blocks per strip.
    virtual int StripRows(int asked) const { return asked; }
    // Writing: the page's strips are copied from `from`'s (same compression
    // and image); the scheme takes the coding tags the strips lean on. 1 when
    // it can, 0 when the strips cannot be copied.
    virtual int TakeCoding(CTifFile* from) { (void)from; return 1; }
    // Writing: the page's data has ended, perhaps before the lines it said
    // (the file's height and strips are cut to it). 1, or 0 when the data
    // could not be set right.
    virtual int DataEnded() { return 1; }
    virtual int SetEncodeParam(int tag, int value);  // 1
    virtual int AddTags();                           // 1 ok, 0 failed
    virtual int WriteTags();                         // 1 ok, 0 failed
    virtual int ReadTags();                          // 1 ok, 0 failed
    // 1 when the decoder reads FillOrder 2 data itself; 0 when it must be
    // given the bytes most significant bit first.
    virtual int DecodesFillOrder() const { return 0; }
    // Reading: a scheme whose data does not lie where the strip or tile tags
    // say fills the file's strip arrays itself: 1 done, 0 failed (recorded);
    // -1 (the default): the tags say where the data is.
    virtual int ReadOwnLayout() { return -1; }

    CTifFile* m_pFile;  // not owned

protected:
    TifCodecParams FileParams() const;
};

// Makes the scheme for the file's m_nCompression; null only without memory.
CTifCompression* TifCreateCompression(CTifFile* file);
