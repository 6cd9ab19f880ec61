#include "updater/app/folder_access.h"

const char kSecondStartOption[] = "-elevated";

FolderAccessStep DecideFolderAccess(FolderAccess access, bool elevated, bool silent,
                                    bool secondStart) {
  // Another error is not one that rights would mend.
  if (access != FolderAccess::kDenied) return FolderAccessStep::kGoOn;
  if (elevated || secondStart) return FolderAccessStep::kCannotWrite;
  return silent ? FolderAccessStep::kRightsNeeded : FolderAccessStep::kElevate;
}
