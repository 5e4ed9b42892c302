// tif_deflate_decode.cpp — inflating a strip's zlib stream into the caller's
// rows.
//
// zlib works fastest on long output windows, so the stream is inflated in
// blocks into a staging area allocated once per codec and rows are copied out
// of it. Requests that are long enough and contiguous (one large row, or
// several rows laid end to end) are inflated straight into the caller's
// memory; with Z_FINISH, zlib then skips its window copy for a stream that
// ends within the call. With Predictor 2 on 8-bit samples, a single row taken
// whole from the staging area is restored on its way out.
//
// Such a request at the start of a strip first gathers the strip's compressed
// bytes (at most kWholeInputLimit of them) and, where the build has the
// one-shot inflater (tif_libdeflate.h), inflates them in one call straight
// into the rows. Anything it does not fully accept (damage, a stream longer
// than the request, a strip too long to gather) is decoded again by zlib from
// the gathered bytes on, exactly as if they had been read block by block.
//
// A stream with a plain zlib header (the one every writer uses) is inflated
// by zlib as raw Deflate, the header checked here and the Adler-32 trailer
// checked against a vectorised checksum of the output (zlib's own took a tenth
// to a third of its time). A wrong checksum is a data error, handled as zlib
// reported it before. Any other header (a preset dictionary, a window over
// 32 KiB, one split over two reads) goes to zlib whole, as before.
//
// Untrusted input: zlib validates the stream. A data error tries inflateSync
// once. Only rows the stream fills completely are delivered: once it cannot go
// on (end of stream, unrecoverable error, end of the strip's data) the row in
// progress and every later one of the strip are not counted, so a strip that
// declares more rows than it holds cannot be read (or skipped) past its data.
// Every call either consumes input, produces output or ends, so decoding
// always finishes.
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "codec/general/tif_check.h"
#include "codec/general/tif_deflate.h"
#include "codec/general/tif_libdeflate.h"
#include "codec/general/tif_predictor.h"
#include "io/tif_exception.h"

