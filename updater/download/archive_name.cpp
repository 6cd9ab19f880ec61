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
