// Drives programs of ours from a test, as a user would: starts them, finds
// their top-level windows, reads the controls inside and presses buttons.
// Everything is read back through the wide-character calls, so texts arrive
// as the windows hold them.
#ifndef TESTING_UI_DRIVER_H_
#define TESTING_UI_DRIVER_H_

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "testing/time_scale.h"

namespace ui {

struct WindowInfo {
  HWND hwnd = nullptr;
  std::wstring className;
  std::wstring caption;
  HWND owner = nullptr;
  DWORD style = 0;
  DWORD exStyle = 0;
  bool visible = false;
};

struct ControlInfo {
  HWND hwnd = nullptr;
  int id = 0;
  std::wstring className;
  std::wstring text;
  DWORD style = 0;
  RECT rect = {};  // in the parent's client coordinates
};

// Every timeout below is scaled (testing/time_scale.h).

// A program started by a test; killed on destruction if still running.
class Process {
 public:
  // commandLine holds the program (quoted as needed) and its arguments.
  explicit Process(const std::wstring& commandLine, const std::wstring& directory = L"");
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool started() const { return m_info.hProcess != nullptr; }
  DWORD id() const { return m_info.dwProcessId; }
  // True when the process ended within timeoutMs.
  bool WaitExit(DWORD timeoutMs);
  bool running() const;
  // The exit code once the process has ended; STILL_ACTIVE before.
  DWORD exitCode() const;
  void Kill();

 private:
  PROCESS_INFORMATION m_info = {};
};

WindowInfo Describe(HWND hwnd);
std::vector<WindowInfo> TopLevelWindows(DWORD processId);
// Polls until a visible top-level window of the process satisfies match.
std::optional<WindowInfo> WaitForWindow(DWORD processId,
                                        const std::function<bool(const WindowInfo&)>& match,
                                        DWORD timeoutMs);
// Polls until a visible top-level window of class #32770 (dialogs and
// message boxes) appears.
std::optional<WindowInfo> WaitForDialog(DWORD processId, DWORD timeoutMs);

std::vector<ControlInfo> Controls(HWND parent);
std::optional<ControlInfo> FindControl(HWND parent, int id);
std::wstring WindowText(HWND hwnd);
// Presses the button with this id inside parent; false when there is none.
bool Press(HWND parent, int id);

// A message box's text: its static control 0xFFFF.
std::wstring MessageBoxText(HWND box);
// Ids of the push buttons of a dialog or message box.
std::vector<int> ButtonIds(HWND box);
// True when the box shows an icon (a static control with SS_ICON).
bool HasIcon(HWND box);

// Removes path and everything below it, read-only files included.
void RemoveTree(const std::wstring& path);

// Conversions for test code.
std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& text);
// A Unix path as Wine's Z: drive sees it; Windows paths pass unchanged.
std::wstring WinePath(const std::string& path);

}  // namespace ui

#endif  // TESTING_UI_DRIVER_H_
