// tif_raw.cpp — the uncompressed codec (Compression 1): rows copied as stored,
// rowBytes each, no padding between rows, no bit reversal.
#include <cstring>

#include "codec/tif_codec.h"

namespace {

int RawDecodeRows(TifCodec* codec, void* rows, int count)
{
    TifCodecState* s = TifState(codec);
    const long step = TifRowStep(s);
    auto* row = static_cast<unsigned char*>(rows);
    int done = 0;
    while (done < count) {
        int have = 0;
        while (have < s->rowBytes) {
            if (s->available <= 0 && TifCodecFill(s) <= 0)
                return done;  // a row cut short is not counted
            int n = s->rowBytes - have;
            if (n > s->available)
                n = s->available;
            std::memcpy(row + have, s->cursor, static_cast<size_t>(n));
            s->cursor += n;
            s->available -= n;
            have += n;
        }
        ++done;
        row += step;
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
    TifCodec* codec = TifNewDecoderBase(params, sizeof(TifCodecState), TIF_COPY_DECODER_BUFFER_SIZE);
    if (codec != nullptr)
        codec->DecodeRows = RawDecodeRows;
    return codec;
}

TifCodec* TifNewRawEncoder(const TifCodecParams* params)
{
    TifCodec* codec = TifNewEncoderBase(params, sizeof(TifCodecState));
    if (codec != nullptr)
        codec->EncodeRows = RawEncodeRows;
    return codec;
}
