// The update journal: what an interrupted update leaves for the next start.
// A text of one record per line, in the order the update wrote them:
//
//   updater journal 1        header, written when staging begins
//   D <path>                 a directory that did not exist before the run
//   F <0|1> <path>           a staged file; 1 when a file it replaces exists
//   C                        every F record is on the disk; moves may follow
//
// Paths are relative to the updater's folder. A line without its newline
// (a write cut short) counts as missing, as does everything after a line that
// does not parse.
#ifndef UPDATER_INSTALL_INSTALL_JOURNAL_H_
#define UPDATER_INSTALL_INSTALL_JOURNAL_H_

#include "framework/cstring.h"
#include <vector>

struct InstallJournalFile {
  CString target;
  bool hadOld = false;
};

struct InstallJournal {
  bool valid = false;       // the header is complete
  bool committing = false;  // the C record is complete
  std::vector<CString> directories;
  std::vector<InstallJournalFile> files;
};

CString JournalHeader();
CString JournalDirectoryRecord(const CString& path);
CString JournalFileRecord(const InstallJournalFile& file);
CString JournalCommitRecord();

// True when path can be written as a record (it holds no line break).
bool JournalCanHold(const CString& path);

// Reads as much of text as is whole; never fails.
InstallJournal ParseJournal(const CString& text);

#endif  // UPDATER_INSTALL_INSTALL_JOURNAL_H_
