// Releases installed through the transaction: deltas made by unpack delta
// rebuild the new version of generated products exactly, with the version
// recorded; what does not fit (other base files, another version, an older
// one) or is damaged changes nothing; and a delta stopped at any operation
// of its commit is put right by the next start like any other update.
#include "updater/install/release_install.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "tools/unpack/patch_encoder.h"
#include "tools/unpack/product_folder.h"
#include "tools/unpack/release_commands.h"
#include "testing/zip_builder.h"
#include "tools/unpack/zip_writer.h"
#include "updater/install/install_recovery.h"
#include "updater/install/install_test_support.h"
#include "updater/release/release_archive.h"

namespace {

using installtest::Tree;

int Unpack(int (*command)(int, char**), std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(&arg[0]);
  return command(static_cast<int>(argv.size()), argv.data());
}

std::string Hex(const std::string& bytes) {
  Sha256Digest digest;
  Sha256Of(bytes.data(), bytes.size(), &digest);
  return Sha256ToHex(digest).GetString();
}

// A product of files of random sizes, binary and text, in nested folders,
// with an empty file and a file named plugins (which becomes a folder).
Tree Product(std::mt19937& random, int files) {
  Tree tree = {{"empty.txt", ""}, {"plugins", "a file, for now"}};
  for (int i = 0; i < files; ++i) {
    const char* folder[] = {"", "bin/", "data/deep/"};
    const bool text = i % 2 == 0;
    std::string bytes(random() % (i % 4 == 0 ? 150000 : 4000), '\0');
    for (char& c : bytes) c = text ? "abc de\n"[random() % 7] : static_cast<char>(random());
    tree[std::string(folder[i % 3]) + "file" + std::to_string(i) + (text ? ".txt" : ".bin")] =
        bytes;
  }
  return tree;
}

// Changes some files a little, deletes some, adds some; empty.txt gets
// text; plugins becomes a folder.
Tree NextVersion(std::mt19937& random, Tree tree) {
  for (auto it = tree.begin(); it != tree.end();) {
    std::string& bytes = it->second;
    switch (random() % 5) {
      case 0:
        if (!bytes.empty()) bytes[random() % bytes.size()] ^= 0x21;
        bytes.insert(bytes.size() / 2, "inserted");
        break;
      case 1:
        it = tree.erase(it);
        continue;
      default:
        break;
    }
    ++it;
  }
  tree["empty.txt"] = "not empty any more " + std::to_string(random());
  tree.erase("plugins");
  tree["plugins/new.dll"] = std::string(70000, 'n');
  tree["added/sub/new.txt"] = "new";
  return tree;
}

// Every folder on the way to a file, as Snapshot lists them.
Tree WithFolders(Tree tree) {
  Tree folders;
  for (const auto& item : tree) {
    for (size_t slash = item.first.find('/'); slash != std::string::npos;
         slash = item.first.find('/', slash + 1)) {
      folders[item.first.substr(0, slash + 1)] = "";
    }
  }
  tree.insert(folders.begin(), folders.end());
  return tree;
}

Tree Installed(const Tree& files, const std::string& version) {
  Tree tree = WithFolders(files);
  tree["~update.version"] = version + "\n";
  return tree;
}

class ReleaseInstallTest : public ::testing::Test {
 protected:
  // A folder of files, for unpack make and delta.
  std::string Folder(const std::string& name, const Tree& files) {
    const std::filesystem::path path = m_work.path() / name;
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
    installtest::Plant(path, files);
    return path.string();
  }
  std::string Full(const Tree& files, const std::string& version) {
    const std::string out = (m_work.path() / ("full-" + version + ".zip")).string();
    EXPECT_EQ(0, Unpack(MakeCommand, {Folder("full", files), out, "--version", version}));
    return out;
  }
  std::string Delta(const Tree& from, const Tree& to, const std::string& a, const std::string& b) {
    const std::string out = (m_work.path() / ("delta-" + a + "-" + b + ".zip")).string();
    EXPECT_EQ(0, Unpack(DeltaCommand,
                        {Folder("old", from), Folder("new", to), out, "--from", a, "--to", b}));
    return out;
  }
  // An archive of the given record lines and stored entries.
  std::string HandMade(const std::string& lines,
                       const std::vector<std::pair<std::string, std::string>>& entries) {
    const std::string out = (m_work.path() / "hand.zip").string();
    CZipWriter writer;
    std::string why;
    EXPECT_TRUE(writer.Open(out, &why));
    for (const auto& [name, bytes] : entries) {
      EXPECT_TRUE(writer.AddStored(name, {}, bytes.data(), bytes.size(), &why)) << why;
    }
    const std::string record = "update-release 1\n" + lines;
    EXPECT_TRUE(writer.AddStored(kReleaseRecordName, {}, record.data(), record.size(), &why));
    writer.ListLastFirst();
    EXPECT_TRUE(writer.Finish(&why)) << why;
    return out;
  }

