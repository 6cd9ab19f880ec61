#include "unzip/names/entry_name.h"

#include <cstring>

#include <zlib.h>

#include "unzip/archive/extra_field.h"
#include "unzip/platform/platform.h"

namespace {

const uint16_t kUnicodePathTag = 0x7075;

// The UTF-8 name of a Unicode path block that belongs to stored (its CRC-32
// matches), into name (kUnpackMaxPath bytes). 0 when the block is absent or
// stale, 1 when found, -1 when its name does not fit.
int UnicodePathName(const unsigned char* extra, size_t size, const char* stored, char* name) {
  const unsigned char* block = nullptr;
  size_t length = 0;
  if (!UnpackFindExtraBlock(extra, size, kUnicodePathTag, &block, &length) || length < 5 ||
      block[0] != 1) {
    return 0;
  }
  const uLong crc =
      crc32(0L, reinterpret_cast<const Bytef*>(stored), static_cast<uInt>(std::strlen(stored)));
  if (UnpackRead32(block + 1) != crc) return 0;
  const size_t nameLength = length - 5;
  if (nameLength >= static_cast<size_t>(kUnpackMaxPath)) return -1;
  std::memcpy(name, block + 5, nameLength);
  name[nameLength] = '\0';
  return 1;
}

}  // namespace

UnpackResult UnpackDecodeName(const char* stored, uint32_t flags, const unsigned char* localExtra,
                              size_t localSize, const unsigned char* centralExtra,
                              size_t centralSize, char* out) {
  char unicode[kUnpackMaxPath];
  const char* utf8 = nullptr;
  if (flags & kUnpackFlagUtf8Name) {
    utf8 = stored;
  } else {
    int found = UnicodePathName(localExtra, localSize, stored, unicode);
    if (found == 0) found = UnicodePathName(centralExtra, centralSize, stored, unicode);
    if (found < 0) return UNPACK_ERR_NAME_TOO_LONG;
    if (found > 0) utf8 = unicode;
  }
  if (utf8 == nullptr) {
    const size_t length = std::strlen(stored);
    if (length >= static_cast<size_t>(kUnpackMaxPath)) return UNPACK_ERR_NAME_TOO_LONG;
    std::memcpy(out, stored, length + 1);
    return UNPACK_OK;
  }
  // The ANSI form is never longer than the UTF-8 one, so a failure here is a
  // character the code page lacks (or bytes that are no UTF-8).
  if (!UnpackPlatformUtf8ToAnsi(utf8, out, kUnpackMaxPath)) return UNPACK_ERR_NAME_ENCODING;
  return UNPACK_OK;
}

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
