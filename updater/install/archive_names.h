// The check of an update archive's names, run over every entry before the
// install writes anything: an archive is refused when an entry takes a name
// the updater keeps for itself (reserved_names.h), or when two entries
// whose names differ would still be one file or folder on the disk (Ä.txt
// and ä.txt, a file A and the folder a/ of another entry), which the install
// could otherwise only find half way through.
//
// Names that are the same byte for byte are no conflict: a file named twice
// is written once, the later entry winning, and a folder may be named by
// any number of entries.
#ifndef UPDATER_INSTALL_ARCHIVE_NAMES_H_
#define UPDATER_INSTALL_ARCHIVE_NAMES_H_

#include <vector>

#include "framework/cstring.h"

struct ArchiveEntryName {
  CString name;  // the cleaned entry name, '/' or '\' separated
  bool isDirectory = false;
};

// True when the archive may be installed. Otherwise *message is the text for
// the user, naming the entry or the two entries ("Update refused.  ...").
bool CheckArchiveNames(const std::vector<ArchiveEntryName>& entries, CString* message);

// An entry name as the user knows paths: backslash separated.
CString ShownEntryName(const CString& name);

#endif  // UPDATER_INSTALL_ARCHIVE_NAMES_H_
