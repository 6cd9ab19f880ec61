#include "updater/app/folder_access.h"

#include <gtest/gtest.h>

namespace {

TEST(FolderAccessTest, OnlyADeniedFirstStartWithAWindowAsksForRights) {
  const FolderAccess kWritable = FolderAccess::kWritable, kDenied = FolderAccess::kDenied;
  const struct {
    const char* what;
    FolderAccess access;
    bool elevated, silent, secondStart;
    FolderAccessStep step;
  } cases[] = {
      {"writable", kWritable, false, false, false, FolderAccessStep::kGoOn},
      {"writable, silent", kWritable, false, true, false, FolderAccessStep::kGoOn},
      {"writable in the second start", kWritable, true, false, true, FolderAccessStep::kGoOn},
      {"another error", FolderAccess::kUnknown, false, false, false, FolderAccessStep::kGoOn},
      {"denied, interactive", kDenied, false, false, false, FolderAccessStep::kElevate},
      {"denied, silent", kDenied, false, true, false, FolderAccessStep::kRightsNeeded},
      {"denied in the second start", kDenied, true, false, true, FolderAccessStep::kCannotWrite},
      // Where the shell's "runas" starts the copy without rights (Wine).
      {"denied in an unelevated second start", kDenied, false, false, true,
       FolderAccessStep::kCannotWrite},
      {"denied, elevated from the start", kDenied, true, false, false,
       FolderAccessStep::kCannotWrite},
      {"denied, elevated, silent", kDenied, true, true, false, FolderAccessStep::kCannotWrite},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DecideFolderAccess(c.access, c.elevated, c.silent, c.secondStart), c.step) << c.what;
  }
}

}  // namespace
