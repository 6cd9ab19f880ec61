#include "updater/app/updater_app.h"

#include <cstdlib>

#include "framework/message_box.h"
#include "updater/app/cmd_line_options.h"
#include "updater/app/open_target_step.h"
#include "updater/download/update_status.h"
#include "updater/res/resource.h"
#include "updater/ui/silent_update.h"
#include "updater/download/archive_name.h"
#include "updater/download/publisher_key.h"
#include "updater/download/signature_address.h"
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

// The first value of an option that may be left out; empty without one.
CString OptionalValue(const CCmdLineOptions& options, const char* name) {
  try {
    return options.GetValue(name, 0);
  } catch (...) {
    return CString();
  }
}

}  // namespace

BEGIN_MESSAGE_MAP(CUpdaterApp, CWinApp)
ON_COMMAND(ID_HELP, OnHelp)
END_MESSAGE_MAP()

CUpdaterApp::CUpdaterApp() : CWinApp(nullptr) {}

BOOL CUpdaterApp::InitInstance() {
  AfxEnableControlContainer();

  CCmdLineOptions options;
  const int optionCount = options.Parse(__argc, __argv);
  // Both switches hold for any command line, also one that is refused.
  m_silent = options.HasOption("-silent");
  if (options.HasOption("-log")) {
    try {
      m_log.Open(options.GetValue("-log", 0));
    } catch (...) {
      // -log without a file: no log.
    }
  }
  m_log.Write("start: updater %s, command line: %s", UPDATER_VERSION_TEXT, GetCommandLineA());

  // A folder too long for the updater's own files is refused before
  // anything in it (or, through a path cut short, in its parent) is touched.
  CString folder;
  if (!GetUpdaterFolder(&folder)) return RefuseFolder(folder);

  // Before the options are used: one updater at a time in this folder, and
  // whatever an earlier run left half done is put right.
  const LockResult lock = m_updateLock.Acquire(folder.GetString());
  if (lock == LockResult::kBusy) {
    m_log.Write("another update is running in %s", folder.GetString());
    m_nExitCode = kExitUpdateRunning;
    AfxMessageBox("An update is already running.", MB_OK);
    return FALSE;
  }
  if (lock == LockResult::kUnavailable) {
    m_log.Write("the update lock of %s cannot be taken (error %lu)", folder.GetString(),
                static_cast<unsigned long>(GetLastError()));
    m_nExitCode = kExitUpdateFailed;
    AfxMessageBox("Update failed.  The updater cannot lock its folder; nothing was changed.",
                  MB_OK);
    return FALSE;
  }
  // An update on top of a repair that could not finish would mix three
  // versions: the journal stays and nothing starts until it can.
  const RecoveryReport recovery = RecoverInterruptedUpdate(SystemFileSystem(), folder);
  const CString recoveryLine = recovery.LogLine();
  if (!recoveryLine.IsEmpty()) m_log.Write("%s", recoveryLine.GetString());
  if (!recovery.AllowsUpdate()) {
    m_nExitCode = kExitUpdateFailed;
    AfxMessageBox(recovery.Message(), MB_OK);
    return FALSE;
  }

  if (optionCount < 1) return Refuse();
  try {
    m_url = options.GetValue("-url", 0);
    m_dest = options.GetValue("-dest", 0);
  } catch (...) {
    return Refuse();
  }
  // Optional: without a value the signature's default address applies;
  // without -full a delta that does not fit is refused.
  m_sig = OptionalValue(options, "-sig");
  m_full = OptionalValue(options, "-full");
  m_fullSig = OptionalValue(options, "-fullsig");
  m_allowDowngrade = options.HasOption("-allow-downgrade");
  // A build that checks signatures needs an address to fetch one from.
  if (kPublisherKeyPem[0] != '\0' && SignatureUrl(m_url, m_sig).IsEmpty()) {
    return RefuseWithMessage("command line refused: no address for the signature",
                             "Update refused.  The address " + m_url +
                                 " names no file, so the address of its signature cannot be made "
                                 "from it; give it with -sig.");
  }
  if (kPublisherKeyPem[0] != '\0' && !m_full.IsEmpty() &&
      SignatureUrl(m_full, m_fullSig).IsEmpty()) {
    return RefuseWithMessage("command line refused: no address for the full archive's signature",
                             "Update refused.  The address " + m_full +
                                 " names no file, so the address of its signature cannot be made "
                                 "from it; give it with -fullsig.");
  }

  Enable3dControls();

  // The whole update happens inside DoModal or Run.
  if (m_silent) {
    CSilentUpdate run;
    OnUpdateEnded(run.Run());
  } else {
    CUpdateDlg dlg;
    m_pMainWnd = &dlg;
    if (dlg.DoModal() == -1) {
      // No window could be made (no desktop, a missing resource): the
      // worker never started.
      m_log.Write(
          "no window: the progress dialog could not be created (error %lu); nothing "
          "was changed",
          static_cast<unsigned long>(GetLastError()));
      m_nExitCode = kExitUpdateFailed;
    }
    m_pMainWnd = nullptr;  // the dialog object ends with this scope
  }
  return FALSE;
}

