#include "updater/download/archive_name.h"

#include <gtest/gtest.h>

#include <string>

TEST(ArchiveNameTest, UpdaterDirectoryIsTheFolderWithoutTrailingBackslash) {
  const struct {
    const char* module;
    const char* directory;
  } cases[] = {
      {"C:\\Program Files\\Product\\updater.exe", "C:\\Program Files\\Product"},
      {"C:\\updater.exe", "C:"},
      {"C:\\dir\\\\updater.exe", "C:\\dir"},
      {"\\\\server\\share\\bin\\updater.exe", "\\\\server\\share\\bin"},
      {"C:/dir/updater.exe", ""},  // only the backslash separates
      {"updater.exe", ""},
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(UpdaterDirectory(c.module), c.directory) << c.module;
  }
}

TEST(ArchiveNameTest, TickCountIsPrintedSigned) {
  const struct {
    uint32_t tick;
    const char* path;
  } cases[] = {
      {0, "C:\\app\\0.tarnwick.zip"},
      {123456, "C:\\app\\123456.tarnwick.zip"},
      {0x7FFFFFFFu, "C:\\app\\2147483647.tarnwick.zip"},
      {0x80000000u, "C:\\app\\-2147483648.tarnwick.zip"},  // after about 24.8 days
      {0xFFFFFFFFu, "C:\\app\\-1.tarnwick.zip"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DownloadArchivePath("C:\\app", c.tick), c.path) << c.tick;
  }
  EXPECT_EQ(DownloadArchivePath(UpdaterDirectory("D:\\x\\u.exe"), 42), "D:\\x\\42.tarnwick.zip");
}

// The folder limit leaves room for the longest name the updater gives its
// own files, and no more.
TEST(ArchiveNameTest, TheLongestFolderThatFitsHoldsTheLongestSignaturePath) {
  const CString longest =
      ("C:\\" + std::string(static_cast<size_t>(kUpdaterFolderMaxLength) - 3, 'f')).c_str();
  EXPECT_TRUE(UpdaterFolderFits(longest));
  EXPECT_FALSE(UpdaterFolderFits(longest + "g"));
  EXPECT_FALSE(UpdaterFolderFits(""));
  EXPECT_EQ(DownloadArchivePath(longest, 0x80000000u).GetLength() + 4, 259);
}
