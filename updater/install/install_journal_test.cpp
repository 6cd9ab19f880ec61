#include "updater/install/install_journal.h"

#include <gtest/gtest.h>

#include <string>

#include "updater/install/install_names.h"

namespace {

InstallRecord Record(RecordKind kind, int number, const char* target) {
  InstallRecord record;
  record.kind = kind;
  record.number = number;
  record.target = target;
  return record;
}

TEST(InstallJournalTest, ReadsBackWhatWasWrittenAndOnlyWholeRecordsOfAJournalCutAnywhere) {
  const CString start = JournalHeader() + JournalDirectoryRecord("plugins") +
                        JournalDirectoryRecord("plugins\\extra");
  const CString full = start +
                       JournalFileRecord(Record(RecordKind::kReplace, 2, "bin\\engine.dll")) +
                       JournalFileRecord(Record(RecordKind::kAdd, 1, "plugins/extra/p 1.dll")) +
                       JournalFileRecord(Record(RecordKind::kRemove, 3, "old.txt")) +
                       kJournalCommitRecord + kJournalCommittedRecord;
  const InstallJournal whole = ParseJournal(full);
  ASSERT_EQ(whole.state, JournalState::kCommitted) << whole.problem.GetString();
  EXPECT_EQ(whole.directories, (std::vector<CString>{"plugins", "plugins\\extra"}));
  ASSERT_EQ(whole.records.size(), 3u);
  EXPECT_EQ(whole.records[0].target, "bin\\engine.dll");
  EXPECT_EQ(whole.records[0].number, 2);
  EXPECT_EQ(whole.records[0].kind, RecordKind::kReplace);
  EXPECT_EQ(whole.records[1].kind, RecordKind::kAdd);
  EXPECT_EQ(whole.records[2].kind, RecordKind::kRemove);
  EXPECT_EQ(whole.records[2].target, "old.txt");

  for (int cut = 0; cut < full.GetLength(); ++cut) {
    SCOPED_TRACE(cut);
    const InstallJournal part = ParseJournal(full.Left(cut));
    ASSERT_NE(part.state, JournalState::kInvalid) << part.problem.GetString();
    EXPECT_EQ(part.state == JournalState::kEmpty, cut < JournalHeader().GetLength());
    EXPECT_EQ(part.state == JournalState::kCommitted, false);
    EXPECT_LE(part.directories.size(), 2u);
    EXPECT_EQ(part.directories.size() == 2, cut >= start.GetLength());
    for (size_t i = 0; i < part.records.size(); ++i) {
      EXPECT_EQ(part.records[i].target, whole.records[i].target);
    }
  }
  const CString undoing = full.Left(full.GetLength() - 2) + kJournalUndoRecord;
  EXPECT_EQ(ParseJournal(undoing).state, JournalState::kUndoing);

  // The previous version's journal, read for recovery to judge.
  const InstallJournal previous =
      ParseJournal("updater journal 1\nD new\nF 1 a.txt\nF 0 new/b.txt\nC\n");
  EXPECT_EQ(previous.state, JournalState::kPrevious);
  EXPECT_TRUE(previous.committing);
  EXPECT_EQ(previous.records.size(), 2u);
  EXPECT_FALSE(ParseJournal("updater journal 1\nF 1 a.txt\n").committing);
}

// A planted journal is never trusted: one record that the updater would not
// have written makes the whole journal invalid.
TEST(InstallJournalTest, RefusesAnyRecordTheUpdaterWouldNotHaveWritten) {
  const struct {
    const char* body;  // after the header
    bool valid;
  } cases[] = {
      {"F 1 1 bin/engine.dll\nC\n", true},
      {"F 1 0 docs/Read Me (2).txt\nC\n", true},
      {"F 1 0 docs/Read Me (2).txt\nD con2\nC\n", false},  // directories come first
      {"D con2\nD console\nD nul_x\nD COM10\nD LPT\nD a.b.c\nF 7 0 a.b.c/x\nC\nU\n", true},
      // Paths that leave the folder, or name a device or the updater's own files.
      {"F 1 1 ../outside.txt\n", false},
      {"F 1 1 ..\\outside.txt\n", false},
      {"F 1 1 bin/../../outside.txt\n", false},
      {"F 1 1 /etc/passwd\n", false},
      {"F 1 1 \\Windows\\win.ini\n", false},
      {"F 1 1 C:\\Windows\\win.ini\n", false},
      {"F 1 1 C:win.ini\n", false},
      {"F 1 1 \\\\server\\share\\x\n", false},
      {"F 1 1 file.txt:stream\n", false},
      {"D bin/./x\n", false},
      {"D bin//x\n", false},
      {"F 1 0 x/\n", false},
      {"X 1 CON\n", false},
      {"X 1 bin/nul.txt\n", false},
      {"X 1 com1\n", false},
      {"X 1 LPT9.log\n", false},
      {"X 1 con .txt\n", false},
      {"D AUX\n", false},
      {"F 1 0 a\x01z\n", false},
      {"F 1 0 wild*card\n", false},
      {"F 1 0 ~update.journal\n", false},
      {"X 1 ~UPDATE.backup/0/1\n", false},
      // Numbers and the order of records.
      {"F 0 0 a\n", false},
      {"F 01 0 a\n", false},
      {"F 1000000 0 a\n", false},
      {"F 1 2 a\n", false},
      {"F 1 0 a\nX 1 b\n", false},
      {"F 1 0 a\nF 2 0 A\n", false},
      {"F 1 0 a\nF 2 0 b\\c\nX 3 b/C\n", false},
      {"U\n", false},
      {"C\nC\n", false},
      {"C\nK\nU\n", false},
      {"C\nF 1 0 a\n", false},
      {"f 1 0 a\n", false},
      {"\n", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body);
    const InstallJournal journal = ParseJournal(JournalHeader() + c.body);
    EXPECT_EQ(journal.state != JournalState::kInvalid, c.valid) << journal.problem.GetString();
  }
  // The previous version's paths pass the same checks; so do the updater's own
  // temporary names, and nothing else is a journal.
  EXPECT_EQ(ParseJournal("updater journal 1\nF 1 ../x\nC\n").state, JournalState::kInvalid);
  EXPECT_EQ(ParseJournal("updater journal 3\n").state, JournalState::kInvalid);
  EXPECT_EQ(ParseJournal("updater jour").state, JournalState::kEmpty);
  EXPECT_EQ(ParseJournal("garbage").state, JournalState::kInvalid);
  const char withNul[] = "updater journal 2\nF 1 0 a\0b\n";
  EXPECT_EQ(ParseJournal(CString(withNul, sizeof(withNul) - 1)).state, JournalState::kInvalid);
}

}  // namespace
