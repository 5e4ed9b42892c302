// tif_jpeg_encode.cpp — encoding rows into baseline JPEG streams with
// libjpeg (libjpeg.txt, the library's manual), one stream per strip or tile.
//
// One compression object serves the page. Its tables (quantisation from the
// quality, the standard Huffman tables) are made once, at the first row, and
// given to the directory as JPEGTables; every strip is then an abbreviated
// stream without them (TIFF Technical Note 2, as TIFF readers expect). The
// quality can change until then. A strip's height is set when its first row
// comes: the rows left in the page, at most RowsPerStrip; a tile is always
// a whole tile. A strip ended early (the page is shorter than it said) is
// completed with copies of its last row, so the stream stays a whole frame.
// The part of an edge tile outside the image is coded as copies of the
// image's last column and row, not as the zeros it holds: a sharp edge there
// would ring into the pixels that are seen.
//
// The compressed bytes leave through the transfer buffer and the codec's I/O
// procedure. libjpeg reports errors through error_exit, which jumps back
// (longjmp) into the small functions below that called it; none holds a C++
// object, and a write that falls short ends the stream the same way.
#include "codec/general/tif_jpeg.h"

#if defined(VXTIFF_HAVE_JPEG)

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>

#include "codec/tif_tiff.h"

namespace {

// The quality writers commonly default to.
constexpr int kDefaultQuality = 75;

// Room for the tables-only stream: two quantisation and four Huffman tables
// take about 600 bytes.
constexpr int kTablesRoom = 2048;

// The most rows one jpeg_write_scanlines call is given.
constexpr int kBatchRows = 16;

struct JpegErrors {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

struct TifJpegEncoderState {
    TifCodecState header;
    jpeg_compress_struct cinfo;
    JpegErrors errors;
    jpeg_destination_mgr dest;     // into the transfer buffer
    jpeg_destination_mgr tableDest;  // into `tables`
    int created;
    TifJpegEncoding encoding;
    int quality;
    int configured;                // the tables are made: the quality is fixed
    int started;                   // the strip's stream has begun
    // Where the strip's bytes stand: the frame height's offset in the stream
    // (-1 not seen), the bytes handed over, the restart markers met, and
    // where the one after the image's last rows begins (cutAt; -1: none).
    int frameAt;
    int64_t handedOver;
    int restarts;
    int cutAfter;                  // the restart marker to note; 0 none
    int64_t cutAt;
    int lastWasFF;                 // the latest byte handed over was 0xFF
    int stripRowsGiven;
    int64_t rowsBegun;             // rows of the strips begun so far
    int64_t tilesBegun;            // tiles: the streams begun so far
    int tileColumns, tileRows;     // tiles: the part of the tile in progress inside the image
    int tileRow;                   // tiles: the next row of the tile in progress
    unsigned char* lastRow;        // strips: the latest row, to complete a short strip;
                                   // tiles: the last row inside the image, made whole
    unsigned char* edgeRow;        // tiles: a row cut by the image's right edge, made whole
    int tablesSize;
    unsigned char tables[kTablesRoom];
};

TifJpegEncoderState* StateOf(j_common_ptr cinfo)
{
    return static_cast<TifJpegEncoderState*>(cinfo->client_data);
}

TifJpegEncoderState* StateOf(TifCodec* codec)
{
    return static_cast<TifJpegEncoderState*>(codec->state);
}

[[noreturn]] void ErrorExit(j_common_ptr cinfo)
{
    std::longjmp(StateOf(cinfo)->errors.jump, 1);
}

void OutputMessage(j_common_ptr) {}  // nothing is logged

void InitDestination(j_compress_ptr cinfo)
{
    TifCodecState* h = &StateOf(reinterpret_cast<j_common_ptr>(cinfo))->header;
    cinfo->dest->next_output_byte = h->buffer;
    cinfo->dest->free_in_buffer = static_cast<size_t>(h->bufferSize);
}

// Notes where the stream's first `n` bytes, about to be handed over, hold
// the frame height (in the first block) and the restart markers (RSTn:
// 0xFF then 0xD0-0xD7, never met in entropy-coded data).
void ScanOutput(TifJpegEncoderState* s, int n)
{
    const unsigned char* b = s->header.buffer;
    if (s->handedOver == 0)
        for (int i = 0; s->frameAt < 0 && i + 8 < n && i < 64; ++i)
            if (b[i] == 0xFF && b[i + 1] >= 0xC0 && b[i + 1] <= 0xC2)
                s->frameAt = i + 5;  // marker, length, precision, then the height
    for (int i = 0; i < n && s->cutAt < 0; ++i) {
        const bool marker = s->lastWasFF && (b[i] & 0xF8) == 0xD0;
        s->lastWasFF = b[i] == 0xFF;
        if (marker && ++s->restarts == s->cutAfter)
            s->cutAt = s->handedOver + i - 1;
    }
    s->handedOver += n;
}

// libjpeg hands over the whole buffer, whatever free_in_buffer says.
boolean EmptyOutput(j_compress_ptr cinfo)
{
    TifJpegEncoderState* s = StateOf(reinterpret_cast<j_common_ptr>(cinfo));
    TifCodecState* h = &s->header;
    ScanOutput(s, h->bufferSize);
    if (h->ioProc(h->buffer, h->bufferSize, h->ioContext) != h->bufferSize)
        ErrorExit(reinterpret_cast<j_common_ptr>(cinfo));  // the strip cannot be finished
    InitDestination(cinfo);
    return TRUE;
}

void TermDestination(j_compress_ptr) {}  // EndStrip hands the rest over

void InitTables(j_compress_ptr cinfo)
{
    TifJpegEncoderState* s = StateOf(reinterpret_cast<j_common_ptr>(cinfo));
    cinfo->dest->next_output_byte = s->tables;
    cinfo->dest->free_in_buffer = sizeof s->tables;
}

boolean TablesOverflow(j_compress_ptr cinfo)
{
    ErrorExit(reinterpret_cast<j_common_ptr>(cinfo));
}

void TermTables(j_compress_ptr cinfo)
{
    TifJpegEncoderState* s = StateOf(reinterpret_cast<j_common_ptr>(cinfo));
    s->tablesSize = static_cast<int>(sizeof s->tables - cinfo->dest->free_in_buffer);
}

// The colour spaces and sampling of the page's photometric; the markers of
// other files (JFIF, Adobe) stay out: readers take the colour space from
// Photometric.
void SetColourSpaces(TifJpegEncoderState* s)
{
    jpeg_compress_struct* c = &s->cinfo;
    const int p = s->encoding.photometric;
    c->input_components = s->header.samplesPerPixel;
    c->in_color_space = p == 5 ? JCS_CMYK : (p == 2 || p == 6) ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_set_defaults(c);
    jpeg_set_colorspace(c, p == 6 ? JCS_YCbCr : p == 2 ? JCS_RGB : p == 5 ? JCS_CMYK : JCS_GRAYSCALE);
    if (p == 6) {
        c->comp_info[0].h_samp_factor = s->encoding.subsampleH;
        c->comp_info[0].v_samp_factor = s->encoding.subsampleV;
    }
    c->write_JFIF_header = FALSE;
    c->write_Adobe_marker = FALSE;
}

// Sets the page's coding and writes the tables-only stream: 1, or 0 when
// libjpeg refused.
int Configure(TifJpegEncoderState* s)
{
    jpeg_compress_struct* c = &s->cinfo;
    if (setjmp(s->errors.jump))
        return 0;
    c->image_width = static_cast<JDIMENSION>(s->header.width);
    c->image_height = static_cast<JDIMENSION>(s->encoding.maxRows);
    SetColourSpaces(s);
    jpeg_set_quality(c, s->quality, TRUE);
    // A restart marker after every band of blocks: damage stays in its band,
    // and a strip that the page ends inside can end after its last rows.
    c->restart_in_rows = 1;
    c->dest = &s->tableDest;
    jpeg_write_tables(c);  // marks every table sent: the strips leave them out
    c->dest = &s->dest;
    s->configured = 1;
    return 1;
}

// Begins the strip's stream, `rows` high: 1, or 0 when libjpeg refused.
int StartStream(TifJpegEncoderState* s, int rows)
{
    jpeg_compress_struct* c = &s->cinfo;
    if (setjmp(s->errors.jump))
        return 0;
    c->image_height = static_cast<JDIMENSION>(rows);
    jpeg_start_compress(c, FALSE);
    return 1;
}

// Writes `n` rows (at most kBatchRows): the rows written, -1 on an error.
int WriteRows(TifJpegEncoderState* s, JSAMPROW* rows, int n)
{
    if (setjmp(s->errors.jump))
        return -1;
    return static_cast<int>(jpeg_write_scanlines(&s->cinfo, rows, static_cast<JDIMENSION>(n)));
}

// Completes the frame with the strip's last row and ends the stream: 1, or
// 0 on an error.
int FinishStream(TifJpegEncoderState* s)
{
    jpeg_compress_struct* c = &s->cinfo;
    if (setjmp(s->errors.jump))
        return 0;
    JSAMPROW row = s->lastRow;
    while (c->next_scanline < c->image_height)
        jpeg_write_scanlines(c, &row, 1);
    jpeg_finish_compress(c);
    return 1;
}

// The strip's height when its first row comes.
int StripRows(TifJpegEncoderState* s)
{
    const TifJpegEncoding& e = s->encoding;
    if (e.tiledWidth > 0)
        return e.maxRows;
    const int64_t left = e.height - s->rowsBegun;
    return static_cast<int>(std::max<int64_t>(1, std::min<int64_t>(e.maxRows, left)));
}

// Tiles: where the image ends inside the tile about to begin.
void PlaceTile(TifJpegEncoderState* s)
{
    const TifJpegEncoding& e = s->encoding;
    const int width = s->header.width;
    const int64_t across = (int64_t(e.tiledWidth) + width - 1) / width;
    const int64_t column = s->tilesBegun % across, row = s->tilesBegun / across;
    s->tileColumns = static_cast<int>(std::clamp<int64_t>(e.tiledWidth - column * width, 1, width));
    s->tileRows = static_cast<int>(std::clamp<int64_t>(e.height - row * e.maxRows, 1, e.maxRows));
    ++s->tilesBegun;
}

// The row coded for the tile's row `r`, the caller's `row`: rows and columns
// outside the image are copies of the image's last ones. The last row inside
// is kept (lastRow) for the rows below it; other rows cut by the image's
// edge are made in edgeRow, so at most one such row is in flight.
unsigned char* TileRow(TifJpegEncoderState* s, unsigned char* row, int r)
{
    if (r >= s->tileRows)
        return s->lastRow;
    const bool last = r == s->tileRows - 1 && s->tileRows < s->encoding.maxRows;
    if (s->tileColumns >= s->header.width) {
        if (last)
            std::memcpy(s->lastRow, row, static_cast<size_t>(s->header.rowBytes));
        return row;
    }
    unsigned char* out = last ? s->lastRow : s->edgeRow;
    std::memcpy(out, row, static_cast<size_t>(s->header.rowBytes));
    const size_t pixel = static_cast<size_t>(s->header.samplesPerPixel);
    for (size_t x = size_t(s->tileColumns); x < size_t(s->header.width); ++x)
        std::memcpy(out + x * pixel, out + (size_t(s->tileColumns) - 1) * pixel, pixel);
    return out;
}

int BeginStrip(TifCodec* codec)
{
    TifJpegEncoderState* s = StateOf(codec);
    s->header.cursor = s->header.buffer;
    s->header.available = s->header.bufferSize;
    s->started = 0;
    s->tileRow = 0;
    s->frameAt = -1;
    s->handedOver = 0;
    s->restarts = 0;
    s->cutAfter = 0;
    s->cutAt = -1;
    s->lastWasFF = 0;
    s->stripRowsGiven = 0;
    return 1;
}

// Starts the strip's or tile's stream at its first row: 1, or 0 when
// libjpeg refused.
int StartOnce(TifJpegEncoderState* s)
{
    if (s->started)
        return 1;
    if (!s->configured && !Configure(s))
        return 0;
    const int height = StripRows(s);
    if (s->encoding.tiledWidth > 0)
        PlaceTile(s);
    if (!StartStream(s, height))
        return 0;
    s->started = 1;
    s->rowsBegun += height;
    return 1;
}

int EncodeRows(TifCodec* codec, void* rows, int count)
{
    TifJpegEncoderState* s = StateOf(codec);
    if (count <= 0 || !StartOnce(s))
        return 0;
    const bool tiled = s->encoding.tiledWidth > 0;
    // A tile cut by the right edge goes a row at a time through edgeRow.
    const int most = tiled && s->tileColumns < s->header.width ? 1 : kBatchRows;
    auto* in = static_cast<unsigned char*>(rows);
    const long step = TifRowStep(&s->header);
    int done = 0;
    while (done < count) {
        JSAMPROW batch[kBatchRows];
        const int n = std::min(count - done, most);
        for (int i = 0; i < n; ++i)
            batch[i] = tiled ? TileRow(s, in + step * (done + i), s->tileRow + i) : in + step * (done + i);
        const int got = WriteRows(s, batch, n);
        if (got != n)
            return got > 0 ? done + got : done;  // a frame full, or a write that fell short
        done += n;
        s->tileRow += tiled ? n : 0;
    }
    s->stripRowsGiven += done;
    // Kept for a page that ends inside this strip: a row's copy costs about
    // 2 % of the encoding, the black rows it saves would ring into the last ones.
    if (!tiled)
        std::memcpy(s->lastRow, in + step * (count - 1), static_cast<size_t>(s->header.rowBytes));
    return done;
}

// A strip given fewer rows than its frame: its stream can end after the
// restart interval that holds the last of them (see TifJpegStripEnd).
void NoteCut(TifJpegEncoderState* s)
{
    const int band = s->cinfo.max_v_samp_factor * DCTSIZE;
    const int bands = (s->stripRowsGiven + band - 1) / band;
    if (s->encoding.tiledWidth == 0 && int64_t(bands) * band < int64_t(s->cinfo.image_height))
        s->cutAfter = bands;
}

int EndStrip(TifCodec* codec)
{
    TifJpegEncoderState* s = StateOf(codec);
    if (s->started) {
        s->started = 0;
        NoteCut(s);
        if (!FinishStream(s))
            return -1;
        s->header.available = static_cast<int>(s->dest.free_in_buffer);
        ScanOutput(s, s->header.bufferSize - s->header.available);
    }
    return TifCodecFlush(&s->header);
}

int SetParam(TifCodec* codec, int tag, int value)
{
    TifJpegEncoderState* s = StateOf(codec);
    if (tag != TIF_TAG_JPEGQUALITY || value < 1 || value > 100 || s->configured)
        return 0;
    s->quality = value;
    return 1;
}

void Destroy(TifCodec* codec)
{
    TifJpegEncoderState* s = StateOf(codec);
    if (s != nullptr) {
        if (s->created)
            jpeg_destroy_compress(&s->cinfo);
        std::free(s->lastRow);
        std::free(s->edgeRow);
    }
    TifCodecDestroy(codec);
}

int CreateObject(TifJpegEncoderState* s)
{
    if (setjmp(s->errors.jump))
        return 0;
    jpeg_create_compress(&s->cinfo);
    return 1;
}

void SetDestinations(TifJpegEncoderState* s)
{
    s->dest.init_destination = InitDestination;
    s->dest.empty_output_buffer = EmptyOutput;
    s->dest.term_destination = TermDestination;
    s->tableDest.init_destination = InitTables;
    s->tableDest.empty_output_buffer = TablesOverflow;
    s->tableDest.term_destination = TermTables;
    s->cinfo.dest = &s->dest;
}

// YCbCr sampling the encoder makes: 1 or 2 each way, no taller than wide.
bool SamplingFits(const TifJpegEncoding& e)
{
    const int h = e.subsampleH, v = e.subsampleV;
    return e.photometric != 6 || ((h == 1 || h == 2) && (v == 1 || v == 2) && v <= h);
}

}  // namespace

bool TifJpegEncoderAccepts(const TifCodecParams* params)
{
    const int n = params->samplesPerPixel;
    return params->bitsPerSample == 8 && (n == 1 || n == 3 || n == 4) && params->width <= TIF_JPEG_MAX_DIMENSION;
}

TifCodec* TifNewJpegEncoder(const TifCodecParams* params)
{
    if (params == nullptr || !TifJpegEncoderAccepts(params))
        return nullptr;
    TifCodec* codec = TifNewEncoderBase(params, sizeof(TifJpegEncoderState));
    if (codec == nullptr)
        return nullptr;
    TifJpegEncoderState* s = StateOf(codec);
    codec->Destroy = Destroy;
    codec->SetParam = SetParam;
    codec->BeginStrip = BeginStrip;
    codec->EncodeRows = EncodeRows;
    codec->EndStrip = EndStrip;
    s->quality = kDefaultQuality;
    s->cinfo.err = jpeg_std_error(&s->errors.pub);
    s->errors.pub.error_exit = ErrorExit;
    s->errors.pub.output_message = OutputMessage;
    s->cinfo.client_data = s;
    s->lastRow = static_cast<unsigned char*>(std::calloc(1, static_cast<size_t>(s->header.rowBytes)));
    s->edgeRow = static_cast<unsigned char*>(std::calloc(1, static_cast<size_t>(s->header.rowBytes)));
    if (s->lastRow == nullptr || s->edgeRow == nullptr || !CreateObject(s)) {
        Destroy(codec);
        return nullptr;
    }
    s->created = 1;
    s->cinfo.client_data = s;
    SetDestinations(s);
    return codec;
}

int TifJpegSetEncoding(TifCodec* encoder, const TifJpegEncoding* encoding)
{
    if (encoder == nullptr || encoding == nullptr || encoding->maxRows <= 0 ||
        encoding->maxRows > TIF_JPEG_MAX_DIMENSION)
        return 0;
    TifJpegEncoderState* s = StateOf(encoder);
    if (s->configured || !TifJpegSamplesFit(encoding->photometric, s->header.samplesPerPixel) || !SamplingFits(*encoding))
        return 0;
    s->encoding = *encoding;
    return 1;
}

const unsigned char* TifJpegTables(TifCodec* encoder, int* size)
{
    TifJpegEncoderState* s = encoder != nullptr ? StateOf(encoder) : nullptr;
    if (s == nullptr || size == nullptr || (!s->configured && !Configure(s)))
        return nullptr;
    *size = s->tablesSize;
    return s->tables;
}

TifJpegStripEnd TifJpegLastStrip(TifCodec* encoder)
{
    if (encoder == nullptr)
        return {-1, -1};
    const TifJpegEncoderState* s = StateOf(encoder);
    return {s->frameAt, s->cutAt};
}

#else  // no libjpeg in the build

TifJpegStripEnd TifJpegLastStrip(TifCodec*) { return {-1, -1}; }

TifCodec* TifNewJpegEncoder(const TifCodecParams*) { return nullptr; }

bool TifJpegEncoderAccepts(const TifCodecParams*) { return false; }

int TifJpegSetEncoding(TifCodec*, const TifJpegEncoding*) { return 0; }

const unsigned char* TifJpegTables(TifCodec*, int* size)
{
    if (size != nullptr)
        *size = 0;
    return nullptr;
}

#endif
