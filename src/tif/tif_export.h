// tif_export.h — symbol visibility for the public API of libvxtiff.
//
// The shared library is compiled with hidden visibility; only what is marked
// VXTIFF_API is exported. VXTIFF_STDCALL is the Windows calling convention of
// the plain C export and empty elsewhere.
#pragma once

#if defined(_WIN32)
#  if defined(VXTIFF_BUILDING)
#    define VXTIFF_API __declspec(dllexport)
#  elif defined(VXTIFF_STATIC)
#    define VXTIFF_API
#  else
#    define VXTIFF_API __declspec(dllimport)
#  endif
#  define VXTIFF_STDCALL __stdcall
#else
#  define VXTIFF_API __attribute__((visibility("default")))
#  define VXTIFF_STDCALL
#endif
