// HttpDownload: fetches an http or https address into a file through
// WinINet, with the system's proxy settings, and lives through what real
// networks do. A connection cut half-way (or a server that stops sending)
// is resumed where the file ends, with a Range request that only the same
// file may answer (If-Range); failures that may pass are tried again after
// a wait; answers that will not pass end the download at once.
//
// Reusable for any file the updater fetches: an address, a path and a
// reporter go in; an outcome comes out.
#ifndef UPDATER_DOWNLOAD_HTTP_DOWNLOAD_H_
#define UPDATER_DOWNLOAD_HTTP_DOWNLOAD_H_

#include <windows.h>

#include <cstdint>

#include "framework/cstring.h"
#include "updater/app/exit_codes.h"

class CDownloadStatusCallback;
class CUpdateLog;

// How long a download waits for what. The program runs with kDownloadTiming;
// tests shorten it.
struct CDownloadTiming {
  DWORD stallMs;           // no byte for this long and the connection counts as cut
  DWORD firstRetryWaitMs;  // the wait before the second try, doubled before each further one
  DWORD maxRetryAfterMs;   // a server that asks (Retry-After) for a longer wait is not tried again
};

// Defined once per program: download_timing.cpp for the updater (30 s
// stall, waits of 1, 2, 4 and 8 s, Retry-After up to 60 s); tests link
// shorter ones.
extern const CDownloadTiming kDownloadTiming;

struct CDownloadOutcome {
  // kExitUpdated: path holds the whole file. kExitCancelled: the reporter
  // stopped it. kExitDownloadFailed: any other end.
  UpdaterExitCode exitCode = kExitDownloadFailed;
  HRESULT result = E_FAIL;  // S_OK, or why the last try failed
  CString message;          // for the user when it failed: "Download failed.  Error = 0x...\n\n..."
  uint64_t bytes = 0;       // in the file at the end
  int tries = 0;            // tries made, the first one included
};

// Downloads url into path, which is created or replaced; on any end but
// kExitUpdated nothing is left at path. Blocks the calling thread.
//
// reporter (may be null) hears the progress through OnProgress, with the
// file's bytes so far and its size (0 when unknown); its E_ABORT stops the
// download. Before each further try it hears OnRetry. A set g_abortDownload
// also ends the wait between tries. log (may be null) gets a line for each
// failed try with its reason and for each answer that resumes or restarts
// the file.
CDownloadOutcome HttpDownload(const char* url, const char* path, CDownloadStatusCallback* reporter,
                              CUpdateLog* log, const CDownloadTiming& timing);

#endif  // UPDATER_DOWNLOAD_HTTP_DOWNLOAD_H_
