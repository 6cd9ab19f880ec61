#include "unzip/unpack.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "testing/zip_builder.h"
#include "unzip/names/entry_times.h"
#include "unzip/archive/unpack_source.h"
#include "unzip/archive/unpack_state.h"
#include "testing/unpack_test_util.h"

namespace {

using zipbuild::ZipBuilder;
using zipbuild::ZipEntry;

ZipBuilder ThreeFiles() {
  ZipBuilder builder;
  builder.AddFile("one.txt", "first");
  ZipEntry second;
  second.name = "dir/two.txt";
  second.data = std::string(5000, 'z');
  second.method = 8;
  builder.Add(second);
  builder.AddFile("three.txt", "third entry");
  return builder;
}

UnpackEntryInfo Filled() {
  UnpackEntryInfo info;
  std::memset(&info, 0xA5, sizeof(info));
  return info;
}

TEST(UnpackOpen, Failures) {
  CTempDir dir;
  struct Case {
    const char* what;
    std::string bytes;  // empty: the file is not created
  };
  const std::string good = ThreeFiles().Build();
  const Case cases[] = {
      {"missing file", ""},
      {"HTML error page",
       "<html><head><title>404 Not Found</title></head><body>Not Found</body></html>\n"},
      {"cut in the middle", good.substr(0, good.size() / 2)},
      {"22 bytes of garbage", std::string(22, 'P')},
      {"end record only, but claiming entries",
       std::string("PK\x05\x06\0\0\0\0\x01\0\x01\0\x2e\0\0\0\0\0\0\0\0\0", 22)},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string path = dir.File("case" + std::to_string(n++) + ".zip");
    if (!c.bytes.empty()) {
      ASSERT_TRUE(zipbuild::SaveBytes(path, c.bytes));
    }
    UnpackLastResult = UNPACK_OK;
    EXPECT_EQ(UnpackOpen(path.c_str(), nullptr), nullptr) << c.what;
    EXPECT_EQ(UnpackLastResult, UNPACK_ERR_FILE) << c.what;
  }
  // No handle: every operation answers UNPACK_ERR_ARGS, also in the last result.
  UnpackEntryInfo info = Filled();
  EXPECT_EQ(UnpackGetEntry(nullptr, 0, &info), UNPACK_ERR_ARGS);
  EXPECT_EQ(info.nIndex, 0);
  EXPECT_EQ(info.szName[0], '\0');
  EXPECT_EQ(info.nUnpackedSize, 0u);
  EXPECT_EQ(UnpackSetBaseDir(nullptr, "x"), UNPACK_ERR_ARGS);
  UnpackLastResult = UNPACK_OK;
  EXPECT_EQ(UnpackClose(nullptr), UNPACK_ERR_ARGS);
  EXPECT_EQ(UnpackLastResult, UNPACK_ERR_ARGS);
}

TEST(UnpackOpen, EmptyArchivesOpenWithNoEntries) {
  ZipBuilder empty;
  ZipBuilder commented;
  commented.archiveComment = "nothing here";
  for (const ZipBuilder* builder : {&empty, &commented}) {
    COpenArchive archive(*builder);
    ASSERT_NE(archive.handle(), nullptr);
    EXPECT_EQ(UnpackLastResult, UNPACK_OK);
    UnpackEntryInfo info = Filled();
    EXPECT_EQ(archive.Get(-1, &info), UNPACK_OK);
    EXPECT_EQ(info.nIndex, 0);
    EXPECT_EQ(archive.Get(0, &info), UNPACK_ERR_ARGS);
  }
  EXPECT_EQ(ZipBuilder().Build().size(), 22u);
}

TEST(UnpackHandleCheck, WrongKindIsRefusedAndNothingFreed) {
  COpenArchive archive(ThreeFiles());
  ASSERT_NE(archive.handle(), nullptr);
  archive.handle()->nKind = 2;
  UnpackEntryInfo info = Filled();
  EXPECT_EQ(UnpackGetEntry(archive.handle(), 0, &info), UNPACK_ERR_HANDLE_KIND);
  EXPECT_EQ(UnpackLastResult, UNPACK_ERR_HANDLE_KIND);
  EXPECT_EQ(UnpackSetBaseDir(archive.handle(), "x"), UNPACK_ERR_HANDLE_KIND);
  EXPECT_EQ(UnpackClose(archive.handle()), UNPACK_ERR_HANDLE_KIND);
  archive.handle()->nKind = UNPACK_HANDLE_READER;  // still alive: usable again
  EXPECT_EQ(UnpackGetEntry(archive.handle(), 2, &info), UNPACK_OK);
  EXPECT_STREQ(info.szName, "three.txt");
}

TEST(UnpackGetEntry, CountQueryAndIndexBounds) {
  COpenArchive archive(ThreeFiles());
  UnpackEntryInfo info = Filled();
  EXPECT_EQ(archive.Get(-1, &info), UNPACK_OK);
  EXPECT_EQ(info.nIndex, 3);
  EXPECT_EQ(info.szName[0], '\0');
  EXPECT_EQ(info.dwAttributes, 0u);
  EXPECT_EQ(UnpackFileTimeToTicks(info.ftLastWrite), 0u);
  EXPECT_EQ(UnpackFileTimeToTicks(info.ftLastAccess), 0u);
  EXPECT_EQ(UnpackFileTimeToTicks(info.ftCreation), 0u);
  EXPECT_EQ(info.nPackedSize, 0u);
  EXPECT_EQ(info.nUnpackedSize, 0u);

  for (int32_t index : {3, -2, 1000, INT32_MIN, INT32_MAX}) {
    UnpackEntryInfo out = Filled();
    const UnpackEntryInfo before = out;
    EXPECT_EQ(archive.Get(index, &out), UNPACK_ERR_ARGS) << index;
    EXPECT_EQ(UnpackLastResult, UNPACK_ERR_ARGS);
    EXPECT_EQ(out.nIndex, 0);
    EXPECT_EQ(out.szName[0], '\0');
    EXPECT_EQ(out.nUnpackedSize, 0u);
    EXPECT_EQ(out.dwAttributes, before.dwAttributes);
    EXPECT_EQ(out.nPackedSize, before.nPackedSize);
  }
  EXPECT_EQ(archive.Get(0, nullptr), UNPACK_ERR_ARGS);
}

TEST(UnpackGetEntry, RecordsInAnyOrder) {
  COpenArchive archive(ThreeFiles());
  const std::string second = std::string(5000, 'z');
  const uint32_t deflated = static_cast<uint32_t>(zipbuild::Deflate(second).size());
  struct Expected {
    const char* name;
    uint32_t packed, unpacked;
  };
  const Expected expected[] = {
      {"one.txt", 5, 5}, {"dir/two.txt", deflated, 5000}, {"three.txt", 11, 11}};
  // Forward, backward (restarts the walk) and skipping.
  for (int32_t index : {0, 1, 2, 1, 0, 2, 0}) {
    UnpackEntryInfo info = Filled();
    ASSERT_EQ(archive.Get(index, &info), UNPACK_OK) << index;
    EXPECT_EQ(info.nIndex, index);
    EXPECT_STREQ(info.szName, expected[index].name);
    EXPECT_EQ(info.nPackedSize, expected[index].packed);
    EXPECT_EQ(info.nUnpackedSize, expected[index].unpacked);
    EXPECT_EQ(info.dwAttributes, 0u);
  }
}

TEST(UnpackGetEntry, SecondLookupOfAnIndexComesFromTheCache) {
  COpenArchive archive(ThreeFiles());
  UnpackEntryInfo first = Filled();
  uint64_t reads = UnpackSourceReadCount();
  ASSERT_EQ(archive.Get(1, &first), UNPACK_OK);
  EXPECT_GT(UnpackSourceReadCount(), reads);  // the first lookup reads

  UnpackEntryInfo second = Filled();
  reads = UnpackSourceReadCount();
  ASSERT_EQ(archive.Get(1, &second), UNPACK_OK);
  EXPECT_EQ(UnpackSourceReadCount(), reads);
  EXPECT_EQ(std::memcmp(&first, &second, sizeof(first)), 0);

  // The count query and a failed lookup leave the cache as it was.
  UnpackEntryInfo other = Filled();
  EXPECT_EQ(archive.Get(-1, &other), UNPACK_OK);
  EXPECT_EQ(archive.Get(7, &other), UNPACK_ERR_ARGS);
  reads = UnpackSourceReadCount();
  ASSERT_EQ(archive.Get(1, &second), UNPACK_OK);
  EXPECT_EQ(UnpackSourceReadCount(), reads);
  EXPECT_EQ(std::memcmp(&first, &second, sizeof(first)), 0);
}

TEST(UnpackGetEntry, AttributeTable) {
  struct Case {
    uint8_t host;
    uint32_t external;
    uint32_t attributes;
  };
  const Case cases[] = {
      {3, 0x81A40000, 0x20},  // Unix 0100644
      {3, 0x81240000, 0x21},  // Unix 0100444
      {3, 0x41ED0000, 0x30},  // Unix directory 040755
      {3, 0x00000000, 0x00},  // Unix host, no mode at all: the DOS bits count
      {3, 0x00000021, 0x21},  // likewise
      {3, 0xFFFFFFFF, 0x30},  // Unix, every bit: only directory and archive
      {0, 0x27, 0x27},        // DOS
      {0, 0x10, 0x10},        // DOS directory, no archive bit
      {0, 0xFFFFFFFF, 0x37},  // DOS: no bit beyond the five
      {7, 0x02, 0x02},        {11, 0x21, 0x21},
      {14, 0x04, 0x04},       {10, 0x20, 0x20},  // Windows tools: host 10, DOS bits only
      {10, 0x81A40000, 0x20},                    // host 10 with a mode takes the Unix rule
      {10, 0x81240001, 0x21}, {19, 0x81A40000, 0x20},
  };
  ZipBuilder builder;
  for (const Case& c : cases) {
    ZipEntry entry;
    entry.name = "e" + std::to_string(builder.entries().size());
    entry.host = c.host;
    entry.externalAttributes = c.external;
    builder.Add(entry);
  }
  COpenArchive archive(builder);
  for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
    UnpackEntryInfo info = Filled();
    ASSERT_EQ(archive.Get(static_cast<int32_t>(i), &info), UNPACK_OK);
    EXPECT_EQ(info.dwAttributes, cases[i].attributes)
        << "host " << int{cases[i].host} << " ext " << std::hex << cases[i].external;
  }
}

