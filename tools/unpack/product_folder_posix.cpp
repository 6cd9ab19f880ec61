// Attributes and times from lstat: read-only when the owner may not write,
// always archive; no creation time.
#include <sys/stat.h>

#include "tools/unpack/product_folder.h"

bool ReadItemMeta(const std::filesystem::path& path, ZipEntryMeta* meta) {
  struct stat status = {};
  if (lstat(path.c_str(), &status) != 0) return false;
  meta->attributes = kUnpackAttrArchive;
  if ((status.st_mode & S_IWUSR) == 0) meta->attributes |= kUnpackAttrReadOnly;
  if (S_ISDIR(status.st_mode)) meta->attributes |= kUnpackAttrDirectory;
  meta->lastWrite = status.st_mtime;
  meta->lastAccess = status.st_atime;
  meta->hasAccess = true;
  meta->hasCreation = false;
  return true;
}
