#include "updater/download/update_run.h"

// The updater's waits for the product made short for tests: 5 s for the
// program of -waitpid, 2 s for files in use during a commit.
extern const CUpdateWaits kUpdateWaits = {5000, 2000};
