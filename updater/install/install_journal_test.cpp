#include "updater/install/install_journal.h"

#include <gtest/gtest.h>

namespace {

TEST(InstallJournalTest, ReadsOnlyWholeRecordsOfAJournalCutAnywhere) {
  const CString dirs =
      JournalHeader() + JournalDirectoryRecord("plugins") + JournalDirectoryRecord("plugins/extra");
  const CString full = dirs + JournalFileRecord({"bin\\engine.dll", true}) +
                       JournalFileRecord({"plugins/extra/p 1.dll", false}) + JournalCommitRecord();
  InstallJournal whole = ParseJournal(full);
  ASSERT_TRUE(whole.valid);
  EXPECT_TRUE(whole.committing);
  EXPECT_EQ(whole.directories, (std::vector<CString>{"plugins", "plugins/extra"}));
  ASSERT_EQ(whole.files.size(), 2u);
  EXPECT_EQ(whole.files[0].target, "bin\\engine.dll");
  EXPECT_TRUE(whole.files[0].hadOld);
  EXPECT_EQ(whole.files[1].target, "plugins/extra/p 1.dll");
  EXPECT_FALSE(whole.files[1].hadOld);

  for (int cut = 0; cut < full.GetLength(); ++cut) {
    SCOPED_TRACE(cut);
    InstallJournal part = ParseJournal(full.Left(cut));
    EXPECT_FALSE(part.committing);
    EXPECT_EQ(part.valid, cut >= JournalHeader().GetLength());
    EXPECT_LE(part.directories.size(), 2u);
    EXPECT_EQ(part.directories.size() == 2, cut >= dirs.GetLength());
    EXPECT_LE(part.files.size(), 2u);
  }

  // Garbage ends the reading; a name with a line break cannot be recorded.
  EXPECT_FALSE(ParseJournal("not a journal\nC\n").valid);
  EXPECT_FALSE(ParseJournal(JournalHeader() + "X y\nC\n").committing);
  EXPECT_FALSE(JournalCanHold("a\nb"));
  EXPECT_FALSE(JournalCanHold(""));
}

}  // namespace