int CUpdaterApp::ExitInstance() {
  m_log.Write("exit code %d", m_nExitCode);
  m_log.Close();  // a worker still running logs nothing after this line
  return CWinApp::ExitInstance();
}

int CUpdaterApp::DoMessageBox(const char* prompt, UINT type, UINT helpId) {
  m_log.Write("message%s: %s", m_silent ? " (not shown)" : "", prompt);
  if (m_silent) return IDOK;
  return CWinApp::DoMessageBox(prompt, type, helpId);
}

void CUpdaterApp::SetWorkerOutcome(UpdaterExitCode outcome) {
  InterlockedExchange(&m_workerOutcome, outcome);
}

void CUpdaterApp::OnUpdateEnded(WPARAM finalCode) {
  if (finalCode == kUpdateFailed) {
    m_nExitCode = static_cast<int>(InterlockedCompareExchange(&m_workerOutcome, 0, 0));
    return;
  }
  m_nExitCode = kExitUpdated;
  if (finalCode != kUpdateFinished) return;
  if (m_cancelled) {
    m_log.Write("target not opened: cancelled by the user");
  } else {
    m_log.Write("%s", OpenTargetStep(m_dest, m_pMainWnd != nullptr ? m_pMainWnd->m_hWnd : nullptr)
                          .logLine.GetString());
  }
}

void CUpdaterApp::OnUpdateCancelled() {
  m_log.Write("cancelled by the user");
  m_cancelled = true;
  m_nExitCode = kExitCancelled;
}

BOOL CUpdaterApp::Refuse() {
  m_log.Write("command line refused");
  m_nExitCode = kExitCommandLineRefused;
  if (!m_silent) ShowRefusal();
  return FALSE;
}

BOOL CUpdaterApp::RefuseWithMessage(const char* why, const CString& message) {
  m_log.Write("%s", why);
  m_nExitCode = kExitCommandLineRefused;
  AfxMessageBox(message, MB_OK);
  return FALSE;
}

BOOL CUpdaterApp::RefuseFolder(const CString& folder) {
  if (folder.IsEmpty()) {
    return RefuseWithMessage("folder refused: the updater's path cannot be read",
                             "Update refused.  The updater's own path cannot be read.");
  }
  CString message;
  message.Format(
      "Update refused.  The updater's folder %s has a path of %d characters; the updater needs "
      "one of at most %d for the files it writes there.  Move the product to a folder with a "
      "shorter path.",
      folder.GetString(), folder.GetLength(), kUpdaterFolderMaxLength);
  return RefuseWithMessage("folder refused: its path is too long", message);
}

// The program's single application object.
CUpdaterApp theApp;
