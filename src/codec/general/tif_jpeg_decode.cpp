// tif_jpeg_decode.cpp — decoding a strip's or tile's JPEG stream into the
// caller's rows with libjpeg (libjpeg.txt, the library's manual).
//
// One decompression object serves the page. Each strip begins with the page's
// JPEGTables (a strip may have replaced them), read once as a tables-only
// stream and put back from a copy for the next strips; then comes the strip's
// own stream, pulled through the codec's I/O procedure in blocks of the
// transfer buffer by a source manager of our own: memory does not grow with
// the strip. Its frame is checked against the directory (width,
// at most the strip's rows, components, sampling, 8 bits, Huffman coding)
// before decoding starts, and the colour space is set from Photometric.
//
// Untrusted input: libjpeg reports errors through error_exit, which jumps
// back (longjmp) into the small functions below that called it; none holds a
// C++ object. Warnings (corrupt data) make the rows from there damaged. Where
// the data ends early (the strip's bytes run out, or a marker cuts the
// entropy-coded data) libjpeg would go on filling rows with grey: the band
// being decoded is delivered, damaged, and the strip stops there, so rows
// are never made from nothing. Streams of several scans hold the whole frame's
// coefficients: that memory is capped (max_memory_to_use, beyond which libjpeg
// fails) and so is the number of scans. A read failure beneath (the file cut
// short) is kept while libjpeg runs and thrown once it has returned.
#include "codec/general/tif_jpeg.h"

#if defined(VXTIFF_HAVE_JPEG)

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jerror.h>
#include <jpeglib.h>

#include "codec/tif_limits.h"
#include "io/tif_exception.h"

