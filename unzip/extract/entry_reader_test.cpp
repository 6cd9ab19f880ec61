#include "unzip/extract/entry_reader.h"

#include <gtest/gtest.h>
#include <unzip.h>

#include <cstdio>
#include <string>

#include "testing/zip_builder.h"

namespace {

using zipbuild::ZipBuilder;
using zipbuild::ZipEntry;

std::string Pattern(size_t size) {
  std::string s(size, '\0');
  uint32_t x = 12345;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    s[i] = static_cast<char>(i % 7 == 0 ? (x >> 16) : 'a' + i % 5);
  }
  return s;
}

struct ReadOutcome {
  int error = 0;     // 0, kEntryReadWrongPassword or kEntryReadFailed
  std::string data;  // bytes delivered before the end or the error
  int reads = 0;     // reads that delivered data
};

// Reads the first entry of the archive bytes through UnpackEntryRead.
ReadOutcome ReadFirstEntry(const std::string& archive, const char* password) {
  // One file per test: ctest runs the cases of this program side by side.
  const std::string path = ::testing::TempDir() + "entry_reader_" +
                           ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".zip";
  EXPECT_TRUE(zipbuild::SaveBytes(path, archive));
  ReadOutcome outcome;
  unzFile reader = unzOpen(path.c_str());
  EXPECT_NE(reader, nullptr);
  if (reader == nullptr) return outcome;
  EXPECT_EQ(unzGoToFirstFile(reader), UNZ_OK);
  {
    UnpackEntryReader entry;
    UnpackEntryOpen(&entry, reader, password);
    unsigned char buffer[16384];
    for (int guard = 0; guard < 100000; ++guard) {
      bool complete = false;
      int n = UnpackEntryRead(&entry, buffer, sizeof(buffer), &complete);
      if (n < 0) {
        outcome.error = n;
        break;
      }
      if (n > 0) ++outcome.reads;
      outcome.data.append(reinterpret_cast<char*>(buffer), static_cast<size_t>(n));
      if (complete) break;
      EXPECT_GT(n, 0) << "a read of 0 bytes must either complete or fail";
      if (n == 0) break;
    }
  }
  unzClose(reader);
  remove(path.c_str());
  return outcome;
}

ZipEntry MakeEntry(const std::string& data, uint16_t method) {
  ZipEntry e;
  e.name = "f.bin";
  e.data = data;
  e.method = method;
  e.dosTime = zipbuild::DosTime(13, 37, 42);
  return e;
}

TEST(EntryReaderTest, DeliversExactlyTheDeclaredSizeAndCompletes) {
  struct Case {
    size_t size;
    uint16_t method;
    int reads;
  } cases[] = {{0, 0, 0}, {1, 0, 1},     {16384, 0, 1}, {16385, 0, 2},
               {0, 8, 0}, {16384, 8, 1}, {16385, 8, 2}, {200000, 8, 13}};
  for (const Case& c : cases) {
    for (const char* password : {static_cast<const char*>(nullptr), "", "secret"}) {
      SCOPED_TRACE("size " + std::to_string(c.size) + " method " + std::to_string(c.method) +
                   " password " + (password ? password : "(none)"));
      ZipEntry e = MakeEntry(Pattern(c.size), c.method);
      if (password != nullptr) e.password = std::string(password);
      ReadOutcome out = ReadFirstEntry(ZipBuilder().Add(e).Build(), password);
      EXPECT_EQ(out.error, 0);
      EXPECT_EQ(out.data, e.data);
      EXPECT_EQ(out.reads, c.reads);
    }
  }
}

