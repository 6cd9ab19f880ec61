// What the zip writer stores is what the zip layer reads back: names,
// attribute bits, the three times and the bytes, whichever way an entry was
// added.
#include "tools/unpack/zip_writer.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <string>

#include "testing/unpack_test_util.h"
#include "tools/unpack/product_folder.h"
#include "unzip/names/entry_times.h"
#include "unzip/platform/platform.h"

namespace {

TEST(ZipWriterTest, TheZipLayerReadsBackEveryEntryAsWritten) {
  CTempDir dir;
  std::mt19937 random(3);
  std::string binary(300000, '\0');
  for (char& c : binary) c = static_cast<char>(random());
  const std::string text(70000, 'x');
  std::ofstream(dir.File("big.bin"), std::ios::binary) << binary;

  ZipEntryMeta file;
  file.attributes = kUnpackAttrArchive | kUnpackAttrReadOnly | kUnpackAttrHidden;
  file.lastWrite = 1700000000;
  file.lastAccess = 1700000100;
  file.creation = 1600000000;
  file.hasAccess = file.hasCreation = true;
  ZipEntryMeta folder;
  folder.lastWrite = 1500000000;
  ZipDeflated deflated;
  ASSERT_TRUE(ZipDeflate(text.data(), text.size(), &deflated));

  CZipWriter writer;
  std::string why;
  ASSERT_TRUE(writer.Open(dir.File("out.zip"), &why));
  ASSERT_TRUE(
      writer.AddDirectory("donn\xC3\xA9"
                          "es/",
                          folder, &why));
  ASSERT_TRUE(writer.AddFile("big.bin", file, dir.File("big.bin"), &why)) << why;
  ASSERT_TRUE(writer.AddPrepared("text.txt", folder, deflated, &why));
  ASSERT_TRUE(writer.AddStored("empty", folder, "", 0, &why));
  EXPECT_FALSE(writer.AddStored(std::string(260, 'n'), folder, "", 0, &why));
  EXPECT_NE(std::string::npos, why.find("too long"));
  writer.ListLastFirst();
  ASSERT_TRUE(writer.Finish(&why)) << why;

  UnpackHandle archive = UnpackOpen(dir.File("out.zip").c_str(), "");
  ASSERT_NE(nullptr, archive);
  ASSERT_EQ(UNPACK_OK, UnpackSetBaseDir(archive, (dir.File("x") + "/").c_str()));
  // The UTF-8 name as the zip layer gives it, in the process code page.
  char folderName[kUnpackMaxPath];
  ASSERT_TRUE(
      UnpackPlatformUtf8ToAnsi("donn\xC3\xA9"
                               "es/",
                               folderName, sizeof(folderName)));
  const char* names[] = {"empty", folderName, "big.bin", "text.txt"};
  const std::string* contents[] = {nullptr, nullptr, &binary, &text};
  for (int32_t i = 0; i < 4; ++i) {
    UnpackEntryInfo info = {};
    ASSERT_EQ(UNPACK_OK, UnpackGetEntry(archive, i, &info)) << i;
    EXPECT_STREQ(names[i], info.szName);
    const ZipEntryMeta& meta = i == 2 ? file : folder;
    EXPECT_EQ(meta.attributes | (i == 1 ? kUnpackAttrDirectory : 0), info.dwAttributes) << i;
    EXPECT_EQ(UnpackUnixSecondsToTicks(meta.lastWrite), UnpackFileTimeToTicks(info.ftLastWrite));
    if (i == 2) {
      EXPECT_EQ(UnpackUnixSecondsToTicks(file.lastAccess),
                UnpackFileTimeToTicks(info.ftLastAccess));
      EXPECT_EQ(UnpackUnixSecondsToTicks(file.creation), UnpackFileTimeToTicks(info.ftCreation));
    }
    ASSERT_EQ(UNPACK_OK, UnpackExtract(archive, i, info.szName)) << i;
    if (contents[i] != nullptr) {
      std::string back;
      ASSERT_TRUE(ReadFileBytes(dir.path() / "x" / info.szName, &back));
      EXPECT_TRUE(back == *contents[i]) << i;
    }
  }
  UnpackClose(archive);
}

}  // namespace
