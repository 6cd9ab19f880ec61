#include "updater/download/update_worker.h"

#include <urlmon.h>

#include "framework/cstring.h"
#include "framework/message_box.h"
#include "framework/thread.h"
#include "framework/win_app.h"
#include "framework/wnd.h"
#include "unzip/unpack.h"
#include "updater/app/updater_app.h"
#include "updater/download/archive_name.h"
#include "updater/download/download_status_callback.h"
#include "updater/download/publisher_key.h"
#include "updater/download/signature_address.h"
#include "updater/download/signature_check.h"
#include "updater/download/update_status.h"
#include "updater/install/archive_install.h"
#include "updater/install/install_file_system.h"

volatile LONG g_updatePhase = kPhaseDownload;

namespace {

const char kNotAnArchive[] = "Download failed.  The file received is not a valid update archive.";
const char kNotSigned[] = "Update refused.  The archive is not signed by the publisher.";

CUpdaterApp* App() {
  return static_cast<CUpdaterApp*>(AfxGetApp());
}

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

// Cancel stops the staging; once the commit has begun it waits for its end.
bool CancelRequested(bool committing) {
  if (g_abortDownload != 0) return true;
  return committing &&
         InterlockedCompareExchange(&g_updatePhase, kPhaseCommit, kPhaseStaging) != kPhaseStaging;
}

void LogDownload(const CString& url, HRESULT result, const CString& archivePath,
                 DWORD milliseconds) {
  WIN32_FILE_ATTRIBUTE_DATA file = {};
  // Update archives are zip archives without 64-bit extensions: below 4 GiB.
  unsigned long bytes = 0;
  if (GetFileAttributesExA(archivePath, GetFileExInfoStandard, &file)) bytes = file.nFileSizeLow;
  App()->m_log.Write("download %s: result 0x%08lX, %lu bytes in %lu.%03lu s", url.GetString(),
                     static_cast<unsigned long>(result), bytes,
                     static_cast<unsigned long>(milliseconds / 1000),
                     static_cast<unsigned long>(milliseconds % 1000));
}

// How each entry went while staging: written, kept, or failed and why.
void LogEntry(int32_t index, const CString& name, EntryStep step, const char* reason) {
  CUpdateLog& log = App()->m_log;
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
  }
}

// Every end of a run goes through here: the application learns the outcome
// (the exit code), then the window hears of the end.
void EndRun(CWnd* dialog, UpdaterExitCode outcome) {
  App()->SetWorkerOutcome(outcome);
  PostMessageA(dialog->m_hWnd, WM_UPDATE_STATUS,
               outcome == kExitUpdated ? kUpdateFinished : kUpdateFailed, 0);
}

// A failure the user reads about in a box before the window ends.
void Fail(CWnd* dialog, const char* message, UpdaterExitCode outcome) {
  AfxMessageBox(message, MB_OK);
  EndRun(dialog, outcome);
}

}  // namespace

UINT __cdecl UpdateWorker(LPVOID pParam) {
  CWnd* dialog = static_cast<CWnd*>(pParam);
  CDownloadStatusCallback reporter(dialog->m_hWnd);

  CString updaterDirectory;
  if (!GetUpdaterFolder(&updaterDirectory)) {  // start-up refuses such a folder first
    EndRun(dialog, kExitCommandLineRefused);
    return 0;
  }
  const CString archivePath = DownloadArchivePath(updaterDirectory, GetTickCount());

  CUpdaterApp* app = App();
  const CString url = app->m_url;
  const DWORD started = GetTickCount();
  HRESULT result = URLDownloadToFileA(nullptr, url, archivePath, 0, &reporter);
  LogDownload(url, result, archivePath, GetTickCount() - started);
  if (FAILED(result)) {
    // A run leaves none of its files behind, a partial download included.
    DeleteFileA(archivePath);
    Fail(dialog, DownloadFailureMessage(result), kExitDownloadFailed);
    return 0;
  }

  // Nothing is written unless the publisher signed these very bytes; the
  // archive stays locked against change until it is unpacked.
  CSignedArchive signedArchive;
  const CString signatureUrl = SignatureUrl(url, app->m_sig);
  if (!signedArchive.Verify(archivePath, signatureUrl)) {
    app->m_log.Write("signature %s: refused", signatureUrl.GetString());
    Fail(dialog, kNotSigned, kExitArchiveRefused);
    return 0;
  }
  if (kPublisherKeyPem[0] != '\0') app->m_log.Write("signature %s: good", signatureUrl.GetString());

  // From here on Cancel no longer ends the process at once: the files
  // written so far are removed first.
  if (InterlockedCompareExchange(&g_updatePhase, kPhaseStaging, kPhaseDownload) != kPhaseDownload) {
    return 0;  // cancelled; the next start removes the archive
  }

  // Some servers (and some platforms for an HTTP error) deliver an error
  // page as a successful download; it does not open as an archive.
  UnpackHandle archive = UnpackOpen(archivePath, "");
  const CString baseDirectory = archivePath.Left(archivePath.ReverseFind('\\'));
  CString failure = kNotAnArchive;
  InstallResult outcome = InstallResult::kFailedNothingChanged;
  if (archive != nullptr) {
    outcome = InstallArchive(archive, baseDirectory.GetString(), SystemFileSystem(),
                             CancelRequested, &failure, LogEntry);
  }
  UnpackClose(archive);
  signedArchive.Release();
  DeleteFileA(archivePath);

  if (archive == nullptr) {
    app->m_log.Write("archive refused: not a zip archive");
    Fail(dialog, kNotAnArchive, kExitArchiveRefused);
    return 0;
  }
  switch (outcome) {
    case InstallResult::kApplied:
      app->m_log.Write("commit: every file is in place");
      EndRun(dialog, kExitUpdated);
      break;
    case InstallResult::kCancelled:
      // A cancelled run ends without a word; the dialog is waiting for it.
      app->m_log.Write("no commit: cancelled while staging; nothing was changed");
      EndRun(dialog, kExitCancelled);
      break;
    case InstallResult::kRefused:
      app->m_log.Write("archive refused: %s", failure.GetString());
      Fail(dialog, failure.GetString(), kExitArchiveRefused);
      break;
    case InstallResult::kFailedRepairPending:
      app->m_log.Write("commit undone in part: the next start puts the rest back");
      Fail(dialog, failure.GetString(), kExitUpdateFailed);
      break;
    default:
      app->m_log.Write("no commit, or its undoing: every file is as it was");
      Fail(dialog, failure.GetString(), kExitUpdateFailed);
      break;
  }
  return 0;
}

bool StartUpdateWorker(CWnd* window) {
  CWinThread* worker =
      AfxBeginThread(UpdateWorker, window, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED, nullptr);
  if (worker == nullptr) {
    AfxMessageBox("Couldn't create worker thread!", MB_ICONSTOP);
    return false;
  }
  g_abortDownload = 0;
  g_updatePhase = kPhaseDownload;
  worker->ResumeThread();  // the record belongs to the thread from here on
  return true;
}
