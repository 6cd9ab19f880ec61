// How a run of the updater ended, as its process exit code. The program
// that started it (the product, a scheduled task, a deployment tool) tells
// the outcomes apart by these numbers; they never change meaning.
#ifndef UPDATER_APP_EXIT_CODES_H_
#define UPDATER_APP_EXIT_CODES_H_

enum UpdaterExitCode {
  kExitUpdated = 0,             // updated; the target was opened (or the shell declined)
  kExitCommandLineRefused = 1,  // no usable -url and -dest
  kExitDownloadFailed = 2,
  kExitArchiveRefused = 3,  // not a zip archive, or its signature missing or wrong
  kExitUpdateFailed = 4,    // the update failed and nothing was changed
  kExitCancelled = 5,       // the user cancelled
  kExitUpdateRunning = 6,   // another update is running in the same folder
  kExitRightsRefused = 7,   // administrator rights are needed and were not given
};

#endif  // UPDATER_APP_EXIT_CODES_H_
