#include "updater/install/install_recovery.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "updater/install/install_journal.h"
#include "updater/install/install_test_support.h"
#include "updater/install/install_transaction.h"

namespace {

using installtest::CFaultyFileSystem;
using installtest::Tree;

const Tree kOld = {{"a.txt", "old a"}, {"sub/", ""}, {"sub/b.txt", "old b"}};

class InstallRecoveryTest : public ::testing::Test {
 protected:
  Tree Now() const { return installtest::Snapshot(m_folder.path()); }
  installtest::TempFolder m_folder;
};

// Stages a.txt, sub/b.txt and new/c.txt and writes the whole journal, then
// stops before the first move, as a process killed there would.
std::string StageAndStop(const std::string& folder) {
  CFaultyFileSystem fs;
  CInstallTransaction transaction(fs, folder.c_str());
  EXPECT_TRUE(transaction.Begin());
  for (const char* name : {"a.txt", "sub/b.txt", "new/c.txt"}) {
    CString staging;
    EXPECT_EQ(transaction.PrepareFile(name, kUnpackAttrArchive, &staging), StageStep::kStage);
    installtest::Plant(folder, {{staging.GetString(), "new"}});
  }
  CString journal;
  // Every operation from the first move on fails.
  fs.failAt = fs.steps + 1;
  fs.crash = true;
  CString failed;
  MoveResult why;
  EXPECT_EQ(transaction.Commit(&failed, &why), CommitOutcome::kBroken);
  SystemFileSystem().Read((folder + "/" + kJournalName).c_str(), &journal);
  return std::string(journal.GetString(), journal.GetLength());
}

TEST_F(InstallRecoveryTest, AJournalCutShortAtAnyByteLeavesTheOldFiles) {
  installtest::Plant(m_folder.path(), kOld);
  const std::string journal = StageAndStop(m_folder.str());
  ASSERT_TRUE(ParseJournal(journal.c_str()).committing);
  for (size_t cut = 0; cut <= journal.size(); ++cut) {
    SCOPED_TRACE(cut);
    m_folder.Reset();
    installtest::Plant(m_folder.path(), kOld);
    StageAndStop(m_folder.str());
    std::filesystem::resize_file(m_folder.path() / kJournalName, cut);
    EXPECT_TRUE(RecoverInterruptedUpdate(SystemFileSystem(), m_folder.str().c_str()));
    // Directories recorded in the lost part of a journal stay, empty.
    Tree now = Now();
    if (cut < journal.find("F ")) {
      now.erase("new/");
    }
    EXPECT_EQ(now, kOld);
  }
}

TEST_F(InstallRecoveryTest, RemovesWhatEarlierRunsLeftBehind) {
  const std::string aside = kAsideSuffix;
  installtest::Plant(m_folder.path(),
                     {{"updater.exe", "new"},
                      {"updater.exe" + aside, "old copy of a replaced updater"},
                      {"lost.txt" + aside, "old lost"},  // its target is gone: put back
                      {"12345.tarnwick.zip", "archive"},
                      {"-7.tarnwick.zip", "archive"},
                      {"-7.tarnwick.zip.sig", "signature"},
                      {"sub/", ""},
                      {"sub/keep.tarnwick.zip", "not the updater's"},
                      {"notes.txt", "mine"}});
  EXPECT_TRUE(RecoverInterruptedUpdate(SystemFileSystem(), m_folder.str().c_str()));
  EXPECT_EQ(Now(), (Tree{{"lost.txt", "old lost"},
                         {"notes.txt", "mine"},
                         {"sub/", ""},
                         {"sub/keep.tarnwick.zip", "not the updater's"},
                         {"updater.exe", "new"}}));

  // With a journal, staging files and the zip layer's temporary files are
  // looked for in the whole tree.
  installtest::Plant(m_folder.path(), {{"sub/x.dll.~upd-new", "staged"},
                                       {"sub/~u1f2e", "half written"},
                                       {kJournalName, "updater jou"}});
  EXPECT_TRUE(RecoverInterruptedUpdate(SystemFileSystem(), m_folder.str().c_str()));
  EXPECT_EQ(Now().size(), 5u);
}

}  // namespace
