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

const char* FormatDecimal64(uint64_t value, char* out) {
  char digits[kDecimal64Size];
  int count = 0;
  do {
    digits[count++] = (char)('0' + value % 10);
    value /= 10;
  } while (value != 0);
  for (int i = 0; i < count; ++i) out[i] = digits[count - 1 - i];
  out[count] = '\0';
  return out;
}
