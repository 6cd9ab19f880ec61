#include "updater/app/updater_app.h"

#include <cstdlib>

#include "framework/message_box.h"
#include "updater/app/cmd_line_options.h"
#include "updater/app/folder_access.h"
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

// The command line asks for an update (it may still be refused later, for
// its -sig or -waitpid); *target is its -dest.
bool AsksForUpdate(const CCmdLineOptions& options, int optionCount, CString* target) {
  try {
    options.GetValue("-url", 0);
    *target = options.GetValue("-dest", 0);
  } catch (...) {
    return false;
  }
  return optionCount >= 1;
}

CString RightsNotGiven(const CString& folder) {
  return "Update failed.  Administrator rights are needed to write to the folder " + folder +
         ", and they were not given; nothing was changed.";
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

CUpdaterApp::~CUpdaterApp() {
  if (m_waitProcess != nullptr) CloseHandle(m_waitProcess);
}

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
  m_secondStart = options.HasOption(kSecondStartOption);
  // As early as can be: the id names that program only while it runs.
  const bool waitPidRead = OpenWaitedProcess(options);

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
  // Before the repair: one pending in a folder this process may not write
  // needs the rights as much as the update does.
  CString target;
  if (AsksForUpdate(options, optionCount, &target) && !SettleFolderAccess(folder, target)) {
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
  if (!waitPidRead) {
    return RefuseWithMessage("command line refused: -waitpid needs a process id",
                             "Update refused.  -waitpid must be followed by the id of the "
                             "program's process.");
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
  } else if (m_secondStart) {
    // The product never starts with administrator rights.
    m_log.Write("target left to the updater that started this one");
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

bool CUpdaterApp::SettleFolderAccess(const CString& folder, const CString& target) {
  unsigned long error = 0;
  const FolderAccess access = ProbeFolderAccess(folder, &error);
  if (access == FolderAccess::kUnknown) {
    m_log.Write("folder %s: no test file could be made (error %lu); going on", folder.GetString(),
                error);
  }
  const bool elevated = access == FolderAccess::kDenied && IsProcessElevated();
  switch (DecideFolderAccess(access, elevated, m_silent, m_secondStart)) {
    case FolderAccessStep::kGoOn:
      return true;
    case FolderAccessStep::kCannotWrite:
      m_log.Write("folder %s may not be written (access denied)%s: no update", folder.GetString(),
                  m_secondStart ? " by the second start either" : " with administrator rights");
      m_nExitCode = kExitUpdateFailed;
      AfxMessageBox("Update failed.  The updater may not write to its folder " + folder +
                        "; nothing was changed.",
                    MB_OK);
      return false;
    case FolderAccessStep::kRightsNeeded:
      m_log.Write(
          "folder %s may not be written, and -silent shows no prompt: administrator rights are "
          "needed and were not given",
          folder.GetString());
      m_nExitCode = kExitRightsRefused;
      AfxMessageBox(RightsNotGiven(folder), MB_OK);
      return false;
    case FolderAccessStep::kElevate:
      break;
  }
  m_log.Write(
      "folder %s may not be written (access denied): starting the updater again with "
      "administrator rights",
      folder.GetString());
  // The second start takes the lock; this process does nothing more in the
  // folder.
  m_updateLock.Release();
  unsigned long code = 0;
  if (!RunElevatedCopy(&code, &error)) {
    if (error == ERROR_CANCELLED) {
      m_log.Write("administrator rights are needed and were not given: no update");
      m_nExitCode = kExitRightsRefused;
      AfxMessageBox(RightsNotGiven(folder), MB_OK);
    } else {
      m_log.Write("the updater could not start again with administrator rights (error %lu)", error);
      m_nExitCode = kExitUpdateFailed;
      AfxMessageBox(
          "Update failed.  The updater could not start again with administrator rights; "
          "nothing was changed.",
          MB_OK);
    }
    return false;
  }
  m_log.Write("the updater with administrator rights ended with exit code %lu", code);
  m_nExitCode = static_cast<int>(code);
  // The product starts with this process's rights, not the second start's.
  if (code == kExitUpdated) m_log.Write("%s", OpenTargetStep(target, nullptr).logLine.GetString());
  return false;
}

bool CUpdaterApp::OpenWaitedProcess(const CCmdLineOptions& options) {
  if (!options.HasOption("-waitpid")) return true;
  CString text;
  try {
    text = options.GetValue("-waitpid", 0);
  } catch (...) {
    return false;
  }
  uint64_t pid = 0;
  for (int i = 0; i < text.GetLength(); ++i) {
    const char c = text.GetAt(i);
    if (c < '0' || c > '9' || i >= 10) return false;
    pid = pid * 10 + static_cast<uint64_t>(c - '0');
  }
  if (text.IsEmpty() || pid > 0xFFFFFFFFu) return false;
  m_waitPid = static_cast<unsigned long>(pid);
  m_waitProcess = OpenProcess(SYNCHRONIZE, FALSE, m_waitPid);
  if (m_waitProcess == nullptr) {
    const DWORD error = GetLastError();
    if (error == ERROR_INVALID_PARAMETER) {
      m_log.Write("-waitpid %lu: no such process (it has ended); no wait", m_waitPid);
    } else {
      m_log.Write("-waitpid %lu: the process cannot be waited for (error %lu); no wait", m_waitPid,
                  static_cast<unsigned long>(error));
    }
  }
  return true;
}

// The program's single application object.
CUpdaterApp theApp;
