// The install step: every entry of the archive, all at once or not at all.
#include "updater/app/updater_app.h"
#include "updater/download/file_in_use_wait.h"
#include "updater/download/update_run.h"
#include "updater/download/update_status.h"
#include "updater/install/archive_install.h"
#include "updater/install/in_use_retry.h"
#include "updater/install/install_file_system.h"
#include "updater/install/release_install.h"
#include "updater/release/release_archive.h"
#include "unzip/unpack.h"

namespace {

const char kNotAnArchive[] = "Download failed.  The file received is not a valid update archive.";

// Cancel stops the staging; once the commit has begun it waits for its end.
bool CancelRequested(bool committing) {
  if (g_abortDownload != 0) return true;
  return committing &&
         InterlockedCompareExchange(&g_updatePhase, kPhaseCommit, kPhaseStaging) != kPhaseStaging;
}

// How each entry went while staging: written, kept, or failed and why.
void LogEntry(int32_t index, const CString& name, EntryStep step, const char* reason) {
  CUpdateLog& log = static_cast<CUpdaterApp*>(AfxGetApp())->m_log;
  switch (step) {
    case EntryStep::kWritten:
      log.Write("entry %d %s: written", index, name.GetString());
      break;
    case EntryStep::kKept:
      log.Write("entry %d %s: kept (the existing file stays as it is)", index, name.GetString());
      break;
    case EntryStep::kFailed:
      log.Write("entry %d %s: failed, the file %s", index, name.GetString(), reason);
      break;
    case EntryStep::kPatched:
      log.Write("entry %d %s: patched", index, name.GetString());
      break;
    case EntryStep::kDeleted:
      log.Write("file %s: deleted", name.GetString());
      break;
  }
}

// The running updater's own file name: its new copy is committed last.
// Empty when the path does not fit (then no file is singled out).
CString RunningProgramName() {
  char modulePath[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, modulePath, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return CString();
  const CString path = modulePath;
  return path.Mid(path.ReverseFind('\\') + 1);
}

}  // namespace

StepOutcome InstallStep(CUpdateRun& run) {
  // From here on Cancel no longer ends the process at once: the files
  // written so far are removed first.
  if (InterlockedCompareExchange(&g_updatePhase, kPhaseStaging, kPhaseDownload) != kPhaseDownload) {
    StepOutcome cancelled = StepFailed(kExitCancelled, "");
    cancelled.windowGone = true;  // the next start removes the archive
    return cancelled;
  }

  // Some servers (and some platforms for an HTTP error) deliver an error
  // page as a successful download; it does not open as an archive.
  UnpackHandle archive = UnpackOpen(run.m_archivePath, "");
  CString failure;
  InstallResult result = InstallResult::kFailedNothingChanged;
  CFileInUseWait inUse(run, kUpdateWaits.fileInUseMs);
  CInUseRetry fs(SystemFileSystem(), [&inUse](const CString& path) { return inUse.Wait(path); });
  if (archive != nullptr && HasReleaseRecord(archive)) {
    ReleaseInstallOptions options;
    options.allowDowngrade = run.m_allowDowngrade;
    options.cancel = CancelRequested;
    options.report = LogEntry;
    options.runningProgram = RunningProgramName();
    options.describe = [&run](const CString& line) { run.m_log.Write("%s", line.GetString()); };
    result = InstallRelease(archive, run.m_folder, fs, options, &failure);
  } else if (archive != nullptr) {
    result = InstallArchive(archive, run.m_folder, fs, CancelRequested, &failure, LogEntry,
                            RunningProgramName());
  }
  UnpackClose(archive);
  run.m_signedArchive.Release();
  DeleteFileA(run.m_archivePath);

  if (archive == nullptr) {
    return StepFailed(kExitArchiveRefused, "archive refused: not a zip archive", kNotAnArchive);
  }
  if (inUse.cancelled() && result == InstallResult::kFailedNothingChanged) {
    return StepFailed(kExitCancelled,
                      "no commit: cancelled while a file was in use; nothing was changed");
  }
  switch (result) {
    case InstallResult::kApplied:
      return StepDone("commit: every file is in place");
    case InstallResult::kCancelled:
      // A cancelled run ends without a word; the dialog is waiting for it.
      return StepFailed(kExitCancelled, "no commit: cancelled while staging; nothing was changed");
    case InstallResult::kRefused:
      return StepFailed(kExitArchiveRefused, "archive refused: " + failure, failure);
    case InstallResult::kBaseMismatch:
      // Nothing was written: with -full the run starts again on the full
      // archive, which fits any installed version.
      if (!run.m_full.IsEmpty() && InterlockedCompareExchange(&g_updatePhase, kPhaseDownload,
                                                              kPhaseStaging) == kPhaseStaging) {
        run.m_fullArchiveNext = true;
        return StepDone("delta refused: " + failure + "  The full archive " + run.m_full +
                        " is installed instead.");
      }
      return StepFailed(kExitArchiveRefused, "delta refused: " + failure, failure);
    case InstallResult::kFailedRepairPending:
      return StepFailed(kExitUpdateFailed,
                        "commit undone in part: the next start puts the rest back", failure);
    default:
      return StepFailed(kExitUpdateFailed, "no commit, or its undoing: every file is as it was",
                        failure);
  }
}
