#include "updater/install/install_journal.h"

#include <cstring>
#include <set>

#include "updater/install/install_names.h"

const char kJournalCommitRecord[] = "C\n";
const char kJournalUndoRecord[] = "U\n";
const char kJournalCommittedRecord[] = "K\n";

namespace {

const char kHeader[] = "updater journal 2";
const char kPreviousHeader[] = "updater journal 1";
const int kMaxNumber = 999999;

bool StartsWith(const CString& line, const char* start) {
  const size_t n = strlen(start);
  return static_cast<size_t>(line.GetLength()) >= n && memcmp(line.GetString(), start, n) == 0;
}

// A decimal number from 1 to kMaxNumber without leading zeros, followed by
// a space; *rest is what follows the space.
bool ReadNumber(const char* text, int* number, const char** rest) {
  int value = 0;
  const char* p = text;
  for (; *p >= '0' && *p <= '9'; ++p) {
    if (p == text + 6 || (p == text && *p == '0')) return false;
    value = value * 10 + (*p - '0');
  }
  if (p == text || *p != ' ') return false;
  *number = value;
  *rest = p + 1;
  return value >= 1 && value <= kMaxNumber;
}

// Paths that name one file whatever their separators and ASCII case.
CString PathKey(const CString& path) {
  CString key;
  for (const char* c = path.GetString(); *c; ++c) {
    char k = *c == '\\' ? '/' : *c;
    if (k >= 'A' && k <= 'Z') k = static_cast<char>(k - 'A' + 'a');
    key += k;
  }
  return key;
}

class CJournalReader {
 public:
  explicit CJournalReader(InstallJournal* journal) : m_journal(*journal) {}

  // One complete line after the header; false (with the problem noted) when
  // it makes the journal invalid.
  bool Read(const CString& line, bool previous) {
    if (m_closed) return Invalid("a record after the end of the journal");
    if (line == "C") {
      if (m_committing) return Invalid("a second commit record");
      m_committing = true;
      if (previous) m_closed = true;
      return true;
    }
    if (m_committing && (line == "U" || line == "K")) {
      m_journal.state = line == "U" ? JournalState::kUndoing : JournalState::kCommitted;
      m_closed = true;
      return true;
    }
    if (m_committing) return Invalid("a record after the commit record");
    if (StartsWith(line, "D ")) {
      if (!m_journal.records.empty()) return Invalid("a directory record after a file record");
      const CString path = line.Mid(2);
      if (!IsSafeRelativePath(path)) return Invalid("an unsafe directory path");
      m_journal.directories.push_back(path);
      return true;
    }
    InstallRecord record;
    const char* rest = nullptr;
    if (previous) {
      if (!StartsWith(line, "F 0 ") && !StartsWith(line, "F 1 "))
        return Invalid("an unknown record");
      record.kind = line.GetAt(2) == '1' ? RecordKind::kReplace : RecordKind::kAdd;
      rest = line.GetString() + 4;
    } else if (StartsWith(line, "F ")) {
      if (!ReadNumber(line.GetString() + 2, &record.number, &rest) ||
          (strncmp(rest, "0 ", 2) != 0 && strncmp(rest, "1 ", 2) != 0)) {
        return Invalid("a file record that does not parse");
      }
      record.kind = rest[0] == '1' ? RecordKind::kReplace : RecordKind::kAdd;
      rest += 2;
    } else if (StartsWith(line, "X ")) {
      if (!ReadNumber(line.GetString() + 2, &record.number, &rest)) {
        return Invalid("a removal record that does not parse");
      }
      record.kind = RecordKind::kRemove;
    } else {
      return Invalid("an unknown record");
    }
    record.target = line.Mid(static_cast<int>(rest - line.GetString()));
    if (!IsSafeRelativePath(record.target)) return Invalid("an unsafe file path");
    if (!m_targets.insert(PathKey(record.target)).second) return Invalid("a path named twice");
    CString number;
    number.Format("%d", record.number);
    if (!previous && !m_numbers.insert(number).second) return Invalid("a number used twice");
    m_journal.records.push_back(record);
    return true;
  }

  bool committing() const { return m_committing; }

 private:
  bool Invalid(const char* problem) {
    m_journal.problem = problem;
    return false;
  }

  InstallJournal& m_journal;
  bool m_committing = false;
  bool m_closed = false;
  std::set<CString> m_targets;
  std::set<CString> m_numbers;
};

}  // namespace

CString JournalHeader() {
  return CString(kHeader) + "\n";
}

CString JournalDirectoryRecord(const CString& path) {
  return "D " + path + "\n";
}

CString JournalFileRecord(const InstallRecord& record) {
  CString text;
  if (record.kind == RecordKind::kRemove) {
    text.Format("X %d ", record.number);
  } else {
    text.Format("F %d %c ", record.number, record.kind == RecordKind::kReplace ? '1' : '0');
  }
  return text + record.target + "\n";
}

InstallJournal ParseJournal(const CString& text) {
  InstallJournal journal;
  const char* pos = text.GetString();
  const char* const stop = pos + text.GetLength();
  const char* end = static_cast<const char*>(memchr(pos, '\n', stop - pos));
  if (end == nullptr) {
    // Nothing whole yet: a header cut short, or something else.
    const size_t length = static_cast<size_t>(stop - pos);
    if (length > strlen(kHeader) ||
        (memcmp(pos, kHeader, length) != 0 && memcmp(pos, kPreviousHeader, length) != 0)) {
      journal.state = JournalState::kInvalid;
      journal.problem = "no journal header";
    }
    return journal;
  }
  const CString header(pos, static_cast<int>(end - pos));
  const bool previous = header == kPreviousHeader;
  if (header != kHeader && !previous) {
    journal.state = JournalState::kInvalid;
    journal.problem = "no journal header";
    return journal;
  }
  journal.state = previous ? JournalState::kPrevious : JournalState::kStaging;
  CJournalReader reader(&journal);
  for (pos = end + 1; (end = static_cast<const char*>(memchr(pos, '\n', stop - pos)));
       pos = end + 1) {
    if (!reader.Read(CString(pos, static_cast<int>(end - pos)), previous)) {
      journal.state = JournalState::kInvalid;
      return journal;
    }
  }
  if (previous) {
    journal.committing = reader.committing();
  } else if (reader.committing() && journal.state == JournalState::kStaging) {
    journal.state = JournalState::kCommitting;
  }
  return journal;
}
