// libFuzzer target: arbitrary bytes as an archive file, opened, counted and
// every entry looked up. At most kMaxLookUps: a central record takes 46 bytes,
// so inputs of a few kilobytes hold far fewer entries, while a promise of
// 65535 in the end record would otherwise make each run slow. Then the
// entries are extracted under their cleaned names into a scratch folder nested
// three levels deep, and the run traps when anything appears beside it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
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

const int32_t kMaxExtractions = 64;
const uint32_t kMaxExtractedSize = 16u << 20;

// root/a/b/base: an escape of up to three levels lands in a folder that
// must hold nothing but the next one down.
struct Sandbox {
  std::filesystem::path root;
  std::filesystem::path base;
};

const Sandbox& TheSandbox() {
  static const Sandbox sandbox = [] {
    const char* dir = std::getenv("TMPDIR");
    Sandbox s;
    s.root = std::filesystem::path(dir != nullptr ? dir : "/tmp") /
             ("unpack_fuzz_" + std::to_string(static_cast<long>(getpid())));
    s.base = s.root / "a" / "b" / "base";
    std::filesystem::remove_all(s.root);
    std::filesystem::create_directories(s.base);
    return s;
  }();
  return sandbox;
}

bool HoldsOnly(const std::filesystem::path& dir, const char* name) {
  int count = 0;
  for (const auto& item : std::filesystem::directory_iterator(dir)) {
    if (item.path().filename() != name) return false;
    ++count;
  }
  return count == 1;
}

void ExtractAll(UnpackHandle handle, int32_t count) {
  const Sandbox& sandbox = TheSandbox();
  UnpackSetBaseDir(handle, (sandbox.base.string() + "/").c_str());
  int32_t extracted = 0;
  for (int32_t i = 0; i < count && extracted < kMaxExtractions; ++i) {
    UnpackEntryInfo info = {};
    if (UnpackGetEntry(handle, i, &info) != UNPACK_OK) continue;
    if (info.nUnpackedSize > kMaxExtractedSize) continue;
    ++extracted;
    UnpackExtract(handle, i, info.szName);
  }
  if (!HoldsOnly(sandbox.root, "a") || !HoldsOnly(sandbox.root / "a", "b") ||
      !HoldsOnly(sandbox.root / "a" / "b", "base")) {
    __builtin_trap();  // something was written outside the base directory
  }
  std::error_code ignored;
  std::filesystem::remove_all(sandbox.base, ignored);
  std::filesystem::create_directories(sandbox.base);
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
    ExtractAll(handle, count);
  }
  UnpackClose(handle);
  std::remove(path.c_str());
  return 0;
}
