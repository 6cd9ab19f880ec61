// InstallRelease: installs an update archive that carries a release record
// (updater/release/release_archive.h) -- a full archive made by `unpack
// make` or a delta made by `unpack delta` -- completely or not at all, in
// one transaction (install_transaction.h) with the installed version.
//
// Before anything outside the staging folder changes, in this order:
//   - the record is read and must describe the archive's entries exactly;
//     its paths, converted to the process code page, pass the checks an
//     archive's names pass (archive_names.h) and name files inside the
//     folder;
//   - the installed version (kVersionFileName, written by the last update
//     that had a record) is compared: an older version is refused unless
//     allowDowngrade; a delta made from another version than the installed
//     one does not fit it;
//   - every file a delta patches, deletes or keeps is hashed: one that is
//     not the delta's base makes the delta not fit;
//   - the free space must hold every file written or patched.
// Then removals, folders, files written whole (checked against the record's
// SHA-256 and size) and patched files (rebuilt from the installed file,
// checked likewise) are staged, with the new version file, and committed.
//
// Memory: a patched file's base is read whole into one allocation of its
// exact size; the patch decoder adds the result's window (patch_decoder.h).
// Files above kMaxPatchedFileSize are never patched.
#ifndef UPDATER_INSTALL_RELEASE_INSTALL_H_
#define UPDATER_INSTALL_RELEASE_INSTALL_H_

#include <functional>

#include "framework/cstring.h"
#include "unzip/unpack.h"
#include "updater/install/archive_install.h"
#include "updater/install/install_file_system.h"
#include "updater/release/release_version.h"

struct ReleaseInstallOptions {
  bool allowDowngrade = false;  // -allow-downgrade
  InstallCancelCheck cancel;    // as for InstallArchive
  InstallEntryReport report;    // deletions are reported with index -1
  CString runningProgram;       // committed last (install_transaction.h)
  // Hears, once the record is read and before anything is staged, the run
  // log's line saying what the record holds and what is installed.
  std::function<void(const CString& line)> describe;
};

// archive: an open handle whose entry 0 is a release record
// (HasReleaseRecord). folder: the updater's folder without trailing
// separator. Answers kBaseMismatch for a delta that does not fit the
// installed files, kRefused for a record that cannot be used or an older
// version; on a failure *message is the text for the user.
InstallResult InstallRelease(UnpackHandle archive, const CString& folder, CInstallFileSystem& fs,
                             const ReleaseInstallOptions& options, CString* message);

// The installed version as the version file in folder says. kUnknown when
// the file is there but holds no version.
enum class InstalledVersion { kNone, kKnown, kUnknown };
InstalledVersion ReadInstalledVersion(CInstallFileSystem& fs, const CString& folder,
                                      ReleaseVersion* version);

#endif  // UPDATER_INSTALL_RELEASE_INSTALL_H_
