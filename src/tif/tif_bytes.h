// tif_bytes.h — reading 16- and 32-bit values of a TIFF header or directory in
// the file's byte order.
#pragma once

#include <cstdint>
#include <cstring>

inline uint16_t TifGet16(const unsigned char* p, int swap)
{
    return swap ? static_cast<uint16_t>((p[0] << 8) | p[1])
                : static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t TifGet32(const unsigned char* p, int swap)
{
    return swap ? (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3]
                : uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

inline uint16_t TifSwap16(uint16_t v) { return static_cast<uint16_t>((v >> 8) | (v << 8)); }

inline uint32_t TifSwap32(uint32_t v)
{
    return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}