namespace {

// More scans than any writer makes (a full progression has about a dozen);
// each scan passes over the frame's whole coefficient buffer.
constexpr int kMostScans = 100;

// The most rows one jpeg_read_scanlines call is offered: a band of 2x2 blocks.
constexpr int kBatchRows = 16;

// libjpeg decodes what lies within 512 bytes per block of an MCU (at most 5
// KiB) of the end of its input on a slower path: with callgrind, 0.3 % more
// instructions on a one-strip RGB page read in 32 KiB blocks. The buffer
// holds two blocks; before each call, when fewer than kLowBytes are unread,
// they move to its front and the next block follows them, so that only a
// call that takes more, and the strip's end, meet that path. The strip is
// still read in whole blocks.
constexpr int kBufferBytes = 2 * TIF_READ_BLOCK;
constexpr int kLowBytes = TIF_READ_BLOCK / 4;

struct JpegErrors {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

struct TifJpegDecoderState {
    TifCodecState header;
    jpeg_decompress_struct cinfo;
    JpegErrors errors;
    jpeg_source_mgr source;
    jpeg_progress_mgr progress;
    int created;            // cinfo made
    TifJpegPage page;       // tables owned
    int started;            // the strip's decompression has started
    int skipping;           // inside jpeg_skip_scanlines
    int atEnd;              // the strip's data ran out: libjpeg is fed an EOI
    int drained;            // a read gave less than asked: the strip has no more bytes
    int fromTables;         // the source reads page.tables, not the strip
    int readFailure;        // the CTifException code of a failed read, thrown after libjpeg returns
    int damagedFrom;        // output rows from this one on are damaged; INT_MAX: none
    int stopAt;             // the strip stops before this output row; INT_MAX: at its end
    unsigned char eoi[2];
    // The tables JPEGTables defined, kept once read: each strip starts from
    // a copy of them instead of parsing the stream again.
    int tablesKept;
    JQUANT_TBL quant[NUM_QUANT_TBLS];
    JHUFF_TBL dc[NUM_HUFF_TBLS], ac[NUM_HUFF_TBLS];
    unsigned char hasQuant[NUM_QUANT_TBLS], hasDc[NUM_HUFF_TBLS], hasAc[NUM_HUFF_TBLS];
};

TifJpegDecoderState* StateOf(j_common_ptr cinfo)
{
    // cinfo is the state's member; client_data points back to the state.
    return static_cast<TifJpegDecoderState*>(cinfo->client_data);
}

TifJpegDecoderState* StateOf(TifCodec* codec)
{
    return static_cast<TifJpegDecoderState*>(codec->state);
}

[[noreturn]] void ErrorExit(j_common_ptr cinfo)
{
    std::longjmp(StateOf(cinfo)->errors.jump, 1);
}

void OutputMessage(j_common_ptr) {}  // nothing is logged

// The data ended before the frame, at output row `line`: the band of rows
// being decoded and the next (fancy upsampling reads one band ahead) are
// delivered, and the strip stops after them.
void DataEnded(TifJpegDecoderState* s, int line)
{
    const int band = s->cinfo.max_v_samp_factor * DCTSIZE;
    const int64_t stop = (int64_t(line) / band + 2) * band;
    if (stop < s->stopAt)
        s->stopAt = int(stop);
}

void EmitMessage(j_common_ptr cinfo, int level)
{
    if (level >= 0)
        return;  // traces
    TifJpegDecoderState* s = StateOf(cinfo);
    const int code = cinfo->err->msg_code;
    if (code == JWRN_JFIF_MAJOR || code == JWRN_ADOBE_XFORM)
        return;  // markers that do not touch the pixels (the colour space is ours)
    // Before the decompression has started: the tables, the header, or a
    // stream of several scans, which is read whole then; every row is damaged,
    // and a stream of scans delivers them all (each scan covers the frame).
    // While rows are skipped, output_scanline moves only at the skip's end:
    // the rows of the data reached are those of the iMCU row being read.
    int line = s->started ? static_cast<int>(s->cinfo.output_scanline) : 0;
    if (s->skipping)
        line = static_cast<int>(std::min<int64_t>(std::max<int64_t>(line, int64_t(s->cinfo.input_iMCU_row) *
                                                                               s->cinfo.max_v_samp_factor * DCTSIZE),
                                                  s->cinfo.output_height));
    if (line < s->damagedFrom)
        s->damagedFrom = line;
    if (s->started && (code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER))
        DataEnded(s, line);
}

void ProgressMonitor(j_common_ptr cinfo)
{
    const auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (cinfo->is_decompressor && d->input_scan_number > kMostScans)
        ErrorExit(cinfo);
}

void InitSource(j_decompress_ptr) {}
void TermSource(j_decompress_ptr) {}

// Called by libjpeg inside its calls: a read failure must not unwind through
// libjpeg, so it is kept and the stream ends here.
boolean FillInput(j_decompress_ptr cinfo)
{
    TifJpegDecoderState* s = StateOf(reinterpret_cast<j_common_ptr>(cinfo));
    int n = 0;
    if (!s->atEnd && !s->drained && !s->fromTables && s->readFailure == 0) {
        try {
            n = TifCodecFill(&s->header);
            s->drained = n < s->header.bufferSize;
        } catch (CTifException* e) {
            s->readFailure = e != nullptr ? e->code : CTifException::kShortRead;
            delete e;
            n = 0;
        }
    }
    if (n <= 0) {
        // An EOI, as libjpeg.txt advises for a stream that ends early.
        const bool first = !s->atEnd;
        s->atEnd = 1;
        s->eoi[0] = 0xFF;
        s->eoi[1] = JPEG_EOI;
        cinfo->src->next_input_byte = s->eoi;
        cinfo->src->bytes_in_buffer = 2;
        if (first && !s->fromTables)
            WARNMS(cinfo, JWRN_JPEG_EOF);
        return TRUE;
    }
    cinfo->src->next_input_byte = s->header.buffer;
    cinfo->src->bytes_in_buffer = static_cast<size_t>(n);
    return TRUE;
}

void SkipInput(j_decompress_ptr cinfo, long count)
{
    jpeg_source_mgr* src = cinfo->src;
    TifJpegDecoderState* s = StateOf(reinterpret_cast<j_common_ptr>(cinfo));
    while (count > static_cast<long>(src->bytes_in_buffer)) {
        count -= static_cast<long>(src->bytes_in_buffer);
        src->bytes_in_buffer = 0;
        if (s->atEnd) {
            FillInput(cinfo);
            return;  // nothing left to skip: the EOI stays
        }
        FillInput(cinfo);
    }
    if (count > 0) {
        src->next_input_byte += count;
        src->bytes_in_buffer -= static_cast<size_t>(count);
    }
}

// Before a call into libjpeg: the next block of the strip behind the unread
// bytes, when few remain. A read failure is kept for after the call, as
// FillInput keeps it.
void TopUp(TifJpegDecoderState* s)
{
    jpeg_source_mgr& src = s->source;
    TifCodecState* h = &s->header;
    if (src.bytes_in_buffer >= size_t(kLowBytes) || s->atEnd || s->drained || s->fromTables ||
        s->readFailure != 0 || h->bufferSize < kBufferBytes)
        return;
    const size_t kept = src.bytes_in_buffer;
    if (kept > 0)
        std::memmove(h->buffer, src.next_input_byte, kept);
    int n = 0;
    try {
        n = h->ioProc(h->buffer + kept, TIF_READ_BLOCK, h->ioContext);
        s->drained = n < TIF_READ_BLOCK;
    } catch (CTifException* e) {
        s->readFailure = e != nullptr ? e->code : CTifException::kShortRead;
        delete e;
    }
    src.next_input_byte = h->buffer;
    src.bytes_in_buffer = kept + size_t(n > 0 ? n : 0);
}

// The source reads the page's JPEGTables (fromTables) or the strip.
void RestartSource(TifJpegDecoderState* s, bool tables)
{
    s->fromTables = tables ? 1 : 0;
    s->atEnd = 0;
    s->drained = 0;
    s->source.next_input_byte = tables ? s->page.tables : nullptr;
    s->source.bytes_in_buffer = tables ? static_cast<size_t>(s->page.tablesSize) : 0;
}

// The functions that call into libjpeg: each sets the jump that error_exit
// takes, and holds nothing that a jump could skip.

int CreateObject(TifJpegDecoderState* s)
{
    if (setjmp(s->errors.jump))
        return 0;
    jpeg_create_decompress(&s->cinfo);
    return 1;
}

// A table slot set to a kept table; a slot JPEGTables left empty keeps what
// a strip put there, as when the tables are read again.
template <typename Table, typename Alloc>
void PutTable(j_common_ptr c, Table** slot, const Table& kept, bool has, Alloc alloc)
{
    if (!has)
        return;
    if (*slot == nullptr)
        *slot = alloc(c);
    **slot = kept;
}

void KeepTables(TifJpegDecoderState* s)
{
    const jpeg_decompress_struct& c = s->cinfo;
    for (int i = 0; i < NUM_QUANT_TBLS; ++i)
        if ((s->hasQuant[i] = c.quant_tbl_ptrs[i] != nullptr) != 0)
            s->quant[i] = *c.quant_tbl_ptrs[i];
    for (int i = 0; i < NUM_HUFF_TBLS; ++i) {
        if ((s->hasDc[i] = c.dc_huff_tbl_ptrs[i] != nullptr) != 0)
            s->dc[i] = *c.dc_huff_tbl_ptrs[i];
        if ((s->hasAc[i] = c.ac_huff_tbl_ptrs[i] != nullptr) != 0)
            s->ac[i] = *c.ac_huff_tbl_ptrs[i];
    }
    s->tablesKept = 1;
}

// The kept tables back in place, as reading JPEGTables again would leave
// them; 0 when a table could not be allocated.
int RestoreTables(TifJpegDecoderState* s)
{
    if (setjmp(s->errors.jump))
        return 0;
    auto* c = reinterpret_cast<j_common_ptr>(&s->cinfo);
    for (int i = 0; i < NUM_QUANT_TBLS; ++i)
        PutTable(c, &s->cinfo.quant_tbl_ptrs[i], s->quant[i], s->hasQuant[i], jpeg_alloc_quant_table);
    for (int i = 0; i < NUM_HUFF_TBLS; ++i) {
        PutTable(c, &s->cinfo.dc_huff_tbl_ptrs[i], s->dc[i], s->hasDc[i], jpeg_alloc_huff_table);
        PutTable(c, &s->cinfo.ac_huff_tbl_ptrs[i], s->ac[i], s->hasAc[i], jpeg_alloc_huff_table);
    }
    return 1;
}

void LoadTables(TifJpegDecoderState* s)
{
    if (s->page.tables == nullptr || (s->tablesKept && RestoreTables(s)))
        return;
    RestartSource(s, true);
    if (setjmp(s->errors.jump)) {
        jpeg_abort_decompress(&s->cinfo);  // damaged tables: the strips say whether they need them
        return;
    }
    jpeg_read_header(&s->cinfo, FALSE);
    jpeg_abort_decompress(&s->cinfo);
    KeepTables(s);
}

// The frame the strip's stream describes is the one the directory does.
bool FrameMatches(const TifJpegDecoderState* s)
{
    const jpeg_decompress_struct& c = s->cinfo;
    const TifJpegPage& p = s->page;
    if (int64_t(c.image_width) != s->header.width || c.image_height == 0 ||
        int64_t(c.image_height) > p.maxRows || c.num_components != s->header.samplesPerPixel ||
        c.data_precision != 8 || c.arith_code)
        return false;
    for (int i = 0; i < c.num_components; ++i) {
        const jpeg_component_info& k = c.comp_info[i];
        const bool luma = i == 0 || p.photometric != 6;
        const int h = luma ? (p.photometric == 6 ? p.subsampleH : c.comp_info[0].h_samp_factor) : 1;
        const int v = luma ? (p.photometric == 6 ? p.subsampleV : c.comp_info[0].v_samp_factor) : 1;
        if (k.h_samp_factor != h || k.v_samp_factor != v)
            return false;
    }
    return true;
}

void SetColourSpaces(jpeg_decompress_struct* c, int photometric)
{
    switch (photometric) {
    case 6: c->jpeg_color_space = JCS_YCbCr; c->out_color_space = JCS_RGB; break;
    case 2: c->jpeg_color_space = JCS_RGB; c->out_color_space = JCS_RGB; break;
    case 5: c->jpeg_color_space = JCS_CMYK; c->out_color_space = JCS_CMYK; break;
    default: c->jpeg_color_space = JCS_GRAYSCALE; c->out_color_space = JCS_GRAYSCALE; break;
    }
}

// Reads the strip's header and starts decompressing it: 1, or 0 when it
// cannot be decoded.
int StartStrip(TifJpegDecoderState* s)
{
    jpeg_decompress_struct* c = &s->cinfo;
    RestartSource(s, false);
    if (setjmp(s->errors.jump))
        return 0;
    if (jpeg_read_header(c, TRUE) != JPEG_HEADER_OK || !FrameMatches(s))
        return 0;
    SetColourSpaces(c, s->page.photometric);
    jpeg_start_decompress(c);
    return c->output_components == s->header.samplesPerPixel && int64_t(c->output_width) == s->header.width;
}

// Up to `n` rows: the count libjpeg gave (0 none), -1 on an error.
int ReadRows(TifJpegDecoderState* s, JSAMPROW* rows, int n)
{
    if (setjmp(s->errors.jump))
        return -1;
    return static_cast<int>(jpeg_read_scanlines(&s->cinfo, rows, static_cast<JDIMENSION>(n)));
}

// Skips `n` rows: 1, or 0 on an error (output_scanline says how far it came).
// In one call: in steps, libjpeg decodes the rows before each step's end
// (the upsampling's context), which cost four times as much on 2x2 YCbCr.
int SkipScanlines(TifJpegDecoderState* s, int n)
{
    if (setjmp(s->errors.jump))
        return 0;
    jpeg_skip_scanlines(&s->cinfo, static_cast<JDIMENSION>(n));
    return 1;
}

// After libjpeg returned: a read that failed beneath it fails the call.
void ThrowReadFailure(TifJpegDecoderState* s)
{
    if (s->readFailure != 0)
        TifThrow(s->readFailure);  // again at every call of the strip: it cannot go on
}

int BeginStrip(TifCodec* codec)
{
    TifJpegDecoderState* s = StateOf(codec);
    TifCodecState* h = &s->header;
    h->cursor = h->buffer;
    h->available = 0;
    s->started = 0;
    s->readFailure = 0;
    s->damagedFrom = INT_MAX;
    s->stopAt = INT_MAX;
    jpeg_abort_decompress(&s->cinfo);
    LoadTables(s);
    s->started = StartStrip(s);
    ThrowReadFailure(s);
    return s->started;
}

int DecodeRows(TifCodec* codec, void* rows, int count)
{
    TifJpegDecoderState* s = StateOf(codec);
    TifCodecState* h = &s->header;
    ThrowReadFailure(s);
    auto* out = static_cast<unsigned char*>(rows);
    const long step = TifRowStep(h);
    int done = 0;
    while (s->started && done < count) {
        const int line = static_cast<int>(s->cinfo.output_scanline);
        const int end = std::min(static_cast<int>(s->cinfo.output_height), s->stopAt);
        if (line >= end)
            break;  // a frame shorter than the rows asked for, or data that ended
        // Several rows a call: libjpeg's per-call work showed on narrow tiles.
        JSAMPROW batch[kBatchRows];
        const int n = std::min({count - done, end - line, kBatchRows});
        for (int i = 0; i < n; ++i)
            batch[i] = out + step * i;
        TopUp(s);
        const int got = ReadRows(s, batch, n);
        ThrowReadFailure(s);
        if (got <= 0) {
            s->started = 0;  // libjpeg cannot go on with this strip
            break;
        }
        for (int i = 0; i < got; ++i)
            if (line + i >= s->damagedFrom)
                TifNoteDamagedRow(h, done + i);
        done += got;
        out += step * got;
    }
    // Short of the rows asked: the strip's data ran out (cut short), or the
    // stream is damaged.
    if (done < count && !s->atEnd)
        TifNoteBadData(h);
    return done;
}

// libjpeg passes over skipped rows without the inverse DCT, the upsampling
// and the colour conversion (whole iMCU rows of a single scan are only
// entropy-decoded). Where the data ends inside them it goes on as if zeros
// followed: the rows passed stop where reading would have stopped, and a
// read failure beneath stops them there too, the next call throwing it.
int SkipRows(TifCodec* codec, int count)
{
    TifJpegDecoderState* s = StateOf(codec);
    ThrowReadFailure(s);
    const int line = static_cast<int>(s->cinfo.output_scanline);
    const int n = std::min(std::min(static_cast<int>(s->cinfo.output_height), s->stopAt) - line, count);
    int done = 0;
    if (s->started && n > 0) {
        s->skipping = 1;
        const int ok = SkipScanlines(s, n);
        s->skipping = 0;
        const int reached = std::min(static_cast<int>(s->cinfo.output_scanline), s->stopAt);
        done = std::max(0, std::min(reached - line, n));
        if (!ok)
            s->started = 0;  // libjpeg cannot go on with this strip
    }
    if (done < count && !s->atEnd)
        TifNoteBadData(&s->header);
    return done;
}

int SetParam(TifCodec*, int tag, int)
{
    return tag == TIF_PARAM_WHOLE_STRIPS ? 1 : 0;  // a tile is decoded as a strip is
}

void Destroy(TifCodec* codec)
{
    TifJpegDecoderState* s = StateOf(codec);
    if (s != nullptr) {
        if (s->created)
            jpeg_destroy_decompress(&s->cinfo);
        std::free(const_cast<unsigned char*>(s->page.tables));
    }
    TifCodecDestroy(codec);
}

}  // namespace

TifCodec* TifNewJpegDecoder(const TifCodecParams* params)
{
    if (params == nullptr || params->bitsPerSample != 8)
        return nullptr;  // Debian's libjpeg decodes 8-bit samples only
    TifCodec* codec = TifNewDecoderBase(params, sizeof(TifJpegDecoderState), kBufferBytes);
    if (codec == nullptr)
        return nullptr;
    TifJpegDecoderState* s = StateOf(codec);
    codec->Destroy = Destroy;
    codec->SetParam = SetParam;
    codec->BeginStrip = BeginStrip;
    codec->DecodeRows = DecodeRows;
    codec->SkipRows = SkipRows;
    s->cinfo.err = jpeg_std_error(&s->errors.pub);
    s->errors.pub.error_exit = ErrorExit;
    s->errors.pub.emit_message = EmitMessage;
    s->errors.pub.output_message = OutputMessage;
    s->cinfo.client_data = s;
    s->page.photometric = 1;
    s->page.subsampleH = s->page.subsampleV = 1;
    if (!CreateObject(s)) {
        Destroy(codec);
        return nullptr;
    }
    s->created = 1;
    s->cinfo.client_data = s;
    s->cinfo.mem->max_memory_to_use = static_cast<long>(TIF_MAX_ALLOC);
    s->source.init_source = InitSource;
    s->source.fill_input_buffer = FillInput;
    s->source.skip_input_data = SkipInput;
    s->source.resync_to_restart = jpeg_resync_to_restart;
    s->source.term_source = TermSource;
    s->cinfo.src = &s->source;
    s->progress.progress_monitor = ProgressMonitor;
    s->cinfo.progress = &s->progress;
    return codec;
}

namespace {

// YCbCr luma sampling libjpeg decodes: 1x1, 2x1, 2x2, 4x1, 4x2.
bool SamplingFits(const TifJpegPage& page)
{
    const int h = page.subsampleH, v = page.subsampleV;
    if (page.photometric != 6 || (h == 1 && v == 1))
        return true;
    return (h == 2 || h == 4) && (v == 1 || v == 2) && v <= h;
}

}  // namespace

int TifJpegSetPage(TifCodec* decoder, const TifJpegPage* page)
{
    if (decoder == nullptr || page == nullptr)
        return 0;
    TifJpegDecoderState* s = StateOf(decoder);
    const int p = page->photometric;
    if (!TifJpegSamplesFit(p, s->header.samplesPerPixel) || !SamplingFits(*page) || page->maxRows <= 0)
        return 0;
    unsigned char* tables = nullptr;
    if (page->tables != nullptr && page->tablesSize > 0) {
        tables = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(page->tablesSize)));
        if (tables == nullptr)
            return 0;
        std::memcpy(tables, page->tables, static_cast<size_t>(page->tablesSize));
    }
    std::free(const_cast<unsigned char*>(s->page.tables));
    s->page = *page;
    s->tablesKept = 0;
    if (p != 6)
        s->page.subsampleH = s->page.subsampleV = 1;
    s->page.tables = tables;
    s->page.tablesSize = tables != nullptr ? page->tablesSize : 0;
    return 1;
}

#else  // no libjpeg in the build

TifCodec* TifNewJpegDecoder(const TifCodecParams*) { return nullptr; }

int TifJpegSetPage(TifCodec*, const TifJpegPage*) { return 0; }

#endif
