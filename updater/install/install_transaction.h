// CInstallTransaction: applies a set of new files to a folder all at once or
// not at all.
//
// Staging: every new file is written (by the caller, through the zip layer)
// to its staging name beside its target; nothing that exists is touched.
// Commit: the journal is completed and flushed, each existing target is moved
// aside and its staging file moved into place. A failed move undoes every
// move before it, in reverse order. Finish: the moved-aside files and the
// journal are deleted. Whatever stops a run half-way, the journal and the
// names on disk tell RecoverInterruptedUpdate (install_recovery.h) what to
// put back.
//
// Targets are paths relative to the folder, '/' or '\' separated.
// REQUIRES: one thread; the folder's update lock held (update_lock.h).
#ifndef UPDATER_INSTALL_INSTALL_TRANSACTION_H_
#define UPDATER_INSTALL_INSTALL_TRANSACTION_H_

#include "framework/cstring.h"
#include <set>
#include <vector>

#include "updater/install/install_file_system.h"
#include "updater/install/install_journal.h"

// Names of the run's own files.
extern const char kJournalName[];    // in the folder itself
extern const char kStagingSuffix[];  // a new file beside its target
extern const char kAsideSuffix[];    // an old file moved aside

enum class StageStep {
  kStage,   // write the entry to the staging name given
  kKeep,    // the existing target stays as it is (read-only, a directory, or
            // hidden or system while the new file would not be); no failure
  kFailed,  // the target cannot be staged
};

enum class CommitOutcome {
  kApplied,  // every new file is in place
  kUndone,   // a step failed; every file is as it was before the run
  kBroken,   // a step failed and so did putting things back; the journal
             // stays and the next start finishes the repair
};

class CInstallTransaction {
 public:
  CInstallTransaction(CInstallFileSystem& fs, const CString& folder);
  // Abandons a transaction that was neither committed nor aborted.
  ~CInstallTransaction();
  CInstallTransaction(const CInstallTransaction&) = delete;
  CInstallTransaction& operator=(const CInstallTransaction&) = delete;

  // Starts the journal. False when it cannot be written or one is there
  // already (an earlier run that recovery could not clear).
  bool Begin();
  // Records the directories on path that do not exist yet, before the caller
  // creates them: every one before a separator, so a trailing separator
  // includes the last. Undo and recovery remove them again when empty.
  bool NoteDirectories(const CString& path);
  // Decides what happens to a file entry for target with the given
  // attributes and, for kStage, gives the name (relative to the folder) to
  // write it to. A target named twice is staged once; the later entry wins.
  StageStep PrepareFile(const CString& target, uint32_t attributes, CString* staging);
  // Puts every staged file in place. On failure *failedTarget names the file
  // whose move failed (empty when the journal could not be written) and
  // *why says how.
  CommitOutcome Commit(CString* failedTarget, MoveResult* why);
  // Removes every staged file, every directory the run made, and the
  // journal. False when something stayed (recovery then finishes the job).
  bool Abort();

 private:
  CString Full(const CString& relative) const;
  CString Key(const CString& path) const;

  CInstallFileSystem& m_fs;
  CString m_folder;
  bool m_open = false;  // between Begin and Commit or Abort
  std::vector<InstallJournalFile> m_files;
  std::vector<CString> m_createdDirectories;
  std::set<CString> m_fileKeys;
  std::set<CString> m_knownDirectories;
};

// Shared with recovery. Each works from what is on disk, so it can be
// repeated after it was cut short.
//
// *done: the new file is in place (its staging name is gone). False when
// that cannot be told.
bool InstallFileIsDone(CInstallFileSystem& fs, const CString& folder,
                       const InstallJournalFile& file, bool* done);
// Puts back what was there before: moves a new file back to its staging
// name, the old one back in place, and deletes the staging file.
bool UndoInstallFile(CInstallFileSystem& fs, const CString& folder, const InstallJournalFile& file);
// Removes the directories, last first, where they are empty; false when a
// removal failed.
bool RemoveCreatedDirectories(CInstallFileSystem& fs, const CString& folder,
                              const std::vector<CString>& directories);
CString JoinInstallPath(const CString& folder, const CString& relative);

#endif  // UPDATER_INSTALL_INSTALL_TRANSACTION_H_
