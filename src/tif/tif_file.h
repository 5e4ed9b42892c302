// tif_file.h — CTifFile: one TIFF file read or written line by line.
//
// Include this header to use the library. A CTifFile opens one image (page) of
// a TIFF file, the first unless OpenPage names another (either byte order,
// strips or tiles, PlanarConfiguration 1), and
// delivers its packed rows top to bottom into the caller's buffers, as stored
// but for the bit order: pixels always arrive most significant bit first, also
// from data stored least significant bit first (FillOrder 2, in any
// compression). No photometric inversion, no byte swapping of 16-bit samples
// (see IsBigEndian). Fax-coded rows arrive in the same sense as uncompressed
// ones (white runs are 0 bits): on the usual WhiteIsZero pages, 1 = black. It also
// creates a new little-endian file from packed rows, top to bottom.
//
// Results: members return 1 for success and 0 for failure; ReadLines and
// WriteLines return a count. Nothing is logged; GetLastFailure tells why an
// Open, OpenPage, CountPages or Create failed, and why a read failed on the
// image data. One object is used by one thread at a time.
//
// Damaged data: lines are delivered as decoded, also from damaged data, and
// counted (GetDamagedLines); a line that cannot be decoded at all makes the
// read fail.
//
// Limits: a file that would make one open object allocate a single block of more
// than 256 MiB (a row, the tile row, a tag array, a codec work array) fails to
// open (TIF_MAX_ALLOC in the sources' codec/tif_limits.h).
#pragma once

#include <cstdint>

#include "tif_export.h"  // beside this header, wherever it is installed

#if defined(_WIN32)
#include <windows.h>
#else
// The Windows palette entry.
struct RGBQUAD {
    uint8_t rgbBlue;
    uint8_t rgbGreen;
    uint8_t rgbRed;
    uint8_t rgbReserved;
};
#endif

// Public image types (nImageType). Note the odd values of the last two.
enum {
    VXIMG_MINISWHITE = 0,       // PhotometricInterpretation 0
    VXIMG_RGB = 1,              // 2, and 6 (YCbCr: as stored; JPEG-compressed: as RGB, Photometric 2)
    VXIMG_PALETTE = 2,          // 3
    VXIMG_CMYK = 9,             // 5
    VXIMG_MINISBLACK = 0x4000,  // 1
};

// The image description: fourteen 32-bit words, the last four two doubles.
struct VXIMGINFO {
    int nImageType;
    int bTiled;
    int nWidth;
    int nHeight;
    int nSamplesPerPixel;
    int nBitsPerSample;
    int nRowsPerStrip;   // tiled: the tile length
    int nCompression;    // the TIFF code as stored (1 when the tag is absent, as TIFF 6.0 says)
    int nTileWidth;      // 0 for strips
    int nTileLength;     // 0 for strips
    double dXResolution; // pixels per inch, 0.0 when absent
    double dYResolution;
};

