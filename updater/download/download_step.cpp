// The download step: URLDownloadToFileA with the progress reporter.
#include <urlmon.h>

#include "updater/download/download_status_callback.h"
#include "updater/download/update_run.h"

namespace {

// The system's text for a failed download, or a fallback when it has none.
CString DownloadFailureMessage(HRESULT result) {
  char* systemText = nullptr;
  DWORD length = FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
      nullptr, static_cast<DWORD>(result), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
      reinterpret_cast<char*>(&systemText), 0, nullptr);
  CString message;
  if (length != 0 && systemText != nullptr) {
    message.Format("Download failed.  Error = 0x%08lX\n\n%s", static_cast<unsigned long>(result),
                   systemText);
  } else {
    message.Format("Download failed.  Error = 0x%08lX\n\nNo message available.",
                   static_cast<unsigned long>(result));
  }
  if (systemText != nullptr) LocalFree(systemText);
  return message;
}

CString DownloadLogLine(const CString& url, HRESULT result, const CString& archivePath,
                        DWORD milliseconds) {
  WIN32_FILE_ATTRIBUTE_DATA file = {};
  // Update archives are zip archives without 64-bit extensions: below 4 GiB.
  unsigned long bytes = 0;
  if (GetFileAttributesExA(archivePath, GetFileExInfoStandard, &file)) bytes = file.nFileSizeLow;
  CString line;
  line.Format("download %s: result 0x%08lX, %lu bytes in %lu.%03lu s", url.GetString(),
              static_cast<unsigned long>(result), bytes,
              static_cast<unsigned long>(milliseconds / 1000),
              static_cast<unsigned long>(milliseconds % 1000));
  return line;
}

}  // namespace

StepOutcome DownloadStep(CUpdateRun& run) {
  CDownloadStatusCallback reporter(run.m_window);
  const DWORD started = GetTickCount();
  const HRESULT result = URLDownloadToFileA(nullptr, run.m_url, run.m_archivePath, 0, &reporter);
  const CString logLine =
      DownloadLogLine(run.m_url, result, run.m_archivePath, GetTickCount() - started);
  if (SUCCEEDED(result)) return StepDone(logLine);
  // A run leaves none of its files behind, a partial download included.
  DeleteFileA(run.m_archivePath);
  return StepFailed(kExitDownloadFailed, logLine, DownloadFailureMessage(result));
}
