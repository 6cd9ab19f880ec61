#include "updater/release/release_record.h"

#include <gtest/gtest.h>

#include <string>

#include "updater/release/release_path.h"
#include "updater/release/release_version.h"

namespace {

const std::string kA(64, 'a');
const std::string kB(64, 'b');

bool Parse(const std::string& text, ReleaseRecord* record, CString* why) {
  return ParseReleaseRecord(text.data(), text.size(), record, why);
}

TEST(ReleaseVersionTest, ComparesPartByPartAsNumbers) {
  struct Case {
    const char* a;
    const char* b;
    int order;
  } cases[] = {
      {"2.0.0", "2.0", 0},         {"2", "2.0.0.0", 0},      {"2.10", "2.9", 1},
      {"2.0.0.17", "2.0.1", -1},   {"1.999999999", "2", -1}, {"02.1", "2.01", 0},
      {"3.0.0.0.0.0.0.1", "3", 1},
  };
  for (const Case& c : cases) {
    ReleaseVersion a = {}, b = {};
    ASSERT_TRUE(ParseVersion(c.a, &a) && ParseVersion(c.b, &b)) << c.a << " " << c.b;
    const int order = CompareVersions(a, b);
    EXPECT_EQ(c.order, (order > 0) - (order < 0)) << c.a << " vs " << c.b;
  }
  for (const char* bad : {"", ".", "2.", ".2", "2..0", "v2", "2.0-rc1", "+2", "2 .0", "1234567890",
                          "1.2.3.4.5.6.7.8.9"}) {
    ReleaseVersion v = {};
    EXPECT_FALSE(ParseVersion(bad, &v)) << bad;
  }
}

// Paths with spaces and odd bytes come back as written, and every field
// survives the trip.
TEST(ReleaseRecordTest, FormatsAndParsesBackEveryField) {
  ReleaseRecord record;
  ASSERT_TRUE(ParseVersion("2.0.0.17", &record.version));
  ASSERT_TRUE(ParseVersion("1.9", &record.from));
  record.isDelta = true;
  auto add = [&](ReleaseAction action, bool base, bool result, uint64_t size, const char* path) {
    ReleaseFile file;
    file.action = action;
    file.hasBase = base;
    file.hasResult = result;
    file.base.bytes[0] = 0x9F;
    file.result.bytes[31] = action == ReleaseAction::kKeep ? 0 : 0x3A;
    if (action == ReleaseAction::kKeep) file.result = file.base;
    file.size = size;
    file.path = path;
    record.files.push_back(file);
  };
  add(ReleaseAction::kWrite, false, true, 0, "empty file");
  add(ReleaseAction::kWrite, true, true, 123456789012ull, " leading/two  spaces\tand tab");
  add(ReleaseAction::kPatch, true, true, kMaxPatchedFileSize, "bin/\xE4\xB9\x97 engine.dll");
  add(ReleaseAction::kDelete, true, false, 0, "old/~readme - copy.txt");
  add(ReleaseAction::kKeep, true, true, 4096, "docs/a#b;c=d'e\"f.txt");

  const CString text = FormatReleaseRecord(record);
  ReleaseRecord back;
  CString why;
  ASSERT_TRUE(ParseReleaseRecord(text.GetString(), text.GetLength(), &back, &why))
      << why.GetString();
  EXPECT_EQ(0, CompareVersions(record.version, back.version));
  ASSERT_TRUE(back.isDelta);
  EXPECT_EQ(0, CompareVersions(record.from, back.from));
  ASSERT_EQ(record.files.size(), back.files.size());
  for (size_t i = 0; i < record.files.size(); ++i) {
    const ReleaseFile& a = record.files[i];
    const ReleaseFile& b = back.files[i];
    EXPECT_EQ(a.path, b.path);
    EXPECT_EQ(a.action, b.action);
    EXPECT_EQ(a.hasBase, b.hasBase);
    EXPECT_EQ(a.hasResult, b.hasResult);
    EXPECT_TRUE(!a.hasBase || a.base == b.base) << i;
    EXPECT_TRUE(!a.hasResult || a.result == b.result) << i;
    EXPECT_EQ(a.hasResult ? a.size : 0, b.size) << i;
  }
  EXPECT_EQ(text, FormatReleaseRecord(back));
  EXPECT_STREQ("~update.patch/12", ReleasePatchEntryName(12).GetString());
}

// Each record is refused, and the reason names the line and the fault.
TEST(ReleaseRecordTest, RefusesMalformedRecords) {
  const std::string head = "update-release 1\nversion 2.0\n";
  const std::string delta = head + "from 1.0\n";
  const std::string write = "write - " + kA + " 3 ";
  struct Case {
    std::string text;
    const char* why;
  } cases[] = {
      {"", "line 1: the record ends"},
      {head + write + "a.txt", "line 3: the record ends before its last line ends"},
      {"update-release 1\r\nversion 2.0\r\n", "holds a NUL or CR"},
      {std::string("update-release 1\nversion 2.0\n") + '\0', "NUL or CR"},
      {"update-release 2\nversion 2.0\n", "line 1: the record has format 2"},
      {"PK\x03\x04\n\n", "line 1: this is not a release record"},
      {"update-release 1\nversion 2.x\n", "line 2: expected version"},
      {"update-release 1\nversion  2.0\n", "line 2: expected version"},
      {delta + "from 0.9\n", "line 4: expected an action"},
      {head + "write - " + kA + " 3\n", "line 3: expected an action"},
      {head + "copy - " + kA + " 3 a\n", "line 3: unknown action copy"},
      {head + "write - " + kA.substr(1) + "A 3 a\n", "not 64 lower-case hex"},
      {head + "write - " + kA + " 03 a\n", "the size is not"},
      {head + "write - " + kA + " -3 a\n", "the size is not"},
      {head + "write " + kB + " " + kA + " 3 a\n", "a full archive only writes files"},
      {head + "keep " + kA + " " + kA + " 3 a\n", "a full archive only writes"},
      {delta + "patch - " + kA + " 3 a\n", "do not fit the action"},
      {delta + "delete " + kA + " - 3 a\n", "do not fit the action"},
      {delta + "keep " + kA + " " + kB + " 3 a\n", "do not fit the action"},
      {delta + "patch " + kA + " " + kB + " 268435457 a\n", "a patched file is too large"},
      // Paths that would leave the folder or land on a name with another meaning.
      {head + write + "../evil.dll\n", "the path ../evil.dll leaves the install folder"},
      {head + write + "bin/../../evil.dll\n", "leaves the install folder"},
      {head + write + "/etc/passwd\n", "begins at the root"},
      {head + write + "C:/Windows/evil.dll\n", "holds a '\\' or ':'"},
      {head + write + "\\\\server\\share\\x\n", "holds a '\\' or ':'"},
      {head + write + "bin\\..\\..\\x\n", "holds a '\\' or ':'"},
      {head + write + "app.exe:stream\n", "holds a '\\' or ':'"},
      {head + write + "a//b\n", "has an empty component"},
      {head + write + "bin/\n", "has an empty component"},
      {head + write + "./a\n", "ending in '.' or ' '"},
      {head + write + "setup. \n", "ending in '.' or ' '"},
      {head + write + "bin/nul.txt\n", "names a device"},
      {head + write + "Com1\n", "names a device"},
      {head + write + "lpt\xC2\xB9.log\n", "names a device"},
      {head + write + "con .txt\n", "names a device"},
      {head + write +
           "\xC0\xAF"
           "etc\n",
       "is not UTF-8"},
      {head + write + std::string(260, 'x') + "\n", "is too long"},
      // The updater's own names.
      {head + write + "~Update.journal\n", "keeps for itself"},
      {head + write + "~update.patch/0\n", "keeps for itself"},
      {head + write + "1234.TARNWICK.zip\n", "keeps for itself"},
      {head + write + "bin/~u0F3a\n", "keeps for itself"},
      {head + write + "bin/app.exe.~upd-old\n", "keeps for itself"},
      // Two spellings of one file, and a file used as a folder.
      {head + write + "Bin/App.exe\n" + write + "bin/app.EXE\n",
       "line 4: the path bin/app.EXE names a file named on an earlier line"},
      {head + write + "\xC3\x89t\xC3\xA9.txt\n" + write + "\xC3\xA9T\xC3\x89.TXT\n", "line 4"},
      {head + write + "\xD0\xB4.txt\n" + write + "\xD0\x94.txt\n", "named on an earlier line"},
      {head + write + "lib\n" + write + "lib/x.dll\n",
       "line 4: the path lib/x.dll runs through the file lib"},
      {delta + "keep " + kA + " " + kA + " 1 a/b\n" + "delete " + kB + " - - A\n",
       "runs through the file A"},
  };
  for (const Case& c : cases) {
    ReleaseRecord record;
    CString why;
    EXPECT_FALSE(Parse(c.text, &record, &why)) << c.text;
    EXPECT_NE(std::string::npos, std::string(why.GetString()).find(c.why))
        << "record:\n"
        << c.text << "\nwhy: " << why.GetString();
  }
}

// What a real update may hold: a file replaced by a folder of the same name,
// names that only look like the updater's own below the top level.
TEST(ReleaseRecordTest, AcceptsWhatRealUpdatesHold) {
  const std::string text =
      "update-release 1\nversion 3\nfrom 2.9.9\n"
      "delete " +
      kA +
      " - - plugins\n"
      "write - " +
      kB +
      " 10 plugins/a.dll\n"
      "write - " +
      kB +
      " 0 docs/~update.txt\n"
      "write - " +
      kB +
      " 0 console.txt\n"
      "write - " +
      kB +
      " 0 com10\n"
      "keep " +
      kB + " " + kB + " 0 bin/~u12\n";
  ReleaseRecord record;
  CString why;
  EXPECT_TRUE(Parse(text, &record, &why)) << why.GetString();
  EXPECT_EQ(6u, record.files.size());
}

}  // namespace
