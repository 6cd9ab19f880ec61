#include "updater/install/file_names.h"

#include <cstring>

void ToFsPath(const char* name, FsPath* path) {
  char16_t units[kFsPathUnits];
  const size_t length = ToFsName(name, units, kFsPathUnits);
  path->count = 0;
  size_t written = 0;
  size_t kept = 0;
  for (size_t start = 0, end = 0; start <= length; start = end + 1) {
    end = start;
    while (end < length && units[end] != u'/' && units[end] != u'\\') ++end;
    const size_t size = end - start;
    const char16_t* text = units + start;
    if (size == 0 || (size == 1 && text[0] == u'.')) continue;
    if (size == 2 && text[0] == u'.' && text[1] == u'.') {
      // "." and ".." are resolved by their text, as Windows resolves them.
      if (path->count > 0) --path->count;
      written = path->count > 0 ? path->writtenEnd[path->count - 1] : 0;
      kept = path->count > 0 ? path->keptEnd[path->count - 1] : 0;
      continue;
    }
    size_t keep = size;
    while (keep > 0 && (text[keep - 1] == u'.' || text[keep - 1] == u' ')) --keep;
    // Every component takes at least two units of the name with its
    // separator, so written and kept stay within their arrays.
    if (path->count > 0) {
      path->written[written++] = u'/';
      path->kept[kept++] = u'/';
    }
    std::memcpy(path->written + written, text, size * sizeof(char16_t));
    std::memcpy(path->kept + kept, text, keep * sizeof(char16_t));
    written += size;
    kept += keep;
    path->writtenEnd[path->count] = static_cast<uint16_t>(written);
    path->keptEnd[path->count] = static_cast<uint16_t>(kept);
    ++path->count;
  }
}