// Why the last Open, OpenPage, CountPages, Create or AddPage failed
// (CTifFile::GetLastFailure). Values are stable; new ones are only ever added.
enum {
    VXTIFF_FAIL_NONE = 0,          // the last call succeeded
    VXTIFF_FAIL_ARGUMENT = 1,      // a null path or description
    VXTIFF_FAIL_BUSY = 2,          // this object already holds an open file
    VXTIFF_FAIL_NO_FILE = 3,       // no such file or directory
    VXTIFF_FAIL_PERMISSION = 4,    // permission denied
    VXTIFF_FAIL_NOT_A_FILE = 5,    // a directory or another thing that is not a plain file
    VXTIFF_FAIL_IN_USE = 6,        // another open stream refuses sharing (a writer, or readers for Create)
    VXTIFF_FAIL_NOT_TIFF = 7,      // no TIFF header ("II" or "MM" and 42)
    VXTIFF_FAIL_BIGTIFF = 8,       // a BigTIFF header (version 43) whose offsets are not of 8 bytes
    VXTIFF_FAIL_COMPRESSION = 9,   // compression not supported (for this image); the value says which
    VXTIFF_FAIL_PREDICTOR = 10,    // predictor not supported; the value says which
    VXTIFF_FAIL_PHOTOMETRIC = 11,  // photometric interpretation not supported; the value says which
    VXTIFF_FAIL_PLANAR = 12,       // separate planes (PlanarConfiguration 2): not supported
    VXTIFF_FAIL_DAMAGED = 13,      // a damaged directory (missing or contradictory values)
    VXTIFF_FAIL_CUT_SHORT = 14,    // data cut short: the directory, a value or the first image data
                                   // lies past the end of the file (a truncated file)
    VXTIFF_FAIL_BAD_DATA = 15,     // the first image data cannot be decoded (Open); a read: the
                                   // data is damaged (CUT_SHORT: it ends before the lines)
    VXTIFF_FAIL_TOO_LARGE = 16,    // the image needs a block above the allocation limit
    VXTIFF_FAIL_MEMORY = 17,       // out of memory
    VXTIFF_FAIL_NO_PAGE = 18,      // OpenPage: no such page (negative, or past the last)
    VXTIFF_FAIL_CREATE = 19,       // Create: the file cannot be created or written
    VXTIFF_FAIL_INVALID = 20,      // Create: the description is invalid (type, sizes, strips, tiles,
                                   // palette depth, resolution)
    VXTIFF_FAIL_NO_ENCODER = 21,   // Create: no encoder for this compression and geometry; the value
                                   // says which compression
    VXTIFF_FAIL_TOO_MANY_PAGES = 22,  // AddPage: a file holds at most TIF_MAX_WRITTEN_PAGES pages
};

class CTifStream;
class CTifPageChain;
class CTifCompression;
struct TifCodec;

class VXTIFF_API CTifFile {
public:
    CTifFile();
    ~CTifFile();  // releases everything; a file being written gets no directory
    // The object owns a handle, buffers and codecs: a copy would free them twice.
    CTifFile(const CTifFile&) = delete;
    CTifFile& operator=(const CTifFile&) = delete;

    // Opens an existing file for reading; 0 when it cannot be read (and the
    // object stays empty) or when this object already holds an open file (which
    // stays open). The first page (directory) of a multi-page file is read.
    int Open(const char* path);
    // Opens page `page` of a multi-page file, counted from 0 along the chain of
    // next-directory offsets; OpenPage(path, 0) is Open(path). 0 as for Open,
    // and for a page that does not exist (VXTIFF_FAIL_NO_PAGE).
    int OpenPage(const char* path, int page);
    // The number of pages (directories) of the file at `path`, 0 when it is not
    // a readable TIFF file (GetLastFailure says why). The chain of directories
    // ends at a zero offset, at a directory already visited (a loop), at one
    // that does not lie wholly inside the file or has no entries, and after
    // TIF_MAX_PAGES pages. Pages are counted, not checked: one that is counted
    // may still fail to open (damaged, unsupported).
    static int CountPages(const char* path);
    // Moves a file open for reading on to its next page, as OpenPage(path,
    // current + 1) would, without walking the chain of directories again
    // from the start: going through every page this way takes one directory
    // read per page. 1 on success; 0 when this was the last page
    // (VXTIFF_FAIL_NO_PAGE) or the next cannot be opened (GetLastFailure says
    // why), and the object is then empty as after a failed Open. A chain
    // that loops back is followed: bound the pages by CountPages.
    int NextPage();
    // Describes page `page` (from 0) of the file at `path` from its directory
    // alone, as GetImgInfo would after OpenPage, for pages that OpenPage
    // refuses for what they hold rather than for their directory: a
    // compression, predictor or photometric interpretation without a decoder,
    // separate planes, strip or tile arrays that do not fit, damaged image
    // data. nImageType is -1 for a PhotometricInterpretation without a public
    // type. 1 when the directory is readable (its header, its place in the
    // chain, its entries, and a positive width, height, samples and bits;
    // tile sizes when tiled), `info` filled; 0 otherwise, `info` untouched
    // and GetLastFailure saying why, as for OpenPage. Reads the directory and
    // a few of its values, never image data: bounded on any file.
    static int DescribePage(const char* path, int page, VXIMGINFO* info);

