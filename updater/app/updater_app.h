// CUpdaterApp: the updater's application object. InitInstance is the whole
// life of the program: it checks the command line, keeps the address and
// the target, and runs the update, in the progress dialog or (-silent)
// without any window. The run's outcome becomes the process exit code
// (exit_codes.h) and, with -log FILE, the last line of the log.
#ifndef UPDATER_APP_UPDATER_APP_H_
#define UPDATER_APP_UPDATER_APP_H_

#include "framework/win_app.h"
#include "updater/app/cmd_line_options.h"
#include "updater/app/exit_codes.h"
#include "updater/app/update_log.h"
#include "updater/install/update_lock.h"

class CUpdaterApp : public CWinApp {
 public:
  CUpdaterApp();
  ~CUpdaterApp() override;

  // Always answers FALSE: the program ends when the dialog (or the refusal
  // message) is closed, or when a silent run is over.
  BOOL InitInstance() override;
  // Writes "exit code N" as the log's last line; answers N.
  int ExitInstance() override;
  // Every box the worker shows is also logged; with -silent none is shown
  // and the answer is IDOK.
  int DoMessageBox(const char* prompt, UINT type, UINT helpId) override;

  // The update worker calls this just before its final post, with how its
  // part of the run ended. Any thread.
  void SetWorkerOutcome(UpdaterExitCode outcome);
  // The worker's final code as the window received it (user-interface
  // thread): opens the target after a finished update and settles the exit
  // code.
  void OnUpdateEnded(WPARAM finalCode);
  // The user ended the run (Cancel, Escape, the close box). When the worker
  // still has to end, OnUpdateEnded follows and has the last word.
  void OnUpdateCancelled();

  // Written once by InitInstance before the dialog exists; read-only after.
  CString m_url;          // first value of -url: where the update archive is
  CString m_dest;         // first value of -dest: what to open after the update
  bool m_silent = false;  // -silent: no window and no message box at all
  CString m_sig;          // first value of -sig, if any: where the archive's signature is
  CString m_full;         // first value of -full, if any: the full archive, for a delta
                          // that does not fit the installed files
  CString m_fullSig;      // first value of -fullsig, if any: where the full archive's signature is
  bool m_allowDowngrade = false;  // -allow-downgrade: an older version may be installed
  CUpdateLog m_log;               // first value of -log; off without it
  // -waitpid PID: the program that started the update, opened (SYNCHRONIZE)
  // at start-up so that its id cannot pass to another process meanwhile.
  // Null without the option or when no such process runs. Owned here.
  unsigned long m_waitPid = 0;
  HANDLE m_waitProcess = nullptr;
  // Started by an updater that could not write the folder (folder_access.h):
  // that one opens the target, this one never starts another.
  bool m_secondStart = false;

 private:
  // Each ends the run with kExitCommandLineRefused and answers FALSE.
  BOOL Refuse();  // the one box for a bad command line
  BOOL RefuseWithMessage(const char* why, const CString& message);  // why: the log line
  BOOL RefuseFolder(const CString& folder);                         // GetUpdaterFolder said no
  // Probes the folder before anything is done in it. False when the run
  // ends here (the exit code is set): rights are needed and cannot be had,
  // or a second start with them has done the run (its exit code is this
  // run's, and after a good update this process opens the target).
  bool SettleFolderAccess(const CString& folder, const CString& target);
  // Reads -waitpid; false when its value is not a process id.
  bool OpenWaitedProcess(const CCmdLineOptions& options);

  volatile LONG m_workerOutcome = kExitDownloadFailed;
  bool m_cancelled = false;  // the user cancelled; the target is not opened

  // The folder's update lock, held from the start to the end of the process.
  CUpdateLock m_updateLock;

  DECLARE_MESSAGE_MAP()
};

#endif  // UPDATER_APP_UPDATER_APP_H_
