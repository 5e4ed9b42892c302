# mingw-i686.cmake — cross-build the 32-bit Windows DLL with Debian's MinGW-w64
# (posix thread variant) and zlib for MinGW:
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(TIF_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${TIF_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TIF_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TIF_MINGW_PREFIX}-windres)

# Floating point in SSE2 registers, as on x86-64: x87's extended precision
# would round the resampling positions of the BMP conversion differently.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")

# Libraries and headers come from the MinGW tree only, never from the host:
# a host inflater or libtiff found here would not link into a Windows binary.
set(CMAKE_FIND_ROOT_PATH /usr/${TIF_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The DLL and the programs carry their runtime: they import system DLLs only.
# -static takes the static libgcc, libstdc++ and winpthread; zlib is named by
# its archive so that its import library is never chosen.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(ZLIB_LIBRARY /usr/${TIF_MINGW_PREFIX}/lib/libz.a CACHE FILEPATH "zlib, static")
set(ZLIB_INCLUDE_DIR /usr/${TIF_MINGW_PREFIX}/include CACHE PATH "zlib headers")

# Tests run under Wine.
find_program(TIF_WINE NAMES wine)
if(TIF_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TIF_WINE})
endif()
