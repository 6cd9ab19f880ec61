#include "unzip/entry_name.h"

#include <cstring>

#include "unzip/platform.h"

void UnpackCleanName(const char* stored, char* out, size_t outSize) {
  static const char* const kParentPatterns[] = {"\\..\\", "\\../", "/../", "/..\\"};
  const char* p = stored;
  // Every pass either advances p by at least one byte or ends the loop.
  for (;;) {
    if (p[0] != '\0' && p[1] == ':') {
      p += 2;
      continue;
    }
    if (p[0] == '\\' || p[0] == '/') {
      p += 1;
      continue;
    }
    const char* found = nullptr;
    for (const char* pattern : kParentPatterns) {
      found = UnpackPlatformFindText(p, pattern);
      if (found != nullptr) break;
    }
    if (found != nullptr) {
      p = found + 4;
      continue;
    }
    if (p[0] == '.' && p[1] == '.' && (p[2] == '/' || p[2] == '\\')) {
      p += 3;
      continue;
    }
    break;
  }
  const size_t length = std::strlen(p);
  const size_t copied = length < outSize ? length : outSize - 1;
  std::memcpy(out, p, copied);
  out[copied] = '\0';
}
