// RecoverInterruptedUpdate: what every start of the updater does first,
// with the folder's update lock held. From the journal an interrupted run
// left (install_journal.h) it puts the folder back to the old version or on
// to the new one, whole (install_moves.h); then it sweeps what earlier runs
// left behind: the staging and backup folders, downloaded archives and
// their signatures, tests of writing (~update.probe.N), and the leftovers of the previous version's
// staging beside the targets (name.~upd-new, name.~upd-old, the zip layer's ~uXXXX).
//
// A journal that is not one this updater would have written, or whose paths
// lead through a link, is never acted on, not even in part: it stays byte
// for byte and nothing else is touched. So does a journal of the previous
// version written during its commit: from its names alone an undo cut short
// cannot be told from a finished commit, so it is left for a person to
// judge. One of the previous version cut short while staging is undone.
#ifndef UPDATER_INSTALL_INSTALL_RECOVERY_H_
#define UPDATER_INSTALL_INSTALL_RECOVERY_H_

#include "framework/cstring.h"
#include "updater/install/install_file_system.h"

// Downloaded archives and signatures end so (updater/download/archive_name.h,
// signature_address.h).
extern const char kArchiveSuffix[];
extern const char kSignatureSuffix[];

enum class RecoveryOutcome {
  kNothingFound,  // no journal (leftovers of finished runs may have been swept)
  kRolledBack,    // an interrupted update was undone: every file is as before it
  kFinished,      // an interrupted update was completed: every new file is in place
  kPending,       // putting it right failed; the journal stays for the next start
  kRefused,       // the journal cannot be trusted or used; left as it is
};

struct RecoveryReport {
  RecoveryOutcome outcome = RecoveryOutcome::kNothingFound;
  CString found;             // what the journal was, for the log; empty: none
  int leftoversRemoved = 0;  // files of earlier runs swept away
  int leftoversKept = 0;     // files of earlier runs that could not be removed

  // False when no update may start: the journal stays (kPending, kRefused).
  bool AllowsUpdate() const;
  // The run log's line: what was found and what was done; empty when the
  // folder held nothing of an earlier run.
  CString LogLine() const;
  // For the user when no update may start; empty otherwise.
  CString Message() const;
};

// folder: the updater's folder, without trailing separator.
RecoveryReport RecoverInterruptedUpdate(CInstallFileSystem& fs, const CString& folder);

#endif  // UPDATER_INSTALL_INSTALL_RECOVERY_H_
