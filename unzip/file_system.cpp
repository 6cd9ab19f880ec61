// Platform-neutral parts of the file-system seam.
#include <cstdio>
#include <cstring>
#include <ctime>

#include "unzip/file_system.h"

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
  size_t dirLength = 0;
  for (size_t i = 0; target[i] != '\0'; ++i) {
    if (target[i] == '/' || target[i] == '\\') dirLength = i + 1;
  }
  int n = snprintf(out, size, "%.*s~u%04x", static_cast<int>(dirLength), target,
                   static_cast<unsigned>((start + attempt * 40503u) & 0xFFFF));
  return n > 0 && static_cast<size_t>(n) < size;
}

bool FsFreeSpace(const char* path, uint64_t* bytes) {
  char directory[kUnpackMaxPath];
  if (!FsFullPath(path, directory, sizeof(directory))) return false;
  for (;;) {
    if (FsVolumeFreeSpace(directory, bytes)) return true;
    // Up to the parent; the root keeps its separator.
    char* last = std::strrchr(directory, FsSeparator());
    if (last == nullptr) return false;
    char* cut = last;
    while (cut > directory && cut[-1] != FsSeparator()) --cut;
    if (cut == directory) ++last;  // no separator before the last: a root
    if (*last == '\0') return false;
    *last = '\0';
  }
}
