// The wait for the program of -waitpid: the product passes its own process
// id and exits, and its files may only change once it has.
#include "updater/download/update_run.h"
#include "updater/download/update_status.h"

namespace {

// "正在等待程序关闭…": "Waiting for the program to close…".
const wchar_t kWaitingText[] = L"\x6B63\x5728\x7B49\x5F85\x7A0B\x5E8F\x5173\x95ED\x2026";

// A step that ends without an update: the archive goes, and the phase is
// back where Cancel ends the window at once.
StepOutcome NoUpdate(CUpdateRun& run, UpdaterExitCode code, const CString& logLine,
                     const CString& message = CString()) {
  run.m_signedArchive.Release();
  DeleteFileA(run.m_archivePath);
  InterlockedExchange(&g_updatePhase, kPhaseDownload);
  return StepFailed(code, logLine, message);
}

}  // namespace

StepOutcome WaitForProgramStep(CUpdateRun& run) {
  if (run.m_waitProcess == nullptr) return StepDone();
  CString line;
  if (WaitForSingleObject(run.m_waitProcess, 0) == WAIT_OBJECT_0) {
    line.Format("the program (process %lu) has closed", run.m_waitPid);
    return StepDone(line);
  }
  // While it waits, Cancel asks the wait to stop instead of ending the
  // window, so that the archive does not stay behind.
  if (InterlockedCompareExchange(&g_updatePhase, kPhaseStaging, kPhaseDownload) != kPhaseDownload) {
    StepOutcome cancelled = StepFailed(kExitCancelled, "");
    cancelled.windowGone = true;  // the next start removes the archive
    return cancelled;
  }
  const DWORD limit = kUpdateWaits.programCloseMs;
  run.m_log.Write("waiting up to %lu s for the program (process %lu) to close",
                  static_cast<unsigned long>(limit / 1000), run.m_waitPid);
  SendMessageW(run.m_window, WM_UPDATE_NOTICE, 0, reinterpret_cast<LPARAM>(kWaitingText));

  const DWORD started = GetTickCount();
  for (;;) {
    DWORD waited = GetTickCount() - started;
    if (g_abortDownload != 0) {
      return NoUpdate(run, kExitCancelled,
                      "cancelled while waiting for the program to close: no update");
    }
    if (waited >= limit) {
      line.Format("the program (process %lu) still runs after %lu s: no update", run.m_waitPid,
                  static_cast<unsigned long>(waited / 1000));
      CString message;
      message.Format(
          "Update failed.  The program that started the update did not close within %lu "
          "seconds; nothing was changed.",
          static_cast<unsigned long>(limit / 1000));
      return NoUpdate(run, kExitUpdateFailed, line, message);
    }
    // In short slices, so that Cancel is seen at once.
    const DWORD slice = limit - waited < 100 ? limit - waited : 100;
    if (WaitForSingleObject(run.m_waitProcess, slice) == WAIT_OBJECT_0) {
      InterlockedExchange(&g_updatePhase, kPhaseDownload);
      waited = GetTickCount() - started;
      line.Format("the program (process %lu) closed after %lu.%01lu s", run.m_waitPid,
                  static_cast<unsigned long>(waited / 1000),
                  static_cast<unsigned long>(waited % 1000 / 100));
      return StepDone(line);
    }
  }
}
