#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "testing/zip_builder.h"
#include "unzip/unpack.h"
#include "unzip/archive/unpack_state.h"
#include "unzip/extract/extract_test_platform.h"

namespace fs = std::filesystem;

namespace {

using zipbuild::ZipBuilder;
using zipbuild::ZipEntry;

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Put(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::set<std::string> Listing(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& item : fs::directory_iterator(dir)) {
    names.insert(item.path().filename().string());
  }
  return names;
}

std::string Pattern(size_t size) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 7919) >> 5);
  return s;
}

ZipEntry File(const std::string& name, const std::string& data, uint16_t method = 0) {
  ZipEntry e;
  e.name = name;
  e.data = data;
  e.method = method;
  e.externalAttributes = 0x20;
  e.dosDate = zipbuild::DosDate(2020, 6, 15);
  e.dosTime = zipbuild::DosTime(12, 30, 10);
  return e;
}

ZipEntry Directory(const std::string& name, uint32_t external) {
  ZipEntry e;
  e.name = name;
  e.externalAttributes = external;
  return e;
}

// A fresh folder per test with the archive beside the base directory.
class ExtractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    m_root = fs::path(::testing::TempDir()) / (std::string("extract_") + info->name());
    fs::remove_all(m_root);
    fs::create_directories(m_root);
    m_base = m_root / "base";
  }
  void TearDown() override {
    if (m_handle != nullptr) UnpackClose(m_handle);
    MakeWritable(m_root);
    fs::remove_all(m_root);
  }

  static void MakeWritable(const fs::path& dir) {
    std::error_code ec;
    for (const auto& item : fs::recursive_directory_iterator(dir, ec)) {
      SetReadOnlyForTest(item.path().string(), false);
    }
  }

  // Opens an archive of the given entries with the base directory set.
  void Open(const ZipBuilder& builder, const char* password = nullptr) {
    const std::string archive = (m_root / "a.zip").string();
    ASSERT_TRUE(builder.Save(archive));
    m_handle = UnpackOpen(archive.c_str(), password);
    ASSERT_NE(m_handle, nullptr) << std::hex << UnpackLastResult;
    ASSERT_EQ(UnpackSetBaseDir(m_handle, m_base.string().c_str()), UNPACK_OK);
  }

  UnpackResult Extract(int32_t index, const std::string& target) {
    UnpackResult result = UnpackExtract(m_handle, index, target.c_str());
    EXPECT_EQ(UnpackLastResult, result);
    EXPECT_EQ(m_handle->pState->nOpenEntry, -1);
    return result;
  }

  fs::path m_root;
  fs::path m_base;
  UnpackHandle m_handle = nullptr;
};

TEST_F(ExtractTest, DirectoryEntries) {
  Open(ZipBuilder().Add(Directory("docs/", 0x10)).Add(Directory("plain/", 0)));
  EXPECT_FALSE(fs::exists(m_base));
  EXPECT_EQ(Extract(0, "docs/"), UNPACK_OK);
  EXPECT_TRUE(fs::is_directory(m_base / "docs"));
  EXPECT_EQ(Extract(0, "docs/"), UNPACK_OK);  // a second time changes nothing
  EXPECT_EQ(Listing(m_base), (std::set<std::string>{"docs"}));
  // Without the directory attribute it is a file entry: the directory is
  // made, the file at its own path cannot be.
  EXPECT_EQ(Extract(1, "plain/"), UNPACK_ERR_FILE);
  EXPECT_TRUE(fs::is_directory(m_base / "plain"));
  EXPECT_TRUE(fs::is_empty(m_base / "plain"));
  // A directory entry is confined like a file.
  EXPECT_EQ(Extract(0, "../outside/"), UNPACK_ERR_FILE);
  EXPECT_FALSE(fs::exists(m_root / "outside"));
  // A directory that cannot be made is reported: a file stands in its way,
  // in the target or in the base.
  Put(m_base / "afile", "x");
  EXPECT_EQ(Extract(0, "afile/sub/"), UNPACK_ERR_FILE);
  EXPECT_EQ(Extract(0, "afile/"), UNPACK_ERR_FILE);
  ASSERT_EQ(UnpackSetBaseDir(m_handle, (m_base / "afile" / "base").string().c_str()), UNPACK_OK);
  EXPECT_EQ(Extract(0, "docs/"), UNPACK_ERR_FILE);
  EXPECT_EQ(Extract(1, "file.txt"), UNPACK_ERR_FILE);
  EXPECT_EQ(Slurp(m_base / "afile"), "x");
}

