// The download step: the archive through HttpDownload, with the progress
// reporter and the run's log.
#include "framework/text_format.h"
#include "updater/download/download_policy.h"
#include "updater/download/download_status_callback.h"
#include "updater/download/http_download.h"
#include "updater/download/update_run.h"

StepOutcome DownloadStep(CUpdateRun& run) {
  CDownloadStatusCallback reporter(run.m_window);
  const DWORD started = GetTickCount();
  const CDownloadOutcome download =
      HttpDownload(run.m_url, run.m_archivePath, &reporter, &run.m_log, kDownloadTiming);
  const DWORD milliseconds = GetTickCount() - started;
  char bytes[kDecimal64Size];
  CString logLine;
  logLine.Format("download %s: result 0x%08lX, %s bytes in %lu.%03lu s", run.m_url.GetString(),
                 static_cast<unsigned long>(download.result),
                 FormatDecimal64(download.bytes, bytes),
                 static_cast<unsigned long>(milliseconds / 1000),
                 static_cast<unsigned long>(milliseconds % 1000));
  if (download.tries > 1) {
    CString tries;
    tries.Format(", %d tries", download.tries);
    logLine += tries;
  }
  // A failed or cancelled download has left no file behind.
  if (download.exitCode == kExitCancelled) return StepFailed(kExitCancelled, logLine);
  if (download.exitCode != kExitUpdated) {
    return StepFailed(kExitDownloadFailed, logLine, download.message);
  }
  return StepDone(logLine);
}