    // Why the last Open, OpenPage, CountPages, DescribePage, Create or AddPage
    // on the calling thread failed: a VXTIFF_FAIL_ code, VXTIFF_FAIL_NONE after a success. Each
    // thread has its own, as errno. VXTiff2Bmp and its variants set it too
    // when they cannot open their source. A ReadLine, ReadLines, SeekLine,
    // ReadLinesR90 or ReadLinesR270 that fails because a line cannot be
    // decoded sets VXTIFF_FAIL_CUT_SHORT (its data ends before it: a
    // truncated file or strip) or VXTIFF_FAIL_BAD_DATA (damaged data); reads
    // that succeed leave it as it was.
    static int GetLastFailure();
    // The number that goes with it: the Compression (VXTIFF_FAIL_COMPRESSION,
    // VXTIFF_FAIL_NO_ENCODER), Predictor or PhotometricInterpretation value; 0
    // for other codes.
    static int GetLastFailureValue();
    // A short English text for a code ("no such file", "not a TIFF file", ...);
    // "unknown failure" for values outside the list. Never null, static storage.
    static const char* GetFailureText(int failure);
    // The text of the last failure on this thread, the value included
    // ("compression 7 (JPEG) not supported"). Valid until the thread's next
    // call of any of these functions.
    static const char* GetLastFailureText();
    // Closes the file; 1 when the handle closed cleanly, 0 when nothing was open.
    // A file made by Create is finished first: the last strip or tile row, the
    // directory, the header, a flush to disk. A file given fewer lines than
    // its height holds exactly the lines written: its ImageLength is their
    // number (the last strip short, the last tile row padded). 0 when no line
    // was written or any of it fails (or an earlier write failed); the object
    // is empty afterwards either way, and the file then does not begin with a
    // TIFF header.
    int Close();
    void GetImgInfo(VXIMGINFO* info);
    // Fills up to `count` entries of a palette image's colour map (16-bit maps
    // scaled to 8 bits); leaves `colors` untouched for other images.
    void GetColorMap(int count, RGBQUAD* colors);

    // Positions so that the next ReadLine delivers `line` (negative: 0). 0 when
    // the line does not exist or cannot be reached.
    int SeekLine(int line);
    // Delivers the next line into `row` (at least the row bytes, for a tiled
    // image at least the buffer stride). 1 when a line was delivered.
    int ReadLine(void* row);
    // Delivers up to `count` lines spaced by the buffer stride; returns how many.
    int ReadLines(void* rows, int count);
    // Sets the distance between rows in the caller's buffers, for ReadLines and
    // WriteLines. When writing, a distance below the row bytes is ignored. The
    // codec stride of the second form is accepted and not used: every call
    // hands its codec the buffer stride itself, so rows always lie rowBytes
    // apart in the caller's buffer.
    void SetBufRowBytes(int rowBytes);
    void SetBufRowBytes(int rowBytes, int codecStride);

    // Delivers rotated lines `first` .. `first` + `count` − 1 of the image turned
    // a quarter turn clockwise (R90) or counter-clockwise (R270). A rotated line
    // is a source column: H pixels packed without gaps, (H × bits + 7) / 8
    // bytes; pixels of 1, 2 or 4 bits go most significant first with the unused
    // bits at the line's end 0, pixels of whole bytes are copied as stored.
    // Lines follow each other directly in `buffer`. R90 line L is column L read
    // bottom up; R270 line L is column W − 1 − L read top down. Returns 1 on
    // success (also for `count` ≤ 0), 0 when the lines are outside the image or
    // the pixels are of another size (3, 6, 12 bits...; buffer untouched both
    // times) or cannot be decoded. The read position moves: call SeekLine
    // before resuming ReadLine or ReadLines.
    int ReadLinesR90(void* buffer, int first, int count);
    int ReadLinesR270(void* buffer, int first, int count);

