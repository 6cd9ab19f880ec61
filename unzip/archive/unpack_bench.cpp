// Times the lookup of every entry, in ascending order, of archives built with
// 16384 and 65535 entries; prints entries per second and reads per entry.
// Not a test: run the release build (cmake --preset release).
#include <chrono>
#include <cstdio>
#include <string>

#include "testing/zip_builder.h"
#include "unzip/unpack.h"
#include "unzip/archive/unpack_source.h"
#include "testing/unpack_test_util.h"

namespace {

bool Measure(const CTempDir& dir, int entries) {
  zipbuild::ZipBuilder builder;
  for (int i = 0; i < entries; ++i) {
    zipbuild::ZipEntry entry;
    entry.name = "dir" + std::to_string(i % 97) + "/file" + std::to_string(i) + ".txt";
    entry.data = "x";
    entry.localExtra = zipbuild::UtBlock(0x01, {1600000000 + i});
    builder.Add(entry);
  }
  const std::string path = dir.File("bench" + std::to_string(entries) + ".zip");
  if (!builder.Save(path)) return false;

  const auto start = std::chrono::steady_clock::now();
  UnpackHandle handle = UnpackOpen(path.c_str(), "");
  if (handle == nullptr) return false;
  UnpackEntryInfo info = {};
  const uint64_t readsBefore = UnpackSourceReadCount();
  const uint64_t fileReadsBefore = UnpackSourceFileReadCount();
  for (int32_t i = 0; i < entries; ++i) {
    if (UnpackGetEntry(handle, i, &info) != UNPACK_OK) {
      std::printf("lookup %d failed: 0x%X\n", i, UnpackLastResult);
      UnpackClose(handle);
      return false;
    }
  }
  const uint64_t reads = UnpackSourceReadCount() - readsBefore;
  const uint64_t fileReads = UnpackSourceFileReadCount() - fileReadsBefore;
  UnpackClose(handle);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf(
      "%6d entries: %.3f s, %.0f entries/s; per entry %.1f reads by minizip, %.3f file reads\n",
      entries, seconds, entries / seconds, static_cast<double>(reads) / entries,
      static_cast<double>(fileReads) / entries);
  return true;
}

}  // namespace

int main() {
  CTempDir dir;
  bool ok = true;
  for (int entries : {16384, 32768, 65535}) ok = Measure(dir, entries) && ok;
  return ok ? 0 : 1;
}