TEST(UnpackGetEntry, NamesAreCleanedAndLongNamesRefused) {
  ZipBuilder builder;
  builder.AddFile("../../evil.txt", "x");
  builder.AddFile("C:\\Windows\\win.ini", "x");
  builder.AddFile(std::string(259, 'n'), "x");
  builder.AddFile(std::string(260, 'n'), "x");
  builder.AddFile(std::string(1000, 'n'), "x");
  builder.AddFile(std::string("a\0b", 3), "x");
  COpenArchive archive(builder);
  UnpackEntryInfo info = Filled();
  ASSERT_EQ(archive.Get(0, &info), UNPACK_OK);
  EXPECT_STREQ(info.szName, "evil.txt");
  ASSERT_EQ(archive.Get(1, &info), UNPACK_OK);
  EXPECT_STREQ(info.szName, "Windows\\win.ini");
  ASSERT_EQ(archive.Get(2, &info), UNPACK_OK);
  EXPECT_EQ(std::string(info.szName), std::string(259, 'n'));
  EXPECT_EQ(archive.Get(3, &info), UNPACK_ERR_NAME_TOO_LONG);
  EXPECT_EQ(info.szName[0], '\0');
  EXPECT_EQ(archive.Get(4, &info), UNPACK_ERR_NAME_TOO_LONG);
  ASSERT_EQ(archive.Get(5, &info), UNPACK_OK);
  EXPECT_STREQ(info.szName, "a");
}