    // The number of lines of this page, among those read so far, that were
    // damaged: delivered although decoded from invalid data (an invalid
    // code, a row that does not end exactly at the width, a missing EOL, a
    // PackBits run past the row, data after a Deflate stream error), or that
    // cannot be decoded at all (every line from where the decoding of a strip
    // or tile row stops to its end, counted when a read meets it). Lines
    // count as the reading passes them: ReadLine, ReadLines, the lines that
    // SeekLine decodes on its way (a JPEG strip's lines are passed over
    // undecoded, and count only once read), and rotated reading (all lines
    // of the tiles it decodes).
    // Each line counts once, however often it is decoded again (a tiled image
    // counts per tile: a line damaged in two of its tiles counts twice).
    // *firstLine (unless null) receives the first of them, -1 when none. 0 on
    // an object that reads nothing; a new page starts from 0.
    int GetDamagedLines(int* firstLine);

    // Creates (or truncates) `path` and prepares to write the image `info`
    // describes: any of the five image types, strips (nRowsPerStrip rows each,
    // 0: one strip) or tiles (bTiled; sizes raised to multiples of 32 and
    // stored back into `info`, 0 meaning 128), compression 1 (none), 2, 3 or
    // 4 (the fax codings, bilevel images), 5 (LZW), 32773 (PackBits), 8
    // (Deflate), 32946 (the same Deflate data under its older code, which
    // some readers warn about) or 7 (baseline JPEG, where the build has
    // libjpeg: 8-bit grey, CMYK, and RGB written as YCbCr subsampled 2x2;
    // nRowsPerStrip is raised to whole bands of blocks, 16 rows for RGB and
    // 8 else, and stored back),
    // resolutions in pixels per inch (0: none). 0 when this object holds an
    // open file (left as it is), for an unknown image type (no file touched),
    // and, after removing the file it made, for a non-positive height, a
    // negative nRowsPerStrip, a row size past the allocation limit, a palette
    // of more than 16 bits, a resolution that is negative, not finite or above
    // 2^31 − 1 (non-whole values: above 2147483.647), a compression without an
    // encoder, or no memory. The file is written little-endian ("II"), as
    // classic TIFF when it ends below 4 GiB, else as BigTIFF (decided at
    // Close from the file's real size; see SetBigTiff).
    int Create(const char* path, VXIMGINFO* info);
    // Asks that the file being written be BigTIFF whatever its size (force
    // 1), or chosen by its size as usual (0); any time before Close. 1 when
    // taken; 0 when no file is being written.
    int SetBigTiff(int force);
    // Finishes the page being written, as Close does (its last strip or tile
    // row and its directory; a page given fewer lines than its height holds
    // the lines written), and begins the next page of the same file from
    // `info`, as Create describes (tile sizes are stored back likewise). Each
    // page has its own type, size, compression, layout and resolution; the
    // palette (SetColorMap), the encoding parameters (SetEncodeParams), the
    // tags (SetTag) and the buffer stride start afresh. Every page of a file of several pages
    // carries PageNumber: its index from 0 and the page count. Memory does
    // not grow with the pages beyond 24 bytes each. 1 on success. 0 with
    // nothing changed when no file is being written or `info` is null; 0 when
    // the page cannot be finished (no line written, a write failure) or the
    // description is refused (as by Create, and past TIF_MAX_WRITTEN_PAGES):
    // the write has then failed as a whole, Close returns 0 and the file gets
    // no header. GetLastFailure says why.
    int AddPage(VXIMGINFO* info);
    // Fills the page being written, before its first line, with the stored
    // strips or tiles of the page `source` has open for reading, byte for
    // byte: no decoding, no encoding. The page must have been described as
    // the source is (GetImgInfo; Deflate's two codes count as one, the page
    // keeping the code it was described with), and the
    // source's data must mean the same in this file: its Predictor and
    // T4Options are taken over, FillOrder 1, and samples above 8 bits only
    // from a little-endian file. 1 when copied; the page is then complete.
    // 0 with nothing written when any of that does not hold, or when a
    // stored strip or tile runs past the end of the source file (write the
    // lines instead); 0 when the source cannot be read, after which the write has
    // failed as a whole. The source's read position is kept.
    int CopyPageData(CTifFile* source);
    // The stored bytes of strip (or tile) `index` of the page open for
    // reading, as its StripByteCounts (TileByteCounts) entry gives them: -1
    // when no page is open for reading, there is no such strip, or its bytes
    // do not lie wholly inside the file (a damaged or cut file).
    int64_t GetRawStripSize(int index);
    // Copies up to `size` stored bytes of strip (or tile) `index`, from byte
    // `offset` of it on, into `buffer` unchanged: no decoding, no bit
    // reversal. The count copied, 0 from the strip's end on; -1 when
    // GetRawStripSize is -1, for a negative `size` or a null `buffer`, or when
    // the read fails. The read position of ReadLine and ReadLines is kept.
    int ReadRawStrip(int index, uint32_t offset, void* buffer, int size);
    // Writes the next line: the image row's packed bytes (a tiled image reads
    // only those too, padding the last tile with zero bits). The row is only
    // read, Predictor 2 included. 0 when nothing is being written, beyond the
    // last line, or when the write fails (after which the file cannot be
    // finished).
    int WriteLine(void* row);
    // Writes up to `count` lines spaced by the buffer stride (SetBufRowBytes);
    // returns how many were written. Lines beyond the image are refused.
    int WriteLines(void* rows, int count);
    // Sets the palette of a palette image being written (or read), each
    // component times 257. Written as exactly 3 × 2^BitsPerSample values,
    // padded with black or cut. Nothing changes for count ≤ 0, a null array,
    // or another image type; at most 65536 colours are kept.
    void SetColorMap(int count, RGBQUAD* colors);
    // Sets an encoding parameter before the first line: 317 Predictor (1 or 2,
    // 8- or 16-bit samples) for LZW and Deflate, 292 T4Options for Group 3,
    // 65537 (not a tag, never written) the quality of JPEG, 1-100. 1 when
    // taken (other tags are accepted and ignored); 0 when not writing, after
    // the first line, or when the encoder refuses the value (nothing changes).
    int SetEncodeParams(unsigned int tag, unsigned int value);

