// A whole archive through the zip layer and the transaction.
#include "updater/install/archive_install.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "testing/zip_builder.h"
#include "updater/install/install_test_support.h"

namespace {

using installtest::CFaultyFileSystem;
using installtest::Tree;

const Tree kOld = {{"app.exe", "old app"},
                   {"bin/", ""},
                   {"bin/engine.dll", "old engine"},
                   {"data/", ""},
                   {"data/payload.bin", "old payload"},
                   {"locked.txt", "kept"}};

const int32_t kUnixTime = 1600000000;

zipbuild::ZipEntry File(const std::string& name, const std::string& data) {
  zipbuild::ZipEntry entry;
  entry.name = name;
  entry.data = data;
  entry.method = 8;
  entry.externalAttributes = 0x20;
  entry.localExtra = zipbuild::UtBlock(0x01, {kUnixTime});
  return entry;
}

class ArchiveInstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    installtest::Plant(m_folder.path(), kOld);
    std::filesystem::permissions(m_folder.path() / "locked.txt",
                                 std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::remove);
  }

  // Builds the update archive (outside the folder), with the entry
  // data/payload.bin damaged when asked and an extra entry at the end.
  std::string MakeArchive(bool damaged, const char* extra = nullptr) {
    zipbuild::ZipBuilder builder;
    zipbuild::ZipEntry docs;
    docs.name = "docs/";
    docs.externalAttributes = 0x10;
    // A directory entry as some tools write it: the attribute, no separator.
    zipbuild::ZipEntry made;
    made.name = "made";
    made.externalAttributes = 0x10;
    builder.Add(File("app.exe", "new app"))
        .Add(docs)
        .Add(made)
        .Add(File("bin/engine.dll", "new engine"))
        .Add(File("data/payload.bin", std::string(40000, 'p')))
        .Add(File("locked.txt", "not written"))
        .Add(File("new/c.txt", "new c"));
    if (extra != nullptr) builder.Add(File(extra, "extra"));
    std::string bytes = builder.Build();
    if (damaged) {
      const size_t data =
          bytes.find("data/payload.bin") + 16 + builder.entries()[4].localExtra.size();
      for (size_t i = data + 2; i < data + 12; ++i) bytes[i] = '\x55';
    }
    const std::string path = m_archives.str() + "/update.zip";
    EXPECT_TRUE(zipbuild::SaveBytes(path, bytes));
    return path;
  }

  // *steps: what the install reported of each entry, "index name: step reason".
  InstallResult Install(bool damaged, CInstallFileSystem& fs, const InstallCancelCheck& cancel,
                        std::string* message, std::vector<std::string>* steps = nullptr,
                        const char* extra = nullptr) {
    UnpackHandle archive = UnpackOpen(MakeArchive(damaged, extra).c_str(), "");
    EXPECT_NE(archive, nullptr);
    auto report = [steps](int32_t index, const CString& name, EntryStep step, const char* reason) {
      static const char* const kSteps[] = {"written", "kept", "failed"};
      if (steps != nullptr) {
        steps->push_back(std::to_string(index) + " " + name.GetString() + ": " +
                         kSteps[static_cast<int>(step)] + (*reason ? " " : "") + reason);
      }
    };
    CString text = "stale";
    InstallResult result =
        InstallArchive(archive, m_folder.str().c_str(), fs, cancel, &text, report);
    *message = text.GetString();
    UnpackClose(archive);
    return result;
  }

  Tree Now() const { return installtest::Snapshot(m_folder.path()); }

  installtest::TempFolder m_folder;
  installtest::TempFolder m_archives{"archives"};
};

