// What the records of a journal (install_journal.h) mean on disk: the moves
// of a commit, putting them back, and finishing. Shared by the transaction
// (install_transaction.h) and the recovery at the next start
// (install_recovery.h). Each works from what it finds on disk, so it can be
// cut short at any operation and run again.
//
// For record n with target T: staged file S = StagedFileName(n), old copy
// B = BackupFileName(n). A commit moves T to B (kReplace, kRemove), then S to
// T (kAdd, kReplace). The names present tell how far a record got:
//
//   kReplace:  T S -  not begun      - S B  moved aside      T - B  done
//   kAdd:      - S    not begun      T -    done
//   kRemove:   T -    not begun      - B    done
//
// and after its undoing only T (kReplace, kRemove) or nothing (kAdd) stays.
#ifndef UPDATER_INSTALL_INSTALL_MOVES_H_
#define UPDATER_INSTALL_INSTALL_MOVES_H_

#include <vector>

#include "framework/cstring.h"
#include "updater/install/install_file_system.h"
#include "updater/install/install_journal.h"

// False when an existing component of relative (the last one included)
// below folder is a link, or cannot be tested: the path might lead out of
// the folder.
bool HasNoLinkOnTheWay(CInstallFileSystem& fs, const CString& folder, const CString& relative);

// The commit's moves of one record. On failure *why says how the failed move
// ended; the record may then be half done (moved aside).
bool ApplyRecord(CInstallFileSystem& fs, const CString& folder, const InstallRecord& record,
                 MoveResult* why);

// *done: every record is done (the commit's last move happened). False when
// that cannot be told.
bool RecordsApplied(CInstallFileSystem& fs, const CString& folder,
                    const std::vector<InstallRecord>& records, bool* done);

// Puts the folder back as it was before the commit: every old copy of a
// replaced file back in its place first, the last record first; then the
// staged files and the directories the commit made (when empty) go, the
// removed files come back, and the backup folder and last the journal go. False when an old copy
// could not be put back or a directory not removed: the journal then stays for the next start.
bool UndoInstall(CInstallFileSystem& fs, const CString& folder, const InstallJournal& journal);

// After the committed record (K): deletes the old copies, what is left of
// the staging and backup folders, and the journal. Answers how many files
// could not be deleted (the old copy of the running updater cannot); the
// next start sweeps them.
int FinishInstall(CInstallFileSystem& fs, const CString& folder);

// Removes path (relative to folder), one of the updater's own folders, with
// everything below it. *removed and *kept count the files; links are
// removed, never followed. Nothing there is no failure.
void RemoveOwnFolder(CInstallFileSystem& fs, const CString& folder, const char* path, int* removed,
                     int* kept);

#endif  // UPDATER_INSTALL_INSTALL_MOVES_H_
