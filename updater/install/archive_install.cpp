#include "updater/install/archive_install.h"

#include "updater/install/archive_names.h"
#include "updater/install/install_outcome.h"
#include "updater/install/install_transaction.h"

namespace {

CString EntryFailure(int32_t index) {
  CString text;
  text.Format("Update failed.  Entry %d of the archive is damaged%s", static_cast<int>(index),
              kNothingChanged);
  return text;
}

// Reads every entry once: the lookups fail early, before anything is
// written, the sizes (64 bits, a sum past 2^64 - 1 staying there) add up to
// what staging needs, and the names are gathered for their check.
bool MeasureArchive(UnpackHandle archive, int32_t count, uint64_t* bytes, CArchiveNames* names,
                    CString* message) {
  *bytes = 0;
  UnpackEntryInfo entry = {};
  for (int32_t i = 0; i < count; ++i) {
    uint64_t size = 0;
    if (UnpackGetEntry(archive, i, &entry) != UNPACK_OK ||
        UnpackGetUnpackedSize(archive, i, &size) != UNPACK_OK) {
      *message = EntryFailure(i);
      return false;
    }
    const bool isDirectory = (entry.dwAttributes & kUnpackAttrDirectory) != 0;
    if (!isDirectory) *bytes = size > UINT64_MAX - *bytes ? UINT64_MAX : *bytes + size;
    names->Add(entry.szName, isDirectory);
  }
  return true;
}

// Writes entry i below the folder or to its staging name, and tells report
// how it went. *message is set on failure.
bool StageEntry(UnpackHandle archive, int32_t i, CInstallTransaction* transaction, CString* message,
                const InstallEntryReport& report) {
  UnpackEntryInfo entry = {};
  if (UnpackGetEntry(archive, i, &entry) != UNPACK_OK) {
    *message = EntryFailure(i);
    if (report) report(i, "", EntryStep::kFailed, "is damaged in the archive");
    return false;
  }
  const CString name = entry.szName;
  UnpackResult result = UNPACK_OK;
  if (entry.dwAttributes & kUnpackAttrDirectory) {
    // Made by the commit, with or without a trailing separator in the name.
    if (!transaction->NoteDirectory(name)) result = UNPACK_ERR_FILE;
  } else {
    CString staging;
    switch (transaction->PrepareFile(name, entry.dwAttributes, &staging)) {
      case StageStep::kKeep:
        if (report) report(i, name, EntryStep::kKept, "");
        return true;
      case StageStep::kFailed:
        result = UNPACK_ERR_FILE;
        break;
      case StageStep::kStage:
        result = UnpackExtract(archive, i, staging.GetString());
        if (result == UNPACK_OK) transaction->FileStaged(staging);
        break;
    }
  }
  if (result != UNPACK_OK) *message = FileFailure(name, ExtractFailureReason(result));
  if (report) {
    report(i, name, result == UNPACK_OK ? EntryStep::kWritten : EntryStep::kFailed,
           result == UNPACK_OK ? "" : ExtractFailureReason(result));
  }
  return result == UNPACK_OK;
}

// Before the commit nothing outside the staging folder has changed; what
// Abort cannot remove there the next start sweeps.
InstallResult Failed(CInstallTransaction* transaction) {
  transaction->Abort();
  return InstallResult::kFailedNothingChanged;
}

}  // namespace

InstallResult InstallArchive(UnpackHandle archive, const CString& folder, CInstallFileSystem& fs,
                             const InstallCancelCheck& cancel, CString* message,
                             const InstallEntryReport& report, const CString& runningProgram) {
  message->Empty();
  UnpackSetBaseDir(archive, folder.GetString());
  // Staged files are new names in the staging folder, read by nobody until
  // the commit: written where they stay, each saves a rename.
  UnpackSetWriteInPlace(archive, 1);
  UnpackEntryInfo entry = {};
  UnpackGetEntry(archive, -1, &entry);
  const int32_t count = entry.nIndex;

  uint64_t needed = 0;
  CArchiveNames names;
  if (!MeasureArchive(archive, count, &needed, &names, message)) {
    return InstallResult::kFailedNothingChanged;
  }
  if (!names.Check(message)) return InstallResult::kRefused;
  if (!HasRoomFor(fs, folder, needed, message)) return InstallResult::kFailedNothingChanged;

  CInstallTransaction transaction(fs, folder);
  transaction.SetRunningProgram(runningProgram);
  if (!transaction.Begin()) {
    *message = JournalFailure();
    return InstallResult::kFailedNothingChanged;
  }
  for (int32_t i = 0; i < count; ++i) {
    if (cancel && cancel(false)) {
      transaction.Abort();
      return InstallResult::kCancelled;
    }
    if (!StageEntry(archive, i, &transaction, message, report)) return Failed(&transaction);
  }
  if (cancel && cancel(true)) {
    transaction.Abort();
    return InstallResult::kCancelled;
  }

  return CommitInstall(&transaction, message);
}
