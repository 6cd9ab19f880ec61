#include "testing/updater_sandbox.h"

namespace {

bool IsMessageBox(const ui::WindowInfo& w) {
  return w.className == L"#32770" && GetDlgItem(w.hwnd, 0xFFFF) != nullptr;
}

void AddTree(const std::wstring& folder, const std::wstring& prefix, FolderTree* tree) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\" + prefix + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = prefix + found.cFileName;
    if (name == prefix + L"." || name == prefix + L"..") continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      (*tree)[name + L"\\"] = "";
      AddTree(folder, name + L"\\", tree);
    } else {
      (*tree)[name] = ReadFileBytes(folder + L"\\" + name);
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
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

FolderTree ReadFolderTree(const std::wstring& folder) {
  FolderTree tree;
  AddTree(folder, L"", &tree);
  return tree;
}

FolderTree UpdaterSandbox::Snapshot() const {
  FolderTree tree = ReadFolderTree(m_folder);
  tree.erase(L"updater.exe");
  for (auto it = tree.lower_bound(L"target dir\\");
       it != tree.end() && it->first.find(L"target dir\\") == 0;) {
    it = tree.erase(it);
  }
  return tree;
}

void UpdaterSandbox::Plant(const FolderTree& tree) const {
  for (const auto& [name, content] : tree) {
    const std::wstring path = m_folder + L"\\" + name;
    if (name.back() == L'\\') {
      CreateDirectoryW(path.c_str(), nullptr);
      continue;
    }
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
  }
}

std::string Describe(const FolderTree& tree) {
  std::string text;
  for (const auto& item : tree) text += ui::Narrow(item.first) + " ";
  return text;
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
