// The commit and its undoing stopped at every operation in turn (the crash
// matrix): once as a single failing operation, once as a crash (every
// operation from there on fails), after which recovery -- itself crashed at
// every operation in turn and then run again -- must leave the folder
// wholly old or wholly new with nothing else in it, and no old copy may have
// been deleted before the new files were known to be on the disk.
#include "updater/install/install_transaction.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "updater/install/in_use_retry.h"
#include "updater/install/install_names.h"
#include "updater/install/install_recovery.h"
#include "updater/install/install_test_support.h"

namespace {

using installtest::CFaultyFileSystem;
using installtest::Operation;
using installtest::Tree;

const Tree kOld = {
    {"updater.exe", "old updater"},    {"readme.txt", "old readme"}, {"bin/", ""},
    {"bin/engine.dll", "old engine"},  {"bin/obsolete.dll", "old"},  {"docs/", ""},
    {"docs/manual.txt", "old manual"}, {"locked.txt", "kept"},       {"lib", "old lib"}};

struct UpdateStep {
  enum Kind { kFile, kDirectory, kRemoval } kind;
  std::string name;
  std::string content;
};

// In archive order. The running program comes first and is committed last;
// readme.txt comes twice and the later one wins; the read-only locked.txt
// stays as it is; the directory entry has no trailing separator; the file
// lib gives way to a directory.
const std::vector<UpdateStep> kUpdate = {{UpdateStep::kFile, "updater.exe", "new updater"},
                                         {UpdateStep::kFile, "bin\\engine.dll", "new engine"},
                                         {UpdateStep::kFile, "plugins/extra/p.dll", "new plugin"},
                                         {UpdateStep::kFile, "locked.txt", "not written"},
                                         {UpdateStep::kFile, "readme.txt", "first readme"},
                                         {UpdateStep::kDirectory, "empty", ""},
                                         {UpdateStep::kRemoval, "bin/obsolete.dll", ""},
                                         {UpdateStep::kFile, "readme.txt", "new readme"},
                                         {UpdateStep::kRemoval, "lib", ""},
                                         {UpdateStep::kFile, "lib/new.dll", "new lib"}};

const Tree kNew = {{"updater.exe", "new updater"},
                   {"readme.txt", "new readme"},
                   {"bin/", ""},
                   {"bin/engine.dll", "new engine"},
                   {"docs/", ""},
                   {"docs/manual.txt", "old manual"},
                   {"empty/", ""},
                   {"locked.txt", "kept"},
                   {"lib/", ""},
                   {"lib/new.dll", "new lib"},
                   {"plugins/", ""},
                   {"plugins/extra/", ""},
                   {"plugins/extra/p.dll", "new plugin"}};

enum class Outcome { kStagingFailed, kApplied, kUndone, kBroken };

// Stages kUpdate through fs, calls beforeCommit, and commits; *failed names
// what the commit reports as failed. The zip layer writes the staged files
// in the updater; here the seam does, so that its writes fail too.
Outcome RunUpdate(CInstallFileSystem& fs, const std::string& folder, std::string* failed = nullptr,
                  const std::function<void()>& beforeCommit = nullptr) {
  CInstallTransaction transaction(fs, folder.c_str());
  transaction.SetRunningProgram("UPDATER.EXE");
  if (!transaction.Begin()) return Outcome::kStagingFailed;
  for (const UpdateStep& step : kUpdate) {
    bool ok = true;
    if (step.kind == UpdateStep::kDirectory) {
      ok = transaction.NoteDirectory(step.name.c_str());
    } else if (step.kind == UpdateStep::kRemoval) {
      ok = transaction.PrepareRemoval(step.name.c_str());
    } else {
      CString staging;
      const StageStep prepared =
          transaction.PrepareFile(step.name.c_str(), kUnpackAttrArchive, &staging);
      if (prepared == StageStep::kKeep) continue;
      const std::filesystem::path path = std::filesystem::path(folder) / staging.GetString();
      std::filesystem::create_directories(path.parent_path());
      ok = prepared == StageStep::kStage &&
           fs.Append(path.string().c_str(), step.content.c_str(), false);
      if (ok) transaction.FileStaged(staging);
    }
    if (!ok) {
      transaction.Abort();
      return Outcome::kStagingFailed;
    }
  }
  if (beforeCommit) beforeCommit();
  CString failedTarget;
  MoveResult why;
  const CommitOutcome outcome = transaction.Commit(&failedTarget, &why);
  if (failed != nullptr) *failed = failedTarget.GetString();
  switch (outcome) {
    case CommitOutcome::kApplied:
      return Outcome::kApplied;
    case CommitOutcome::kUndone:
      return Outcome::kUndone;
    case CommitOutcome::kBroken:
      break;
  }
  return Outcome::kBroken;
}

// The file system of one run, with what the disk does that the plan does
// not expect: a staged file that goes away, a journal record that cannot
// be written, an old copy that cannot be deleted.
class CSurprisingDisk : public CFaultyFileSystem {
 public:
  std::string vanishBeforeMoving;  // a staged file deleted just before its move
  bool failCommittedRecord = false;
  std::string undeletable;

