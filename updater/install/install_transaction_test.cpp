// The commit and its undoing, with a failure injected at every step in turn:
// once as a single failing operation, once as a crash (every operation from
// there on fails), after which recovery -- itself crashed at every step in
// turn and then run again -- must leave every file all old or all new and
// nothing else behind.
#include "updater/install/install_transaction.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <utility>
#include <vector>

#include "updater/install/install_recovery.h"
#include "updater/install/install_test_support.h"

namespace {

using installtest::CFaultyFileSystem;
using installtest::Tree;

const Tree kOld = {{"app.exe", "old app"},
                   {"bin/", ""},
                   {"bin/engine.dll", "old engine"},
                   {"docs/", ""},
                   {"docs/readme.txt", "old readme"},
                   {"locked.txt", "kept"}};

// In archive order; app.exe comes twice and the later one wins; the
// read-only locked.txt stays as it is.
const std::vector<std::pair<std::string, std::string>> kEntries = {
    {"app.exe", "first app"},
    {"bin\\engine.dll", "new engine"},
    {"plugins/extra/p.dll", "new plugin"},
    {"locked.txt", "not written"},
    {"app.exe", "new app"}};

const Tree kNew = {{"app.exe", "new app"},
                   {"bin/", ""},
                   {"bin/engine.dll", "new engine"},
                   {"docs/", ""},
                   {"docs/readme.txt", "old readme"},
                   {"locked.txt", "kept"},
                   {"plugins/", ""},
                   {"plugins/extra/", ""},
                   {"plugins/extra/p.dll", "new plugin"}};

enum class Outcome { kStagingFailed, kApplied, kUndone, kBroken };

Outcome RunUpdate(CInstallFileSystem& fs, const std::string& folder) {
  CInstallTransaction transaction(fs, folder.c_str());
  if (!transaction.Begin()) return Outcome::kStagingFailed;
  for (const auto& [name, content] : kEntries) {
    CString staging;
    StageStep step = transaction.PrepareFile(name.c_str(), kUnpackAttrArchive, &staging);
    if (step == StageStep::kKeep) continue;
    if (step == StageStep::kFailed) {
      transaction.Abort();
      return Outcome::kStagingFailed;
    }
    // The zip layer writes the real thing (making its directories); here the
    // seam does, so that its writes fail too.
    std::string path = folder + "/" + staging.GetString();
    std::replace(path.begin(), path.end(), '\\', '/');
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    if (!fs.Append(path.c_str(), content.c_str(), false)) {
      transaction.Abort();
      return Outcome::kStagingFailed;
    }
  }
  CString failed;
  MoveResult why;
  switch (transaction.Commit(&failed, &why)) {
    case CommitOutcome::kApplied:
      return Outcome::kApplied;
    case CommitOutcome::kUndone:
      return Outcome::kUndone;
    case CommitOutcome::kBroken:
      break;
  }
  return Outcome::kBroken;
}

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
  bool Recover(CInstallFileSystem& fs) {
    return RecoverInterruptedUpdate(fs, m_folder.str().c_str());
  }

  installtest::TempFolder m_folder;
};

TEST_F(InstallTransactionTest, AppliesEverythingOrNothingWhateverStepFails) {
  for (const std::string inUse : {"", "engine.dll"}) {
    SCOPED_TRACE("in use: " + inUse);
    const Tree& expected = inUse.empty() ? kNew : kOld;
    Prepare();
    CFaultyFileSystem counter;
    counter.inUse = inUse;
    ASSERT_EQ(RunUpdate(counter, m_folder.str()),
              inUse.empty() ? Outcome::kApplied : Outcome::kUndone);
    ASSERT_EQ(Now(), expected);
    const int steps = counter.steps;

    for (int k = 0; k < steps; ++k) {
      SCOPED_TRACE("failing step " + std::to_string(k));
      // A single failing operation: a run that reports the old state leaves
      // exactly that, at once; any other is put right by the next start.
      Prepare();
      CFaultyFileSystem single;
      single.inUse = inUse;
      single.failAt = k;
      Outcome run = RunUpdate(single, m_folder.str());
      if (run == Outcome::kStagingFailed || run == Outcome::kUndone) {
        EXPECT_EQ(Now(), kOld);
      }
      CFaultyFileSystem working;
      working.inUse = inUse;
      EXPECT_TRUE(Recover(working));
      EXPECT_EQ(Now(), run == Outcome::kApplied ? kNew : kOld);

      // A crash at step k, then a recovery that crashes at step j, then one
      // that runs through.
      for (int j = 0;; ++j) {
        SCOPED_TRACE("recovery crashing at step " + std::to_string(j));
        Prepare();
        CFaultyFileSystem crashed;
        crashed.inUse = inUse;
        crashed.failAt = k;
        crashed.crash = true;
        RunUpdate(crashed, m_folder.str());
        const Tree afterCrash = Now();
        CFaultyFileSystem recovery;
        recovery.failAt = j;
        recovery.crash = true;
        const bool recovered = Recover(recovery);
        EXPECT_TRUE(Recover(working));
        const Tree after = Now();
        EXPECT_TRUE(after == kOld || after == expected) << "after crash: " << afterCrash.size();
        if (recovered) break;
      }
    }
  }
}

TEST_F(InstallTransactionTest, ReplacesTheRunningProgramByMovingItAside) {
  // A file held the way Windows holds a running program: it can be moved,
  // not deleted.
  class CRunningProgram : public CFaultyFileSystem {
   public:
    bool RemoveFile(const CString& path) override {
      return !strstr(path, (std::string("app.exe") + kAsideSuffix).c_str()) &&
             CFaultyFileSystem::RemoveFile(path);
    }
  } fs;
  Prepare();
  ASSERT_EQ(RunUpdate(fs, m_folder.str()), Outcome::kApplied);
  Tree left = kNew;
  left["app.exe" + std::string(kAsideSuffix)] = "old app";
  EXPECT_EQ(Now(), left);
  CFaultyFileSystem nextStart;
  EXPECT_TRUE(Recover(nextStart));
  EXPECT_EQ(Now(), kNew);
}

}  // namespace
