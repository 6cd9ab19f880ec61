// CInstallTransaction: applies a set of new files (and removals) to a folder
// all at once or not at all, and so that a stop at any moment -- a crash, a
// kill, a power cut -- leaves what the next start (install_recovery.h) turns
// back into the old version or on into the new one, whole.
//
// Staging: every new file is written (by the caller, through the zip layer)
// to a numbered name in the staging folder (install_names.h); nothing else is
// touched, not even the directories the update needs. Commit, in this order:
//   1. every staged file is flushed to the disk;
//   2. the journal gets its D, F and X records and the commit record C, and
//      is flushed: from here on the next start knows what to put back;
//   3. the removed files are moved to the backup folder (one may give way
//      to a directory of the same name), the directories are made, then for
//      each file in turn the old one (if any) is moved to the backup folder
//      and the staged one into place; the running program comes last;
//   4. the record K is appended and flushed: every new file is in place and
//      on the disk;
//   5. only now are the old copies deleted, then the journal.
// A failed step before 4 writes U (flushed) and undoes the moves: every old
// copy goes back first, the running program's first of all, then what was
// staged and the directories made are removed, then the removed files come
// back, then the journal goes.
//
// Targets are paths relative to the folder, '/' or '\' separated; the journal
// keeps them '/' separated.
// REQUIRES: one thread; the folder's update lock held (update_lock.h).
#ifndef UPDATER_INSTALL_INSTALL_TRANSACTION_H_
#define UPDATER_INSTALL_INSTALL_TRANSACTION_H_

#include <set>
#include <vector>

#include "framework/cstring.h"
#include "updater/install/install_file_system.h"
#include "updater/install/install_journal.h"

enum class StageStep {
  kStage,   // write the entry to the staging name given
  kKeep,    // the existing target stays as it is (read-only, a directory, or
            // hidden or system while the new file would not be); no failure
  kFailed,  // the target cannot be staged: an unsafe name, a path too long,
            // a link or a file on the way, or the disk cannot tell
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

  // The file name of the running program (in the folder itself), compared
  // without case: a new copy of it is moved in last and put back first, so
  // that the folder lacks it for the shortest time.
  void SetRunningProgram(const CString& fileName) { m_program = fileName; }

  // Starts the journal and the staging folder. False when they cannot be
  // written or a journal is there already (an earlier run that recovery
  // could not clear).
  bool Begin();
  // A directory entry: the directory (trailing separators allowed) and every
  // missing one above it are made by the commit and removed by its undoing.
  // Where a file is, the directory may only come after PrepareRemoval of it.
  bool NoteDirectory(const CString& directory);
  // Decides what happens to a file entry with the given name and
  // attributes and, for kStage, gives the name (relative to the folder) to
  // write it to. A target named twice is staged once; the later entry wins.
  // Names are taken as CanonicalEntryPath gives them (install_names.h).
  StageStep PrepareFile(const CString& name, uint32_t attributes, CString* staging);
  // The file PrepareFile named last has been written whole: it may go to
  // the disk while the rest is staged.
  void FileStaged(const CString& staging);
  // The commit removes the file of that name (moves it aside; the undo puts
  // it back). True also when there is nothing to remove; false when it is a
  // directory, a link, unsafe, or a file of this update.
  bool PrepareRemoval(const CString& name);
  // Puts every staged file in place. On failure *failedTarget names the file
  // or directory whose step failed (empty when the journal could not be
  // written) and *why says how.
  CommitOutcome Commit(CString* failedTarget, MoveResult* why);
  // Removes what was staged and the journal. Nothing outside the staging
  // folder has changed before the commit; false when something stayed
  // (the next start removes it).
  bool Abort();

 private:
  CString Full(const CString& relative) const;
  CString Key(const CString& path) const;
  bool IsRemoval(const CString& key) const;
  bool IsProgram(const InstallRecord& record) const;
  CommitOutcome Undo(const InstallJournal& journal);

  CInstallFileSystem& m_fs;
  CString m_folder;
  CString m_program;
  bool m_open = false;  // between Begin and Commit or Abort
  int m_lastNumber = 0;
  std::vector<InstallRecord> m_records;
  std::vector<CString> m_directories;    // to make, outermost first
  std::set<CString> m_recordKeys;        // Key(target) of every record
  std::set<CString> m_knownDirectories;  // Key(directory): there, or made by the commit
};

#endif  // UPDATER_INSTALL_INSTALL_TRANSACTION_H_
