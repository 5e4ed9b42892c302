// tif_bytes.h — reading and storing 16-, 32- and 64-bit values of a TIFF header or
// directory in the file's byte order.
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

inline uint64_t TifGet64(const unsigned char* p, int swap)
{
    return swap ? uint64_t(TifGet32(p, 1)) << 32 | TifGet32(p + 4, 1)
                : uint64_t(TifGet32(p + 4, 0)) << 32 | TifGet32(p, 0);
}

inline uint16_t TifSwap16(uint16_t v) { return static_cast<uint16_t>((v >> 8) | (v << 8)); }

inline uint32_t TifSwap32(uint32_t v)
{
    return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

// Storing 16- and 32-bit values in the file's byte order (swap: big-endian).
inline void TifPut16(unsigned char* p, uint32_t v, int swap)
{
    if (swap) {
        p[0] = static_cast<unsigned char>(v >> 8);
        p[1] = static_cast<unsigned char>(v);
    } else {
        p[0] = static_cast<unsigned char>(v);
        p[1] = static_cast<unsigned char>(v >> 8);
    }
}

inline void TifPut32(unsigned char* p, uint32_t v, int swap)
{
    TifPut16(p + (swap ? 2 : 0), v & 0xFFFFu, swap);
    TifPut16(p + (swap ? 0 : 2), v >> 16, swap);
}

inline void TifPut64(unsigned char* p, uint64_t v, int swap)
{
    TifPut32(p + (swap ? 4 : 0), uint32_t(v), swap);
    TifPut32(p + (swap ? 0 : 4), uint32_t(v >> 32), swap);
}
