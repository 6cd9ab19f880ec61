// printf-style formatting into a bounded buffer, as C99 snprintf: the answer
// is the length the whole text needs (without the terminator), out is always
// terminated when size > 0, and size 0 (out may then be null) only measures.
//
// Written in C on purpose: on Windows, C++ code always gets MinGW's own
// printf implementation (libstdc++ insists on it), while C code built with
// __USE_MINGW_ANSI_STDIO=0 uses the C runtime DLL's, which keeps about
// 26 KiB out of each program. Use only formats both agree on: %d, %u, %x,
// %X, %c, %s, %.*s, %%, with the l and 0/width modifiers; -Wformat checks
// the callers.
#ifndef FRAMEWORK_TEXT_FORMAT_H_
#define FRAMEWORK_TEXT_FORMAT_H_

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

int FormatText(char* out, size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
int FormatTextV(char* out, size_t size, const char* format, va_list args)
    __attribute__((format(printf, 3, 0)));

// The 64-bit counts the formats above cannot print (their "%ll" forms differ
// between the two printf implementations): value in decimal into out, which
// holds kDecimal64Size bytes. Answers out, for use as a "%s" argument.
enum { kDecimal64Size = 21 };
const char* FormatDecimal64(uint64_t value, char* out);

#ifdef __cplusplus
}
#endif

#endif  // FRAMEWORK_TEXT_FORMAT_H_
