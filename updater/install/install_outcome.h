// What the two kinds of install (archive_install.h, release_install.h)
// share: the texts that tell the user how a run failed, the free-space
// check and the commit with what its outcome means.
#ifndef UPDATER_INSTALL_INSTALL_OUTCOME_H_
#define UPDATER_INSTALL_INSTALL_OUTCOME_H_

#include <cstdint>

#include "framework/cstring.h"
#include "unzip/unpack.h"
#include "updater/install/archive_install.h"
#include "updater/install/install_file_system.h"
#include "updater/install/install_transaction.h"

// Ends every text of a run that changed nothing.
extern const char kNothingChanged[];  // "; nothing was changed."
// "Update failed.  The update journal could not be written; nothing was changed."
CString JournalFailure();

// "Update failed.  The file <name> <why>; nothing was changed."
CString FileFailure(const CString& name, const char* why);

// Words for a failed extraction that follow "the file" ("is damaged in the
// archive").
const char* ExtractFailureReason(UnpackResult result);

// False, with *message, when needed bytes are more than the disk of folder
// has free.
bool HasRoomFor(CInstallFileSystem& fs, const CString& folder, uint64_t needed, CString* message);

// Commits transaction and answers how the run ended, with *message for the
// user on a failure.
InstallResult CommitInstall(CInstallTransaction* transaction, CString* message);

#endif  // UPDATER_INSTALL_INSTALL_OUTCOME_H_
