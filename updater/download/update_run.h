// One update run on the worker thread, as a sequence of steps. Each step
// works on the run's shared state (CUpdateRun) and gives back a StepOutcome;
// UpdateWorker (update_worker.h) runs them in order while they go on, then
// ends the run with the last outcome. A feature adds a step here, or changes
// one; the dialog and -silent drive the same sequence.
#ifndef UPDATER_DOWNLOAD_UPDATE_RUN_H_
#define UPDATER_DOWNLOAD_UPDATE_RUN_H_

#include <windows.h>

#include "framework/cstring.h"
#include "updater/app/step_outcome.h"
#include "updater/app/update_log.h"
#include "updater/download/signature_check.h"

// REQUIRES: used on the worker thread only.
class CUpdateRun {
 public:
  // window: where progress reports and the final code go (the dialog, or
  // the silent run's message window). Copies the options it needs from the
  // application object and works out the updater's folder and the
  // archive's path.
  explicit CUpdateRun(HWND window);
  CUpdateRun(const CUpdateRun&) = delete;
  CUpdateRun& operator=(const CUpdateRun&) = delete;

  // After a delta that does not fit the installed files (InstallStep),
  // the run goes on with the full archive: m_url and m_sig become -full and
  // -fullsig, with a new archive path. False when no such switch is due.
  bool SwitchToFullArchive();

  HWND m_window;
  CString m_url;                   // -url
  CString m_sig;                   // -sig, empty when not given
  CString m_full;                  // -full, empty when not given or already used
  CString m_fullSig;               // -fullsig
  bool m_allowDowngrade;           // -allow-downgrade
  bool m_fullArchiveNext = false;  // set by InstallStep for SwitchToFullArchive
  CString m_folder;                // the updater's folder, no trailing separator
  CString m_archivePath;           // "<folder>\<tick count>.tarnwick.zip"
  // -waitpid: the program to wait for, or null; the application owns it.
  HANDLE m_waitProcess;
  unsigned long m_waitPid;
  // Holds the checked archive against change from the check until the
  // install step lets go of it.
  CSignedArchive m_signedArchive;
  CUpdateLog& m_log;
};

// Downloads m_url to m_archivePath with progress reports and retries shown
// in the window (HttpDownload: resumed after a cut, tried again after
// failures that may pass). Fails with exit code 2 and the reason in words;
// a failed download leaves no file.
StepOutcome DownloadStep(CUpdateRun& run);

// In a program built with the publisher's key: fetches the signature and
// checks the archive against it, keeping the archive locked from then on.
// Fails with exit code 3, the archive and signature deleted. Without a key
// it goes on at once.
StepOutcome VerifyStep(CUpdateRun& run);

// How long a run waits for the product to let go of the folder. The program
// picks them: update_waits.cpp for the shipped one, tests shorter ones
// (testing/short_update_waits.cpp).
struct CUpdateWaits {
  DWORD programCloseMs;  // for the program of -waitpid to end
  DWORD fileInUseMs;     // for files that other programs hold during the
                         // commit, all of one commit together
};
extern const CUpdateWaits kUpdateWaits;

// With -waitpid, before the first change to the folder: waits for that
// program to end, the window saying so. It never ends the program. Fails
// with exit code 4 when the program still runs after
// kUpdateWaits.programCloseMs, and 5 when the user cancels meanwhile; the
// archive is deleted then. Goes on at once without -waitpid.
StepOutcome WaitForProgramStep(CUpdateRun& run);

// Applies every entry of the archive to the folder all at once or not at
// all (updater/install/archive_install.h; with a release record,
// release_install.h), then deletes the archive. Ends with exit code 3 for a
// file that is no archive, an archive whose names or record are refused
// (updater/install/archive_names.h), an older version than the installed
// one, or a delta that does not fit the installed files when there is no
// -full (with one, the run goes on: SwitchToFullArchive); 4 when the
// install failed (nothing changed, or the next start repairs), 5 when
// cancelled, and with windowGone when the user cancelled before anything
// was written. A file of the product that another program holds is tried
// again for up to kUpdateWaits.fileInUseMs, the window naming it and, where
// the system can tell, that program; Cancel meanwhile undoes the commit
// (exit 5).
StepOutcome InstallStep(CUpdateRun& run);

#endif  // UPDATER_DOWNLOAD_UPDATE_RUN_H_
