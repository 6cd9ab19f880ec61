#include "updater/install/install_outcome.h"

#include "framework/text_format.h"
#include "updater/install/archive_names.h"

const char kNothingChanged[] = "; nothing was changed.";

CString JournalFailure() {
  return CString("Update failed.  The update journal could not be written") + kNothingChanged;
}

CString FileFailure(const CString& name, const char* why) {
  return "Update failed.  The file " + ShownEntryName(name) + " " + why + kNothingChanged;
}

const char* ExtractFailureReason(UnpackResult result) {
  switch (result) {
    case UNPACK_ERR_READ:
    case UNPACK_ERR_LOCAL_HEADER:
    case UNPACK_ERR_EXTRA_FIELD:
    case UNPACK_ERR_DIRECTORY:
      return "is damaged in the archive";
    case UNPACK_ERR_PASSWORD:
      return "is encrypted with another password";
    default:
      return "could not be written";
  }
}

bool HasRoomFor(CInstallFileSystem& fs, const CString& folder, uint64_t needed, CString* message) {
  const uint64_t available = fs.FreeSpace(folder);
  if (available == UINT64_MAX || needed <= available) return true;
  // FormatText, not snprintf: in C++ code the latter brings MinGW's whole
  // printf into the program.
  char text[200], neededText[kDecimal64Size], availableText[kDecimal64Size];
  FormatText(text, sizeof(text),
             "Update failed.  The update needs %s bytes, but only %s bytes are free on the disk%s",
             FormatDecimal64(needed, neededText), FormatDecimal64(available, availableText),
             kNothingChanged);
  *message = text;
  return false;
}

InstallResult CommitInstall(CInstallTransaction* transaction, CString* message) {
  CString failed;
  MoveResult why = MoveResult::kFailed;
  switch (transaction->Commit(&failed, &why)) {
    case CommitOutcome::kApplied:
      return InstallResult::kApplied;
    case CommitOutcome::kUndone:
      if (failed.IsEmpty()) {
        *message = JournalFailure();
      } else {
        *message =
            FileFailure(failed, why == MoveResult::kInUse ? "is in use" : "could not be replaced");
      }
      return InstallResult::kFailedNothingChanged;
    case CommitOutcome::kBroken:
      break;
  }
  const CString what = failed.IsEmpty()
                           ? CString("The update journal could not be written")
                           : "The file " + ShownEntryName(failed) + " could not be replaced";
  *message = "Update failed.  " + what +
             ", and not every file could be put back; the next start of the updater puts them "
             "back.";
  return InstallResult::kFailedRepairPending;
}