  MoveResult Move(const CString& from, const CString& to) override {
    if (!vanishBeforeMoving.empty() &&
        std::string(from.GetString()).find(vanishBeforeMoving) != std::string::npos) {
      std::filesystem::remove(from.GetString());
    }
    return CFaultyFileSystem::Move(from, to);
  }
  bool Append(const CString& path, const CString& data, bool flush) override {
    return !(failCommittedRecord && data == "K\n") && CFaultyFileSystem::Append(path, data, flush);
  }
  bool RemoveFile(const CString& path) override {
    return (undeletable.empty() || !strstr(path, undeletable.c_str())) &&
           CFaultyFileSystem::RemoveFile(path);
  }
};

class InstallTransactionTest : public ::testing::Test {
 protected:
  // The old tree, ready for a run.
  void Prepare() {
    m_folder.Reset();
    installtest::Plant(m_folder.path(), kOld);
    std::filesystem::permissions(m_folder.path() / "locked.txt",
                                 std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::remove);
  }
  Tree Now() const { return installtest::Snapshot(m_folder.path()); }
  RecoveryReport Recover(CInstallFileSystem& fs) {
    return RecoverInterruptedUpdate(fs, m_folder.str().c_str());
  }

  installtest::TempFolder m_folder;
};

TEST_F(InstallTransactionTest, CrashMatrixAnyStopLeavesTheOldOrTheNewVersionWholeAndNothingElse) {
  int stopPoints = 0;
  // Once through the commit; once through its undoing, when readme.txt
  // cannot be moved aside after the removals, the directories and three
  // files.
  for (const std::string inUse : {"", "readme.txt"}) {
    SCOPED_TRACE("in use: " + inUse);
    const Tree& expected = inUse.empty() ? kNew : kOld;
    Prepare();
    CFaultyFileSystem counter;
    counter.inUse = inUse;
    ASSERT_EQ(RunUpdate(counter, m_folder.str()),
              inUse.empty() ? Outcome::kApplied : Outcome::kUndone);
    ASSERT_EQ(Now(), expected);
    EXPECT_EQ(installtest::DeletesOldCopiesOnlyWhenDurable(counter.log), "");
    const int steps = counter.steps;

    for (int k = 0; k < steps; ++k) {
      SCOPED_TRACE("stopped at operation " + std::to_string(k));
      // A single failing operation: a run that reports the old state leaves
      // the old files at once; the next start puts every run right.
      Prepare();
      CFaultyFileSystem single;
      single.inUse = inUse;
      single.failAt = k;
      const Outcome run = RunUpdate(single, m_folder.str());
      if (run != Outcome::kApplied && run != Outcome::kBroken) {
        EXPECT_EQ(installtest::WithoutOwnFiles(Now()), kOld);
      }
      CFaultyFileSystem working;
      EXPECT_TRUE(Recover(working).AllowsUpdate());
      EXPECT_EQ(Now(), run == Outcome::kApplied ? kNew : kOld);
      ++stopPoints;

      // A crash at operation k, then a recovery that crashes at operation j,
      // then one that runs through.
      for (int j = 0;; ++j) {
        SCOPED_TRACE("recovery stopped at operation " + std::to_string(j));
        Prepare();
        CFaultyFileSystem crashed;
        crashed.inUse = inUse;
        crashed.failAt = k;
        crashed.crash = true;
        RunUpdate(crashed, m_folder.str());
        CFaultyFileSystem recovery;
        recovery.failAt = j;
        recovery.crash = true;
        Recover(recovery);
        CFaultyFileSystem last;
        EXPECT_TRUE(Recover(last).AllowsUpdate());
        const Tree after = Now();
        EXPECT_TRUE(after == kOld || after == expected) << after.size() << " names";
        std::vector<Operation> log = crashed.log;
        log.insert(log.end(), recovery.log.begin(), recovery.log.end());
        log.insert(log.end(), last.log.begin(), last.log.end());
        EXPECT_EQ(installtest::DeletesOldCopiesOnlyWhenDurable(log), "");
        ++stopPoints;
        if (recovery.steps <= j) break;  // the recovery ran through unstopped
      }
    }
  }
  std::cout << "crash matrix: " << stopPoints << " stop points\n";
}

// The running program is in the folder for all but one rename: moved in
// last, put back first. And the disk differing from the plan never costs
// an old file.
TEST_F(InstallTransactionTest, TheRunningProgramIsMissingOnlyForOneRenameAndSurprisesCostNothing) {
  const struct Case {
    const char* what;
    std::function<void(CSurprisingDisk*, const std::filesystem::path& folder)> surprise;
    Outcome outcome;
    const char* failed;
    bool programBackFirst;  // the commit got as far as moving updater.exe in
    Tree after;             // before the next start
  } cases[] = {
      {"a good run", nullptr, Outcome::kApplied, "", false, kNew},
      {"the committed record cannot be written",
       [](CSurprisingDisk* fs, const std::filesystem::path&) { fs->failCommittedRecord = true; },
       Outcome::kUndone, "", true, kOld},
      {"a staged file vanishes before the commit",
       [](CSurprisingDisk*, const std::filesystem::path& folder) {
         std::filesystem::remove(folder / StagedFileName(2).GetString());
       },
       Outcome::kUndone, "bin/engine.dll", false, kOld},
      {"a staged file vanishes just before its move",
       [](CSurprisingDisk* fs, const std::filesystem::path&) {
         fs->vanishBeforeMoving = StagedFileName(3).GetString();
       },
       Outcome::kUndone, "plugins/extra/p.dll", false, kOld},
      {"the running program's old copy cannot be deleted",
       [](CSurprisingDisk* fs, const std::filesystem::path&) {
         fs->undeletable = BackupFileName(1).GetString();
       },
       Outcome::kApplied, "", false, kNew},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Prepare();
    CSurprisingDisk fs;
    std::string failed;
    EXPECT_EQ(RunUpdate(fs, m_folder.str(), &failed,
                        [&] {
                          if (c.surprise) c.surprise(&fs, m_folder.path());
                        }),
              c.outcome);
    EXPECT_EQ(failed, c.failed);
    EXPECT_EQ(installtest::WithoutOwnFiles(Now()), c.after);
    EXPECT_EQ(installtest::DeletesOldCopiesOnlyWhenDurable(fs.log), "");

    // The moves into place and back: updater.exe is the last in, the first back.
    std::vector<std::string> in;
    std::vector<std::string> back;
    for (const Operation& op : fs.log) {
      if (op.kind != Operation::kMove || op.to.find("~update.") != std::string::npos) continue;
      (op.path.find("~update.backup") != std::string::npos ? back : in).push_back(op.to);
    }
    const std::string program = m_folder.str() + "/updater.exe";
    if (c.outcome == Outcome::kApplied) {
      ASSERT_FALSE(in.empty());
      EXPECT_EQ(in.back(), program);
    }
    if (c.programBackFirst) {
      ASSERT_FALSE(back.empty());
      EXPECT_EQ(back.front(), program);
    }

    CFaultyFileSystem nextStart;
    EXPECT_TRUE(Recover(nextStart).AllowsUpdate());
    EXPECT_EQ(Now(), c.after);
  }
}

// A file another program holds during the commit is tried again while the
// caller waits (CInUseRetry), and moved once it is free; a caller that gives
// up gets the commit undone as before.
TEST_F(InstallTransactionTest, AFileInUseIsTriedAgainWhileTheCallerWaits) {
  for (const int freedAfter : {3, 0}) {
    SCOPED_TRACE(freedAfter > 0 ? "freed after three waits" : "never freed");
    Prepare();
    CFaultyFileSystem disk;
    disk.inUse = "bin/engine.dll";
    int waits = 0;
    CInUseRetry fs(disk, [&](const CString& path) {
      EXPECT_EQ(std::string(path.GetString()), m_folder.str() + "/bin/engine.dll");
      if (++waits == freedAfter) disk.inUse.clear();
      return waits < 5;
    });
    std::string failed;
    EXPECT_EQ(RunUpdate(fs, m_folder.str(), &failed),
              freedAfter > 0 ? Outcome::kApplied : Outcome::kUndone);
    EXPECT_EQ(waits, freedAfter > 0 ? freedAfter : 5);
    EXPECT_EQ(failed, freedAfter > 0 ? "" : "bin/engine.dll");
    EXPECT_EQ(Now(), freedAfter > 0 ? kNew : kOld);
    EXPECT_EQ(installtest::DeletesOldCopiesOnlyWhenDurable(disk.log), "");
  }
}

}  // namespace
