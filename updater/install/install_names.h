// The names an update uses for its own files, and the one check every path
// below the install folder passes before the transaction or recovery acts on
// it (an archive's entry names and the paths read back from a journal alike).
//
// All of the updater's own files live at the top of the folder and begin
// with "~update.": the journal, the staging folder (staged files under short
// numbered names) and the backup folder (old copies moved aside during a
// commit, numbered like the files that replace them). The numbered names
// keep every staged or moved-aside path short whatever the target's length:
// "<folder>\~update.staging\<n / 32>\<n>" is at most 28 bytes longer than the
// folder (with the zip layer's temporary name "~uXXXX" in it while a file is
// written), and the download itself ("<folder>\<tick count>.tarnwick.zip")
// already needs up to 25. The 32 files of a subfolder keep the lookups of
// missing names cheap where the file system scans a folder for them (Wine
// reads the whole folder to match a name without case).
#ifndef UPDATER_INSTALL_INSTALL_NAMES_H_
#define UPDATER_INSTALL_INSTALL_NAMES_H_

#include "framework/cstring.h"

extern const char kJournalName[];        // "~update.journal"
extern const char kStagingFolderName[];  // "~update.staging"
extern const char kBackupFolderName[];   // "~update.backup"
// The installed product version (release_install.h): the one name of the
// updater's own that a transaction writes like a product file.
extern const char kVersionFileName[];  // "~update.version"

// The paths, relative to the folder, of staged file number n and of the old
// copy that file (or a removal) numbered n moves aside. n >= 1.
CString StagedFileName(int n);
CString BackupFileName(int n);

// "<folder>/<relative>".
CString JoinInstallPath(const CString& folder, const CString& relative);

// An archive's entry name as the transaction keeps it: without empty and "."
// components (bsdtar writes "./readme.txt", and "./" for the folder itself),
// '/' separated; "" names the folder itself. Nothing else changes, ".."
// included (IsSafeRelativePath refuses it).
CString CanonicalEntryPath(const CString& name);

// True when path names something strictly inside the folder by text alone:
// not empty, at most 259 bytes, relative (no leading separator, drive or
// UNC prefix, no ':' anywhere), every component non-empty and neither "."
// nor "..", no control character or one of <>"|?*, no device name (CON,
// PRN, AUX, NUL, COM0-9, LPT0-9, CONIN$, CONOUT$, also with an extension or
// trailing spaces) in any component, and not inside the updater's own names
// (a first component beginning with "~update.", compared without case), but
// for kVersionFileName itself.
// Separators are '/' and '\'; the search for them steps over double-byte
// characters. Links on the way are a matter of the disk, not of the text:
// the callers test them (install_moves.h).
bool IsSafeRelativePath(const CString& path);

#endif  // UPDATER_INSTALL_INSTALL_NAMES_H_
