// tif_codec.h — the codec interface shared by every compression.
//
// A codec is a C-style record of function pointers over a private state that
// begins with TifCodecState. It converts packed rows to and from a compressed
// byte stream and exchanges bytes only through its TifIoProc. Decoders use slots
// 0–7 and may fill 9, encoders 0–8. Records, states and buffers come from the
// C heap. The record is the library's own: slots may be added at its end.
#pragma once

#include "codec/tif_tiff.h"
#include "io/tif_io.h"

constexpr int TIF_CODEC_BUFFER_SIZE = 32768;

// The transfer buffer of the decoders that copy stored bytes almost as they are
// (uncompressed, PackBits): their speed is mostly the number of reads, so
// they take a typical strip or tile in one. A multiple of TIF_READ_BLOCK.
constexpr int TIF_COPY_DECODER_BUFFER_SIZE = 131072;

// TIFF tag numbers double as codec parameter identifiers: TIF_TAG_FILLORDER and
// TIF_TAG_T4OPTIONS (fax codecs), TIF_TAG_PREDICTOR (LZW and Deflate codecs).
// Identifiers of the library's own are negative:
// TIF_PARAM_WHOLE_STRIPS (value 1): every strip is decoded whole by one
// DecodeRows call at once after BeginStrip (tiles), so a decoder may leave its
// first read to that call.
constexpr int TIF_PARAM_WHOLE_STRIPS = -1;

struct TifCodecParams {
    int compression;      // TIFF Compression value
    int width;            // pixels per row (tile width for tiled images)
    int samplesPerPixel;
    int bitsPerSample;
};

struct TifCodec;

using TifDestroyProc = void (*)(TifCodec*);
using TifSetParamProc = int (*)(TifCodec*, int tag, int value);
using TifSetRowStrideProc = void (*)(TifCodec*, int stride, int reverse);
using TifSetIoProcProc = void (*)(TifCodec*, TifIoProc proc, void* context);
using TifSetBufferProc = void (*)(TifCodec*, unsigned char* buffer, int size);
using TifBeginStripProc = int (*)(TifCodec*);
// Moves `count` rows between the caller's row array and the stream; returns the
// rows done. A short count means end of data or damaged data.
using TifRowsProc = int (*)(TifCodec*, void* rows, int count);
// Encoders: finishes the strip; the bytes of its last hand-over, or a
// negative value when the strip could not be finished.
using TifEndStripProc = int (*)(TifCodec*);
// Decoders that can pass over rows more cheaply than by decoding them: moves
// `count` rows ahead in the strip without delivering any; returns the rows
// passed. A short count means the strip stops there, as for DecodeRows
// (damage.stop says why). The rows passed are not delivered, so their damage
// is not noted: the file object leaves them unaccounted until they are read.
using TifSkipRowsProc = int (*)(TifCodec*, int count);

struct TifCodec {
    void* state;                      // 0: private state, opens with TifCodecState
    TifDestroyProc Destroy;           // 1
    TifSetParamProc SetParam;         // 2: 1 accepted, 0 not handled or refused
    TifSetRowStrideProc SetRowStride; // 3
    TifSetIoProcProc SetIoProc;       // 4
    TifSetBufferProc SetBuffer;       // 5
    TifBeginStripProc BeginStrip;     // 6
    union {                           // 7: set and called through the member
        TifRowsProc DecodeRows;       //   of decoders
        TifRowsProc EncodeRows;       //   of encoders
    };
    TifEndStripProc EndStrip;         // 8: encoders only (null in decoders)
    TifSkipRowsProc SkipRows;         // 9: decoders, optional (null: rows are decoded and dropped)
};

// Why a decoder stopped a strip before its rows were complete (TifRowDamage::stop).
enum { TIF_STOP_NONE = 0, TIF_STOP_CUT_SHORT = 1, TIF_STOP_BAD_DATA = 2 };

// What a decoder met in the data, for the file object to count. `rows`,
// `first` and `last` cover the latest DecodeRows call (the file object
// clears them before each): rows delivered although decoded from damaged
// data, by their index in the call. `stop` says why the strip stopped early;
// it stays until the next strip (the file object clears it), and a short
// count without it means the data ended. Decoders note damage only off their
// paths for valid data.
struct TifRowDamage {
    int rows;
    int first;
    int last;
    int stop;
};