namespace {

// Each inflate call ends by copying up to 32 KiB of its output into zlib's
// window, and matches reaching back before the call's output are served from
// that window: a staging block of four windows keeps both rare.
constexpr int kStageSize = 131072;

// The most compressed bytes gathered for one-shot inflating: a 64-row strip or
// a 256x256 tile of an RGB photo fits.
constexpr int kWholeInputLimit = 1 << 20;

// Strips streamed through zlib after the one-shot inflater met a stream longer
// than the request (a reader taking part of each strip), before it is tried again.
constexpr int kNoRoomSkip = 16;

struct TifDeflateDecoderState {
    TifCodecState header;
    TifPredictorState pred;
    z_stream zstream;
    unsigned char* stage;      // kStageSize bytes of inflated, undelivered data
    unsigned char* stageNext;  // next undelivered byte
    int staged;                // undelivered bytes
    int streamOver;            // no more output this strip beyond what is staged
    int fresh;                 // BeginStrip done, zlib not called yet
    int raw;                   // header taken off here: the checksum is ours to check
    unsigned long adler;       // Adler-32 of the raw stream's output so far
    int wholeSkip;             // strips to stream before trying the one-shot inflater again
    int pendingThrow;          // a read that failed while gathering, thrown when zlib needs it
    int resynced;              // this strip met a data error and went on after it: its rows are damaged
    unsigned char* resyncOut;  // where the output stood then
    TifWholeInflater* whole;   // null: none in this build
    unsigned char* gathered;   // compressed bytes of the strip, kept for zlib
    int gatheredCap;
};

inline TifDeflateDecoderState* DeflateState(TifCodec* codec)
{
    return static_cast<TifDeflateDecoderState*>(codec->state);
}

enum class Inflated { kSome, kOver, kNoData };

// Pulls the strip's next compressed bytes for zlib; false when there are none.
// Once a request has gathered a strip (the block exists only then), later
// input is read into that block: each inflate call then covers a long stretch
// of output, and fewer matches reach back into zlib's window, which made a
// long strip fed 32 KiB at a time slower than one call.
bool RefillInput(TifDeflateDecoderState* s)
{
    z_stream* z = &s->zstream;
    TifCodecState* h = &s->header;
    if (TifDamaged(s->pendingThrow != 0)) {
        const int code = s->pendingThrow;
        s->pendingThrow = 0;
        TifThrow(code);
    }
    if (s->gatheredCap >= h->bufferSize) {
        // Whole transfer-buffer blocks in one read: a cut inside it still
        // delivers the blocks before it and fails the next read.
        const int n = h->ioProc(s->gathered, s->gatheredCap / h->bufferSize * h->bufferSize, h->ioContext);
        h->cursor = s->gathered;
        h->available = n > 0 ? n : 0;
    } else {
        TifCodecFill(h);
    }
    z->next_in = h->cursor;
    z->avail_in = static_cast<uInt>(h->available);
    return h->available > 0;
}

// At the end of a raw stream: the four bytes after it (RFC 1950's Adler-32,
// most significant first, read on into the strip's next blocks if need be)
// equal the checksum of the output. A trailer cut off by the end of the
// strip's data is no match. Afterwards zlib's input is what follows it.
bool TrailerMatches(TifDeflateDecoderState* s)
{
    z_stream* z = &s->zstream;
    s->raw = 0;  // one check per stream; what a resync finds has no header
    unsigned long stored = 0;
    for (int i = 0; i < 4; ++i) {
        if (z->avail_in == 0 && !RefillInput(s))
            return false;
        stored = stored << 8 | *z->next_in++;
        --z->avail_in;
    }
    return stored == s->adler;
}

// Inflates into [out, out + size). kSome: output was produced (possibly less
// than size); kOver: the stream cannot produce more; kNoData: the strip's data
// ran out first.
Inflated InflateInto(TifDeflateDecoderState* s, unsigned char* out, int size)
{
    z_stream* z = &s->zstream;
    TifCodecState* h = &s->header;
    z->next_out = out;
    z->avail_out = static_cast<uInt>(size);
    for (;;) {
        const uInt inBefore = z->avail_in;
        unsigned char* const outBefore = z->next_out;
        int r = inflate(z, Z_FINISH);
        if (s->raw) {
            s->adler = TifAdler32(s->adler, outBefore, static_cast<size_t>(z->next_out - outBefore));
            if (r == Z_STREAM_END && !TrailerMatches(s))
                r = Z_DATA_ERROR;
        }
        h->cursor = z->next_in;
        h->available = static_cast<int>(z->avail_in);
        const bool produced = z->avail_out != static_cast<uInt>(size);
        if (TifDamaged(r == Z_DATA_ERROR)) {
            TifNoteBadData(h);
            if (inflateSync(z) != Z_OK)
                return produced ? Inflated::kSome : Inflated::kOver;
            if (!s->resynced)
                s->resyncOut = z->next_out;
            s->resynced = 1;
            h->cursor = z->next_in;
            h->available = static_cast<int>(z->avail_in);
            continue;
        }
        if (r == Z_STREAM_END) {
            s->streamOver = 1;
            return produced ? Inflated::kSome : Inflated::kOver;
        }
        if (TifDamaged(r != Z_OK && r != Z_BUF_ERROR)) {
            TifNoteBadData(h);
            return produced ? Inflated::kSome : Inflated::kOver;
        }
        if (produced)
            return Inflated::kSome;
        if (z->avail_in == 0) {
            if (!RefillInput(s))
                return Inflated::kNoData;
        } else if (TifDamaged(z->avail_in == inBefore)) {
            TifNoteBadData(h);
            return Inflated::kOver;  // neither input taken nor output made
        }
    }
}

// Before a strip's first inflating: a plain zlib header (deflate, a window of
// at most 32 KiB, no preset dictionary, a sound check) is taken off and zlib
// set to raw Deflate; anything else, zlib reads and judges as always.
void StartStream(TifDeflateDecoderState* s)
{
    if (!s->fresh)
        return;
    s->fresh = 0;
    z_stream* z = &s->zstream;
    const unsigned char* c = z->next_in;
    const bool plain = z->avail_in >= 2 && (c[0] & 0x0F) == 8 && (c[0] >> 4) <= 7 && (c[1] & 0x20) == 0 &&
                       (unsigned(c[0]) << 8 | c[1]) % 31 == 0;
    if (!plain || inflateReset2(z, -15) != Z_OK)
        return;
    s->raw = 1;
    s->adler = 1;
    z->next_in += 2;
    z->avail_in -= 2;
    s->header.cursor = z->next_in;
    s->header.available = static_cast<int>(z->avail_in);
}

// Makes `gathered` hold at least `size` bytes, within kWholeInputLimit: a
// quarter of it first, which most strips and tiles never outgrow.
bool ReserveGathered(TifDeflateDecoderState* s, int size)
{
    if (size <= s->gatheredCap)
        return true;
    if (size > kWholeInputLimit)
        return false;
    const int cap = size <= kWholeInputLimit / 4 ? kWholeInputLimit / 4 : kWholeInputLimit;
    auto* grown = static_cast<unsigned char*>(std::realloc(s->gathered, static_cast<size_t>(cap)));
    if (grown == nullptr)
        return false;
    s->gathered = grown;
    s->gatheredCap = cap;
    return true;
}

// Reads the rest of the strip behind its first block, in blocks of the
// transfer buffer's size as zlib would have them, into `gathered`. True when
// the strip's data ended within kWholeInputLimit. A failed read ends the
// gathering; it is thrown again when zlib gets to it.
bool GatherStrip(TifDeflateDecoderState* s, int* size)
{
    TifCodecState* h = &s->header;
    int have = h->available;
    if (!ReserveGathered(s, have))
        return false;
    std::memcpy(s->gathered, h->cursor, static_cast<size_t>(have));
    bool ended = false;
    try {
        while (!ended && ReserveGathered(s, have + h->bufferSize)) {
            const int n = h->ioProc(s->gathered + have, h->bufferSize, h->ioContext);
            if (n > 0)
                have += n;
            else
                ended = true;
        }
    } catch (CTifException* e) {
        s->pendingThrow = e != nullptr ? e->code : CTifException::kShortRead;
        delete e;
    }
    *size = have;
    return ended;
}

// The first request of a strip: the strip in one go where it can be, else
// zlib's input made ready. Returns the rows delivered, or -1 to stream.
int DecodeWhole(TifDeflateDecoderState* s, unsigned char* rows, int count)
{
    TifCodecState* h = &s->header;
    int size = 0;
    const bool ended = GatherStrip(s, &size);
    if (size == 0)
        return -1;  // nothing gathered: zlib reads the transfer buffer as usual
    if (ended && s->wholeSkip == 0) {
        const size_t total = size_t(count) * size_t(h->rowBytes);
        size_t produced = 0;
        const TifWhole r = TifInflateWhole(s->whole, s->gathered, static_cast<size_t>(size), rows, total, &produced);
        if (r == TifWhole::kDone) {
            s->streamOver = 1;
            s->fresh = 0;
            return static_cast<int>(produced / size_t(h->rowBytes));
        }
        // Requests shorter than the strip would be inflated twice every time.
        if (r == TifWhole::kNoRoom)
            s->wholeSkip = kNoRoomSkip;
    }
    s->zstream.next_in = s->gathered;
    s->zstream.avail_in = static_cast<uInt>(size);
    h->cursor = s->gathered;
    h->available = size;
    return -1;
}

// Inflates `count` rows laid end to end straight into them. Returns the rows
// delivered, as the row-by-row path would count them.
int DecodeContiguous(TifDeflateDecoderState* s, unsigned char* rows, int count)
{
    if (s->fresh && s->whole != nullptr && s->header.available > 0) {
        const int done = DecodeWhole(s, rows, count);
        if (done >= 0)
            return done;
    }
    StartStream(s);
    const int64_t total = int64_t(count) * s->header.rowBytes;
    const int resyncedBefore = s->resynced;
    int64_t filled = 0;
    int done = count;
    while (filled < total) {
        const int64_t want = total - filled < (int64_t(1) << 30) ? total - filled : (int64_t(1) << 30);
        const Inflated r = InflateInto(s, rows + filled, static_cast<int>(want));
        filled = reinterpret_cast<unsigned char*>(s->zstream.next_out) - rows;
        if (r != Inflated::kSome) {
            s->streamOver = r == Inflated::kOver;
            done = static_cast<int>(filled / s->header.rowBytes);
            break;
        }
    }
    if (TifDamaged(s->resynced != 0)) {
        // The rows from the one the data error fell in on.
        int row = resyncedBefore ? 0 : static_cast<int>((s->resyncOut - rows) / s->header.rowBytes);
        for (; row < done; ++row)
            TifNoteDamagedRow(&s->header, row);
    }
    return done;
}

int DeflateDecodeRows(TifCodec* codec, void* rows, int count)
{
    TifDeflateDecoderState* s = DeflateState(codec);
    const int rowBytes = s->header.rowBytes;
    const long step = TifRowStep(&s->header);
    auto* row = static_cast<unsigned char*>(rows);
    if (count > 1 && step == rowBytes && int64_t(count) * rowBytes >= 4096 && s->staged == 0 && !s->streamOver)
        return DecodeContiguous(s, row, count);
    int done = 0;
    for (; done < count; ++done, row += step) {
        int have = 0;
        while (have < rowBytes) {
            if (s->staged > 0) {
                const int k = rowBytes - have < s->staged ? rowBytes - have : s->staged;
                std::memcpy(row + have, s->stageNext, static_cast<size_t>(k));
                s->stageNext += k;
                s->staged -= k;
                have += k;
                continue;
            }
            if (s->streamOver)
                return done;  // the stream ended inside this row
            StartStream(s);
            Inflated r;
            if (rowBytes - have >= kStageSize) {
                unsigned char* at = row + have;
                r = InflateInto(s, at, rowBytes - have);
                have = static_cast<int>(reinterpret_cast<unsigned char*>(s->zstream.next_out) - row);
            } else {
                r = InflateInto(s, s->stage, kStageSize);
                s->stageNext = s->stage;
                s->staged = kStageSize - static_cast<int>(s->zstream.avail_out);
            }
            if (r == Inflated::kNoData)
                return done;
            if (r == Inflated::kOver)
                s->streamOver = 1;
        }
        if (TifDamaged(s->resynced != 0))
            TifNoteDamagedRow(&s->header, done);
    }
    return count > 0 ? done : 0;
}

// Predictor 2 on 8-bit samples: a single row lying whole in the staging block
// is restored on its way to the caller, in one pass; everything else goes
// through the predictor's wrapper, which accumulates in the caller's rows.
int DeflatePredictedDecodeRows(TifCodec* codec, void* rows, int count)
{
    TifDeflateDecoderState* s = DeflateState(codec);
    const int rowBytes = s->header.rowBytes;
    if (count != 1 || s->staged < rowBytes)
        return TifPredictorDecodeRows(codec, rows, count);
    TifPredAccumulate8From(s->pred.predStride, s->stageNext, static_cast<unsigned char*>(rows), rowBytes);
    s->stageNext += rowBytes;
    s->staged -= rowBytes;
    if (TifDamaged(s->resynced != 0))
        TifNoteDamagedRow(&s->header, 0);
    return 1;
}

int DeflateBeginStrip(TifCodec* codec)
{
    TifDeflateDecoderState* s = DeflateState(codec);
    TifCodecState* h = &s->header;
    s->staged = 0;
    s->stageNext = s->stage;
    s->streamOver = 0;
    s->fresh = 1;
    s->raw = 0;
    s->pendingThrow = 0;
    s->resynced = 0;
    if (s->wholeSkip > 0)
        --s->wholeSkip;
    h->cursor = h->buffer;
    h->available = 0;
    TifCodecFill(h);
    s->zstream.next_in = h->cursor;
    s->zstream.avail_in = static_cast<uInt>(h->available);
    return inflateReset2(&s->zstream, 15) == Z_OK ? 1 : 0;
}

int DeflateSetParam(TifCodec* codec, int tag, int value)
{
    const int ok = TifPredictorSetParam(codec, tag, value, DeflateDecodeRows, true);
    if (ok && codec->DecodeRows == TifPredictorDecodeRows && TifState(codec)->bitsPerSample == 8)
        codec->DecodeRows = DeflatePredictedDecodeRows;
    return ok;
}

void DeflateDestroy(TifCodec* codec)
{
    TifDeflateDecoderState* s = DeflateState(codec);
    inflateEnd(&s->zstream);
    TifFreeWholeInflater(s->whole);
    std::free(s->gathered);
    std::free(s->stage);
    TifCodecDestroy(codec);
}

}  // namespace

TifCodec* TifNewDeflateDecoder(const TifCodecParams* params)
{
    TifCodec* codec = TifNewDecoderBase(params, sizeof(TifDeflateDecoderState));
    if (codec == nullptr)
        return nullptr;
    TifDeflateDecoderState* s = DeflateState(codec);
    s->pred.predictor = 1;
    // zalloc, zfree, opaque and data_type are already zero: the base
    // constructor clears the whole state, so zlib uses its own allocator.
    s->stage = static_cast<unsigned char*>(std::malloc(kStageSize));
    if (s->stage == nullptr) {
        TifCodecDestroy(codec);
        return nullptr;
    }
    if (inflateInit(&s->zstream) != Z_OK) {
        std::free(s->stage);
        TifCodecDestroy(codec);
        return nullptr;
    }
    s->streamOver = 1;  // no strip yet
    s->whole = TifNewWholeInflater();  // without one, zlib does everything
    codec->Destroy = DeflateDestroy;
    codec->SetParam = DeflateSetParam;
    codec->BeginStrip = DeflateBeginStrip;
    codec->DecodeRows = DeflateDecodeRows;
    return codec;
}
