// Whether this run may write the updater's folder, and what it does when it
// may not. Products often live where only administrators may write: there
// the updater starts itself again with administrator rights (once; the
// second start never starts a third), so that the update is not refused as
// a bad archive after a download that could write nothing.
//
// The decision is portable; the probe, the token and the second start are
// the platform part (folder_access_win32.cpp).
#ifndef UPDATER_APP_FOLDER_ACCESS_H_
#define UPDATER_APP_FOLDER_ACCESS_H_

#include "framework/cstring.h"

enum class FolderAccess {
  kWritable,  // a file could be made and removed there
  kDenied,    // the system refused it: access denied
  kUnknown,   // another error; the run goes on and meets it where it writes
};

enum class FolderAccessStep {
  kGoOn,          // update in this process
  kElevate,       // start the updater again with administrator rights and
                  // end with its exit code
  kRightsNeeded,  // exit 7: rights are needed and no prompt may be shown
  kCannotWrite,   // exit 4: this process has what rights it can get
};

// elevated: the process token is elevated. silent: -silent, which never
// shows a prompt. secondStart: this process is the second start
// (kSecondStartOption).
FolderAccessStep DecideFolderAccess(FolderAccess access, bool elevated, bool silent,
                                    bool secondStart);

// The option that marks the second start. It comes first on that command
// line, followed by the first start's arguments unchanged.
extern const char kSecondStartOption[];

// Platform part.

// Creates "<folder>\~update.probe.<process id>" and removes it again (it is
// made to go when closed, also when the process is killed). *error is the
// system's error code when the answer is not kWritable, 0 otherwise.
FolderAccess ProbeFolderAccess(const CString& folder, unsigned long* error);

// From the process token (TokenElevation), never from membership of the
// Administrators group; false when the token cannot tell.
bool IsProcessElevated();

// Starts this program again through the shell with the verb "runas" (the
// system asks the user for administrator rights), with kSecondStartOption
// and then this process's arguments unchanged, waits for it to end and
// answers true with its exit code in *exitCode. False when it did not
// start: *error is the system's code (ERROR_CANCELLED: the user declined).
bool RunElevatedCopy(unsigned long* exitCode, unsigned long* error);

#endif  // UPDATER_APP_FOLDER_ACCESS_H_
