#include "framework/text_format.h"

#include <stdio.h>

int FormatTextV(char* out, size_t size, const char* format, va_list args) {
  return vsnprintf(out, size, format, args);
}

int FormatText(char* out, size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = vsnprintf(out, size, format, args);
  va_end(args);
  return n;
}
