#include "updater/download/http_download.h"

// No byte for 30 s is a cut; waits of 1, 2, 4 and 8 s between tries; a
// server may ask for up to a minute.
extern const CDownloadTiming kDownloadTiming = {30000, 1000, 60000};
