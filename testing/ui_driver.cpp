#include "testing/ui_driver.h"

namespace ui {

Process::Process(const std::wstring& commandLine, const std::wstring& directory) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  std::wstring line = commandLine;  // CreateProcessW may write into it
  if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                      directory.empty() ? nullptr : directory.c_str(), &startup, &m_info)) {
    m_info = {};
  }
}

Process::~Process() {
  if (m_info.hProcess == nullptr) return;
  if (running()) Kill();
  CloseHandle(m_info.hThread);
  CloseHandle(m_info.hProcess);
}

bool Process::WaitExit(DWORD timeoutMs) {
  return m_info.hProcess != nullptr &&
         WaitForSingleObject(m_info.hProcess, ScaledTimeout(timeoutMs)) == WAIT_OBJECT_0;
}

bool Process::running() const {
  return m_info.hProcess != nullptr && WaitForSingleObject(m_info.hProcess, 0) == WAIT_TIMEOUT;
}

DWORD Process::exitCode() const {
  DWORD code = STILL_ACTIVE;
  if (m_info.hProcess != nullptr) GetExitCodeProcess(m_info.hProcess, &code);
  return code;
}

void Process::Kill() {
  if (m_info.hProcess == nullptr) return;
  TerminateProcess(m_info.hProcess, 1);
  WaitForSingleObject(m_info.hProcess, 5000);
}

std::wstring WindowText(HWND hwnd) {
  int length = GetWindowTextLengthW(hwnd);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  int got = GetWindowTextW(hwnd, &text[0], length + 1);
  text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return text;
}

static std::wstring ClassOf(HWND hwnd) {
  wchar_t name[256] = {};
  int got = GetClassNameW(hwnd, name, 256);
  return std::wstring(name, got > 0 ? static_cast<size_t>(got) : 0);
}

WindowInfo Describe(HWND hwnd) {
  WindowInfo info;
  info.hwnd = hwnd;
  info.className = ClassOf(hwnd);
  info.caption = WindowText(hwnd);
  info.owner = GetWindow(hwnd, GW_OWNER);
  info.style = static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE));
  info.exStyle = static_cast<DWORD>(GetWindowLongW(hwnd, GWL_EXSTYLE));
  info.visible = IsWindowVisible(hwnd) != FALSE;
  return info;
}

namespace {

struct WindowSearch {
  DWORD pid;
  std::vector<WindowInfo> found;
};

BOOL CALLBACK CollectWindowOfProcess(HWND hwnd, LPARAM param) {
  auto* s = reinterpret_cast<WindowSearch*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid == s->pid) s->found.push_back(Describe(hwnd));
  return TRUE;
}

struct ControlSearch {
  HWND parent;
  std::vector<ControlInfo> found;
};

BOOL CALLBACK CollectDirectChild(HWND hwnd, LPARAM param) {
  auto* s = reinterpret_cast<ControlSearch*>(param);
  if (GetParent(hwnd) != s->parent) return TRUE;
  ControlInfo c;
  c.hwnd = hwnd;
  c.id = GetDlgCtrlID(hwnd);
  c.className = ClassOf(hwnd);
  c.text = WindowText(hwnd);
  c.style = static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE));
  GetWindowRect(hwnd, &c.rect);
  MapWindowPoints(HWND_DESKTOP, s->parent, reinterpret_cast<POINT*>(&c.rect), 2);
  s->found.push_back(c);
  return TRUE;
}

}  // namespace

std::vector<WindowInfo> TopLevelWindows(DWORD processId) {
  WindowSearch search{processId, {}};
  EnumWindows(CollectWindowOfProcess, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::optional<WindowInfo> WaitForWindow(DWORD processId,
                                        const std::function<bool(const WindowInfo&)>& match,
                                        DWORD timeoutMs) {
  timeoutMs = ScaledTimeout(timeoutMs);
  DWORD start = GetTickCount();
  for (;;) {
    for (const WindowInfo& w : TopLevelWindows(processId))
      if (w.visible && match(w)) return w;
    if (GetTickCount() - start > timeoutMs) return std::nullopt;
    Sleep(20);
  }
}

std::optional<WindowInfo> WaitForDialog(DWORD processId, DWORD timeoutMs) {
  return WaitForWindow(
      processId, [](const WindowInfo& w) { return w.className == L"#32770"; }, timeoutMs);
}

std::vector<ControlInfo> Controls(HWND parent) {
  ControlSearch search{parent, {}};
  EnumChildWindows(parent, CollectDirectChild, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::optional<ControlInfo> FindControl(HWND parent, int id) {
  for (const ControlInfo& c : Controls(parent))
    if (c.id == id) return c;
  return std::nullopt;
}

bool Press(HWND parent, int id) {
  HWND button = GetDlgItem(parent, id);
  if (button == nullptr) return false;
  DWORD_PTR ignored = 0;
  // The press may end the process; do not wait for it forever.
  SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 2000, &ignored);
  return true;
}

std::wstring MessageBoxText(HWND box) {
  HWND text = GetDlgItem(box, 0xFFFF);
  return text ? WindowText(text) : std::wstring();
}

std::vector<int> ButtonIds(HWND box) {
  std::vector<int> ids;
  for (const ControlInfo& c : Controls(box)) {
    if (_wcsicmp(c.className.c_str(), L"Button") != 0) continue;
    if ((c.style & WS_VISIBLE) == 0) continue;
    ids.push_back(c.id);
  }
  return ids;
}

bool HasIcon(HWND box) {
  for (const ControlInfo& c : Controls(box)) {
    if (_wcsicmp(c.className.c_str(), L"Static") != 0) continue;
    if ((c.style & SS_TYPEMASK) != SS_ICON || (c.style & WS_VISIBLE) == 0) continue;
    if (SendMessageW(c.hwnd, STM_GETICON, 0, 0) != 0) return true;
  }
  return false;
}

void RemoveTree(const std::wstring& path) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring child = path + L"\\" + name;
      SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(child);
      } else {
        DeleteFileW(child.c_str());
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(path.c_str());
}

std::wstring Widen(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &out[0], n);
  return out;
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr,
                      nullptr);
  return out;
}

std::wstring WinePath(const std::string& path) {
  std::wstring out = Widen(path);
  if (!out.empty() && out[0] == L'/') {
    for (wchar_t& ch : out)
      if (ch == L'/') ch = L'\\';
    out = L"Z:" + out;
  }
  return out;
}

}  // namespace ui