TEST_F(ExtractTest, LinksBelowTheBaseAreNotFollowed) {
  Open(ZipBuilder().Add(File("f.txt", "payload")).Add(Directory("d/", 0x10)));
  const fs::path outside = m_root / "outside";
  fs::create_directories(outside);
  fs::create_directories(m_base / "real");
  Put(outside / "kept.txt", "kept");
  struct Links {
    std::vector<std::string> made;
    ~Links() {
      for (const std::string& link : made) RemoveLinkForTest(link);
    }
  } links;
  for (const auto& [link, target] : {std::pair{m_base / "link", "../outside"},
                                     std::pair{m_base / "real" / "deeper", "../../outside"}}) {
    ASSERT_TRUE(MakeLinkForTest(link.string(), target)) << link;
    links.made.push_back(link.string());
  }
  for (const char* target :
       {"link/pwned.txt", "link\\pwned.txt", "link/new/pwned.txt", "real/deeper/pwned.txt"}) {
    EXPECT_EQ(Extract(0, target), UNPACK_ERR_FILE) << target;
  }
  for (const char* target : {"link/", "link/sub/", "real/deeper/sub/"}) {
    EXPECT_EQ(Extract(1, target), UNPACK_ERR_FILE) << target;
  }
  EXPECT_EQ(Listing(outside), (std::set<std::string>{"kept.txt"}));
  EXPECT_EQ(Slurp(outside / "kept.txt"), "kept");
  // Real folders below the base are used as before; one known to exist
  // does not vouch for a link that appears below it later.
  EXPECT_EQ(Extract(0, "real/f.txt"), UNPACK_OK);
  EXPECT_EQ(Extract(1, "real/d/"), UNPACK_OK);
  EXPECT_EQ(Slurp(m_base / "real" / "f.txt"), "payload");
  ASSERT_TRUE(MakeLinkForTest((m_base / "real" / "later").string(), "../../outside"));
  links.made.push_back((m_base / "real" / "later").string());
  EXPECT_EQ(Extract(0, "real/later/pwned.txt"), UNPACK_ERR_FILE);
  EXPECT_EQ(Listing(outside), (std::set<std::string>{"kept.txt"}));
}

TEST_F(ExtractTest, FoldersRemovedBetweenEntriesAreMadeAgain) {
  Open(ZipBuilder().Add(File("f.txt", "data")));
  EXPECT_EQ(Extract(0, "a/b/one.txt"), UNPACK_OK);
  fs::remove_all(m_base / "a");
  EXPECT_EQ(Extract(0, "a/b/two.txt"), UNPACK_OK);
  fs::remove_all(m_base);
  EXPECT_EQ(Extract(0, "three.txt"), UNPACK_OK);
  EXPECT_EQ(Slurp(m_base / "three.txt"), "data");
}