// An Info-ZIP Unicode path block naming stored as utf8; crcOf gives the name
// whose CRC-32 the block carries.
std::string UnicodePath(const std::string& crcOf, const std::string& utf8) {
  const uint32_t crc = zipbuild::Crc32(crcOf);
  std::string data = "\x01";
  for (int i = 0; i < 4; ++i) data.push_back(static_cast<char>(crc >> (8 * i)));
  return zipbuild::ExtraBlock(0x7075, data + utf8);
}

TEST(UnpackGetEntry, Utf8NamesAndUnicodePathBlocks) {
  // Which name counts; the names are ASCII, the same in every code page.
  struct Case {
    std::string stored;
    uint16_t flags;
    std::string localExtra;
    std::string centralExtra;
    UnpackResult result;
    std::string name;
  };
  const Case cases[] = {
      {"dir/plain.txt", 0x800, "", "", UNPACK_OK, "dir/plain.txt"},
      {"stored.txt", 0, UnicodePath("stored.txt", "chosen.txt"), "", UNPACK_OK, "chosen.txt"},
      {"stored.txt", 0, "", UnicodePath("stored.txt", "chosen.txt"), UNPACK_OK, "chosen.txt"},
      // A block left over from before a rename does not count.
      {"renamed.txt", 0, UnicodePath("old.txt", "old.txt"), "", UNPACK_OK, "renamed.txt"},
      // The name is cleaned after it is chosen.
      {"b.txt", 0, UnicodePath("b.txt", "a/../../b.txt"), "", UNPACK_OK, "b.txt"},
      {"long.txt", 0, UnicodePath("long.txt", std::string(300, 'n')), "", UNPACK_ERR_NAME_TOO_LONG,
       ""},
      // Without bit 11 or a block, bytes stay as stored (code page 936 here).
      {"\xD6\xD0\xCE\xC4.txt", 0, "", "", UNPACK_OK, "\xD6\xD0\xCE\xC4.txt"},
  };
  ZipBuilder builder;
  for (const Case& c : cases) {
    ZipEntry entry;
    entry.name = c.stored;
    entry.flags = c.flags;
    entry.localExtra = c.localExtra;
    entry.centralExtra = c.centralExtra;
    builder.Add(entry);
  }
  COpenArchive archive(builder);
  for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
    UnpackEntryInfo info = Filled();
    EXPECT_EQ(archive.Get(static_cast<int32_t>(i), &info), cases[i].result) << i;
    EXPECT_EQ(std::string(info.szName), cases[i].name) << i;
  }
}

