// tif_fax_encode.cpp — the CCITT fax encoder: Modified Huffman (Compression 2),
// Group 3 one- and two-dimensional (3) and Group 4 (4), after ITU-T T.4 / T.6.
//
// Rows are packed bilevel rows (0 white, 1 black, pixel 0 in bit 7 of byte 0),
// read a word at a time and never past the row's bytes: 1D rows as the colour
// changes of each word, each run's codes sent as one joined code; 2D rows as
// spans measured with count-leading-zeros (rows under 8 bytes with the
// leading-bits tables). Codes gather in a 64-bit accumulator (first bit in
// bit 63) that is moved into the transfer buffer several bytes at a time;
// between calls the partial byte lives in outBits / outBitsFree. Output is
// FillOrder 1.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "codec/fax/tif_fax.h"
#include "codec/fax/tif_fax_encode_tables.h"
#include "codec/fax/tif_fax_state.h"
#include "codec/tif_bits.h"

namespace {

constexpr int kT4OptionsKnown = T4OPT_2D | T4OPT_UNCOMPRESSED | T4OPT_FILLBITS;
constexpr int kMaxK = 4;  // one 1D row, then at most three 2D rows

inline TifFaxEncoderState* FaxState(TifCodec* codec)
{
    return static_cast<TifFaxEncoderState*>(codec->state);
}

// ---------------------------------------------------------------- bit writer

struct Writer {
    uint64_t acc;  // pending bits from bit 63 down; bit 63 starts a byte of the stream
    int n;         // pending bits
    uint8_t* cur;
    int avail;
    TifCodecState* s;
};

Writer OpenWriter(TifFaxEncoderState* s)
{
    return Writer{uint64_t(uint8_t(s->outBits)) << 56, 8 - s->outBitsFree, s->header.cursor,
                  s->header.available, &s->header};
}

// Byte by byte, handing the buffer over when a byte finds it full. (Writers
// go by value, so that callers keep theirs in registers.)
[[gnu::noinline]] Writer FlushSlow(Writer w)
{
    while (w.n >= 8) {
        if (w.avail <= 0) {
            w.s->cursor = w.cur;
            w.s->available = w.avail;
            TifCodecHandOver(w.s);
            w.cur = w.s->cursor;
            w.avail = w.s->available;
        }
        *w.cur++ = uint8_t(w.acc >> 56);
        --w.avail;
        w.acc <<= 8;
        w.n -= 8;
    }
    return w;
}

// Moves every whole pending byte into the buffer. With room for a whole word
// the accumulator is stored at once; bytes past the pending ones are scratch
// inside the buffer and are overwritten later.
[[gnu::always_inline]] inline void Flush(Writer& w)
{
    if (w.avail < 8) {
        w = FlushSlow(w);
        return;
    }
    const uint64_t v = kTifLittleEndian ? TifByteSwap64(w.acc) : w.acc;
    std::memcpy(w.cur, &v, 8);
    const int bytes = w.n >> 3;
    w.cur += bytes;
    w.avail -= bytes;
    w.acc = bytes == 8 ? 0 : w.acc << (bytes * 8);
    w.n &= 7;
}

// `code` holds `length` (1..32) bits, the first to be sent most significant.
[[gnu::always_inline]] inline void Put(Writer& w, uint32_t code, int length)
{
    if (w.n > 32)
        Flush(w);
    w.acc |= uint64_t(code) << (64 - w.n - length);
    w.n += length;
}

[[gnu::always_inline]] inline void Put(Writer& w, const TifFaxCodeWord& c)
{
    Put(w, c.codeWord, c.codeLength);
}

// `k` (0..7) zero bits.
inline void PutZeros(Writer& w, int k)
{
    if (w.n > 32)
        Flush(w);
    w.n += k;
}

// Zero bits up to the next byte boundary.
inline void Align(Writer& w)
{
    w.n = (w.n + 7) & ~7;
}

void CloseWriter(Writer& w, TifFaxEncoderState* s)
{
    Flush(w);
    s->outBits = int32_t(w.acc >> 56);
    s->outBitsFree = 8 - w.n;
    s->header.cursor = w.cur;
    s->header.available = w.avail;
}

// A run of 64 or more: 2560 make-up codes while 2624 or more are left (so a
// run of 2560..2623 takes a single 2560), one more make-up code, a terminating code.
[[gnu::noinline]] Writer PutLongRun(Writer w, int run, const TifFaxRunCodes& t)
{
    for (; run >= 2624; run -= 2560)
        Put(w, t.entry[TIF_FAX_MAKEUP_2560]);
    const TifFaxCodeWord& m = t.entry[63 + (run >> 6)];
    const TifFaxCodeWord& e = t.entry[run & 63];
    Put(w, uint32_t(m.codeWord) << e.codeLength | e.codeWord, m.codeLength + e.codeLength);
    return w;
}

[[gnu::always_inline]] inline void PutRun(Writer& w, int run, const TifFaxRunCodes& t)
{
    if (run < 64) {
        Put(w, t.entry[run]);
    } else if (run < 2624) {
        // One make-up code and a terminating code, sent as one.
        const TifFaxCodeWord& m = t.entry[63 + (run >> 6)];
        const TifFaxCodeWord& e = t.entry[run & 63];
        Put(w, uint32_t(m.codeWord) << e.codeLength | e.codeWord, m.codeLength + e.codeLength);
    } else {
        w = PutLongRun(w, run, t);
    }
}

// ---------------------------------------------------------------- spans

inline uint64_t LoadBigEndian(const uint8_t* p)
{
    uint64_t v;
    std::memcpy(&v, p, 8);
    return kTifLittleEndian ? TifByteSwap64(v) : v;
}

// Rows under 8 bytes: byte by byte with the leading-bits tables.
[[gnu::noinline]] int ShortRowSpan(const uint8_t* row, int rowBytes, int x, int end, bool black)
{
    const uint8_t* lead = black ? TifFaxLeadingOnes.n : TifFaxLeadingZeros.n;
    int pos = x;
    for (int byte = pos >> 3; byte < rowBytes && pos < end; ++byte) {
        const int bit = pos & 7;
        const int k = lead[uint8_t(row[byte] << bit)];
        if (k < 8 - bit)
            return (pos + k < end ? pos + k : end) - x;
        pos += 8 - bit;
    }
    return (pos < end ? pos : end) - x;
}

inline uint64_t LoadNative(const uint8_t* p)
{
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

// Where the run of pixels that `invert` makes zero (0: white, all ones:
// black) and that starts at `pos` ends: the first pixel of the other colour,
// or bytes × 8. Rows of 8 bytes or more; reads only the row's bytes. A word
// at a time, two once the first word is passed (the zero tests need no byte
// swap); near the row's end the row's last eight bytes are read instead,
// shifted to the same pixel.
[[gnu::always_inline]] inline int RunEnd(const uint8_t* row, int bytes, int pos, uint64_t invert)
{
    const int lastWord = bytes - 8;
    int byte = pos >> 3;
    byte = byte > lastWord ? lastWord : byte;
    const uint64_t v = (LoadBigEndian(row + byte) ^ invert) << (pos - byte * 8);
    if (v != 0)
        return pos + TifCountLeadingZeros64(v);
    int at = byte + 8;
    for (; at + 16 <= bytes; at += 16) {
        uint64_t a = LoadNative(row + at) ^ invert;
        const uint64_t b = LoadNative(row + at + 8) ^ invert;
        if ((a | b) != 0) {
            if (a == 0) {
                a = b;
                at += 8;
            }
            return at * 8 + TifCountLeadingZeros64(kTifLittleEndian ? TifByteSwap64(a) : a);
        }
    }
    if (at + 8 <= bytes) {
        const uint64_t a = LoadBigEndian(row + at) ^ invert;
        if (a != 0)
            return at * 8 + TifCountLeadingZeros64(a);
        at += 8;
    }
    if (at < bytes) {
        const uint64_t t = (LoadBigEndian(row + lastWord) ^ invert) << ((at - lastWord) * 8);
        if (t != 0)
            return at * 8 + TifCountLeadingZeros64(t);
    }
    return bytes * 8;
}

// The pixels of colour `black` from x on, never counting past `end`; reads
// only the row's `rowBytes` bytes.
[[gnu::always_inline]] inline int Span(const uint8_t* row, int rowBytes, int x, int end, bool black)
{
    if (x >= end)
        return 0;
    if (rowBytes < 8)
        return ShortRowSpan(row, rowBytes, x, end, black);
    const int pos = RunEnd(row, rowBytes, x, black ? ~uint64_t(0) : 0);
    return (pos < end ? pos : end) - x;
}

// ---------------------------------------------------------------- rows

struct Row {
    int pixels;
    int bytes;
};

// Moves every whole pending byte into the buffer, as Flush, when fewer than 64
// bits are pending.
[[gnu::always_inline]] inline void FlushShort(Writer& w)
{
    if (w.avail < 8) {
        w = FlushSlow(w);
        return;
    }
    const uint64_t v = kTifLittleEndian ? TifByteSwap64(w.acc) : w.acc;
    std::memcpy(w.cur, &v, 8);
    const int bytes = w.n >> 3;
    w.cur += bytes;
    w.avail -= bytes;
    w.acc <<= w.n & ~7;
    w.n &= 7;
}

// A joined code (TifFaxJoinedRunCodes), with no flush: at most 25 bits, so
// two of them fit after the 7 bits a flush leaves.
[[gnu::always_inline]] inline void PutJoined(Writer& w, uint32_t code)
{
    const uint32_t length = code & 31;
    w.acc |= uint64_t(code ^ length) << 32 >> w.n;
    w.n += int(length);
}

// A run of 2624 or more (`codes` points at its colour's joined codes): 2560
// make-up codes while 2624 or more are left, then the rest (64..2623) as one
// joined code. At most 7 bits are left pending.
[[gnu::noinline]] Writer PutVeryLongRun(Writer w, int run, const uint32_t* codes)
{
    for (; run >= TIF_FAX_JOINED_RUNS; run -= 2560) {
        Put(w, TifFaxWhiteCodes.entry[TIF_FAX_MAKEUP_2560]);  // common to both colours
        Flush(w);
    }
    PutJoined(w, codes[run]);
    FlushShort(w);
    return w;
}

// One-dimensional coding: the row is taken a word at a time, and each word's
// colour changes (a pixel unlike the one before it, the pixel before the row
// being white) end the runs. Pixels from r.pixels on are never coded. The
// writer is flushed after each black run (and the last), so a white run and
// the black one after it are at most 7 + 2 × 25 bits.
void Encode1DRow(Writer& out, const uint8_t* row, Row r)
{
    Writer w = out;
    Flush(w);  // an EOL may be pending
    const int W = r.pixels;
    const uint32_t* const codes = TifFaxJoinedRunCodes.code;
    intptr_t colour = 0;  // of the run being measured: 0 white, TIF_FAX_JOINED_RUNS black
    intptr_t start = 0;   // its first pixel
    auto runsEndingIn = [&](uint64_t changes, intptr_t base) {
        do {
            // Bit i stands for pixel base + 63 − i.
            const intptr_t i = TifCountLeadingZeros64(changes) ^ 63;
            changes ^= uint64_t(1) << i;
            const intptr_t end = base + 63 - i;
            const intptr_t run = end - start;
            if (run < TIF_FAX_JOINED_RUNS) {
                PutJoined(w, codes[colour + run]);
                if (colour != 0)
                    FlushShort(w);
            } else {
                w = PutVeryLongRun(w, int(run), codes + colour);
            }
            start = end;
            colour ^= TIF_FAX_JOINED_RUNS;
        } while (changes != 0);
    };
    uint64_t before = 0;  // the last pixel of the previous word, in bit 63
    const uint8_t* p = row;
    const uint8_t* const whole = row + W / 64 * 8;
    for (; p != whole; p += 8) {
        // Two words of white after white: no change in either.
        if (before == 0 && whole - p >= 16 && (LoadNative(p) | LoadNative(p + 8)) == 0) {
            p += 8;
            continue;
        }
        const uint64_t v = LoadBigEndian(p);
        const uint64_t changes = v ^ (v >> 1 | before);
        before = v << 63;
        if (changes != 0)
            runsEndingIn(changes, (p - row) * 8);
    }
    // The last pixels, fewer than 64: the row's last bytes placed from bit 63
    // down, changes at and past r.pixels dropped.
    const int at = int(p - row);
    if (at * 8 < W) {
        const int left = r.bytes - at;  // 1..8
        uint64_t v = 0;
        if (r.bytes >= 8) {
            v = LoadBigEndian(row + r.bytes - 8) << ((8 - left) * 8);
        } else {
            for (int i = 0; i < left; ++i)
                v |= uint64_t(row[at + i]) << (56 - 8 * i);
        }
        const uint64_t changes = (v ^ (v >> 1 | before)) & ~uint64_t(0) << (64 - (W - at * 8));
        if (changes != 0)
            runsEndingIn(changes, at * 8);
    }
    const intptr_t run = W - start;
    if (run < TIF_FAX_JOINED_RUNS) {
        PutJoined(w, codes[colour + run]);
        FlushShort(w);
    } else {
        w = PutVeryLongRun(w, int(run), codes + colour);
    }
    out = w;
}

// T.4 two-dimensional coding of `row` against `ref`; the pixel before a row
// counts as white.
void Encode2DRow(Writer& out, const uint8_t* row, const uint8_t* ref, Row r)
{
    Writer w = out;
    const int W = r.pixels;
    auto span = [&](const uint8_t* line, int x, bool black) { return Span(line, r.bytes, x, W, black); };
    bool c = false;  // colour of the run from a0; the pixel before a row is white
    int a0 = 0;
    int a1 = span(row, 0, false);
    int b1 = span(ref, 0, false);
    for (;;) {
        // b1 is a change of ref to !c, b2 the change back (W when none).
        const int b2 = b1 + span(ref, b1, !c);
        // Where the next b1 is already known, the reference is not scanned again.
        enum { kScan, kAfterPass, kIsB2 } next = kScan;
        if (b2 < a1) {
            Put(w, TifFaxModeCodeWords.pass);
            a0 = b2;
            next = kAfterPass;  // the colour runs on, and ref has it from b2
        } else if (unsigned(b1 - a1 + 3) <= 6) {
            Put(w, TifFaxModeCodeWords.vertical[b1 - a1 + 3]);
            // V0, VR: a1 lies in ref's run [b1, b2) of the new colour, so the
            // next change of ref to the old colour is b2.
            if (a1 >= b1 && a1 < b2)
                next = kIsB2;
            a0 = a1;
            c = !c;
        } else {
            const int a2 = a1 + span(row, a1, !c);
            Put(w, TifFaxModeCodeWords.horizontal);
            PutRun(w, a1 - a0, c ? TifFaxBlackCodes : TifFaxWhiteCodes);
            PutRun(w, a2 - a1, c ? TifFaxWhiteCodes : TifFaxBlackCodes);
            a0 = a2;
        }
        if (a0 >= W)
            break;
        a1 = a0 + span(row, a0, c);
        if (next == kIsB2) {
            b1 = b2;
        } else {
            b1 = next == kAfterPass ? a0 : a0 + span(ref, a0, !c);
            b1 += span(ref, b1, c);
        }
    }
    out = w;
}

void PutEol(Writer& w, int options, int next2D)
{
    // Fill so that the 12 EOL bits end on a byte boundary.
    if (options & T4OPT_FILLBITS)
        PutZeros(w, (4 - w.n) & 7);
    if (options & T4OPT_2D)
        Put(w, 2u | (next2D ? 0u : 1u), 13);  // EOL, then the tag: 1 for a 1D row
    else
        Put(w, TifFaxModeCodeWords.eol);
}

int Fax1DRows(TifCodec* codec, void* rows, int count)
{
    TifFaxEncoderState* s = FaxState(codec);
    if (count <= 0)
        return 0;
    const long step = TifRowStep(&s->header);
    const Row r{s->rowPixels, s->header.rowBytes};
    const bool twoD = (s->options & T4OPT_2D) != 0 && s->refLine != nullptr;
    const auto* row = static_cast<const uint8_t*>(rows);
    const uint8_t* ref = s->refLine;
    Writer w = OpenWriter(s);
    for (int i = 0; i < count; ++i, row += step) {
        if (s->framing == FAX_FRAMING_EOL)
            PutEol(w, s->options, s->next2D);
        if (!twoD) {
            Encode1DRow(w, row, r);
        } else {
            if (s->next2D) {
                Encode2DRow(w, row, ref, r);
                --s->kCount;
            } else {
                Encode1DRow(w, row, r);
                s->next2D = 1;
            }
            if (s->kCount == 0) {
                s->next2D = 0;
                s->kCount = s->maxK - 1;
            } else {
                ref = row;
            }
        }
        if (s->framing == FAX_FRAMING_BYTEALIGN)
            Align(w);
    }
    // The reference row is the caller's previous row in place; only the last
    // one is kept, for the first row of the next call.
    if (twoD && s->kCount != 0 && ref != s->refLine)
        std::memcpy(s->refLine, ref, size_t(r.bytes));
    CloseWriter(w, s);
    return count;
}

int FaxG4Rows(TifCodec* codec, void* rows, int count)
{
    TifFaxEncoderState* s = FaxState(codec);
    if (count <= 0)
        return 0;
    const long step = TifRowStep(&s->header);
    const Row r{s->rowPixels, s->header.rowBytes};
    const auto* row = static_cast<const uint8_t*>(rows);
    const uint8_t* ref = s->refLine;
    Writer w = OpenWriter(s);
    for (int i = 0; i < count; ++i, row += step) {
        Encode2DRow(w, row, ref, r);
        ref = row;
    }
    std::memcpy(s->refLine, ref, size_t(r.bytes));
    CloseWriter(w, s);
    return count;
}

int FaxSetParam(TifCodec* codec, int tag, int value)
{
    TifFaxEncoderState* s = FaxState(codec);
    if (tag != TIF_TAG_T4OPTIONS || s->header.compression != 3)
        return 0;
    // Bits 3 and up are unused in TIFF 6.0; a value with them is not ours to write.
    if (value & ~kT4OptionsKnown)
        return 0;
    if ((value ^ s->options) & T4OPT_2D) {
        if (value & T4OPT_2D) {
            // Zeroed, so that even a switch in mid-strip codes against white.
            auto* line = static_cast<uint8_t*>(std::calloc(size_t(s->header.rowBytes), 1));
            if (line == nullptr)
                return 0;
            std::free(s->refLine);
            s->refLine = line;
            s->maxK = kMaxK;
            s->kCount = kMaxK - 1;
        } else {
            std::free(s->refLine);
            s->refLine = nullptr;
            s->maxK = 0;
            s->kCount = 0;
        }
    }
    s->options = value;
    return 1;
}

int FaxBeginStrip(TifCodec* codec)
{
    TifFaxEncoderState* s = FaxState(codec);
    s->header.cursor = s->header.buffer;
    s->header.available = s->header.bufferSize;
    s->outBits = 0;
    s->outBitsFree = 8;
    s->next2D = 0;  // every strip starts with a 1D row; kCount runs on
    if (s->refLine != nullptr)
        std::memset(s->refLine, 0, size_t(s->header.rowBytes));
    return 1;
}

int FaxEndStrip(TifCodec* codec)
{
    TifFaxEncoderState* s = FaxState(codec);
    Writer w = OpenWriter(s);
    if (s->header.compression == 4)
        Put(w, 1u << 12 | 1u, 24);  // EOFB: two EOLs. Group 3 strips get no RTC.
    Align(w);
    CloseWriter(w, s);
    TifCodecState* h = &s->header;
    return TifCodecFlush(h);
}

}  // namespace

void TifFaxEncoderRelease(TifCodec* codec)
{
    TifFaxEncoderState* s = FaxState(codec);
    if (s != nullptr) {
        std::free(s->refLine);
        s->refLine = nullptr;
    }
}

bool TifFaxEncoderAccepts(const TifCodecParams* params)
{
    if (params == nullptr)
        return false;
    const int compression = params->compression;
    return (compression == 2 || compression == 3 || compression == 4) && params->samplesPerPixel == 1 &&
           params->bitsPerSample == 1;
}

TifCodec* TifNewFaxEncoder(const TifCodecParams* params)
{
    if (!TifFaxEncoderAccepts(params))
        return nullptr;
    const int compression = params->compression;
    TifCodec* codec = TifNewEncoderBase(params, sizeof(TifFaxEncoderState));
    if (codec == nullptr)
        return nullptr;
    TifFaxEncoderState* s = FaxState(codec);
    s->rowPixels = params->width;
    s->options = 0;
    s->outBitsFree = 8;
    if (compression == 4) {
        s->refLine = static_cast<uint8_t*>(std::calloc(size_t(s->header.rowBytes), 1));
        if (s->refLine == nullptr) {
            TifCodecDestroy(codec);
            return nullptr;
        }
    }
    codec->Destroy = TifFaxDestroy;
    codec->SetParam = FaxSetParam;
    codec->BeginStrip = FaxBeginStrip;
    codec->EndStrip = FaxEndStrip;
    switch (compression) {
    case 2:
        codec->EncodeRows = Fax1DRows;
        s->framing = FAX_FRAMING_BYTEALIGN;
        break;
    case 3:
        codec->EncodeRows = Fax1DRows;
        s->framing = FAX_FRAMING_EOL;
        break;
    default:
        codec->EncodeRows = FaxG4Rows;
        s->framing = 0;
        break;
    }
    return codec;
}
