// CFileInUseWait: the install step's patience with a file of the product
// that another program holds during the commit (the wait of CInUseRetry,
// updater/install/in_use_retry.h). The window names the file and, where the
// Restart Manager can tell, the program that holds it; the log says how the
// wait went. All the waits of one commit share one time limit, and once it
// is spent, or the user has cancelled, no move is tried again: the commit is
// undone as it would have been at once.
// REQUIRES: the worker thread.
#ifndef UPDATER_DOWNLOAD_FILE_IN_USE_WAIT_H_
#define UPDATER_DOWNLOAD_FILE_IN_USE_WAIT_H_

#include <windows.h>

#include "framework/cstring.h"

class CUpdateRun;

class CFileInUseWait {
 public:
  CFileInUseWait(CUpdateRun& run, DWORD limitMs) : m_run(run), m_limit(limitMs) {}
  CFileInUseWait(const CFileInUseWait&) = delete;
  CFileInUseWait& operator=(const CFileInUseWait&) = delete;

  // path: the full path of the file a move found in use. Waits a tenth of a
  // second and answers true to try again, false once the time is spent or
  // the user has cancelled.
  bool Wait(const CString& path);
  // The user cancelled during a wait (the commit was then undone).
  bool cancelled() const { return m_cancelled; }

 private:
  // The file as the user knows it: relative to the folder, '\' separated.
  CString Shown(const CString& path) const;
  void Announce(const CString& path);

  CUpdateRun& m_run;
  const DWORD m_limit;
  DWORD m_started = 0;
  bool m_waiting = false;  // m_started holds the first wait's start
  bool m_gaveUp = false;
  bool m_cancelled = false;
  CString m_path;  // the file the window names
};

#endif  // UPDATER_DOWNLOAD_FILE_IN_USE_WAIT_H_
