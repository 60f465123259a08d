// Attributes of declarations whose spelling differs between systems.
//
// PLATFORM_EXPORT and PLATFORM_IMPORT mark the names a shared library offers to the programs and
// libraries that load it. The library itself declares them PLATFORM_EXPORT; its users see them
// PLATFORM_IMPORT. A library exports nothing else: code is compiled with hidden visibility on
// POSIX, and on Windows a DLL with any exported name exports only those.
#pragma once

#if defined(_WIN32)
#define PLATFORM_EXPORT __declspec(dllexport)
// Calls reach a DLL's functions through its import library.
#define PLATFORM_IMPORT
#else
#define PLATFORM_EXPORT __attribute__((visibility("default")))
// A hidden reference to a name that a shared library defines would not link.
#define PLATFORM_IMPORT __attribute__((visibility("default")))
#endif

// A function taking a printf format as parameter number formatIndex and its arguments from
// parameter number firstIndex. The C runtime of MinGW-w64 formats as C99 does
// (__USE_MINGW_ANSI_STDIO), which the plain "printf" archetype there does not know.
#if defined(_WIN32)
#define PLATFORM_PRINTF(formatIndex, firstIndex) \
  __attribute__((format(gnu_printf, formatIndex, firstIndex)))
#else
#define PLATFORM_PRINTF(formatIndex, firstIndex) \
  __attribute__((format(printf, formatIndex, firstIndex)))
#endif
