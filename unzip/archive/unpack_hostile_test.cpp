// Archives made to exhaust the machine rather than to be unpacked: entry
// counts the archive cannot hold, and entries that share their bytes.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "testing/zip_builder.h"
#include "unzip/unpack.h"
#include "unzip/archive/unpack_source.h"
#include "testing/unpack_test_util.h"

namespace {

using zipbuild::ZipBuilder;
using zipbuild::ZipEntry;

// The archive of builder with zip64 end records that promise entries.
std::string WithZip64End(ZipBuilder builder, uint64_t entries) {
  builder.zip64EntryCount = entries;
  return builder.Build();
}

UnpackHandle OpenBytes(const CTempDir& dir, const std::string& bytes) {
  const std::string path = dir.File("hostile.zip");
  EXPECT_TRUE(zipbuild::SaveBytes(path, bytes));
  return UnpackOpen(path.c_str(), "");
}

ZipBuilder OneFile() {
  ZipBuilder builder;
  builder.AddFile("only.txt", "1");
  return builder;
}

TEST(HostileArchive, EntryCountsTheArchiveCannotHoldAreRefusedAtOpen) {
  CTempDir dir;
  ZipBuilder five = ZipBuilder().AddFile("a", "1").AddFile("b", "2").AddFile("c", "3");
  five.entryCountOverride = 5;  // 5 records need 230 bytes; the three take 141
  ZipBuilder promised = OneFile();
  promised.entryCountOverride = 0xFFFF;
  const struct {
    const char* what;
    std::string bytes;
  } refused[] = {
      {"more records than the directory has room for", five.Build()},
      {"65535 over one record", promised.Build()},
      {"zip64: 0x7FFFFFFF over one record", WithZip64End(OneFile(), 0x7FFFFFFF)},
      {"zip64: more than 65535", WithZip64End(OneFile(), 65536)},
  };
  for (const auto& c : refused) {
    EXPECT_EQ(OpenBytes(dir, c.bytes), nullptr) << c.what;
    EXPECT_EQ(UnpackLastResult, UNPACK_ERR_FILE) << c.what;
  }

  // A true zip64 count opens as before.
  UnpackHandle handle = OpenBytes(dir, WithZip64End(OneFile(), 1));
  ASSERT_NE(handle, nullptr) << std::hex << UnpackLastResult;
  UnpackEntryInfo info = {};
  EXPECT_EQ(UnpackGetEntry(handle, -1, &info), UNPACK_OK);
  EXPECT_EQ(info.nIndex, 1);
  EXPECT_EQ(UnpackGetEntry(handle, 0, &info), UNPACK_OK);
  EXPECT_STREQ(info.szName, "only.txt");
  UnpackClose(handle);
}

TEST(HostileArchive, ACountThatFitsButOutrunsTheRecordsEndsAtTheLastRecord) {
  // Long names leave room for 9 records of the minimal size; there are 3.
  ZipBuilder builder;
  for (const char* name : {"a", "b", "c"}) builder.AddFile(std::string(100, *name), "x");
  builder.entryCountOverride = 9;
  COpenArchive archive(builder);
  ASSERT_NE(archive.handle(), nullptr);
  UnpackEntryInfo info = {};
  ASSERT_EQ(archive.Get(2, &info), UNPACK_OK);
  // The walk at open found the end: no lookup behind it reads the archive.
  const uint64_t reads = UnpackSourceReadCount();
  for (int32_t i = 3; i < 9; ++i) EXPECT_EQ(archive.Get(i, &info), UNPACK_ERR_DIRECTORY) << i;
  EXPECT_EQ(UnpackSourceReadCount(), reads);
}

TEST(HostileArchive, EntriesSharingBytesAreRefusedAndNeverWritten) {
  const std::string data(4096, 'z');
  // Eight central records naming one local header.
  ZipBuilder same;
  for (int i = 0; i < 8; ++i) {
    ZipEntry e;
    e.name = "bomb" + std::to_string(i);
    e.data = data;
    e.centralLocalOffset = 0;
    same.Add(e);
  }
  same.AddFile("fine.txt", "ok");

  // The data of the first entry runs over the local header of the second.
  ZipBuilder nested;
  ZipEntry outer;
  outer.name = "outer";
  outer.data = data;
  const uint32_t covering = static_cast<uint32_t>(data.size() + 30 + 5 + 1);
  outer.centralCompressedSize = covering;
  outer.centralUncompressedSize = covering;
  outer.localCompressedSize = covering;
  outer.localUncompressedSize = covering;
  nested.Add(outer);
  nested.AddFile("inner", data);
  nested.AddFile("fine.txt", "ok");

  for (const ZipBuilder* builder : {&same, &nested}) {
    COpenArchive archive(*builder);
    ASSERT_NE(archive.handle(), nullptr);
    CTempDir base;
    ASSERT_EQ(UnpackSetBaseDir(archive.handle(), base.path().string().c_str()), UNPACK_OK);
    const int32_t count = static_cast<int32_t>(builder->entries().size());
    for (int32_t i = 0; i + 1 < count; ++i) {
      UnpackEntryInfo info = {};
      EXPECT_EQ(archive.Get(i, &info), UNPACK_ERR_OVERLAP) << i;
      EXPECT_EQ(UnpackExtract(archive.handle(), i, "written.bin"), UNPACK_ERR_OVERLAP) << i;
    }
    EXPECT_FALSE(std::filesystem::exists(base.path() / "written.bin"));
    UnpackEntryInfo info = {};
    ASSERT_EQ(archive.Get(count - 1, &info), UNPACK_OK);
    EXPECT_EQ(UnpackExtract(archive.handle(), count - 1, info.szName), UNPACK_OK);
    EXPECT_TRUE(std::filesystem::exists(base.path() / "fine.txt"));
  }
}

}  // namespace