TEST_F(ArchiveInstallTest, AppliesEveryEntryWithItsTimeAndKeepsReadOnlyFiles) {
  std::string message = "stale";
  CFaultyFileSystem fs;
  std::vector<std::string> steps;
  EXPECT_EQ(Install(false, fs, nullptr, &message, &steps), InstallResult::kApplied);
  EXPECT_EQ(message, "");
  EXPECT_EQ(steps,
            (std::vector<std::string>{"0 app.exe: written", "1 docs/: written", "2 made: written",
                                      "3 bin/engine.dll: written", "4 data/payload.bin: written",
                                      "5 locked.txt: kept", "6 new/c.txt: written"}));
  EXPECT_EQ(Now(), (Tree{{"app.exe", "new app"},
                         {"bin/", ""},
                         {"bin/engine.dll", "new engine"},
                         {"data/", ""},
                         {"data/payload.bin", std::string(40000, 'p')},
                         {"docs/", ""},
                         {"locked.txt", "kept"},
                         {"made/", ""},
                         {"new/", ""},
                         {"new/c.txt", "new c"}}));
  struct stat st;
  ASSERT_EQ(stat((m_folder.str() + "/new/c.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, kUnixTime);
}

// Whatever fails -- an entry, a move, the disk, the user, an entry that
// cannot be staged -- every file stays as it was, and so does everything
// outside the folder.
TEST_F(ArchiveInstallTest, AnyFailureLeavesEveryFileAsItWas) {
  struct Case {
    const char* what;
    bool damaged;
    const char* inUse;
    uint64_t freeSpace;
    int cancelAt;       // entry before which Cancel is pressed, -1 never
    const char* extra;  // an entry added at the end
    InstallResult result;
    const char* message;
  } cases[] = {
      {"damaged entry", true, "", UINT64_MAX, -1, nullptr, InstallResult::kFailedNothingChanged,
       "Update failed.  The file data\\payload.bin is damaged in the archive; nothing was "
       "changed."},
      {"file in use", false, "engine.dll", UINT64_MAX, -1, nullptr,
       InstallResult::kFailedNothingChanged,
       "Update failed.  The file bin\\engine.dll is in use; nothing was changed."},
      {"disk full", false, "", 1000, -1, nullptr, InstallResult::kFailedNothingChanged,
       "Update failed.  The update needs 40033 bytes, but only 1000 bytes are free on the disk; "
       "nothing was changed."},
      {"cancel while staging", false, "", UINT64_MAX, 3, nullptr, InstallResult::kCancelled, ""},
      {"cancel as the commit begins", false, "", UINT64_MAX, 7, nullptr, InstallResult::kCancelled,
       ""},
      {"a file in the way of an entry's folder", false, "", UINT64_MAX, -1, "app.exe/x.txt",
       InstallResult::kFailedNothingChanged,
       "Update failed.  The file app.exe\\x.txt could not be written; nothing was changed."},
      {"a link on an entry's way out of the folder", false, "", UINT64_MAX, -1, "out/evil.txt",
       InstallResult::kFailedNothingChanged,
       "Update failed.  The file out\\evil.txt could not be written; nothing was changed."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::error_code noLink;
    std::filesystem::create_directory_symlink(m_archives.path(), m_folder.path() / "out", noLink);
    if (noLink && strstr(c.what, "link") != nullptr) continue;  // no links here (Wine)
    CFaultyFileSystem fs;
    fs.inUse = c.inUse;
    fs.freeSpace = c.freeSpace;
    const int entries = c.extra != nullptr ? 8 : 7;
    int asked = 0;
    auto cancel = [&](bool committing) {
      EXPECT_EQ(committing, asked == entries);
      return asked++ == c.cancelAt;
    };
    std::string message;
    std::vector<std::string> steps;
    EXPECT_EQ(Install(c.damaged, fs, cancel, &message, &steps, c.extra), c.result);
    EXPECT_EQ(message, c.message);
    if (c.damaged) {
      ASSERT_FALSE(steps.empty());
      EXPECT_EQ(steps.back(), "4 data/payload.bin: failed is damaged in the archive");
    }
    std::filesystem::remove(m_folder.path() / "out", noLink);
    EXPECT_EQ(Now(), kOld);
    EXPECT_EQ(installtest::Snapshot(m_archives.path()).size(), 1u);  // update.zip alone
  }
}

}  // namespace

// Zip64 sizes count in full against the free space: an entry that claims
// 4 GiB and 10 bytes (its data is one byte) is not taken for 10 bytes.
TEST_F(ArchiveInstallTest, SizesOfZip64EntriesCountInFull) {
  const uint64_t claimed = 0x10000000Aull;
  std::string size;
  for (int i = 0; i < 8; ++i) size += static_cast<char>(claimed >> (8 * i));
  zipbuild::ZipEntry huge = File("huge.bin", "x");
  huge.centralUncompressedSize = 0xFFFFFFFF;
  huge.localUncompressedSize = 0xFFFFFFFF;
  huge.centralExtra = zipbuild::ExtraBlock(0x0001, size);
  const std::string path = m_archives.str() + "/huge.zip";
  ASSERT_TRUE(zipbuild::ZipBuilder().Add(File("small.txt", "small")).Add(huge).Save(path));

  UnpackHandle archive = UnpackOpen(path.c_str(), "");
  ASSERT_NE(archive, nullptr);
  CFaultyFileSystem fs;
  fs.freeSpace = 1000;
  CString message;
  EXPECT_EQ(InstallArchive(archive, m_folder.str().c_str(), fs, nullptr, &message),
            InstallResult::kFailedNothingChanged);
  UnpackClose(archive);
  EXPECT_STREQ(message.GetString(),
               "Update failed.  The update needs 4294967311 bytes, but only 1000 bytes are free "
               "on the disk; nothing was changed.");
  EXPECT_EQ(Now(), kOld);
}
