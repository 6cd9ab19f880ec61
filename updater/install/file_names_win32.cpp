// Names through the system's own conversion and file-name comparison.
#include <windows.h>

#include "updater/install/file_names.h"

size_t ToFsName(const char* name, char16_t* out, size_t size) {
  const int length = MultiByteToWideChar(CP_ACP, 0, name, -1, reinterpret_cast<wchar_t*>(out),
                                         static_cast<int>(size));
  return length > 0 ? static_cast<size_t>(length) - 1 : 0;
}

int CompareFsNames(const char16_t* a, size_t aLength, const char16_t* b, size_t bLength) {
  // CompareStringOrdinal ignoring case is how NTFS matches names: each
  // UTF-16 unit through the system's upper-case table.
  const int result =
      CompareStringOrdinal(reinterpret_cast<const wchar_t*>(a), static_cast<int>(aLength),
                           reinterpret_cast<const wchar_t*>(b), static_cast<int>(bLength), TRUE);
  return result == 0 ? 0 : result - CSTR_EQUAL;
}
