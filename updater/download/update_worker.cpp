#include "updater/download/update_worker.h"

#include <urlmon.h>

#include "framework/cstring.h"
#include "framework/message_box.h"
#include "framework/win_app.h"
#include "framework/wnd.h"
#include "unzip/unpack.h"
#include "updater/app/updater_app.h"
#include "updater/download/archive_name.h"
#include "updater/download/download_status_callback.h"
#include "updater/download/signature_address.h"
#include "updater/download/signature_check.h"
#include "updater/download/update_status.h"
#include "updater/install/archive_install.h"
#include "updater/install/install_file_system.h"

volatile LONG g_updatePhase = kPhaseDownload;

namespace {

const char kNotAnArchive[] = "Download failed.  The file received is not a valid update archive.";
const char kNotSigned[] = "Update refused.  The archive is not signed by the publisher.";

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

}  // namespace

UINT __cdecl UpdateWorker(LPVOID pParam) {
  CWnd* dialog = static_cast<CWnd*>(pParam);
  CDownloadStatusCallback reporter(dialog->m_hWnd);

  char modulePath[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, modulePath, MAX_PATH);
  const CString updaterDirectory = UpdaterDirectory(modulePath);
  const CString archivePath = DownloadArchivePath(updaterDirectory, GetTickCount());

  const CUpdaterApp* app = static_cast<CUpdaterApp*>(AfxGetApp());
  const CString url = app->m_url;
  HRESULT result = URLDownloadToFileA(nullptr, url, archivePath, 0, &reporter);
  if (FAILED(result)) {
    // A run leaves none of its files behind, a partial download included.
    DeleteFileA(archivePath);
    AfxMessageBox(DownloadFailureMessage(result), MB_OK);
    PostMessageA(dialog->m_hWnd, WM_UPDATE_STATUS, kUpdateFailed, 0);
    return 0;
  }

  // Nothing is written unless the publisher signed these very bytes; the
  // archive stays locked against change until it is unpacked.
  CSignedArchive signedArchive;
  if (!signedArchive.Verify(archivePath, SignatureUrl(url, app->m_sig))) {
    AfxMessageBox(kNotSigned, MB_OK);
    PostMessageA(dialog->m_hWnd, WM_UPDATE_STATUS, kUpdateFailed, 0);
    return 0;
  }

  // From here on Cancel no longer ends the process at once: the files
  // written so far are removed first.
  if (InterlockedCompareExchange(&g_updatePhase, kPhaseStaging, kPhaseDownload) != kPhaseDownload) {
    return 0;  // cancelled; the next start removes the archive
  }

  // Some servers (and some platforms for an HTTP error) deliver an error
  // page as a successful download; it does not open as an archive.
  UnpackHandle archive = UnpackOpen(archivePath, "");
  const CString baseDirectory = archivePath.Left(archivePath.ReverseFind('\\'));
  std::string failure = kNotAnArchive;
  InstallResult outcome = InstallResult::kFailedNothingChanged;
  if (archive != nullptr) {
    outcome = InstallArchive(archive, baseDirectory.GetString(), SystemFileSystem(),
                             CancelRequested, &failure);
  }
  UnpackClose(archive);
  signedArchive.Release();
  DeleteFileA(archivePath);

  if (outcome == InstallResult::kApplied) {
    PostMessageA(dialog->m_hWnd, WM_UPDATE_STATUS, kUpdateFinished, 0);
    return 0;
  }
  // A cancelled run ends without a word; the dialog is waiting for it.
  if (outcome != InstallResult::kCancelled) AfxMessageBox(failure.c_str(), MB_OK);
  PostMessageA(dialog->m_hWnd, WM_UPDATE_STATUS, kUpdateFailed, 0);
  return 0;
}
