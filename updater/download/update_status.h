// The private message by which the download side talks to the progress
// dialog, addressed by the dialog's window handle.
//
// wParam (signed): 0 or more is a download percentage, sent synchronously
// with lParam pointing at a status text; kUpdateFailed and kUpdateFinished
// are posted by the worker with lParam 0; kUpdateReboot asks for a reboot
// notice.
#ifndef UPDATER_DOWNLOAD_UPDATE_STATUS_H_
#define UPDATER_DOWNLOAD_UPDATE_STATUS_H_

#include <windows.h>

const UINT WM_UPDATE_STATUS = 1987;  // 0x7C3

const WPARAM kUpdateFailed = static_cast<WPARAM>(-1);
const WPARAM kUpdateFinished = static_cast<WPARAM>(-2);
const WPARAM kUpdateReboot = static_cast<WPARAM>(-3);

// Process-wide: nonzero asks the download to stop (the progress reporter
// then answers E_ABORT). Cleared by the dialog before the worker runs.
extern volatile LONG g_abortDownload;

#endif  // UPDATER_DOWNLOAD_UPDATE_STATUS_H_
