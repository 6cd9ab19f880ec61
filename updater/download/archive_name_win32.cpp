// The running updater's folder, from a module path of any length.
#include <windows.h>

#include <vector>

#include "updater/download/archive_name.h"

bool GetUpdaterFolder(CString* folder) {
  folder->Empty();
  // GetModuleFileNameA cuts a path that does not fit and, on older systems,
  // leaves it unterminated; the buffer grows until the path fits whole.
  const DWORD kLongestPath = 32768;
  std::vector<char> path(MAX_PATH);
  for (;;) {
    const DWORD size = static_cast<DWORD>(path.size());
    const DWORD length = GetModuleFileNameA(nullptr, path.data(), size);
    if (length == 0) return false;
    if (length < size) break;
    if (size >= kLongestPath) return false;
    path.resize(size * 2);
  }
  *folder = UpdaterDirectory(path.data());
  return UpdaterFolderFits(*folder);
}
