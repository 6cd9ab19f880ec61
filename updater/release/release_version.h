// Product versions: dotted decimal numbers such as 2.0.0 or 2.0.0.17,
// compared part by part as numbers, a missing part counting as 0 (so 2.0
// and 2.0.0 are the same version, and 2.10 is above 2.9).
#ifndef UPDATER_RELEASE_RELEASE_VERSION_H_
#define UPDATER_RELEASE_RELEASE_VERSION_H_

#include <cstddef>
#include <cstdint>

#include "framework/cstring.h"

const int kVersionMaxParts = 8;
const int kVersionMaxDigits = 9;  // per part, so that every part fits 32 bits

struct ReleaseVersion {
  uint32_t parts[kVersionMaxParts];
  int count;  // 1 to kVersionMaxParts
};

// Parses exactly size bytes at text: 1 to kVersionMaxParts parts of 1 to
// kVersionMaxDigits decimal digits, separated by single dots; nothing else
// (no sign, space or empty part). False otherwise.
bool ParseVersion(const char* text, size_t size, ReleaseVersion* version);
inline bool ParseVersion(const char* text, ReleaseVersion* version) {
  size_t size = 0;
  while (text[size] != '\0') ++size;
  return ParseVersion(text, size, version);
}

// Negative, 0 or positive as a is below, the same as or above b.
int CompareVersions(const ReleaseVersion& a, const ReleaseVersion& b);

// The parts as parsed, leading zeros dropped ("2.01" gives "2.1").
CString FormatVersion(const ReleaseVersion& version);

#endif  // UPDATER_RELEASE_RELEASE_VERSION_H_