  InstallResult Install(const std::string& archive, CInstallFileSystem& fs,
                        bool allowDowngrade = false) {
    UnpackHandle handle = UnpackOpen(archive.c_str(), "");
    EXPECT_TRUE(HasReleaseRecord(handle));
    ReleaseInstallOptions options;
    options.allowDowngrade = allowDowngrade;
    const InstallResult result =
        InstallRelease(handle, m_app.str().c_str(), fs, options, &m_message);
    UnpackClose(handle);
    return result;
  }
  InstallResult Install(const std::string& archive, bool allowDowngrade = false) {
    return Install(archive, SystemFileSystem(), allowDowngrade);
  }
  Tree Now() const { return installtest::Snapshot(m_app.path()); }

  installtest::TempFolder m_work{"work"};
  installtest::TempFolder m_app{"app"};
  CString m_message;
};

TEST_F(ReleaseInstallTest, DeltasRebuildTheNewVersionExactly) {
  for (unsigned seed = 1; seed <= 3; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const Tree v1 = Product(random, 10 + 6 * static_cast<int>(seed));
    const Tree v2 = NextVersion(random, v1);
    const Tree v3 = NextVersion(random, v2);
    m_app.Reset();
    ASSERT_EQ(InstallResult::kApplied, Install(Full(v1, "1.0"))) << m_message.GetString();
    EXPECT_EQ(Installed(v1, "1.0"), Now());
    ASSERT_EQ(InstallResult::kApplied, Install(Delta(v1, v2, "1.0", "2.0")))
        << m_message.GetString();
    EXPECT_EQ(Installed(v2, "2.0"), Now());
    // The same version again, and the next one, from full archives.
    ASSERT_EQ(InstallResult::kApplied, Install(Full(v2, "2.0")));
    ASSERT_EQ(InstallResult::kApplied, Install(Delta(v2, v3, "2", "3.0.1")));
    EXPECT_EQ(Installed(v3, "3.0.1"), Now());
  }
}

TEST_F(ReleaseInstallTest, WhatDoesNotFitOrIsDamagedChangesNothing) {
  const std::string base(20000, 'b');
  std::string result = base;
  result.replace(900, 20, "twenty changed bytes");
  std::string patch, why;
  ASSERT_TRUE(MakePatch(base, result, 3, &patch, &why));
  const Tree v1 = {{"app.dll", base}, {"readme.txt", "one"}};
  const Tree v2 = {{"app.dll", result}, {"readme.txt", "one"}};
  const std::string patchLine = "version 2\nfrom 1\npatch " + Hex(base) + " %s " +
                                std::to_string(result.size()) + " app.dll\n";
  auto withResult = [&](const std::string& hash) {
    std::string text = patchLine;
    return text.replace(text.find("%s"), 2, hash);
  };
  const struct Case {
    const char* what;
    std::string installedVersion;  // "" for none
    Tree installed;
    std::function<std::string()> archive;
    InstallResult expected;
    const char* message;
  } cases[] = {
      {"a kept file the user changed",
       "1",
       {{"app.dll", base}, {"readme.txt", "edited"}},
       [&] { return Delta(v1, v2, "1", "2"); },
       InstallResult::kBaseMismatch,
       "The installed file readme.txt is not the one the update applies to"},
      {"another version installed", "1.5", v1, [&] { return Delta(v1, v2, "1", "2"); },
       InstallResult::kBaseMismatch, "applies to version 1, but version 1.5 is installed"},
      {"an older version", "3", v1, [&] { return Full(v1, "2.9.9"); }, InstallResult::kRefused,
       "holds version 2.9.9, older than the installed version 3"},
      {"a patch whose result is not the record's", "", v1,
       [&] {
         return HandMade(withResult(Hex(result + "x")), {{"~update.patch/0", patch}});
       },
       InstallResult::kFailedNothingChanged,
       "The file app.dll could not be patched: the patch gives a file other than the release's"},
      {"a patch damaged in the archive", "", v1,
       [&] {
         const std::string path = HandMade(withResult(Hex(result)), {{"~update.patch/0", patch}});
         std::string bytes;
         ReadFileBytes(path, &bytes);
         bytes[bytes.find(patch) + patch.size() / 2] ^= 0x40;
         zipbuild::SaveBytes(path, bytes);
         return path;
       },
       InstallResult::kFailedNothingChanged, "The file app.dll is damaged in the archive"},
      {"a file whose bytes are not the record's", "", v1,
       [&] {
         return HandMade("version 2\nwrite - " + Hex("other") + " 3 new.txt\n",
                         {{"new.txt", "new"}});
       },
       InstallResult::kFailedNothingChanged,
       "The file new.txt is not the file the archive's release record describes"},
      {"a path outside the folder", "", v1,
       [&] {
         return HandMade("version 2\nwrite - " + Hex("x") + " 1 ../x\n", {{"../x", "x"}});
       },
       InstallResult::kRefused, "the path ../x leaves the install folder"},
      {"a reserved name", "", v1,
       [&] {
         return HandMade("version 2\nwrite - " + Hex("x") + " 1 ~update.journal\n",
                         {{"~update.journal", "x"}});
       },
       InstallResult::kRefused, "the path ~update.journal is a name the updater keeps for itself"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    m_app.Reset();
    Tree before = WithFolders(c.installed);
    if (!c.installedVersion.empty()) before["~update.version"] = c.installedVersion + "\n";
    installtest::Plant(m_app.path(), before);
    EXPECT_EQ(c.expected, Install(c.archive()));
    EXPECT_NE(std::string::npos, std::string(m_message.GetString()).find(c.message))
        << m_message.GetString();
    EXPECT_EQ(before, Now());
  }

  // On purpose, an older version installs, and is recorded.
  EXPECT_EQ(InstallResult::kApplied, Install(Full(v1, "2.9.9"), true));
  EXPECT_EQ(Installed(v1, "2.9.9"), Now());
}

// The delta's commit (and its undoing, when a file is in use) stopped at
// every operation: the next start leaves the old or the new version whole,
// the version file with it. Natively only, as the transaction's own matrix.
TEST_F(ReleaseInstallTest, CrashMatrixADeltaStoppedAnywhereIsPutRightByTheNextStart) {
  std::mt19937 random(7);
  const Tree v1 = Product(random, 6);
  const Tree v2 = NextVersion(random, v1);
  const std::string delta = Delta(v1, v2, "1", "2");
  const Tree oldTree = Installed(v1, "1"), newTree = Installed(v2, "2");
  for (const std::string inUse : {"", "empty.txt"}) {
    SCOPED_TRACE("in use: " + inUse);
    installtest::CFaultyFileSystem counter;
    counter.inUse = inUse;
    m_app.Reset();
    installtest::Plant(m_app.path(), oldTree);
    EXPECT_EQ(inUse.empty() ? InstallResult::kApplied : InstallResult::kFailedNothingChanged,
              Install(delta, counter));
    ASSERT_EQ(inUse.empty() ? newTree : oldTree, Now());
    for (int k = 0; k < counter.steps; ++k) {
      SCOPED_TRACE("stopped at operation " + std::to_string(k));
      m_app.Reset();
      installtest::Plant(m_app.path(), oldTree);
      installtest::CFaultyFileSystem crashed;
      crashed.inUse = inUse;
      crashed.failAt = k;
      crashed.crash = true;
      Install(delta, crashed);
      installtest::CFaultyFileSystem nextStart;
      EXPECT_TRUE(RecoverInterruptedUpdate(nextStart, m_app.str().c_str()).AllowsUpdate());
      const Tree after = Now();
      EXPECT_TRUE(after == oldTree || (inUse.empty() && after == newTree)) << after.size();
    }
  }
}

}  // namespace
