// Archives whose names the install refuses before it writes anything, and
// near misses that it installs.
#include "updater/install/archive_names.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/zip_builder.h"
#include "unzip/platform/platform.h"
#include "updater/install/archive_install.h"
#include "updater/install/install_test_support.h"

namespace {

using installtest::Tree;

const Tree kOld = {{"app.exe", "old app"}, {"bin/", ""}, {"bin/engine.dll", "old engine"}};

// Entries named in UTF-8 (general-purpose bit 11); a name ending in '/' is
// a directory.
std::string Archive(const std::vector<std::string>& names) {
  zipbuild::ZipBuilder zip;
  for (const std::string& name : names) {
    zipbuild::ZipEntry entry;
    entry.name = name;
    entry.flags = 0x0800;
    if (name.back() == '/') {
      entry.externalAttributes = 0x10;
    } else {
      entry.data = "from " + name;
    }
    zip.Add(entry);
  }
  return zip.Build();
}

class ArchiveNamesTest : public ::testing::Test {
 protected:
  void SetUp() override { installtest::Plant(m_folder.path(), kOld); }

  InstallResult Install(const std::vector<std::string>& names, std::string* message) {
    const std::string path = m_archives.str() + "/update.zip";
    EXPECT_TRUE(zipbuild::SaveBytes(path, Archive(names)));
    UnpackHandle archive = UnpackOpen(path.c_str(), "");
    EXPECT_NE(archive, nullptr);
    installtest::CFaultyFileSystem fs;
    CString text;
    const InstallResult result =
        InstallArchive(archive, m_folder.str().c_str(), fs, nullptr, &text);
    UnpackClose(archive);
    *message = text.GetString();
    return result;
  }

  installtest::TempFolder m_folder;
  installtest::TempFolder m_archives{"archives"};
};

TEST_F(ArchiveNamesTest, RefusesReservedNamesAndNamesThatFoldToOne) {
  const std::string kReserved =
      ", a name the updater keeps for its own files; nothing was changed.";
  const std::string kOneFile =
      " of the archive name the same file on the disk; nothing was changed.";
  const struct {
    std::vector<std::string> names;
    std::string message;  // after "Update refused.  "
  } cases[] = {
      {{"app.exe", "~update.journal"}, "The archive holds ~update.journal" + kReserved},
      {{"~UPDATE.Journal"}, "The archive holds ~UPDATE.Journal" + kReserved},
      {{"~update.journal."}, "The archive holds ~update.journal." + kReserved},
      {{"~update.staging/1"}, "The archive holds ~update.staging\\1" + kReserved},
      {{"./", "./~update.journal"}, "The archive holds .\\~update.journal" + kReserved},
      {{"~Update.Backup/"}, "The archive holds ~Update.Backup\\" + kReserved},
      {{"bin/engine.dll.~upd-new"}, "The archive holds bin\\engine.dll.~upd-new" + kReserved},
      {{"bin/Engine.dll.~UPD-OLD "}, "The archive holds bin\\Engine.dll.~UPD-OLD " + kReserved},
      {{"bin/~u1A2f"}, "The archive holds bin\\~u1A2f" + kReserved},
      {{"~u00ff/readme.txt"}, "The archive holds ~u00ff\\readme.txt" + kReserved},
      {{"123.tarnwick.zip"}, "The archive holds 123.tarnwick.zip" + kReserved},
      {{"-5.TARNWICK.Zip.sig"}, "The archive holds -5.TARNWICK.Zip.sig" + kReserved},
      {{"\xC3\x84.txt", "bin/", "\xC3\xA4.txt"},
       "The entries \xC3\x84.txt and \xC3\xA4.txt" + kOneFile},
      {{"\xC3\xA9t\xC3\xA9/a.txt", "\xC3\x89T\xC3\x89"},
       "The entries \xC3\xA9t\xC3\xA9\\a.txt and \xC3\x89T\xC3\x89" + kOneFile},
      {{"A/x.txt", "a/X.TXT"}, "The entries A\\x.txt and a\\X.TXT" + kOneFile},
      {{"Docs", "docs/"}, "The entries Docs and docs\\" + kOneFile},
      {{"readme.txt", "readme.txt. "}, "The entries readme.txt and readme.txt. " + kOneFile},
      {{"BIN/ENGINE.DLL", "bin/engine.dll"},
       "The entries BIN\\ENGINE.DLL and bin\\engine.dll" + kOneFile},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.names.back());
    std::string message;
    EXPECT_EQ(Install(c.names, &message), InstallResult::kRefused);
    // The message names the entries in the ANSI code page.
    char expected[1024];
    ASSERT_TRUE(UnpackPlatformUtf8ToAnsi(("Update refused.  " + c.message).c_str(), expected,
                                         sizeof(expected)));
    EXPECT_EQ(message, expected);
    EXPECT_EQ(installtest::Snapshot(m_folder.path()), kOld);
  }
}

TEST_F(ArchiveNamesTest, InstallsNearMissesAndRepeatedNames) {
  // Folders named in another case are one folder; a file named twice is
  // written once, the later entry winning; the updater's patterns below the
  // top, or not quite matched, are anybody's names.
  std::string message;
  EXPECT_EQ(Install({"./", "readme.txt", "Data/one.txt", "data/", "sub/123.tarnwick.zip", "~update",
                     "update.journal", "~u1a2", "~u1a2b3", "~u1g2b", "x.~upd-newer",
                     "sub/~update.journal", "readme.txt", "bin/"},
                    &message),
            InstallResult::kApplied)
      << message;
  const Tree tree = installtest::Snapshot(m_folder.path());
  EXPECT_EQ(tree.at("readme.txt"), "from readme.txt");
  EXPECT_EQ(tree.count("sub/~update.journal"), 1u);
  EXPECT_EQ(tree.count("~u1g2b"), 1u);
  // Data/ and data/ are one folder where names fold.
  EXPECT_EQ(tree.size(), kOld.size() + (SystemFileSystem().FoldsCase() ? 12 : 13));
}

}  // namespace
