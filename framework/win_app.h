// CWinApp: the application object. A program defines exactly one, as a
// static object; the framework's entry (AfxWinMain) finds it through
// AfxGetApp and runs InitInstance.
#ifndef FRAMEWORK_WIN_APP_H_
#define FRAMEWORK_WIN_APP_H_

#include <windows.h>

#include "framework/cmd_target.h"
#include "framework/cstring.h"
#include "framework/wnd.h"

#ifndef ID_HELP
#define ID_HELP 0xE146
#endif

class CWinApp : public CCmdTarget {
 public:
  // appName null: the name is derived from the executable's file name
  // without extension when AfxWinMain starts.
  explicit CWinApp(const char* appName = nullptr);
  ~CWinApp() override;
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  // Answers TRUE to run the message loop, FALSE to end the program at once.
  virtual BOOL InitInstance();
  // Answers the process exit code, m_nExitCode unless overridden.
  virtual int ExitInstance();
  virtual int Run();

  // Shows a message box for AfxMessageBox: the application's name as
  // caption, owned by the main window when there is one. Programs that must
  // not show boxes (an unattended run) override it. Callable from any thread.
  virtual int DoMessageBox(const char* prompt, UINT type, UINT helpId);

  // Help command; this program has no help file, so it does nothing.
  void OnHelp();

  // Present for programs written against the framework; they change nothing
  // here (no OLE controls are hosted and dialogs use the system look).
  void Enable3dControls() {}

  // The icon resource with this id from the program's module, at the
  // system's icon size; shared, never destroyed.
  HICON LoadIcon(UINT id) const;

  HINSTANCE m_hInstance = nullptr;
  CString m_appName;
  CWnd* m_pMainWnd = nullptr;
  // What the process ends with; set by the program, 0 when it never says.
  int m_nExitCode = 0;

  DECLARE_MESSAGE_MAP()
};

// The single application object, or null before it is constructed.
CWinApp* AfxGetApp();
// The application's main window, or null.
CWnd* AfxGetMainWnd();
inline void AfxEnableControlContainer(void* occManager = nullptr) {
  (void)occManager;
}

// The framework's entry: prepares the process, calls InitInstance, then
// either ExitInstance or Run. Answers the process exit code.
int AfxWinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand);

#endif  // FRAMEWORK_WIN_APP_H_