    // Reading tags of the open page (any time while it is open: the read
    // position is kept). `tag` is the TIFF tag number; a field type is the
    // TIFF 6.0 number: 1 BYTE, 2 ASCII, 3 SHORT, 4 LONG, 5 RATIONAL, 6 SBYTE,
    // 7 UNDEFINED, 8 SSHORT, 9 SLONG, 10 SRATIONAL, 11 FLOAT, 12 DOUBLE. Of
    // duplicate entries the first counts. Arrays are allocated with malloc
    // and released by the caller with free; values that do not lie wholly
    // inside the file, or a block past the allocation limit, fail (0, count 0)
    // before anything is allocated, whatever the entry claims.
    //
    // The entry itself (12 bytes in file byte order) or null.
    unsigned char* FindTag(int tag);
    // 1 when the entry exists: its field type as stored (also one of no
    // TIFF 6.0 type) and its number of values; 0 when absent or its count
    // is above 2^31 − 1.
    int GetTagInfo(int tag, int* type, int* count);
    // The first value of a BYTE, ASCII, SBYTE, UNDEFINED, SHORT, SSHORT,
    // LONG or SLONG entry, taken from the entry's value field whatever the
    // count (no sign extension but for SLONG): for values stored elsewhere
    // use the array readers. 0 (value untouched) when absent or of another type.
    int GetTagValue(int tag, int* value);
    // Every value of the entry, whatever its type, in host byte order: *count
    // values of 1 (BYTE, ASCII, SBYTE, UNDEFINED), 2 (SHORT, SSHORT), 4 (LONG,
    // SLONG, FLOAT) or 8 bytes (RATIONAL and SRATIONAL: numerator then
    // denominator, two 32-bit numbers; DOUBLE). 0 with *values null for an
    // unknown type and as above; nothing to free then.
    int GetTagData(int tag, int* type, int* count, void** values);
    // An ASCII entry as text, ended by a NUL (at its first NUL, or added when
    // the file has none). 0 with *text null for another type and as above.
    int GetTagText(int tag, char** text);
    // Typed arrays: the values of a BYTE or UNDEFINED entry; of a SHORT entry;
    // of a SHORT or LONG (or signed) entry widened to 32 bits; of a RATIONAL
    // entry as numerator, denominator pairs (2 × count numbers). On failure
    // *array may still hold a block to free.
    int GetTagBytes(int tag, int* count, unsigned char** array);
    int GetTagShorts(int tag, int* count, uint16_t** array);
    int GetTagLongs(int tag, int* count, uint32_t** array);
    int GetTagRationals(int tag, int* count, uint32_t** array);
    // 1 when the open file is big-endian ("MM"): ReadLine, ReadLines and the
    // rotated readers then deliver samples of 16 bits (and of 24, 32, 64) with
    // their most significant byte first, as stored; 0 for a little-endian file
    // ("II") and for a file being written (always "II"). A caller that copies
    // such rows to WriteLine swaps the bytes of each sample first: the writer
    // takes samples little-endian.
    int IsBigEndian();

