// InstallArchive: applies every entry of an open update archive to the
// updater's folder, completely or not at all: checks the names and the free
// space, stages every entry through the zip layer into the staging folder,
// then commits
// (install_transaction.h).
#ifndef UPDATER_INSTALL_ARCHIVE_INSTALL_H_
#define UPDATER_INSTALL_ARCHIVE_INSTALL_H_

#include <functional>

#include "framework/cstring.h"

#include "unzip/unpack.h"
#include "updater/install/install_file_system.h"

// How an update ended; the one place that says so.
enum class InstallResult {
  kApplied,               // every file of the archive is in place
  kFailedNothingChanged,  // failed; every file is as it was
  kRefused,               // the archive's names cannot be installed
                          // (archive_names.h); nothing was written
  kFailedRepairPending,   // failed, and putting things back failed too; the
                          // next start of the updater finishes the repair
  kCancelled,             // stopped by the user while staging; nothing changed
  kLockBusy,              // another updater works in the folder; not started
                          // (start-up finds this with CUpdateLock, update_lock.h)
  kBaseMismatch,          // a delta made for other files than the installed
                          // ones (release_install.h); nothing was written
};

// Asked between entries with committing false, and once before the commit
// with committing true; answering true cancels the run. After the commit has
// begun nothing is asked: it runs to its end (or its undoing).
typedef std::function<bool(bool committing)> InstallCancelCheck;

// How one entry went while staging, for the run's log: written (to its
// staging name, or a directory created), kept (an existing target that
// stays as it is), or failed; reason says why, in words that follow "the
// file" ("is damaged in the archive"), and is empty otherwise. A release
// (release_install.h) also patches files, and removes them.
enum class EntryStep { kWritten, kKept, kFailed, kPatched, kDeleted };
typedef std::function<void(int32_t index, const CString& name, EntryStep step, const char* reason)>
    InstallEntryReport;

// archive: an open handle; its base directory is set to folder. folder: the
// updater's folder without trailing separator. runningProgram: the file name
// of the running updater in folder, committed last (install_transaction.h).
// On a failure *message is the text to show the user ("Update failed.
// ..."); it is empty otherwise.
InstallResult InstallArchive(UnpackHandle archive, const CString& folder, CInstallFileSystem& fs,
                             const InstallCancelCheck& cancel, CString* message,
                             const InstallEntryReport& report = {},
                             const CString& runningProgram = CString());

#endif  // UPDATER_INSTALL_ARCHIVE_INSTALL_H_