TEST(UnpackGetEntry, DamagedLocalHeaders) {
  struct Case {
    const char* what;
    void (*damage)(ZipEntry*);
    UnpackResult result;
  };
  const Case cases[] = {
      {"intact", [](ZipEntry*) {}, UNPACK_OK},
      {"signature", [](ZipEntry* e) { e->localSignature = 0x04034B51; }, UNPACK_ERR_LOCAL_HEADER},
      {"method differs", [](ZipEntry* e) { e->localMethod = 8; }, UNPACK_ERR_LOCAL_HEADER},
      {"method 12 in both", [](ZipEntry* e) { e->method = 12; }, UNPACK_ERR_LOCAL_HEADER},
      {"method 9 in both", [](ZipEntry* e) { e->method = 9; }, UNPACK_ERR_LOCAL_HEADER},
      {"CRC differs", [](ZipEntry* e) { e->localCrc = 1; }, UNPACK_ERR_LOCAL_HEADER},
      {"CRC differs under bit 3",
       [](ZipEntry* e) {
         e->localFlags = 8;
         e->localCrc = 0;
         e->localCompressedSize = 0;
         e->localUncompressedSize = 0;
       },
       UNPACK_OK},
      {"packed size differs", [](ZipEntry* e) { e->localCompressedSize = 3; },
       UNPACK_ERR_LOCAL_HEADER},
      {"size differs", [](ZipEntry* e) { e->localUncompressedSize = 3; }, UNPACK_ERR_LOCAL_HEADER},
      {"name length differs", [](ZipEntry* e) { e->localNameLength = 2; }, UNPACK_ERR_LOCAL_HEADER},
      {"header offset past the file", [](ZipEntry* e) { e->centralLocalOffset = 0x7FFFFF00; },
       UNPACK_ERR_LOCAL_HEADER},
      {"extra field past the file", [](ZipEntry* e) { e->localExtraLength = 0xFFFF; },
       UNPACK_ERR_EXTRA_FIELD},
  };
  for (const Case& c : cases) {
    ZipBuilder builder;
    builder.AddFile("before.txt", "b");
    ZipEntry damaged;
    damaged.name = "damaged.txt";
    damaged.data = "some data";
    c.damage(&damaged);
    builder.Add(damaged);
    builder.AddFile("after.txt", "a");
    COpenArchive archive(builder);
    ASSERT_NE(archive.handle(), nullptr) << c.what;

    UnpackEntryInfo cached = Filled();
    ASSERT_EQ(archive.Get(0, &cached), UNPACK_OK) << c.what;
    UnpackEntryInfo info = Filled();
    const UnpackEntryInfo before = info;
    EXPECT_EQ(archive.Get(1, &info), c.result) << c.what;
    EXPECT_EQ(UnpackLastResult, c.result) << c.what;
    if (c.result != UNPACK_OK) {
      EXPECT_EQ(info.nIndex, 0) << c.what;
      EXPECT_EQ(info.szName[0], '\0') << c.what;
      EXPECT_EQ(info.dwAttributes, before.dwAttributes) << c.what;
      // The cache still holds entry 0, and the handle serves the others.
      const uint64_t reads = UnpackSourceReadCount();
      UnpackEntryInfo again = Filled();
      EXPECT_EQ(archive.Get(0, &again), UNPACK_OK) << c.what;
      EXPECT_EQ(UnpackSourceReadCount(), reads) << c.what;
      EXPECT_EQ(std::memcmp(&again, &cached, sizeof(again)), 0) << c.what;
    } else {
      EXPECT_STREQ(info.szName, "damaged.txt");
    }
    ASSERT_EQ(archive.Get(2, &info), UNPACK_OK) << c.what;
    EXPECT_STREQ(info.szName, "after.txt") << c.what;
  }
}