    // Writing tags of the page being written, between Create (or AddPage)
    // and the Close or AddPage that finishes it: `count` values of field
    // `type` (numbers as for reading) in host byte order, laid out as
    // GetTagData delivers them; ASCII text includes its closing NUL in
    // `count`. Setting a tag again replaces it; the values are copied. Only
    // this page gets them. 1 when taken; 0, nothing changed, when nothing is
    // being written (or a write failed), for a null array, a type outside
    // 1–12, a count below 1 or beyond the allocation limit, ASCII without its
    // NUL, and for the tags the library writes itself or that would lie about
    // the data: the image structure (254–259, 262, 266, 273, 277–279, 284),
    // strips and tiles (322–325), the resolutions (282, 283: give them in
    // the description), compression parameters (292, 293, 317: SetEncodeParams),
    // the colour map (320: SetColorMap) and tags holding file offsets (288,
    // 289, 330, 34665, 34853, 40965). Checked tags: ResolutionUnit (296) one
    // SHORT 1 (none: the description's resolutions are then written as
    // given), 2 (inch, the default) or 3 (centimetre: they are written per
    // centimetre); Orientation (274) one SHORT 1–8; PageNumber (297) two
    // SHORTs, refused on the second page on, and replaced on the first by
    // the writer's numbering once AddPage makes it one of several;
    // ExtraSamples (338) one SHORT 0–2 for each sample beyond the colour ones
    // (written as 0, unspecified, when not set); SampleFormat (339) 1 or
    // SamplesPerPixel SHORTs, all alike, 1 (unsigned), 2 (signed) or
    // 3 (IEEE floating point, for samples of 16, 24, 32 or 64 bits).
    int SetTag(int tag, int type, int count, const void* values);

    // Internal operations, public as the rest of the class.
    // Opening, in steps: the header and the page's directory offset (the
    // stream left open), the directory's entries, the image they describe,
    // and the decoder with the strip or tile arrays (ReadIfd does the last
    // three).
    int FindPage(const char* path, int page, uint64_t* offset);
    int ReadEntries(uint64_t offset);
    int ReadDescription();
    int ReadStripLayout();
    int ReadTileLayout();
    int ReadIfd(uint64_t offset);
    int OpenDirectory(uint64_t offset);  // the rest of OpenPage, once the directory is found
    int ReadColorMap();
    void FreeAll();
    void FreePage();  // what FreeAll frees but the stream: between pages
    // Clears what describes an image (byte order, tiles, resolutions, colours,
    // strip count, positions) so nothing of a previous file shows through.
    void ResetImage();
    // Allocates m_ppTileRow: m_nTilesAcross zeroed whole-tile buffers. 0 when
    // the tile row would exceed the allocation limit or memory runs out.
    int AllocTileRow();
    int LoadStrip(int index);
    int LoadTileRow(int first);
    int CopyTileLines(void* dst, int line, int count);

    // Directory writing, inside Close of a file made by Create. The setters
    // find the entry (0 when absent) and store host-order values in file byte
    // order: in the entry when they take at most 4 bytes, else behind the
    // data at m_nWriteOffset raised to a multiple of 4.
    int AddTag(int tag, int type);  // appends an empty entry unless the tag exists
    int SetTagValue(int tag, int value);
    int SetTagBytes(int tag, int count, const unsigned char* bytes);
    int SetTagShorts(int tag, int count, const uint16_t* values);
    int SetTagLongs(int tag, int count, const uint32_t* values);
    int SetTagRationals(int tag, int count, const uint32_t* pairs);  // numerator, denominator
    void SortTags();
    int BuildIfd();   // base entries plus every entry the image needs
    int WriteIfd();   // values and the directory, chained behind the previous page's
    int WriteChained(CTifPageChain* chain);  // the directory itself, and its link
    int AddColorMapTag();
    int WriteColorMap();

