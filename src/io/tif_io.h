// tif_io.h — the two I/O procedures that connect a codec to its CTifFile.
//
// A codec sees only a TifIoProc and an opaque context. The procedures installed
// by the file throw CTifException on a short transfer; codecs let it pass.
#pragma once

#include <cstdint>

// A strip's (or tile's) byte count is kept in 32 bits: a written strip ends
// before it grows past this many bytes.
constexpr uint64_t TIF_MAX_STRIP_BYTES = 0xFFFFFFFFu;

// Transfers up to `length` bytes between `buffer` and the file behind `context`;
// returns the count moved. For a decoder, 0 or less means the strip is exhausted.
using TifIoProc = int (*)(unsigned char* buffer, int length, void* context);

// The unit in which a strip cut short by the end of the file is read: the whole
// blocks before the cut are delivered, the block it falls in fails. Larger
// transfers keep this, so a transfer buffer's size never changes which rows of
// a damaged file are read.
constexpr int TIF_READ_BLOCK = 32768;

// Reads the current strip or tile of the CTifFile `context`, never more than its
// remaining byte count (m_nStripBytes). Throws code 2 on a short read: at once
// when `length` is at most TIF_READ_BLOCK; after returning the whole blocks
// read, from the transfer's start, when it is longer.
int TifReadProc(unsigned char* buffer, int length, void* context);
// TifReadProc for data stored least significant bit first (FillOrder 2): the
// bytes read are turned most significant bit first, as every decoder but the
// fax ones (which read either order) expects them.
int TifReadProcReversed(unsigned char* buffer, int length, void* context);

// Appends to the CTifFile `context` at the stream position and counts the bytes
// into m_nStripBytes (as an unsigned 32-bit count). Throws code 3 on a short
// write, and before a strip grows past TIF_MAX_STRIP_BYTES.
int TifWriteProc(unsigned char* buffer, int length, void* context);
