// tif_raw.cpp — the uncompressed codec (Compression 1): rows copied as stored,
// rowBytes each, no padding between rows, no bit reversal.
//
// A request for rows laid end to end (a tile, a block of lines) is read from
// the file straight into them, in whole TIF_READ_BLOCKs, instead of through
// the transfer buffer and a second copy. BeginStrip still fills the buffer
// (a strip cut short fails there as before, and a strip that fits takes one
// read: a system call costs more than the copy it would save), except for
// strips decoded whole at once (tiles), whose first read is the direct one.
// Direct transfers start only on a block boundary of the strip, so a file cut
// short gives the same rows whichever way its bytes came.
#include <cstdint>
#include <cstring>

#include "codec/tif_codec.h"

namespace {

struct TifRawDecoderState {
    TifCodecState header;
    int64_t taken;    // bytes of the strip pulled through ioProc so far
    int wholeStrips;  // TIF_PARAM_WHOLE_STRIPS: BeginStrip reads nothing
};

inline TifRawDecoderState* RawState(TifCodec* codec)
{
    return static_cast<TifRawDecoderState*>(codec->state);
}

// Refills the transfer buffer, counting what the strip gave.
int Refill(TifRawDecoderState* r)
{
    const int n = TifCodecFill(&r->header);
    if (n > 0)
        r->taken += n;
    return n;
}

int RawBeginStrip(TifCodec* codec)
{
    TifRawDecoderState* r = RawState(codec);
    TifCodecState* s = &r->header;
    s->cursor = s->buffer;
    s->available = 0;
    r->taken = 0;
    // A strip decoded whole at once needs no early read to fail in BeginStrip:
    // its first bytes go straight to the rows.
    return r->wholeStrips ? 1 : Refill(r);
}

int RawSetParam(TifCodec* codec, int tag, int value)
{
    if (tag != TIF_PARAM_WHOLE_STRIPS)
        return 0;
    RawState(codec)->wholeStrips = value != 0;
    return 1;
}

int RawDecodeRows(TifCodec* codec, void* rows, int count)
{
    TifRawDecoderState* r = RawState(codec);
    TifCodecState* s = &r->header;
    const long step = TifRowStep(s);
    const bool contiguous = step == s->rowBytes;
    auto* row = static_cast<unsigned char*>(rows);
    int done = 0;
    int have = 0;  // bytes of row `done` already in place
    while (done < count) {
        if (s->available <= 0 && contiguous && r->taken % TIF_READ_BLOCK == 0) {
            const int64_t want = int64_t(count - done) * s->rowBytes - have;
            const int64_t most = INT32_MAX / TIF_READ_BLOCK * TIF_READ_BLOCK;
            const int n = static_cast<int>((want < most ? want : most) / TIF_READ_BLOCK * TIF_READ_BLOCK);
            if (n > 0) {
                const int got = s->ioProc(row + have, n, s->ioContext);
                if (got <= 0)
                    return done;  // a row cut short is not counted
                r->taken += got;
                const int64_t filled = int64_t(have) + got;
                const int64_t whole = filled / s->rowBytes;
                done += static_cast<int>(whole);
                row += whole * step;
                have = static_cast<int>(filled - whole * s->rowBytes);
                continue;
            }
        }
        if (s->available <= 0 && Refill(r) <= 0)
            return done;  // a row cut short is not counted
        int n = s->rowBytes - have;
        if (n > s->available)
            n = s->available;
        std::memcpy(row + have, s->cursor, static_cast<size_t>(n));
        s->cursor += n;
        s->available -= n;
        have += n;
        if (have == s->rowBytes) {
            have = 0;
            ++done;
            row += step;
        }
    }
    return done;
}

int RawEncodeRows(TifCodec* codec, void* rows, int count)
{
    TifCodecState* s = TifState(codec);
    const long step = TifRowStep(s);
    const auto* row = static_cast<const unsigned char*>(rows);
    for (int i = 0; i < count; ++i, row += step) {
        int have = 0;
        while (have < s->rowBytes) {
            if (s->available <= 0)
                TifCodecHandOver(s);
            int n = s->rowBytes - have;
            if (n > s->available)
                n = s->available;
            std::memcpy(s->cursor, row + have, static_cast<size_t>(n));
            s->cursor += n;
            s->available -= n;
            have += n;
        }
    }
    return count > 0 ? count : 0;
}

}  // namespace

TifCodec* TifNewRawDecoder(const TifCodecParams* params)
{
    TifCodec* codec = TifNewDecoderBase(params, sizeof(TifRawDecoderState), TIF_COPY_DECODER_BUFFER_SIZE);
    if (codec != nullptr) {
        codec->SetParam = RawSetParam;
        codec->BeginStrip = RawBeginStrip;
        codec->DecodeRows = RawDecodeRows;
    }
    return codec;
}

TifCodec* TifNewRawEncoder(const TifCodecParams* params)
{
    TifCodec* codec = TifNewEncoderBase(params, sizeof(TifCodecState));
    if (codec != nullptr)
        codec->EncodeRows = RawEncodeRows;
    return codec;
}
