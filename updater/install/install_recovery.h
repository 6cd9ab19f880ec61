// RecoverInterruptedUpdate: what every start of the updater does first,
// with the folder's update lock held. It finishes or undoes a commit that an
// earlier run left half done (finish only when every move was done), and
// removes what earlier runs left behind: staging files, moved-aside files
// (the old copy of a replaced updater among them), the zip layer's temporary
// files, and downloaded archives and their signatures.
#ifndef UPDATER_INSTALL_INSTALL_RECOVERY_H_
#define UPDATER_INSTALL_INSTALL_RECOVERY_H_

#include "framework/cstring.h"

#include "updater/install/install_file_system.h"

// Downloaded archives and signatures end so (updater/download/archive_name.h,
// signature_address.h).
extern const char kArchiveSuffix[];
extern const char kSignatureSuffix[];

// folder: the updater's folder, without trailing separator. False when
// something could not be put right; the journal then stays for the next
// start, and no new update can begin until it is gone.
bool RecoverInterruptedUpdate(CInstallFileSystem& fs, const CString& folder);

#endif  // UPDATER_INSTALL_INSTALL_RECOVERY_H_
