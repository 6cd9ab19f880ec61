// A whole archive through the zip layer and the transaction.
#include "updater/install/archive_install.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

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
  // data/payload.bin damaged when asked.
  std::string MakeArchive(bool damaged) {
    zipbuild::ZipBuilder builder;
    zipbuild::ZipEntry docs;
    docs.name = "docs/";
    docs.externalAttributes = 0x10;
    builder.Add(File("app.exe", "new app"))
        .Add(docs)
        .Add(File("bin/engine.dll", "new engine"))
        .Add(File("data/payload.bin", std::string(40000, 'p')))
        .Add(File("locked.txt", "not written"))
        .Add(File("new/c.txt", "new c"));
    std::string bytes = builder.Build();
    if (damaged) {
      const size_t data =
          bytes.find("data/payload.bin") + 16 + builder.entries()[3].localExtra.size();
      for (size_t i = data + 2; i < data + 12; ++i) bytes[i] = '\x55';
    }
    const std::string path = m_archives.str() + "/update.zip";
    EXPECT_TRUE(zipbuild::SaveBytes(path, bytes));
    return path;
  }

  // *steps: what the install reported of each entry, "index name: step reason".
  InstallResult Install(bool damaged, CInstallFileSystem& fs, const InstallCancelCheck& cancel,
                        std::string* message, std::vector<std::string>* steps = nullptr) {
    UnpackHandle archive = UnpackOpen(MakeArchive(damaged).c_str(), "");
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
            (std::vector<std::string>{"0 app.exe: written", "1 docs/: written",
                                      "2 bin/engine.dll: written", "3 data/payload.bin: written",
                                      "4 locked.txt: kept", "5 new/c.txt: written"}));
  EXPECT_EQ(Now(), (Tree{{"app.exe", "new app"},
                         {"bin/", ""},
                         {"bin/engine.dll", "new engine"},
                         {"data/", ""},
                         {"data/payload.bin", std::string(40000, 'p')},
                         {"docs/", ""},
                         {"locked.txt", "kept"},
                         {"new/", ""},
                         {"new/c.txt", "new c"}}));
  struct stat st;
  ASSERT_EQ(stat((m_folder.str() + "/new/c.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, kUnixTime);
}

TEST_F(ArchiveInstallTest, AnyFailureLeavesEveryFileAsItWas) {
  struct Case {
    const char* what;
    bool damaged;
    const char* inUse;
    uint64_t freeSpace;
    int cancelAt;  // entry before which Cancel is pressed, -1 never
    InstallResult result;
    const char* message;  // start of the message
  } cases[] = {
      {"damaged entry", true, "", UINT64_MAX, -1, InstallResult::kFailedNothingChanged,
       "Update failed.  The file data\\payload.bin is damaged in the archive; nothing was "
       "changed."},
      {"file in use", false, "engine.dll", UINT64_MAX, -1, InstallResult::kFailedNothingChanged,
       "Update failed.  The file bin\\engine.dll is in use; nothing was changed."},
      {"disk full", false, "", 1000, -1, InstallResult::kFailedNothingChanged,
       "Update failed.  The update needs 40033 bytes, but only 1000 bytes are free on the disk; "
       "nothing was changed."},
      {"cancel while staging", false, "", UINT64_MAX, 3, InstallResult::kCancelled, ""},
      {"cancel as the commit begins", false, "", UINT64_MAX, 6, InstallResult::kCancelled, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CFaultyFileSystem fs;
    fs.inUse = c.inUse;
    fs.freeSpace = c.freeSpace;
    int asked = 0;
    auto cancel = [&](bool committing) {
      EXPECT_EQ(committing, asked == 6);
      return asked++ == c.cancelAt;
    };
    std::string message;
    std::vector<std::string> steps;
    EXPECT_EQ(Install(c.damaged, fs, cancel, &message, &steps), c.result);
    EXPECT_EQ(message, c.message);
    if (c.damaged) {
      ASSERT_FALSE(steps.empty());
      EXPECT_EQ(steps.back(), "3 data/payload.bin: failed is damaged in the archive");
    }
    EXPECT_EQ(Now(), kOld);
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