TEST(EntryReaderTest, PasswordCheckByte) {
  // Without bit 3 the check byte is the CRC's high byte; with it, the DOS
  // time's high byte.
  for (uint16_t flags : {0, 8}) {
    for (uint16_t method : {0, 8}) {
      SCOPED_TRACE("flags " + std::to_string(flags) + " method " + std::to_string(method));
      ZipEntry e = MakeEntry(Pattern(5000), method);
      e.flags = flags;
      e.password = std::string("right");
      const std::string archive = ZipBuilder().Add(e).Build();
      EXPECT_EQ(ReadFirstEntry(archive, "right").data, e.data);
      ReadOutcome wrong = ReadFirstEntry(archive, "wrong!");
      EXPECT_EQ(wrong.error, kEntryReadWrongPassword);
      EXPECT_TRUE(wrong.data.empty());
      EXPECT_EQ(ReadFirstEntry(archive, nullptr).error, kEntryReadWrongPassword);
    }
  }
  // An unencrypted entry ignores whatever password the handle holds.
  ZipEntry plain = MakeEntry("plain", 0);
  EXPECT_EQ(ReadFirstEntry(ZipBuilder().Add(plain).Build(), "secret").data, "plain");
}

TEST(EntryReaderTest, DamagedDataIsAnErrorNeverSuccess) {
  const std::string data = Pattern(40000);
  for (bool encrypted : {false, true}) {
    for (uint16_t method : {0, 8}) {
      SCOPED_TRACE(std::string(encrypted ? "encrypted" : "plain") + " method " +
                   std::to_string(method));
      const char* password = encrypted ? "pw" : nullptr;
      ZipEntry e = MakeEntry(data, method);
      if (encrypted) e.password = std::string("pw");

      ZipEntry badCrc = e;
      badCrc.centralCrc = zipbuild::Crc32(data) ^ 0x00FF0000;  // check byte unaffected
      badCrc.localCrc = badCrc.centralCrc;
      EXPECT_EQ(ReadFirstEntry(ZipBuilder().Add(badCrc).Build(), password).error, kEntryReadFailed);

      // The declared size runs past the data. Stored data then ends early; a
      // deflate stream ends, and is the whole entry when the CRC-32 of what it
      // delivered matches, and an error when it does not.
      ZipEntry longer = e;
      longer.centralUncompressedSize = static_cast<uint32_t>(data.size() + 100);
      longer.localUncompressedSize = longer.centralUncompressedSize;
      ReadOutcome early = ReadFirstEntry(ZipBuilder().Add(longer).Build(), password);
      EXPECT_EQ(early.error, method == 8 ? 0 : kEntryReadFailed);
      if (method == 8) {
        EXPECT_EQ(early.data, data);
      }
      longer.centralCrc = badCrc.centralCrc;
      longer.localCrc = badCrc.centralCrc;
      EXPECT_EQ(ReadFirstEntry(ZipBuilder().Add(longer).Build(), password).error, kEntryReadFailed);

      // The declared size is shorter: exactly that much is delivered.
      ZipEntry shorter = e;
      shorter.centralUncompressedSize = 1000;
      shorter.localUncompressedSize = 1000;
      shorter.centralCrc = zipbuild::Crc32(data.substr(0, 1000));
      shorter.localCrc = shorter.centralCrc;
      if (encrypted) shorter.flags = 8;  // keeps the check byte independent of the CRC
      ReadOutcome out = ReadFirstEntry(ZipBuilder().Add(shorter).Build(), password);
      EXPECT_EQ(out.error, 0);
      EXPECT_EQ(out.data, data.substr(0, 1000));
    }
  }
}

TEST(EntryReaderTest, DamagedDeflateStream) {
  for (bool encrypted : {false, true}) {
    ZipEntry e = MakeEntry(Pattern(60000), 8);
    if (encrypted) e.password = std::string("pw");
    std::string archive = ZipBuilder().Add(e).Build();
    // Overwrite a stretch in the middle of the compressed data.
    const size_t dataStart = 30 + e.name.size() + (encrypted ? 12 : 0);
    for (size_t i = dataStart + 200; i < dataStart + 260; ++i) archive[i] = '\xFF';
    EXPECT_EQ(ReadFirstEntry(archive, encrypted ? "pw" : nullptr).error, kEntryReadFailed)
        << (encrypted ? "encrypted" : "plain");
  }
}

}  // namespace
