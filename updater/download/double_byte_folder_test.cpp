// The updater in a folder whose name ends in a double-byte character with
// the trail byte '\' (乗, 0x81 0x5C in code page 936): its folder, the
// archive's path, the base folder and every entry must stay inside that
// folder. Runs under the ANSI code page 936 (see CMakeLists.txt).
#include <windows.h>

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "framework/cstring.h"
#include "testing/ui_driver.h"
#include "testing/zip_builder.h"
#include "unzip/unpack.h"
#include "updater/download/archive_name.h"

namespace {

const char kJo[] = "\x81\x5C";  // 乗

std::wstring Wide(const std::string& ansi) {
  int n = MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, &out[0], n);
  out.resize(static_cast<size_t>(n > 0 ? n - 1 : 0));
  return out;
}

std::set<std::string> Listing(const std::string& folder) {
  std::set<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string name = found.cFileName;
    if (name != "." && name != "..") names.insert(name);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return names;
}

class DoubleByteFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Both facts decide whether this run shows anything at all.
    ASSERT_EQ(GetACP(), 936u) << "needs LANG=zh_CN.UTF-8 and a compiled zh_CN.UTF-8 locale";
    char temp[MAX_PATH];
    ASSERT_NE(GetTempPathA(MAX_PATH, temp), 0u);
    m_root = std::string(temp) + "double_byte_" + std::to_string(GetCurrentProcessId());
    ui::RemoveTree(Wide(m_root));
    ASSERT_TRUE(CreateDirectoryA(m_root.c_str(), nullptr));
    m_folder = m_root + "\\" + kJo;
    ASSERT_TRUE(CreateDirectoryA(m_folder.c_str(), nullptr))
        << "a folder named 乗 cannot be made (error " << GetLastError()
        << "): is LOCPATH pointing at the compiled locale?";
  }
  void TearDown() override { ui::RemoveTree(Wide(m_root)); }

  std::string m_root;
  std::string m_folder;  // <root>\乗, the updater's folder
};

TEST_F(DoubleByteFolderTest, SearchesForABackslashStepOverTrailBytes) {
  CString path = "C:\\app\\";
  path += kJo;
  path += "\\updater.exe";
  EXPECT_EQ(path.ReverseFind('\\'), 9);
  EXPECT_EQ(path.Find('\\', 7), 9);
  CString folder = path.Left(9) + "\\\\";
  EXPECT_EQ(folder.TrimRight('\\'), CString("C:\\app\\") + kJo);
  EXPECT_EQ(CString(kJo).ReverseFind('\\'), -1);
}

// What the worker does with its own path, then the extraction it runs.
TEST_F(DoubleByteFolderTest, EntriesLandInsideTheUpdatersFolder) {
  const std::string module = m_folder + "\\updater.exe";
  EXPECT_EQ(UpdaterDirectory(module.c_str()), m_folder.c_str());
  const CString archivePath = DownloadArchivePath(m_folder.c_str(), 1234);
  EXPECT_EQ(archivePath.Left(archivePath.ReverseFind('\\')), m_folder.c_str());

  zipbuild::ZipBuilder builder;
  builder.AddFile("top.txt", "top")
      .AddFile(std::string("sub/") + kJo + "/deep.txt", "deep")
      .AddFile(std::string("a") + kJo, "trail");
  ASSERT_TRUE(builder.Save(archivePath.GetString()));
  UnpackHandle archive = UnpackOpen(archivePath, "");
  ASSERT_NE(archive, nullptr);
  // With and without the separator the base is the folder itself.
  for (const std::string& base : {m_folder, m_folder + "\\"}) {
    ASSERT_EQ(UnpackSetBaseDir(archive, base.c_str()), UNPACK_OK);
    for (int32_t i = 0; i < 3; ++i) {
      UnpackEntryInfo entry = {};
      ASSERT_EQ(UnpackGetEntry(archive, i, &entry), UNPACK_OK);
      EXPECT_EQ(UnpackExtract(archive, i, entry.szName), UNPACK_OK) << entry.szName;
    }
    // A target that climbs out into a sibling named like the folder.
    EXPECT_EQ(UnpackExtract(archive, 0, (std::string("..\\") + kJo + "x\\out.txt").c_str()),
              UNPACK_ERR_FILE);
  }
  UnpackClose(archive);

  EXPECT_EQ(Listing(m_root), (std::set<std::string>{kJo}));
  EXPECT_EQ(Listing(m_folder),
            (std::set<std::string>{"1234.tarnwick.zip", "top.txt", "sub", std::string("a") + kJo}));
  EXPECT_EQ(Listing(m_folder + "\\sub\\" + kJo), (std::set<std::string>{"deep.txt"}));
}

}  // namespace