TEST(UnpackGetEntry, DamagedCentralDirectoryEndsTheWalk) {
  // A damaged record in the middle: the entries behind it are unreachable.
  ZipBuilder builder;
  builder.AddFile("a", "1");
  ZipEntry bad;
  bad.name = "b";
  bad.centralSignature = 0x12345678;
  builder.Add(bad);
  builder.AddFile("c", "3");
  COpenArchive archive(builder);
  ASSERT_NE(archive.handle(), nullptr);
  UnpackEntryInfo info = Filled();
  EXPECT_EQ(archive.Get(2, &info), UNPACK_ERR_DIRECTORY);
  // Once the walk has stopped at the damage, lookups behind it fail
  // without walking (and reading) again: an ascending loop stays linear.
  const uint64_t reads = UnpackSourceReadCount();
  EXPECT_EQ(archive.Get(1, &info), UNPACK_ERR_DIRECTORY);
  EXPECT_EQ(archive.Get(2, &info), UNPACK_ERR_DIRECTORY);
  EXPECT_EQ(UnpackSourceReadCount(), reads);
  EXPECT_EQ(archive.Get(0, &info), UNPACK_OK);
  EXPECT_STREQ(info.szName, "a");
}

TEST(UnpackSetBaseDir, SeparatorIsAppendedOnce) {
  COpenArchive archive(ThreeFiles());
  const char* base = archive.handle()->pState->szBaseDir;
  const size_t defaultLength = std::strlen(base);
  ASSERT_GT(defaultLength, 0u);  // the current directory
  EXPECT_TRUE(base[defaultLength - 1] == '\\' || base[defaultLength - 1] == '/');

  struct Case {
    const char* directory;
    const char* base;
  };
  const Case cases[] = {{"C:\\app", "C:\\app\\"},
                        {"C:\\app\\", "C:\\app\\"},
                        {"out/", "out/"},
                        {"", "\\"},
                        {"/", "/"}};
  for (const Case& c : cases) {
    EXPECT_EQ(UnpackSetBaseDir(archive.handle(), c.directory), UNPACK_OK);
    EXPECT_STREQ(base, c.base);
  }
  const std::string longest(258, 'd');
  EXPECT_EQ(UnpackSetBaseDir(archive.handle(), longest.c_str()), UNPACK_OK);
  EXPECT_EQ(std::string(base), longest + "\\");
  const std::string tooLong(259, 'd');
  EXPECT_EQ(UnpackSetBaseDir(archive.handle(), tooLong.c_str()), UNPACK_ERR_ARGS);
  EXPECT_EQ(std::string(base), longest + "\\");
}

TEST(UnpackGetEntry, TimesComeFromTheLocalExtraField) {
  ZipBuilder builder;
  ZipEntry entry;
  entry.name = "timed";
  entry.dosDate = zipbuild::DosDate(2010, 3, 4);
  entry.dosTime = zipbuild::DosTime(5, 6, 8);
  entry.localExtra = zipbuild::UtBlock(0x03, {1000, 2000});
  entry.centralExtra = zipbuild::UtBlock(0x07, {7, 8, 9});  // never read
  builder.Add(entry);
  COpenArchive archive(builder);
  UnpackEntryInfo info = Filled();
  ASSERT_EQ(archive.Get(0, &info), UNPACK_OK);
  EXPECT_EQ(UnpackFileTimeToTicks(info.ftLastWrite),
            UnpackFileTimeToTicks(UnpackUnixSecondsToFileTime(1000)));
  EXPECT_EQ(UnpackFileTimeToTicks(info.ftLastAccess),
            UnpackFileTimeToTicks(UnpackUnixSecondsToFileTime(2000)));
  EXPECT_EQ(UnpackFileTimeToTicks(info.ftCreation),
            UnpackFileTimeToTicks(
                UnpackDosStampToFileTime((uint32_t{entry.dosDate} << 16) | entry.dosTime)));
}

}  // namespace
