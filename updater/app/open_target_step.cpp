#include "updater/app/open_target_step.h"

#include <objbase.h>
#include <shellapi.h>

namespace {

// Under Wine the shell waits for the started program to come up. Answers
// what ShellExecuteA answered.
DWORD WINAPI OpenThroughShell(LPVOID target) {
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  const INT_PTR answer = reinterpret_cast<INT_PTR>(
      ShellExecuteA(nullptr, "open", static_cast<const char*>(target), nullptr, nullptr, SW_SHOW));
  if (SUCCEEDED(com)) CoUninitialize();
  return static_cast<DWORD>(answer);
}

}  // namespace

StepOutcome OpenTargetStep(const CString& target, HWND window) {
  const CString quoted = "\"" + target + "\"";
  DWORD answer = 0;
  HANDLE opener =
      CreateThread(nullptr, 0, OpenThroughShell, const_cast<char*>(quoted.GetString()), 0, nullptr);
  if (opener == nullptr) {
    answer = OpenThroughShell(const_cast<char*>(quoted.GetString()));
  } else {
    // The window keeps answering meanwhile; Cancel now only marks the run
    // cancelled, as the update is done.
    while (MsgWaitForMultipleObjects(1, &opener, FALSE, INFINITE, QS_ALLINPUT) ==
           WAIT_OBJECT_0 + 1) {
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (window != nullptr && IsDialogMessageW(window, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
    }
    GetExitCodeThread(opener, &answer);
    CloseHandle(opener);
  }
  CString line;
  if (answer > 32) {
    line.Format("target %s opened", quoted.GetString());
  } else {
    line.Format("target %s not opened: ShellExecuteA answered %lu", quoted.GetString(),
                static_cast<unsigned long>(answer));
  }
  return StepDone(line);
}
