// UTF-8 names under code page 936 (run with LANG=zh_CN.UTF-8 and the compiled
// locale, see unzip/CMakeLists.txt): converted to GBK before cleaning, and
// refused when GBK cannot represent them, never written under a look-alike.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "testing/zip_builder.h"
#include "unzip/unpack.h"
#include "testing/unpack_test_util.h"

namespace {

using zipbuild::ZipBuilder;
using zipbuild::ZipEntry;

ZipEntry Utf8Entry(const std::string& name) {
  ZipEntry entry;
  entry.name = name;
  entry.data = "data";
  entry.flags = 0x800;
  return entry;
}

TEST(EntryNameCp936, Utf8NamesBecomeGbkOrAreRefused) {
  // The locale must really be in force, or the names below prove nothing.
  ASSERT_EQ(GetACP(), 936u);
  CTempDir dir;
  const std::string probe =
      dir.path().string() + "\\\x81\x5C";  // 乗: its trail byte is a backslash
  HANDLE file = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << "no file named with a GBK character";
  CloseHandle(file);

  ZipBuilder builder;
  builder.Add(Utf8Entry("\xE4\xB8\xAD\xE6\x96\x87/\xE6\x96\x87\xE4\xBB\xB6.txt"));  // 中文/文件.txt
  builder.Add(Utf8Entry("\xF0\x9F\x98\x80.txt"));  // an emoji: not in GBK
  builder.Add(Utf8Entry("a\xCC\x88.txt"));         // a with a combining diaeresis
  builder.Add(Utf8Entry("\xC3\xA4.txt"));          // ä: GBK would best-fit it to a
  builder.Add(Utf8Entry("bad\xC3.txt"));           // no UTF-8
  ZipEntry gbk;  // without bit 11 the bytes are already GBK and stay as they are
  gbk.name = "\xD6\xD0\xCE\xC4.txt";
  builder.Add(gbk);
  COpenArchive archive(builder);
  ASSERT_NE(archive.handle(), nullptr);
  ASSERT_EQ(UnpackSetBaseDir(archive.handle(), dir.path().string().c_str()), UNPACK_OK);

  UnpackEntryInfo info = {};
  ASSERT_EQ(archive.Get(0, &info), UNPACK_OK);
  EXPECT_STREQ(info.szName, "\xD6\xD0\xCE\xC4/\xCE\xC4\xBC\xFE.txt");
  EXPECT_EQ(UnpackExtract(archive.handle(), 0, info.szName), UNPACK_OK);
  const std::wstring written = dir.path().wstring() + L"\\\u4E2D\u6587\\\u6587\u4EF6.txt";
  EXPECT_NE(GetFileAttributesW(written.c_str()), INVALID_FILE_ATTRIBUTES);

  for (int32_t index : {1, 2, 3, 4}) {
    EXPECT_EQ(archive.Get(index, &info), UNPACK_ERR_NAME_ENCODING) << index;
    EXPECT_EQ(info.szName[0], '\0') << index;
    EXPECT_EQ(UnpackExtract(archive.handle(), index, "x.txt"), UNPACK_ERR_NAME_ENCODING) << index;
  }
  ASSERT_EQ(archive.Get(5, &info), UNPACK_OK);
  EXPECT_STREQ(info.szName, "\xD6\xD0\xCE\xC4.txt");
}

}  // namespace
