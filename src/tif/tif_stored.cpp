// tif_stored.cpp — a strip's or tile's stored bytes handed out unchanged, for
// programs that carry compressed data into another format without decoding.
#include <climits>
#include <cstdio>

#include "io/tif_stream.h"
#include "tif/tif_file.h"
#include "tif/tif_wide.h"

int64_t CTifFile::GetRawStripSize(int index)
{
    if (m_bWrite || m_pStream == nullptr || m_pStripOffsets == nullptr || m_pStripByteCounts == nullptr ||
        index < 0 || index >= m_nStrips)
        return -1;
    const int64_t length = m_pStream->GetLength();
    const uint64_t at = TifStripOffset(this, index), bytes = TifStripBytes(this, index);
    if (length < 0 || at > uint64_t(length) || bytes > uint64_t(length) - at)
        return -1;
    return int64_t(bytes);
}

int CTifFile::ReadRawStrip(int index, uint32_t offset, void* buffer, int size)
{
    const int64_t bytes = GetRawStripSize(index);
    if (bytes < 0 || size < 0 || buffer == nullptr)
        return -1;
    if (offset >= bytes || size == 0)
        return 0;
    const int n = bytes - offset < size ? int(bytes - offset) : size;
    const int64_t at = int64_t(TifStripOffset(this, index)) + offset;  // inside the file
    // The decoder reads on from the stream's position: it is put back.
    const int64_t readAt = m_pStream->Tell();
    const bool ok = readAt >= 0 && m_pStream->Seek(at, SEEK_SET) == at && m_pStream->Read(buffer, n) == n;
    if (readAt < 0 || m_pStream->Seek(readAt, SEEK_SET) != readAt)
        return -1;
    return ok ? n : -1;
}
