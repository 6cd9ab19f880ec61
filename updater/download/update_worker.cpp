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

// Writes every entry, in index order, below directory. Entries that cannot
// be written (a file in use, such as this very program) are skipped.
void UnpackEverything(UnpackHandle archive, const CString& directory) {
  UnpackSetBaseDir(archive, directory);
  UnpackEntryInfo entry = {};
  UnpackGetEntry(archive, -1, &entry);
  const int32_t count = entry.nIndex;
  for (int32_t i = 0; i < count; ++i) {
    UnpackGetEntry(archive, i, &entry);
    UnpackExtract(archive, i, entry.szName);
  }
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
    // Whatever part of the file arrived stays, as the download left it.
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

  // Some servers (and some platforms for an HTTP error) deliver an error
  // page as a successful download; it does not open as an archive.
  UnpackHandle archive = UnpackOpen(archivePath, "");
  const CString baseDirectory = archivePath.Left(archivePath.ReverseFind('\\'));
  const bool opened = archive != nullptr;
  if (opened) UnpackEverything(archive, baseDirectory);
  UnpackClose(archive);
  signedArchive.Release();
  DeleteFileA(archivePath);

  if (!opened) {
    AfxMessageBox(kNotAnArchive, MB_OK);
    PostMessageA(dialog->m_hWnd, WM_UPDATE_STATUS, kUpdateFailed, 0);
    return 0;
  }
  PostMessageA(dialog->m_hWnd, WM_UPDATE_STATUS, kUpdateFinished, 0);
  return 0;
}
