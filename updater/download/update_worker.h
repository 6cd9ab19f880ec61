// UpdateWorker: the thread procedure that does the whole update. It
// downloads the application's m_url into the updater's folder, applies every
// entry there all at once or not at all (updater/install/archive_install.h),
// deletes the archive, and posts WM_UPDATE_STATUS to the progress dialog:
// kUpdateFinished after an applied archive, kUpdateFailed after showing why
// in a message box (a failed download, a file that is not an archive, in a
// program built with the publisher's key an archive not signed with it, an
// update that failed and changed nothing) or, without a box, after Cancel
// stopped the staging. Before its final post it tells the application how
// the run ended (SetWorkerOutcome), and it logs each step to the
// application's log.
#ifndef UPDATER_DOWNLOAD_UPDATE_WORKER_H_
#define UPDATER_DOWNLOAD_UPDATE_WORKER_H_

#include <windows.h>

class CWnd;

// pParam: the progress dialog as a CWnd*. Its m_hWnd is read at the start
// (the progress reports go there) and again for the final post. The
// application object must be a CUpdaterApp. Answers 0.
UINT __cdecl UpdateWorker(LPVOID pParam);

// Starts UpdateWorker for window with the abort flag cleared. When the
// thread cannot be created, shows "Couldn't create worker thread!" and
// answers false.
bool StartUpdateWorker(CWnd* window);

#endif  // UPDATER_DOWNLOAD_UPDATE_WORKER_H_
