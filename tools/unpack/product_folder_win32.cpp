// Attributes and the three times from GetFileAttributesExW.
#include <windows.h>

#include "tools/unpack/product_folder.h"

namespace {

int64_t UnixSeconds(const FILETIME& time) {
  const uint64_t ticks = (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  return static_cast<int64_t>(ticks / 10000000ull) - 11644473600ll;
}

}  // namespace

bool ReadItemMeta(const std::filesystem::path& path, ZipEntryMeta* meta) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
  meta->attributes =
      data.dwFileAttributes & (kUnpackAttrReadOnly | kUnpackAttrHidden | kUnpackAttrSystem |
                               kUnpackAttrDirectory | kUnpackAttrArchive);
  meta->lastWrite = UnixSeconds(data.ftLastWriteTime);
  meta->lastAccess = UnixSeconds(data.ftLastAccessTime);
  meta->creation = UnixSeconds(data.ftCreationTime);
  meta->hasAccess = meta->hasCreation = true;
  return true;
}
