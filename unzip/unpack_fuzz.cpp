// libFuzzer target: arbitrary bytes as an archive file, opened, counted and
// every entry looked up. At most kMaxLookUps: a central record takes 46 bytes,
// so inputs of a few kilobytes hold far fewer entries, while a promise of
// 65535 in the end record would otherwise make each run slow.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "unzip/unpack.h"

namespace {

const int32_t kMaxLookUps = 256;

std::string ScratchPath() {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir != nullptr ? dir : "/tmp") + "/unpack_fuzz_" +
         std::to_string(static_cast<long>(getpid())) + ".zip";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = ScratchPath();
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return 0;
  const bool written = std::fwrite(data, 1, size, file) == size;
  if (std::fclose(file) != 0 || !written) return 0;

  UnpackHandle handle = UnpackOpen(path.c_str(), "");
  UnpackEntryInfo info = {};
  if (handle != nullptr && UnpackGetEntry(handle, -1, &info) == UNPACK_OK) {
    const int32_t count = info.nIndex < kMaxLookUps ? info.nIndex : kMaxLookUps;
    for (int32_t i = 0; i < count; ++i) {
      if (UnpackGetEntry(handle, i, &info) == UNPACK_OK) {
        // The name must be terminated inside its field.
        bool terminated = false;
        for (char c : info.szName) terminated = terminated || c == '\0';
        if (!terminated) __builtin_trap();
      }
    }
    UnpackGetEntry(handle, 0, &info);  // a walk back to the start
  }
  UnpackClose(handle);
  std::remove(path.c_str());
  return 0;
}
