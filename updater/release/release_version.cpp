#include "updater/release/release_version.h"

bool ParseVersion(const char* text, size_t size, ReleaseVersion* version) {
  ReleaseVersion parsed = {};
  size_t at = 0;
  for (;;) {
    if (parsed.count == kVersionMaxParts) return false;
    uint32_t value = 0;
    int digits = 0;
    while (at < size && text[at] >= '0' && text[at] <= '9') {
      if (++digits > kVersionMaxDigits) return false;
      value = value * 10 + static_cast<uint32_t>(text[at++] - '0');
    }
    if (digits == 0) return false;
    parsed.parts[parsed.count++] = value;
    if (at == size) break;
    if (text[at++] != '.') return false;
  }
  *version = parsed;
  return true;
}

int CompareVersions(const ReleaseVersion& a, const ReleaseVersion& b) {
  const int count = a.count > b.count ? a.count : b.count;
  for (int i = 0; i < count; ++i) {
    const uint32_t x = i < a.count ? a.parts[i] : 0;
    const uint32_t y = i < b.count ? b.parts[i] : 0;
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

CString FormatVersion(const ReleaseVersion& version) {
  CString text;
  for (int i = 0; i < version.count; ++i) {
    CString part;
    part.Format(i == 0 ? "%u" : ".%u", static_cast<unsigned>(version.parts[i]));
    text += part;
  }
  return text;
}
