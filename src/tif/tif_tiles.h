// tif_tiles.h — the layout of the tile buffers (m_ppTileRow) that reading and
// writing share: one whole-tile buffer per tile across, each holding its
// tile's lines packed, one after the other.
#pragma once

#include <cstdint>

#include "tif/tif_file.h"

// Bytes of one line of one tile: how far apart a tile buffer holds its lines,
// and how much of an image line one tile covers. Only for a file whose tile
// buffers exist: AllocTileRow made sure that the size is within the limits.
inline int TifTileLineBytes(const CTifFile* f)
{
    return static_cast<int>((int64_t(f->m_nTileWidth) * f->m_nSamplesPerPixel * f->m_nBitsPerSample + 7) >> 3);
}
