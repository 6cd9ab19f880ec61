#include "updater/app/updater_app.h"

#include <cstdlib>

#include "framework/message_box.h"
#include "updater/app/cmd_line_options.h"
#include "updater/download/archive_name.h"
#include "updater/install/install_file_system.h"
#include "updater/install/install_recovery.h"
#include "updater/ui/update_dlg.h"

namespace {

// "参数无效" ("invalid arguments") in code page 936.
const char kRefusalGbk[] = "\xB2\xCE\xCA\xFD\xCE\xDE\xD0\xA7";

// The one message for every kind of bad command line. The text is kept in
// GBK but shown through UTF-16, so it reads correctly whatever the system's
// ANSI code page is.
void ShowRefusal() {
  wchar_t text[16] = {};
  if (MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, kRefusalGbk, -1, text, 16) == 0) {
    MessageBoxA(nullptr, kRefusalGbk, "", MB_OK);
    return;
  }
  MessageBoxW(nullptr, text, L"", MB_OK);
}

}  // namespace

BEGIN_MESSAGE_MAP(CUpdaterApp, CWinApp)
ON_COMMAND(ID_HELP, OnHelp)
END_MESSAGE_MAP()

CUpdaterApp::CUpdaterApp() : CWinApp(nullptr) {}

BOOL CUpdaterApp::InitInstance() {
  AfxEnableControlContainer();

  // Before the command line is looked at: one updater at a time in this
  // folder, and whatever an earlier run left half done is put right.
  char modulePath[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, modulePath, MAX_PATH);
  const CString folder = UpdaterDirectory(modulePath);
  if (!m_updateLock.Acquire(folder.GetString())) {
    AfxMessageBox("An update is already running.", MB_OK);
    return FALSE;
  }
  RecoverInterruptedUpdate(SystemFileSystem(), folder.GetString());

  CCmdLineOptions options;
  if (options.Parse(__argc, __argv) < 1) {
    ShowRefusal();
    return FALSE;
  }
  try {
    m_url = options.GetValue("-url", 0);
    m_dest = options.GetValue("-dest", 0);
  } catch (...) {
    ShowRefusal();
    return FALSE;
  }
  // Optional: without a value the signature's default address applies.
  try {
    m_sig = options.GetValue("-sig", 0);
  } catch (...) {
  }

  Enable3dControls();

  // The whole update happens inside DoModal; how it ended changes nothing.
  CUpdateDlg dlg;
  m_pMainWnd = &dlg;
  dlg.DoModal();
  m_pMainWnd = nullptr;  // the dialog object ends with this scope
  return FALSE;
}

// The program's single application object.
CUpdaterApp theApp;
