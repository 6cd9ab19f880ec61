#include "updater/download/update_run.h"

// A minute for the product to close; twenty seconds, all told, for files
// that other programs hold during the commit.
extern const CUpdateWaits kUpdateWaits = {60000, 20000};