// The page's count of damaged lines, kept here for the file object: the
// decoder lives exactly as long as the page (tif_damage.h).
struct TifDamageTally {
    int lines;           // damaged or undecodable lines counted
    int first;           // the first of them; -1 none
    int seen;            // strips: every line below it is accounted for, but those in gaps
    int runFrom;         // strips: where the reading that goes on at the read position began
    int gaps;            // strips: the spans in gap
    int gapRoom;         //   and the room for them
    int* gap;            // strips: [from, to) pairs below seen, rising, passed over unread (null until needed)
    uint32_t* tileBits;  // tiles: one bit per tile accounted for (null until needed)
};

struct TifCodecState {
    int compression;
    int width;
    int samplesPerPixel;
    int bitsPerSample;
    int rowBytes;          // (width × samples × bits + 7) >> 3
    int rowStride;         // distance between row starts in the caller's array
    int reverse;           // non-zero: rows at decreasing addresses
    int externalBuffer;    // non-zero: buffer belongs to the caller
    unsigned char* buffer; // transfer buffer
    int bufferSize;
    unsigned char* cursor; // decoder: next unread byte; encoder: next free byte
    int available;         // decoder: unread bytes; encoder: free bytes
    void* ioContext;
    TifIoProc ioProc;
    TifRowDamage damage;  // decoders
    TifDamageTally tally; // decoders
};

// Row `row` of the current call was decoded from damaged data. Rows are noted
// in rising order; a row noted twice counts once.
inline void TifNoteDamagedRow(TifCodecState* s, int row)
{
    TifRowDamage& d = s->damage;
    if (d.rows == 0)
        d.first = row;
    else if (row <= d.last)
        return;
    d.last = row;
    ++d.rows;
}

// The strip stops early on damaged data (not merely at the end of the data).
inline void TifNoteBadData(TifCodecState* s)
{
    s->damage.stop = TIF_STOP_BAD_DATA;
}

inline TifCodecState* TifState(TifCodec* codec)
{
    return static_cast<TifCodecState*>(codec->state);
}

// Registry lookups: the only way the library obtains codecs. Null for
// non-positive or oversized dimensions, a compression without a codec, or
// memory exhaustion.
TifCodec* TifCreateDecoder(const TifCodecParams* params);
TifCodec* TifCreateEncoder(const TifCodecParams* params);
// 1 when an encoder exists for these parameters, so that a null from
// TifCreateEncoder means memory ran out; 0 when there is none.
int TifHasEncoder(const TifCodecParams* params);
// The most rows of `params.width` pixels that `bytes` stored bytes can decode
// to in the scheme, however the data is made: what a file's claimed height is
// held against. -1 for a compression without a decoder.
int64_t TifMostRows(const TifCodecParams* params, int64_t bytes);

// Base constructors: a record with every slot at its default and a zeroed state
// of `stateSize` bytes (header included), or null. A decoder's own transfer
// buffer has `bufferSize` bytes.
TifCodec* TifNewDecoderBase(const TifCodecParams* params, int stateSize,
                            int bufferSize = TIF_CODEC_BUFFER_SIZE);
TifCodec* TifNewEncoderBase(const TifCodecParams* params, int stateSize);

// The default Destroy; every codec's own Destroy ends with it.
void TifCodecDestroy(TifCodec* codec);

// Default decoder refill: pulls the next block through ioProc into the buffer.
// Returns the bytes now available (0 or less: the strip has no more data).
int TifCodecFill(TifCodecState* s);

// Encoder hand-over: passes the bytes collected in the buffer to ioProc and
// starts an empty buffer. Encoders call it lazily, when the next bytes need
// room, so a buffer that became exactly full waits for EndStrip. Throws
// CTifException (kShortWrite) when ioProc takes fewer bytes than handed.
void TifCodecHandOver(TifCodecState* s);
// The same at the end of a strip, as a result: the bytes handed over, or -1
// when ioProc took fewer. Every encoder's EndStrip returns through it.
int TifCodecFlush(TifCodecState* s);

// Row pointer step between successive rows of one DecodeRows/EncodeRows call.
inline long TifRowStep(const TifCodecState* s)
{
    return s->reverse ? -static_cast<long>(s->rowStride) : static_cast<long>(s->rowStride);
}

// Lays the rows of the codec's next call `stride` bytes apart, top down
// (packed when the stride is not above a row). The file object hands every
// call the stride of the rows it serves, so no earlier setting outlives it.
inline void TifUseStride(TifCodec* codec, int stride)
{
    const TifCodecState* s = TifState(codec);
    if (s->rowStride != stride || s->reverse)
        codec->SetRowStride(codec, stride, 0);
}

// The uncompressed codec (Compression 1).
TifCodec* TifNewRawDecoder(const TifCodecParams* params);
TifCodec* TifNewRawEncoder(const TifCodecParams* params);
