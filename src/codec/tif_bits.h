// tif_bits.h — the few things the codecs take from the compiler rather than
// from C++17: counting zeros, swapping bytes, branch hints, and whether
// processor-specific code (inline assembly, clones picked at run time) may be
// built. Each has a plain C++17 form, used on compilers without the GCC
// builtins and everywhere when the build defines TIF_PORTABLE=1 (the CMake
// option TIF_PORTABLE), so that the plain forms are built and tested too.
#pragma once

#include <cstdint>

#if !defined(TIF_PORTABLE)
#define TIF_PORTABLE 0
#endif

// GCC's builtins (Clang has them too).
#if !TIF_PORTABLE && defined(__GNUC__)
#define TIF_GNU_BUILTINS 1
#else
#define TIF_GNU_BUILTINS 0
#endif

// x86-64 code written for GCC's compilers: inline assembly, target attributes,
// intrinsics, and clones picked at run time by CPUID.
#if TIF_GNU_BUILTINS && defined(__x86_64__)
#define TIF_GNU_X86_64 1
#else
#define TIF_GNU_X86_64 0
#endif

// The byte order is a property of the target, not of the builtins: the
// compilers' own macros tell it even when TIF_PORTABLE is set.
#if defined(__BYTE_ORDER__)
constexpr bool kTifLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
#elif defined(_MSC_VER) || defined(_WIN32)
constexpr bool kTifLittleEndian = true;  // every Windows target
#elif defined(TIF_LITTLE_ENDIAN)
constexpr bool kTifLittleEndian = TIF_LITTLE_ENDIAN != 0;
#else
#error "unknown byte order: define TIF_LITTLE_ENDIAN to 1 or 0"
#endif

#if TIF_GNU_BUILTINS
#define TIF_LIKELY(c) __builtin_expect(static_cast<bool>(c), 1)
#define TIF_UNLIKELY(c) __builtin_expect(static_cast<bool>(c), 0)
#else
#define TIF_LIKELY(c) static_cast<bool>(c)
#define TIF_UNLIKELY(c) static_cast<bool>(c)
#endif

#if TIF_GNU_BUILTINS
// Macros rather than inline functions: even always inlined, a function around
// a builtin moved GCC's inlining decisions in the fax encoder's 2D row loop,
// costing it some 1.7 % more instructions.
#define TifByteSwap64(v) __builtin_bswap64(v)
#define TifCountLeadingZeros64(v) __builtin_clzll(v)  // v != 0
#define TifCountLeadingZeros32(v) __builtin_clz(v)    // v != 0
#define TifCountTrailingZeros64(v) __builtin_ctzll(v) // v != 0
#else
inline uint64_t TifByteSwap64(uint64_t v)
{
    v = ((v >> 8) & 0x00FF00FF00FF00FFull) | ((v & 0x00FF00FF00FF00FFull) << 8);
    v = ((v >> 16) & 0x0000FFFF0000FFFFull) | ((v & 0x0000FFFF0000FFFFull) << 16);
    return (v >> 32) | (v << 32);
}

// Zero bits above the highest 1 bit; v must not be 0.
inline int TifCountLeadingZeros64(uint64_t v)
{
    int n = 0;
    for (int step = 32; step > 0; step >>= 1) {
        if ((v >> (64 - step)) == 0) {
            n += step;
            v <<= step;
        }
    }
    return n;
}

inline int TifCountLeadingZeros32(uint32_t v)
{
    return TifCountLeadingZeros64(v) - 32;
}

// Zero bits below the lowest 1 bit; v must not be 0.
inline int TifCountTrailingZeros64(uint64_t v)
{
    return 63 - TifCountLeadingZeros64(v & (0 - v));
}
#endif
