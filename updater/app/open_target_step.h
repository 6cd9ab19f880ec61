// The last step of a good run: the target (-dest) opened through the shell.
// It runs on the user-interface thread once the worker has finished.
#ifndef UPDATER_APP_OPEN_TARGET_STEP_H_
#define UPDATER_APP_OPEN_TARGET_STEP_H_

#include <windows.h>

#include "updater/app/step_outcome.h"

// Opens target with the verb "open" on a thread of its own, serving the
// messages of window (may be null) meanwhile, since the shell can take
// seconds. Always goes on: the update itself is done whatever the shell
// answers; the log line says whether the target opened.
StepOutcome OpenTargetStep(const CString& target, HWND window);

#endif  // UPDATER_APP_OPEN_TARGET_STEP_H_
