// libFuzzer target: arbitrary bytes as an update journal. The reader must
// accept only what the updater writes: a journal it takes for one, written
// out again record by record, gives back exactly the bytes it read up to the
// last complete line, and every path in it passes the path check.
#include <cstddef>
#include <cstdint>

#include "updater/install/install_journal.h"
#include "updater/install/install_names.h"

namespace {

// The previous version's records (it wrote no numbers).
CString PreviousVersionText(const InstallJournal& journal) {
  CString text = "updater journal 1\n";
  for (const CString& directory : journal.directories) text += JournalDirectoryRecord(directory);
  for (const InstallRecord& record : journal.records) {
    text += (record.kind == RecordKind::kReplace ? "F 1 " : "F 0 ") + record.target + "\n";
  }
  if (journal.committing) text += kJournalCommitRecord;
  return text;
}

CString Text(const InstallJournal& journal) {
  if (journal.state == JournalState::kPrevious) return PreviousVersionText(journal);
  CString text = JournalHeader();
  for (const CString& directory : journal.directories) text += JournalDirectoryRecord(directory);
  for (const InstallRecord& record : journal.records) text += JournalFileRecord(record);
  if (journal.state == JournalState::kStaging) return text;
  text += kJournalCommitRecord;
  if (journal.state == JournalState::kUndoing) text += kJournalUndoRecord;
  if (journal.state == JournalState::kCommitted) text += kJournalCommittedRecord;
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  const CString input(reinterpret_cast<const char*>(data), static_cast<int>(size));
  const InstallJournal journal = ParseJournal(input);
  if (journal.state == JournalState::kInvalid || journal.state == JournalState::kEmpty) return 0;
  for (const CString& directory : journal.directories) {
    if (!IsSafeRelativePath(directory)) __builtin_trap();
  }
  for (const InstallRecord& record : journal.records) {
    if (!IsSafeRelativePath(record.target)) __builtin_trap();
  }
  int whole = input.GetLength();
  while (whole > 0 && input.GetAt(whole - 1) != '\n') --whole;
  if (Text(journal) != input.Left(whole)) __builtin_trap();
  return 0;
}
