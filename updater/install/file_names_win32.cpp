// Names through the system's own conversion and file-name comparison.
#include <windows.h>

#include "updater/install/file_names.h"

FsName ToFsName(const char* name) {
  const int length = MultiByteToWideChar(CP_ACP, 0, name, -1, nullptr, 0);
  if (length <= 1) return FsName();
  std::vector<wchar_t> wide(static_cast<size_t>(length));
  MultiByteToWideChar(CP_ACP, 0, name, -1, wide.data(), length);
  return FsName(wide.begin(), wide.end() - 1);
}

int CompareFsNames(const char16_t* a, size_t aLength, const char16_t* b, size_t bLength) {
  // CompareStringOrdinal ignoring case is how NTFS matches names: each
  // UTF-16 unit through the system's upper-case table.
  const int result =
      CompareStringOrdinal(reinterpret_cast<const wchar_t*>(a), static_cast<int>(aLength),
                           reinterpret_cast<const wchar_t*>(b), static_cast<int>(bLength), TRUE);
  return result == 0 ? 0 : result - CSTR_EQUAL;
}
