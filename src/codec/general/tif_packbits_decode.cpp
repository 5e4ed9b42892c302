// tif_packbits_decode.cpp — PackBits decoding straight from the transfer
// buffer into the caller's rows. Header h: 0..127 literal of h+1 bytes,
// -127..-1 one byte repeated 1-h times, -128 nothing. Untrusted input: packet
// lengths are clipped to the row; the strip ends when the data runs out.
#include <cstring>

#include "codec/general/tif_check.h"
#include "codec/general/tif_packbits.h"

namespace {

// Makes at least one input byte available; false at the end of the strip.
inline bool HaveInput(TifCodecState* s)
{
    return s->available > 0 || TifCodecFill(s) > 0;
}

// Moves `n` input bytes to `out`, or drops them when `out` is null. False when
// the strip ends first.
bool TakeBytes(TifCodecState* s, unsigned char* out, int n)
{
    while (n > 0) {
        if (!HaveInput(s))
            return false;
        int k = n < s->available ? n : s->available;
        if (out != nullptr) {
            std::memcpy(out, s->cursor, static_cast<size_t>(k));
            out += k;
        }
        s->cursor += k;
        s->available -= k;
        n -= k;
    }
    return true;
}

// The longest packet: a header and 128 literal bytes.
constexpr int kLongestPacket = 129;

// Decodes whole packets while the buffer holds at least the longest packet,
// with no refill checks. Literals and runs move in 16-byte pieces when the row
// has room for the last piece's overshoot, which later packets overwrite. A
// packet past the row's end (damaged data) is left to the caller's one-packet
// path.
inline void DecodeBuffered(TifCodecState* s, unsigned char*& out, int& left)
{
    const unsigned char* in = s->cursor;
    const unsigned char* const stop = in + (s->available - kLongestPacket);
    while (left > 0 && in <= stop) {
        const int h = static_cast<signed char>(*in++);
        if (h >= 0) {
            const int length = h + 1;
            if (left >= kLongestPacket - 1) {
                // Always the longest literal: a fixed copy costs less than
                // the branches on its length would mispredict.
                std::memcpy(out, in, kLongestPacket - 1);
                in += length;
                out += length;
                left -= length;
                continue;
            }
            const int take = length;
            if (TifDamaged(take > left)) {
                --in;
                break;
            }
            const int rounded = (take + 15) & ~15;  // at most 128: still inside the packet's input
            if (rounded <= left) {
                for (int j = 0; j < take; j += 16)
                    std::memcpy(out + j, in + j, 16);
            } else {
                std::memcpy(out, in, static_cast<size_t>(take));
            }
            in += length;
            out += take;
            left -= take;
        } else if (h != -128) {
            const int copies = 1 - h;
            if (TifDamaged(copies > left)) {
                --in;
                break;
            }
            const unsigned char b = *in++;
            if (((copies + 15) & ~15) <= left) {
                for (int j = 0; j < copies; j += 16)
                    std::memset(out + j, b, 16);
            } else {
                std::memset(out, b, static_cast<size_t>(copies));
            }
            out += copies;
            left -= copies;
        }
    }
    s->available -= static_cast<int>(in - s->cursor);
    s->cursor = const_cast<unsigned char*>(in);
}

int PackBitsDecodeRows(TifCodec* codec, void* rows, int count)
{
    TifCodecState* s = TifState(codec);
    const long step = TifRowStep(s);
    auto* row = static_cast<unsigned char*>(rows);
    int done = 0;
    for (; done < count; ++done, row += step) {
        unsigned char* out = row;
        int left = s->rowBytes;
        while (left > 0) {
            if (s->available >= kLongestPacket) {
                DecodeBuffered(s, out, left);
                if (left <= 0 || s->available < kLongestPacket)
                    continue;
                // Stopped at a packet past the row's end: taken below.
            }
            if (!HaveInput(s))
                return done;
            const int h = static_cast<signed char>(*s->cursor++);
            --s->available;
            if (h >= 0) {
                const int length = h + 1;
                int take = length;
                if (TifDamaged(take > left)) {
                    take = left;  // the rest of the literal is dropped
                    TifNoteDamagedRow(s, done);
                }
                if (!TakeBytes(s, out, take) || !TakeBytes(s, nullptr, length - take))
                    return done;
                out += take;
                left -= take;
            } else if (h != -128) {
                if (!HaveInput(s))
                    return done;
                const unsigned char b = *s->cursor++;
                --s->available;
                int copies = 1 - h;
                if (TifDamaged(copies > left)) {
                    copies = left;
                    TifNoteDamagedRow(s, done);
                }
                std::memset(out, b, static_cast<size_t>(copies));
                out += copies;
                left -= copies;
            }
        }
    }
    return done;
}

}  // namespace

TifCodec* TifNewPackBitsDecoder(const TifCodecParams* params)
{
    TifCodec* codec = TifNewDecoderBase(params, sizeof(TifCodecState), TIF_COPY_DECODER_BUFFER_SIZE);
    if (codec != nullptr)
        codec->DecodeRows = PackBitsDecodeRows;
    return codec;
}
