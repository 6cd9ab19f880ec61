// StepOutcome: how one step of an update run ended. The run is a short
// sequence of steps (download, verify, wait for the product, install, then
// opening the target); each gives back one of these, and the run goes on
// while the code says kExitUpdated.
#ifndef UPDATER_APP_STEP_OUTCOME_H_
#define UPDATER_APP_STEP_OUTCOME_H_

#include "framework/cstring.h"
#include "updater/app/exit_codes.h"

struct StepOutcome {
  // kExitUpdated: the next step follows. Anything else ends the run with
  // that exit code.
  UpdaterExitCode code = kExitUpdated;
  // The run log's line for this step (without time stamp); empty: none.
  CString logLine;
  // Shown to the user in a box before the run ends; empty: no box.
  CString message;
  // The user already ended the run and its window is gone: nothing more is
  // shown or posted.
  bool windowGone = false;

  bool GoesOn() const { return code == kExitUpdated; }
};

inline StepOutcome StepDone(const CString& logLine = CString()) {
  StepOutcome outcome;
  outcome.logLine = logLine;
  return outcome;
}

inline StepOutcome StepFailed(UpdaterExitCode code, const CString& logLine,
                              const CString& message = CString()) {
  StepOutcome outcome;
  outcome.code = code;
  outcome.logLine = logLine;
  outcome.message = message;
  return outcome;
}

#endif  // UPDATER_APP_STEP_OUTCOME_H_