TEST_F(ExtractTest, TargetForms) {
  Open(ZipBuilder().Add(File("f.txt", "content")));
  const fs::path absolute = m_root / "abs" / "deep" / "f.txt";
  struct Case {
    std::string target;
    UnpackResult result;
    fs::path written;  // empty: nothing may be written
  } cases[] = {
      {"readme.txt", UNPACK_OK, m_base / "readme.txt"},
      {"sub/dir/file.txt", UNPACK_OK, m_base / "sub" / "dir" / "file.txt"},
      {"sub\\back\\file.txt", UNPACK_OK, m_base / "sub" / "back" / "file.txt"},
      {absolute.string(), UNPACK_OK, absolute},
      {"../escape.txt", UNPACK_ERR_FILE, {}},
      {"a/../../escape.txt", UNPACK_ERR_FILE, {}},
      {"../baseX/f.txt", UNPACK_ERR_FILE, {}},  // a sibling sharing the base's prefix
      {std::string(300, 'n'), UNPACK_ERR_FILE, {}},
      {std::string(120, 'd') + "/" + std::string(150, 'f'), UNPACK_ERR_FILE, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    EXPECT_EQ(Extract(0, c.target), c.result);
    if (!c.written.empty()) {
      EXPECT_EQ(Slurp(c.written), "content");
    }
  }
  EXPECT_EQ(Listing(m_root), (std::set<std::string>{"a.zip", "abs", "base"}));
  EXPECT_EQ(Listing(m_base), (std::set<std::string>{"readme.txt", "sub"}));
  // A path that climbs out and back in never creates anything outside.
  Extract(0, "../side/../base/back.txt");
  EXPECT_FALSE(fs::exists(m_root / "side"));
}

TEST_F(ExtractTest, AttributesAndTimesRestored) {
  ZipEntry e = File("ro.txt", "read only");
  e.externalAttributes = 0x21;
  e.localExtra = zipbuild::UtBlock(0x07, {1600000000, 1500000000, 1400000000});
  Open(ZipBuilder().Add(e).Add(File("dos.txt", "stamp")));
  // ro.txt replaces a file of that name, whose creation time it must not
  // inherit.
  fs::create_directories(m_base);
  Put(m_base / "ro.txt", "old");
  ASSERT_EQ(Extract(0, "ro.txt"), UNPACK_OK);
  const std::string path = (m_base / "ro.txt").string();
  FileTimesForTest times = ReadTimesForTest(path);  // before a read moves the access time
  EXPECT_EQ(Slurp(path), "read only");
  EXPECT_TRUE(IsReadOnlyForTest(path));
  EXPECT_EQ(times.lastWrite, 1600000000LL * 10000000 + 116444736000000000LL);
  EXPECT_EQ(times.lastAccess, 1500000000LL * 10000000 + 116444736000000000LL);
  if (CreationTimeSettableForTest(m_base.string())) {
    EXPECT_EQ(times.creation, 1400000000LL * 10000000 + 116444736000000000LL);
  }
  // Without a "UT" block the DOS stamp (as the lookup gives it) is used.
  UnpackEntryInfo info;
  ASSERT_EQ(UnpackGetEntry(m_handle, 1, &info), UNPACK_OK);
  ASSERT_EQ(Extract(1, "dos.txt"), UNPACK_OK);
  FileTimesForTest dos = ReadTimesForTest((m_base / "dos.txt").string());
  EXPECT_EQ(dos.lastWrite,
            (int64_t{info.ftLastWrite.dwHighDateTime} << 32) | info.ftLastWrite.dwLowDateTime);
  EXPECT_FALSE(IsReadOnlyForTest((m_base / "dos.txt").string()));
}

TEST_F(ExtractTest, SizesAroundTheTransferBuffer) {
  ZipBuilder builder;
  for (size_t size : {0, 16384, 16385}) {
    builder.Add(File("s" + std::to_string(size), Pattern(size), 0));
    builder.Add(File("d" + std::to_string(size), Pattern(size), 8));
  }
  Open(builder);
  unsigned char* transfer = nullptr;
  for (int32_t i = 0; i < 6; ++i) {
    const std::string name = builder.entries()[static_cast<size_t>(i)].name;
    ASSERT_EQ(Extract(i, name), UNPACK_OK) << name;
    EXPECT_EQ(Slurp(m_base / name), builder.entries()[static_cast<size_t>(i)].data) << name;
    if (transfer == nullptr) transfer = m_handle->pState->pTransfer;
    EXPECT_EQ(m_handle->pState->pTransfer, transfer) << "one buffer for the handle's life";
  }
  EXPECT_NE(transfer, nullptr);
  EXPECT_EQ(Extract(6, "x"), UNPACK_ERR_ARGS);  // index equal to the count
  EXPECT_EQ(Listing(m_base).size(), 6u);
}

TEST_F(ExtractTest, ReplacesOnlyWhatMayBeReplaced) {
  Open(ZipBuilder().Add(File("f.txt", "new content")));
  fs::create_directories(m_base / "dir.txt");
  Put(m_base / "old.txt", "old");
  Put(m_base / "ro.txt", "keep me");
  SetReadOnlyForTest((m_base / "ro.txt").string(), true);

  EXPECT_EQ(Extract(0, "old.txt"), UNPACK_OK);
  EXPECT_EQ(Slurp(m_base / "old.txt"), "new content");
  EXPECT_EQ(Extract(0, "ro.txt"), UNPACK_ERR_FILE);
  EXPECT_EQ(Slurp(m_base / "ro.txt"), "keep me");
  EXPECT_TRUE(IsReadOnlyForTest((m_base / "ro.txt").string()));
  EXPECT_EQ(Extract(0, "dir.txt"), UNPACK_ERR_FILE);
  EXPECT_TRUE(fs::is_directory(m_base / "dir.txt"));
  EXPECT_EQ(Listing(m_base), (std::set<std::string>{"dir.txt", "old.txt", "ro.txt"}));
}

TEST_F(ExtractTest, FailuresLeaveThePreviousFileIntact) {
  ZipEntry secret = File("secret.txt", Pattern(30000), 8);
  secret.password = std::string("open sesame");
  ZipEntry badCrc = File("crc.txt", Pattern(20000), 0);
  badCrc.centralCrc = zipbuild::Crc32(badCrc.data) ^ 1;
  badCrc.localCrc = badCrc.centralCrc;
  ZipEntry damaged = File("damaged.txt", Pattern(50000), 8);
  ZipBuilder builder;
  builder.Add(secret).Add(badCrc).Add(damaged);
  std::string bytes = builder.Build();
  // Damage the deflate data of the third entry, far from its headers.
  size_t third = bytes.find("damaged.txt") + 11;
  for (size_t i = third + 300; i < third + 340; ++i) bytes[i] = '\x55';
  const std::string archive = (m_root / "a.zip").string();
  ASSERT_TRUE(zipbuild::SaveBytes(archive, bytes));

  for (const char* password : {"wrong", "open sesame"}) {
    SCOPED_TRACE(password);
    UnpackHandle handle = UnpackOpen(archive.c_str(), password);
    ASSERT_NE(handle, nullptr);
    ASSERT_EQ(UnpackSetBaseDir(handle, m_base.string().c_str()), UNPACK_OK);
    fs::create_directories(m_base);
    for (const char* name : {"secret.txt", "crc.txt", "damaged.txt"}) Put(m_base / name, "old");
    const bool right = std::string(password) == "open sesame";
    EXPECT_EQ(UnpackExtract(handle, 0, "secret.txt"), right ? UNPACK_OK : UNPACK_ERR_PASSWORD);
    EXPECT_EQ(UnpackExtract(handle, 1, "crc.txt"), UNPACK_ERR_READ);
    EXPECT_EQ(UnpackExtract(handle, 2, "damaged.txt"), UNPACK_ERR_READ);
    EXPECT_EQ(Slurp(m_base / "secret.txt"), right ? secret.data : "old");
    EXPECT_EQ(Slurp(m_base / "crc.txt"), "old");
    EXPECT_EQ(Slurp(m_base / "damaged.txt"), "old");
    EXPECT_EQ(Listing(m_base), (std::set<std::string>{"crc.txt", "damaged.txt", "secret.txt"}))
        << "no temporary file may be left";
    UnpackClose(handle);
  }

  // Written in place: a new target that fails leaves nothing behind, and an
  // old one is still replaced only whole.
  UnpackHandle handle = UnpackOpen(archive.c_str(), "open sesame");
  ASSERT_NE(handle, nullptr);
  ASSERT_EQ(UnpackSetBaseDir(handle, m_base.string().c_str()), UNPACK_OK);
  ASSERT_EQ(UnpackSetWriteInPlace(handle, 1), UNPACK_OK);
  fs::remove_all(m_base);
  fs::create_directories(m_base);
  Put(m_base / "crc.txt", "old");
  EXPECT_EQ(UnpackExtract(handle, 0, "secret.txt"), UNPACK_OK);
  EXPECT_EQ(UnpackExtract(handle, 1, "crc.txt"), UNPACK_ERR_READ);
  EXPECT_EQ(UnpackExtract(handle, 2, "damaged.txt"), UNPACK_ERR_READ);
  EXPECT_EQ(Slurp(m_base / "secret.txt"), secret.data);
  EXPECT_EQ(Slurp(m_base / "crc.txt"), "old");
  EXPECT_EQ(Listing(m_base), (std::set<std::string>{"crc.txt", "secret.txt"}));
  UnpackClose(handle);
}

TEST_F(ExtractTest, TimesThatCannotBeSetKeepTheData) {
  Open(ZipBuilder().Add(File("f.txt", "data")));
  if (!FailTimesForTest(true)) GTEST_SKIP() << "cannot make setting times fail here";
  const UnpackResult result = Extract(0, "f.txt");
  FailTimesForTest(false);
  EXPECT_EQ(result, UNPACK_OK);
  EXPECT_EQ(Slurp(m_base / "f.txt"), "data");
  EXPECT_EQ(Listing(m_base), (std::set<std::string>{"f.txt"}));
}

TEST_F(ExtractTest, FileInUseIsNotReplaced) {
  if (!kShareModesEnforced) GTEST_SKIP() << "no share modes on this platform";
  Open(ZipBuilder().Add(File("f.txt", "new")));
  fs::create_directories(m_base);
  Put(m_base / "busy.txt", "in use");
  HeldFileForTest held = HoldWithoutSharingForTest((m_base / "busy.txt").string());
  ASSERT_TRUE(held.valid);
  EXPECT_EQ(Extract(0, "busy.txt"), UNPACK_ERR_FILE);
  ReleaseForTest(&held);
  EXPECT_EQ(Slurp(m_base / "busy.txt"), "in use");
  EXPECT_EQ(Listing(m_base), (std::set<std::string>{"busy.txt"}));
}

TEST_F(ExtractTest, CachedEntryAfterAFailedLookupOfAnother) {
  ZipBuilder builder;
  builder.Add(File("first.txt", "first"));
  ZipEntry damaged = File("damaged.txt", "x");
  damaged.localSignature = 0x12345678;
  builder.Add(damaged);
  Open(builder);
  UnpackEntryInfo info;
  ASSERT_EQ(UnpackGetEntry(m_handle, 0, &info), UNPACK_OK);
  // The failed lookup moves the reader but leaves entry 0 in the cache.
  EXPECT_EQ(UnpackGetEntry(m_handle, 1, &info), UNPACK_ERR_LOCAL_HEADER);
  EXPECT_EQ(Extract(0, "first.txt"), UNPACK_OK);
  EXPECT_EQ(Slurp(m_base / "first.txt"), "first");
}

}  // namespace
