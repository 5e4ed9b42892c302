// tif_io.h — the two I/O procedures that connect a codec to its CTifFile.
//
// A codec sees only a TifIoProc and an opaque context. The procedures installed
// by the file throw CTifException on a short transfer; codecs let it pass.
#pragma once

// Transfers up to `length` bytes between `buffer` and the file behind `context`;
// returns the count moved. For a decoder, 0 or less means the strip is exhausted.
using TifIoProc = int (*)(unsigned char* buffer, int length, void* context);

// Reads the current strip or tile of the CTifFile `context`, never more than its
// remaining byte count (m_nStripBytes). Throws code 2 on a short read.
int TifReadProc(unsigned char* buffer, int length, void* context);

// Appends to the CTifFile `context` at the stream position and counts the bytes
// into m_nStripBytes. Throws code 3 on a short write.
int TifWriteProc(unsigned char* buffer, int length, void* context);
