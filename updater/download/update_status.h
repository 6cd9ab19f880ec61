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

// Sent synchronously by the download before another try, while it waits:
// wParam is the coming try's number (2 or more), lParam the number of tries.
const UINT WM_UPDATE_RETRY = 1988;  // 0x7C4

// Sent synchronously by the worker while it waits for the product: lParam
// is the status line's new text (UTF-16, NUL-terminated), valid during the
// call. wParam is 0.
const UINT WM_UPDATE_NOTICE = 1989;  // 0x7C5

// Process-wide: nonzero asks the download to stop (the progress reporter
// then answers E_ABORT), or the staging of files to stop. Cleared by the
// dialog before the worker runs.
extern volatile LONG g_abortDownload;

// Process-wide: where the worker is, so that Cancel knows what it may do.
// Changed only with InterlockedCompareExchange: the worker moves it from
// download to staging to commit; Cancel moves it from download to cancelled.
extern volatile LONG g_updatePhase;
const LONG kPhaseDownload = 0;   // nothing written yet: Cancel ends at once
const LONG kPhaseStaging = 1;    // Cancel stops the staging (or the wait for
                                 // the program to close) and waits for it
const LONG kPhaseCommit = 2;     // Cancel waits for the commit or its undoing
const LONG kPhaseCancelled = 3;  // cancelled during the download

#endif  // UPDATER_DOWNLOAD_UPDATE_STATUS_H_
