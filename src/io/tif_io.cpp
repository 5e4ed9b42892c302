// tif_io.cpp — the codec I/O procedures installed by CTifFile.
#include "io/tif_io.h"

#include <cstdio>
#include <cstdint>

#include "io/tif_exception.h"
#include "io/tif_stream.h"
#include "tif/tif_file.h"

int TifReadProc(unsigned char* buffer, int length, void* context)
{
    auto* file = static_cast<CTifFile*>(context);
    int left = file->m_nStripBytes;
    if (left <= 0 || length <= 0)
        return 0;  // the decoder sees the end of the strip
    int n = length < left ? length : left;
    const int got = file->m_pStream->Read(buffer, n);
    if (got != n) {
        // The stream goes back to the end of the blocks kept, so that the next
        // transfer meets the cut again and fails.
        const int keep = n > TIF_READ_BLOCK && got > 0 ? got / TIF_READ_BLOCK * TIF_READ_BLOCK : 0;
        if (keep == 0 || file->m_pStream->Seek(int64_t(keep) - got, SEEK_CUR) < 0)
            TifThrow(CTifException::kShortRead);
        n = keep;
    }
    file->m_nStripBytes -= n;
    return n;
}

namespace {

struct BitReversal {
    uint8_t of[256];
    constexpr BitReversal() : of()
    {
        for (int v = 0; v < 256; ++v) {
            int r = 0;
            for (int b = 0; b < 8; ++b)
                r |= ((v >> b) & 1) << (7 - b);
            of[v] = static_cast<uint8_t>(r);
        }
    }
};

constexpr BitReversal kReversed;

}  // namespace

int TifReadProcReversed(unsigned char* buffer, int length, void* context)
{
    const int n = TifReadProc(buffer, length, context);
    for (int i = 0; i < n; ++i)
        buffer[i] = kReversed.of[buffer[i]];
    return n;
}

int TifWriteProc(unsigned char* buffer, int length, void* context)
{
    auto* file = static_cast<CTifFile*>(context);
    if (length <= 0)
        return 0;
    const uint32_t written = static_cast<uint32_t>(file->m_nStripBytes);
    if (uint64_t(written) + uint32_t(length) > TIF_MAX_STRIP_BYTES ||
        file->m_pStream->Write(buffer, length) != length)
        TifThrow(CTifException::kShortWrite);
    file->m_nStripBytes = static_cast<int>(written + uint32_t(length));
    return length;
}
