#include "updater/download/file_in_use_wait.h"

#include <restartmanager.h>
#include <shlwapi.h>

#include "updater/download/update_run.h"
#include "updater/download/update_status.h"
#include "updater/install/archive_names.h"

namespace {

// The name of a program that holds path, as the Restart Manager knows it;
// false when it cannot tell.
bool FileHolder(const CString& path, wchar_t* name, int size) {
  wchar_t file[MAX_PATH];
  if (MultiByteToWideChar(CP_ACP, 0, path.GetString(), -1, file, MAX_PATH) == 0) return false;
  for (wchar_t* c = file; *c != L'\0'; ++c) {
    if (*c == L'/') *c = L'\\';
  }
  DWORD session = 0;
  WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
  if (RmStartSession(&session, 0, key) != ERROR_SUCCESS) return false;
  LPCWSTR files[] = {file};
  RM_PROCESS_INFO holders[4];
  UINT needed = 0;
  UINT count = 4;
  DWORD reasons = 0;
  const bool known =
      RmRegisterResources(session, 1, files, 0, nullptr, 0, nullptr) == ERROR_SUCCESS &&
      RmGetList(session, &needed, &count, holders, &reasons) == ERROR_SUCCESS && count > 0 &&
      holders[0].strAppName[0] != L'\0';
  if (known) lstrcpynW(name, holders[0].strAppName, size);
  RmEndSession(session);
  return known;
}

}  // namespace

bool CFileInUseWait::Wait(const CString& path) {
  if (m_gaveUp) return false;
  const DWORD now = GetTickCount();
  if (!m_waiting) {
    m_waiting = true;
    m_started = now;
  }
  if (g_abortDownload != 0) {
    m_gaveUp = m_cancelled = true;
    m_run.m_log.Write("cancelled while the file %s was in use", Shown(path).GetString());
    return false;
  }
  if (now - m_started >= m_limit) {
    m_gaveUp = true;
    m_run.m_log.Write("the file %s is still in use after %lu s", Shown(path).GetString(),
                      static_cast<unsigned long>((now - m_started) / 1000));
    return false;
  }
  if (!(path == m_path)) Announce(path);
  Sleep(100);
  return true;
}

CString CFileInUseWait::Shown(const CString& path) const {
  const int folder = m_run.m_folder.GetLength();
  const bool inFolder = path.GetLength() > folder + 1 && path.Left(folder) == m_run.m_folder;
  return ShownEntryName(inFolder ? path.Mid(folder + 1) : path);
}

void CFileInUseWait::Announce(const CString& path) {
  m_path = path;
  const CString shown = Shown(path);
  wchar_t file[MAX_PATH] = {};
  MultiByteToWideChar(CP_ACP, 0, shown.GetString(), -1, file, MAX_PATH);
  wchar_t holder[256] = {};
  char holderText[256] = {};
  const bool known = FileHolder(path, holder, 256);
  if (known) WideCharToMultiByte(CP_ACP, 0, holder, -1, holderText, 256, nullptr, nullptr);
  const DWORD left = m_limit - (GetTickCount() - m_started);
  m_run.m_log.Write("the file %s is in use%s%s: waiting up to %lu s for it", shown.GetString(),
                    known ? " by " : "", holderText, static_cast<unsigned long>(left / 1000));
  // "文件 %s 正被 %s 使用，正在等待…": "The file %s is being used by %s,
  // waiting…"; without the program: "文件 %s 正在使用中，正在等待…".
  wchar_t text[MAX_PATH + 320];
  if (known) {
    wnsprintfW(text, MAX_PATH + 320,
               L"\x6587\x4EF6 %s \x6B63\x88AB %s \x4F7F\x7528\xFF0C\x6B63\x5728\x7B49\x5F85\x2026",
               file, holder);
  } else {
    wnsprintfW(
        text, MAX_PATH + 320,
        L"\x6587\x4EF6 %s \x6B63\x5728\x4F7F\x7528\x4E2D\xFF0C\x6B63\x5728\x7B49\x5F85\x2026",
        file);
  }
  SendMessageW(m_run.m_window, WM_UPDATE_NOTICE, 0, reinterpret_cast<LPARAM>(text));
}
