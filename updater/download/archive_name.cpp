#include "updater/download/archive_name.h"

CString UpdaterDirectory(const char* modulePath) {
  CString directory(modulePath);
  directory = directory.Left(directory.ReverseFind('\\'));
  directory.TrimRight('\\');
  return directory;
}

CString DownloadArchivePath(const CString& directory, uint32_t tickCount) {
  CString path;
  path.Format("%s\\%d.tarnwick.zip", directory.GetString(), static_cast<int32_t>(tickCount));
  return path;
}

namespace {
const int kMaxPath = 260;  // bytes, terminator included
const char kLongestOwnName[] = "\\-2147483648.tarnwick.zip.sig";
}  // namespace

const int kUpdaterFolderMaxLength = kMaxPath - 1 - static_cast<int>(sizeof(kLongestOwnName) - 1);

bool UpdaterFolderFits(const CString& folder) {
  return !folder.IsEmpty() && folder.GetLength() <= kUpdaterFolderMaxLength;
}
