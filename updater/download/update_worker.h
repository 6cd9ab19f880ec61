// UpdateWorker: the thread procedure that does the whole update, as the
// sequence of steps in update_run.h: download m_url into the updater's
// folder, verify its signature (in a program built with the publisher's
// key), wait for the program of -waitpid to end, and install every entry all
// at once or not at all, deleting the archive. It ends by posting
// WM_UPDATE_STATUS to the window: kUpdateFinished when every step went on,
// kUpdateFailed otherwise, after showing why in a message box where the step
// gave a message (a cancelled run ends without one). Before its final post
// it tells the application how the run ended (SetWorkerOutcome); each step's
// line goes to the application's log.
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
