#include "updater/install/install_recovery.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "updater/install/install_journal.h"
#include "updater/install/install_names.h"
#include "updater/install/install_test_support.h"
#include "updater/install/install_transaction.h"

namespace {

using installtest::CFaultyFileSystem;
using installtest::Tree;

const Tree kOld = {{"a.txt", "old a"}, {"sub/", ""}, {"sub/b.txt", "old b"}};

std::string Staged(int n) {
  return StagedFileName(n).GetString();
}
std::string Backup(int n) {
  return BackupFileName(n).GetString();
}

class InstallRecoveryTest : public ::testing::Test {
 protected:
  Tree Now() const { return installtest::Snapshot(m_folder.path()); }
  RecoveryReport Recover(CInstallFileSystem& fs = SystemFileSystem()) {
    return RecoverInterruptedUpdate(fs, m_folder.str().c_str());
  }
  installtest::TempFolder m_folder;
};

// Stages a.txt, sub/b.txt and new/c.txt and stops as a process killed
// after the commit record would; answers the journal.
std::string StageAndStop(const std::string& folder) {
  CFaultyFileSystem fs;
  CInstallTransaction transaction(fs, folder.c_str());
  EXPECT_TRUE(transaction.Begin());
  for (const char* name : {"a.txt", "sub/b.txt", "new/c.txt"}) {
    CString staging;
    EXPECT_EQ(transaction.PrepareFile(name, kUnpackAttrArchive, &staging), StageStep::kStage);
    installtest::Plant(folder, {{staging.GetString(), "new"}});
  }
  fs.beforeOperation = [&](int) {
    if (!fs.log.empty() && fs.log.back().data.find("C\n") != std::string::npos) {
      fs.failAt = 0;
      fs.crash = true;
    }
  };
  CString failed;
  MoveResult why;
  EXPECT_EQ(transaction.Commit(&failed, &why), CommitOutcome::kBroken);
  CString journal;
  SystemFileSystem().Read((folder + "/" + kJournalName).c_str(), &journal);
  return std::string(journal.GetString(), journal.GetLength());
}

// A power cut can leave the journal's last append in part.
TEST_F(InstallRecoveryTest, AJournalCutShortAtAnyByteLeavesTheOldFilesAndNothingElse) {
  installtest::Plant(m_folder.path(), kOld);
  const std::string journal = StageAndStop(m_folder.str());
  ASSERT_EQ(ParseJournal(journal.c_str()).state, JournalState::kCommitting);
  for (size_t cut = 0; cut <= journal.size(); ++cut) {
    SCOPED_TRACE(cut);
    m_folder.Reset();
    installtest::Plant(m_folder.path(), kOld);
    StageAndStop(m_folder.str());
    std::filesystem::resize_file(m_folder.path() / kJournalName, cut);
    EXPECT_EQ(Recover().outcome, RecoveryOutcome::kRolledBack);
    EXPECT_EQ(Now(), kOld);
  }
}

TEST_F(InstallRecoveryTest, RemovesWhatEarlierRunsLeftBehind) {
  installtest::Plant(m_folder.path(),
                     {{"updater.exe", "new"},
                      {"updater.exe.~upd-old", "old copy of a replaced updater"},
                      {"lost.txt.~upd-old", "old lost"},  // its target is gone: put back
                      {"12345.tarnwick.zip", "archive"},
                      {"-7.tarnwick.zip", "archive"},
                      {"-7.tarnwick.zip.sig", "signature"},
                      {"~u1f2e", "half written"},
                      {"~update.probe.4242", ""},  // a test of writing, cut off
                      {Staged(3), "staged"},
                      {Backup(1), "old copy of the running updater"},
                      {"sub/", ""},
                      {"sub/keep.tarnwick.zip", "not the updater's"},
                      {"sub/~update.probe.1", "not the updater's"},
                      {"notes.txt", "mine"}});
  const RecoveryReport report = Recover();
  EXPECT_EQ(report.outcome, RecoveryOutcome::kNothingFound);
  EXPECT_TRUE(report.AllowsUpdate());
  EXPECT_EQ(report.LogLine(), "recovery: 9 files left by earlier runs removed, 0 could not be");
  EXPECT_EQ(Now(), (Tree{{"lost.txt", "old lost"},
                         {"notes.txt", "mine"},
                         {"sub/", ""},
                         {"sub/keep.tarnwick.zip", "not the updater's"},
                         {"sub/~update.probe.1", "not the updater's"},
                         {"updater.exe", "new"}}));
  EXPECT_EQ(Recover().LogLine(), "");
}

// Every recovery says what it found and what it did, and one that cannot
// finish keeps its journal and lets no update start until it has.
TEST_F(InstallRecoveryTest, EachRecoveryIsReportedAndOneThatCannotFinishBlocksUpdates) {
  const std::string header = JournalHeader().GetString();
  const std::string journal = kJournalName;
  const struct Case {
    const char* what;
    Tree planted;       // the whole folder as the stopped run left it
    const char* inUse;  // a move of this file fails
    RecoveryOutcome outcome;
    const char* line;
    Tree after;
  } cases[] = {
      {"stopped while staging",
       {{journal, header + "D new\nF 1 0 new/c.txt\n"},
        {Staged(1), "new c"},
        {"a.txt", "old a"},
        {"sub/b.txt", "old b"}},
       "",
       RecoveryOutcome::kRolledBack,
       "recovery: a journal of an update stopped while staging; every file was put back as it "
       "was before that update; 1 files left by earlier runs removed, 0 could not be",
       kOld},
      {"stopped after moving a.txt aside",
       {{journal, header + "F 1 1 a.txt\nF 2 1 sub/b.txt\nC\n"},
        {Staged(1), "new a"},
        {Staged(2), "new b"},
        {Backup(1), "old a"},
        {"sub/b.txt", "old b"}},
       "",
       RecoveryOutcome::kRolledBack,
       "recovery: a journal of an update stopped during its commit (2 files); every file was put "
       "back as it was before that update",
       kOld},
      {"the old copy cannot go back",
       {{journal, header + "F 1 1 a.txt\nF 2 1 sub/b.txt\nC\n"},
        {Backup(1), "old a"},
        {"a.txt", "new a"},
        {Staged(2), "new b"},
        {"sub/b.txt", "old b"}},
       "a.txt",
       RecoveryOutcome::kPending,
       "recovery: a journal of an update stopped during its commit (2 files); it could not be put "
       "right, the journal stays and no update is started",
       {}},
      {"every move done",
       {{journal, header + "F 1 1 a.txt\nX 2 sub/b.txt\nC\n"},
        {"a.txt", "new a"},
        {Backup(1), "old a"},
        {Backup(2), "old b"},
        {"sub/", ""}},
       "",
       RecoveryOutcome::kFinished,
       "recovery: a journal of an update stopped during its commit (2 files); the update was "
       "completed, every new file is in place",
       {{"a.txt", "new a"}, {"sub/", ""}}},
      {"the previous version, stopped while staging",
       {{journal, "updater journal 1\nD new\nF 1 a.txt\nF 0 new/c.txt\n"},
        {"a.txt", "old a"},
        {"a.txt.~upd-new", "new a"},
        {"new/c.txt.~upd-new", "new c"},
        {"sub/b.txt", "old b"}},
       "",
       RecoveryOutcome::kRolledBack,
       "recovery: a journal of the previous version of the updater, stopped while staging; every "
       "file was put back as it was before that update; 2 files left by earlier runs removed, 0 "
       "could not be",
       kOld},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    m_folder.Reset();
    installtest::Plant(m_folder.path(), c.planted);
    const Tree before = Now();
    CFaultyFileSystem fs;
    fs.inUse = c.inUse;
    const RecoveryReport report = Recover(fs);
    EXPECT_EQ(report.outcome, c.outcome);
    EXPECT_EQ(report.LogLine(), c.line);
    EXPECT_EQ(report.AllowsUpdate(), report.Message().IsEmpty());
    if (c.outcome == RecoveryOutcome::kPending) {
      EXPECT_TRUE(std::filesystem::exists(m_folder.path() / kJournalName));
      EXPECT_EQ(installtest::WithoutOwnFiles(Now()), installtest::WithoutOwnFiles(before));
      // Once the file is free, the next start finishes the job.
      EXPECT_EQ(Recover().outcome, RecoveryOutcome::kRolledBack);
      EXPECT_EQ(Now(), kOld);
    } else {
      EXPECT_EQ(Now(), c.after);
    }
  }
}

// A planted journal must not reach outside the folder, nor act on anything
// inside it: a journal that fails the checks stays byte for byte, and no
// file is touched, the ones its valid records name included.
TEST_F(InstallRecoveryTest, AJournalThatFailsTheChecksIsNeverActedOnNotEvenInPart) {
  const std::filesystem::path outer = m_folder.path();
  const std::filesystem::path folder = outer / "app";
  const Tree planted = {{"app/", ""},
                        {"app/inside.txt", "inside"},
                        {"app/" + Backup(1), "old inside"},
                        {"app/" + Staged(2), "staged"},
                        {"app/12345.tarnwick.zip", "an archive"},
                        {"outside.txt", "outside"},
                        {"outside/", ""},
                        {"outside/x.txt", "x"}};
  const char* const journals[] = {
      "updater journal 2\nF 1 1 inside.txt\nF 2 1 ../outside.txt\nC\n",
      "updater journal 2\nF 1 1 inside.txt\nX 2 ..\\outside.txt\nC\nK\n",
      "updater journal 2\nD ../outside\nF 1 1 inside.txt\nC\nU\n",
      "updater journal 2\nF 1 1 inside.txt\nX 2 /etc/hostname\nC\n",
      "updater journal 2\nF 1 1 inside.txt\nX 2 C:\\boot.ini\nC\n",
      "updater journal 2\nF 1 1 inside.txt\nX 2 \\\\server\\share\\x\nC\n",
      "updater journal 2\nF 1 1 inside.txt\nX 2 NUL\nC\n",
      "updater journal 2\nF 1 1 inside.txt\nX 2 link/x.txt\nC\n",  // link -> ../outside
      "updater journal 2\nF 1 1 inside.txt\nF 1 0 other.txt\nC\n",
      "updater journal 1\nF 1 inside.txt\nC\n",  // the previous version, during its commit
      "not a journal\n",
  };
  for (const char* journal : journals) {
    SCOPED_TRACE(journal);
    m_folder.Reset();
    installtest::Plant(outer, planted);
    installtest::Plant(outer, {{"app/" + std::string(kJournalName), journal}});
    std::error_code noLink;
    std::filesystem::create_directory_symlink("../outside", folder / "link", noLink);
    if (noLink && strstr(journal, "link/") != nullptr) continue;  // no links here (Wine)
    const Tree before = installtest::Snapshot(outer);
    const RecoveryReport report =
        RecoverInterruptedUpdate(SystemFileSystem(), folder.string().c_str());
    EXPECT_EQ(report.outcome, RecoveryOutcome::kRefused);
    EXPECT_FALSE(report.AllowsUpdate());
    EXPECT_NE(report.LogLine().GetString(), std::string()) << report.found.GetString();
    EXPECT_EQ(installtest::Snapshot(outer), before);
  }
}

}  // namespace
