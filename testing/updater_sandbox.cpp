#include "testing/updater_sandbox.h"

namespace {

bool IsMessageBox(const ui::WindowInfo& w) {
  return w.className == L"#32770" && GetDlgItem(w.hwnd, 0xFFFF) != nullptr;
}

}  // namespace

UpdaterSandbox::UpdaterSandbox(const std::string& updaterExe, const std::string& markerTargetExe) {
  wchar_t temp[MAX_PATH] = {};
  if (GetTempPathW(MAX_PATH, temp) == 0) return;
  m_folder = temp;
  if (!m_folder.empty() && m_folder.back() == L'\\') m_folder.pop_back();
  m_folder += L"\\updater-run-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
              std::to_wstring(GetTickCount());
  if (!CreateDirectoryW(m_folder.c_str(), nullptr)) return;
  if (!CreateDirectoryW((m_folder + L"\\target dir").c_str(), nullptr)) return;
  m_ready = CopyFileW(ui::WinePath(updaterExe).c_str(), updater().c_str(), FALSE) &&
            CopyFileW(ui::WinePath(markerTargetExe).c_str(), target().c_str(), FALSE);
}

UpdaterSandbox::~UpdaterSandbox() {
  if (!m_folder.empty()) ui::RemoveTree(m_folder);
}

std::unique_ptr<ui::Process> UpdaterSandbox::Start(const std::wstring& args) const {
  return std::make_unique<ui::Process>(L"\"" + updater() + L"\" " + args, m_folder);
}

bool UpdaterSandbox::WaitTargetStarted(DWORD timeoutMs) const {
  const std::wstring marker = target() + L".started";
  timeoutMs = ScaledTimeout(timeoutMs);
  DWORD start = GetTickCount();
  for (;;) {
    if (GetFileAttributesW(marker.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    if (GetTickCount() - start >= timeoutMs) return false;
    Sleep(20);
  }
}

std::vector<std::wstring> UpdaterSandbox::Files(const std::wstring& pattern) const {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((m_folder + L"\\" + pattern).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) names.push_back(found.cFileName);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return names;
}

std::optional<ui::WindowInfo> WaitForMessageBox(DWORD processId, DWORD timeoutMs) {
  return ui::WaitForWindow(processId, IsMessageBox, timeoutMs);
}

std::optional<ui::WindowInfo> WaitForProgressDialog(DWORD processId, DWORD timeoutMs) {
  return ui::WaitForWindow(
      processId,
      [](const ui::WindowInfo& w) {
        return w.className == L"#32770" && GetDlgItem(w.hwnd, 1000) != nullptr;
      },
      timeoutMs);
}

std::wstring WaitExitOrMessage(ui::Process& process, DWORD timeoutMs) {
  timeoutMs = ScaledTimeout(timeoutMs);
  DWORD start = GetTickCount();
  while (!process.WaitExit(20)) {
    for (const ui::WindowInfo& w : ui::TopLevelWindows(process.id()))
      if (w.visible && IsMessageBox(w)) return ui::MessageBoxText(w.hwnd);
    if (GetTickCount() - start >= timeoutMs) return L"(still running)";
  }
  return L"";
}

int CountMessageBoxes(DWORD processId) {
  int count = 0;
  for (const ui::WindowInfo& w : ui::TopLevelWindows(processId))
    count += w.visible && IsMessageBox(w);
  return count;
}

std::string ReadFileBytes(const std::wstring& path) {
  std::string bytes;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0)
    bytes.append(buffer, got);
  CloseHandle(file);
  return bytes;
}

FILETIME UnixTimeToFileTime(int64_t seconds) {
  ULONGLONG ticks = static_cast<ULONGLONG>(seconds + 11644473600LL) * 10000000ULL;
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(ticks);
  time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return time;
}
