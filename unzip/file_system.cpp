// Platform-neutral parts of the file-system seam.
#include <cstdio>
#include <cstring>
#include <ctime>

#include "unzip/file_system.h"

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

bool FsTemporaryName(const char* target, uint32_t attempt, char* out, size_t size) {
  // A start that differs between runs keeps a crashed run's leftovers from
  // costing every later run a collision.
  static uint32_t start = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&start) >> 4) ^
                          static_cast<uint32_t>(time(nullptr));
  const size_t dirLength = FsDirectoryLength(target);
  int n = snprintf(out, size, "%.*s~u%04x", static_cast<int>(dirLength), target,
                   static_cast<unsigned>((start + attempt * 40503u) & 0xFFFF));
  return n > 0 && static_cast<size_t>(n) < size;
}
