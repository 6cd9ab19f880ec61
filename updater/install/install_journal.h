// The update journal (~update.journal): what an interrupted update leaves
// for the next start. A text of one record per line, in the order the update
// wrote them:
//
//   updater journal 2        header, written when staging begins
//   D <path>                 a directory the commit creates
//   F <n> <0|1> <path>       staged file n (install_names.h) goes to path;
//                            1: the file there now is moved to backup n
//   X <n> <path>             the file at path is removed: moved to backup n
//   C                        every staged file is on the disk; moves follow
//   U                        the moves are being undone
//   K                        every new file is in place and on the disk;
//                            the old copies may go
//
// The D, F and X records and C are written in one flushed append before the
// first move; U and K are flushed too. F and X records stand in commit
// order. Paths are relative to the updater's folder.
//
// A journal is input an attacker may have planted, so the reader accepts
// nothing it would not have written: a complete line that does not parse,
// a record out of its place, a path that fails IsSafeRelativePath, a number
// used twice or a path named by two file records makes the whole journal
// invalid. Only a last line without its newline (a write cut short) is
// dropped, as if it had never been written.
//
// The version before this one wrote "updater journal 1" (D records, F
// records without number, C), with its files staged beside their targets;
// such a journal is read for recovery to judge (install_recovery.h).
#ifndef UPDATER_INSTALL_INSTALL_JOURNAL_H_
#define UPDATER_INSTALL_INSTALL_JOURNAL_H_

#include <vector>

#include "framework/cstring.h"

enum class RecordKind {
  kAdd,      // F n 0: a new file where there was none
  kReplace,  // F n 1: a new file over an old one
  kRemove,   // X n: an old file goes, nothing comes
};

struct InstallRecord {
  RecordKind kind = RecordKind::kAdd;
  int number = 0;  // 0 in a journal of the previous version
  CString target;
};

enum class JournalState {
  kEmpty,       // nothing, or a header cut short: the run had staged nothing
  kStaging,     // no C: nothing outside the staging folder was touched
  kCommitting,  // C: moves may have begun
  kUndoing,     // C, U
  kCommitted,   // C, K
  kPrevious,    // "updater journal 1"; committing tells whether it had its C
  kInvalid,     // not a journal this updater would have written; see problem
};

struct InstallJournal {
  JournalState state = JournalState::kEmpty;
  bool committing = false;  // kPrevious only: the C record is there
  std::vector<CString> directories;
  std::vector<InstallRecord> records;
  CString problem;  // kInvalid: the first thing wrong, for the log
};

CString JournalHeader();
CString JournalDirectoryRecord(const CString& path);
CString JournalFileRecord(const InstallRecord& record);
extern const char kJournalCommitRecord[];     // "C\n"
extern const char kJournalUndoRecord[];       // "U\n"
extern const char kJournalCommittedRecord[];  // "K\n"

// Reads a journal's bytes; never fails (see JournalState).
InstallJournal ParseJournal(const CString& text);

#endif  // UPDATER_INSTALL_INSTALL_JOURNAL_H_
