// Platform-neutral parts of the file-system seam.
#include <cstring>
#include <ctime>

#include "framework/text_format.h"
#include "unzip/platform/file_system.h"

bool FsIsSeparator(char c) {
  return c == '/' || c == '\\';
}

const char* FsNextCharacter(const char* p) {
  return FsIsLeadByte(static_cast<unsigned char>(p[0])) && p[1] != '\0' ? p + 2 : p + 1;
}

size_t FsDirectoryLength(const char* path) {
  size_t length = 0;
  for (const char* p = path; *p != '\0'; p = FsNextCharacter(p)) {
    if (FsIsSeparator(*p)) length = static_cast<size_t>(p - path) + 1;
  }
  return length;
}

bool FsEndsWithSeparator(const char* path) {
  const char* last = nullptr;
  for (const char* p = path; *p != '\0'; p = FsNextCharacter(p)) last = p;
  return last != nullptr && FsIsSeparator(*last);
}

void FsTrimSeparators(char* path) {
  size_t keep = 0;
  for (const char* p = path; *p != '\0';) {
    const char* next = FsNextCharacter(p);
    if (!FsIsSeparator(*p)) keep = static_cast<size_t>(next - path);
    p = next;
  }
  path[keep] = '\0';
}

namespace {

// A start that differs between runs keeps a crashed run's leftovers from
// costing every later run a collision. Set at program start rather than on
// first use: a function-local static would need a thread-safe guard, which
// brings the whole threads library into the updater.
const uint32_t kTemporaryNameStart =
    static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&kTemporaryNameStart) >> 4) ^
    static_cast<uint32_t>(time(nullptr));

}  // namespace

bool FsTemporaryName(const char* target, uint32_t attempt, char* out, size_t size) {
  const uint32_t start = kTemporaryNameStart;
  const size_t dirLength = FsDirectoryLength(target);
  int n = FormatText(out, size, "%.*s~u%04x", static_cast<int>(dirLength), target,
                     static_cast<unsigned>((start + attempt * 40503u) & 0xFFFF));
  return n > 0 && static_cast<size_t>(n) < size;
}

bool FsFreeSpace(const char* path, uint64_t* bytes) {
  char directory[kUnpackMaxPath];
  if (!FsFullPath(path, directory, sizeof(directory))) return false;
  for (;;) {
    if (FsVolumeFreeSpace(directory, bytes)) return true;
    // Up to the parent; the root keeps its separator. Separators are found
    // stepping over double-byte characters, whose trail byte may be a backslash.
    const size_t end = FsDirectoryLength(directory);
    if (end == 0) return false;
    const char separator = directory[end - 1];
    directory[end - 1] = '\0';
    const bool root = FsDirectoryLength(directory) == 0;
    directory[end - 1] = separator;
    if (!root) {
      directory[end - 1] = '\0';
    } else {
      if (directory[end] == '\0') return false;
      directory[end] = '\0';
    }
  }
}
