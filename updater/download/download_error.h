// Why a download try failed, in words a user can act on, and whether the
// failure may pass so that another try is worth making.
#ifndef UPDATER_DOWNLOAD_DOWNLOAD_ERROR_H_
#define UPDATER_DOWNLOAD_DOWNLOAD_ERROR_H_

#include <windows.h>

#include "framework/cstring.h"

// Room for a reason: a sentence or two, and a file's path.
const int kReasonSize = 400;

struct CTryFailure {
  HRESULT result = E_FAIL;
  bool mayPass = false;           // another try may succeed
  char reason[kReasonSize] = "";  // for the user and the log
};

// A WinINet or socket call that failed with error (its GetLastError()).
// serverReached: an earlier try of the same download had an answer from the
// server, so a name that no longer resolves is the network's failure, not a
// bad address, and may pass.
CTryFailure InternetCallFailure(DWORD error, bool serverReached);

// An answer whose HTTP status is no success. reasonPhrase is the server's
// own text (only its printable ASCII is kept); may be empty. The result is
// the HRESULT of facility HTTP for the status (0x80190194 for 404).
CTryFailure HttpStatusFailure(unsigned status, const char* reasonPhrase);

// "Download failed.  Error = 0x%08lX\n\n<reason>": the first line as it has
// always read, so logs and callers can compare results.
CString DownloadFailureMessage(HRESULT result, const char* reason);

// The system's text for a Win32 or WinINet error without its line end, or
// "No message available." when it has none, into out (size bytes).
void SystemErrorText(DWORD error, char* out, int size);

#endif  // UPDATER_DOWNLOAD_DOWNLOAD_ERROR_H_