    // Image writing (tif_write.cpp).
    int BeginWriteStrip(int index);  // starts a strip or tile at m_nWriteOffset
    int EndWriteStrip(int index);    // flushes it and records it as entry `index`
    int NextWriteStrip();            // ends the current strip, begins the next
    int EncodeTileRow();             // encodes the held tile row, tile by tile
    void FailWrite();                // a failed write: no encoder, no finishing
    int FinishData();                // the last strip or tile row; the image cut to the lines written
    int CloseWrite();                // Close of a file made by Create

    // Field list: exported interface; order and types are fixed. A caller
    // reads them, never writes them: the image description (m_nImageType to
    // m_nPhotometric, as GetImgInfo gives it; m_nWidth is the image width,
    // for tiled images too), the strip or tile arrays (m_nStrips entries of
    // file offsets and stored byte counts; GetRawStripSize checks them against
    // the file), the colour map (m_nColors entries, 16 bits each) and the
    // directory as read (m_pIfd, m_nEntries entries at m_pEntries, in file
    // byte order, m_bSwap when it differs from the host's). The others are the
    // reading and writing state, internal.
    //
    // BigTIFF: the 32-bit offsets and byte counts (m_pStripOffsets,
    // m_pStripByteCounts, m_nStripOffset, m_nWriteOffset, and the value
    // fields of m_pEntries) hold the true value up to 0xFFFFFFFF and
    // 0xFFFFFFFF for anything beyond; GetRawStripSize and ReadRawStrip give
    // the true sizes and bytes. A BigTIFF directory is held in the classic
    // form (m_nEntries entries of 12 bytes, each count cut likewise), its
    // LONG8, SLONG8 and IFD8 entries (types 16, 17, 18) of 8-byte values.
    CTifStream* m_pStream;
    int m_bWrite;
    int m_bSwap;
    unsigned char* m_pIfd;
    uint16_t m_nEntries;
    unsigned char* m_pEntries;
    int m_nImageType;
    int m_nWidth;
    int m_nHeight;
    int m_nSamplesPerPixel;
    int m_nBitsPerSample;
    int m_nRowsPerStrip;
    int m_nCompression;
    double m_dXResolution;
    double m_dYResolution;
    int m_nPhotometric;
    int m_nStrips;
    uint32_t* m_pStripOffsets;
    uint32_t* m_pStripByteCounts;
    int m_nColors;
    uint16_t* m_pRedMap;
    uint16_t* m_pGreenMap;
    uint16_t* m_pBlueMap;
    int m_nRowBytes;
    int m_nBufRowBytes;
    uint32_t m_nWriteOffset;
    int m_nCurLine;
    // Strips: the strip being decoded. Tiles: the first tile after the held tile
    // row; TIF_NO_TILE_ROW when m_ppTileRow holds no complete tile row.
    int m_nCurStrip;
    uint32_t m_nStripOffset;
    int m_nStripBytes;
    int m_nStripLinesLeft;
    uint32_t* m_pWriteOffsets;
    uint32_t* m_pWriteByteCounts;
    int m_nTileLength;
    int m_nTileWidth;
    int m_nTilesAcross;
    int m_nTilesDown;
    int m_nTiles;
    unsigned char** m_ppTileRow;
    int m_bTiled;
    CTifCompression* m_pCompression;
    TifCodec* m_pEncoder;
    TifCodec* m_pDecoder;
};

// Pages past this many are neither counted nor opened.
constexpr int TIF_MAX_PAGES = 65536;
// A written file holds at most this many pages: PageNumber counts them in a SHORT.
constexpr int TIF_MAX_WRITTEN_PAGES = 65535;

// m_nCurStrip of a tiled image whose tile buffers hold no valid tile row (after
// rotated reading or a failed load): the next read or seek decodes again.
constexpr int TIF_NO_TILE_ROW = -1;
