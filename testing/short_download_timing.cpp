#include "updater/download/http_download.h"

// The updater's download timing made short for tests: a stall is noticed
// after 3 s, and the waits between tries are 0.1, 0.2, 0.4 and 0.8 s.
// Retry-After keeps its limit of a minute.
extern const CDownloadTiming kDownloadTiming = {3000, 100, 60000};
