#include "updater/install/install_journal.h"

#include <cstring>

namespace {

const char kHeader[] = "updater journal 1";

}  // namespace

CString JournalHeader() {
  return CString(kHeader) + "\n";
}

CString JournalDirectoryRecord(const CString& path) {
  return "D " + path + "\n";
}

CString JournalFileRecord(const InstallJournalFile& file) {
  return CString(file.hadOld ? "F 1 " : "F 0 ") + file.target + "\n";
}

CString JournalCommitRecord() {
  return "C\n";
}

bool JournalCanHold(const CString& path) {
  return !path.IsEmpty() && !std::memchr(path.GetString(), '\r', path.GetLength()) &&
         !std::memchr(path.GetString(), '\n', path.GetLength());
}

InstallJournal ParseJournal(const CString& text) {
  InstallJournal journal;
  const char* pos = text.GetString();
  const char* const stop = pos + text.GetLength();
  bool first = true;
  for (;;) {
    const char* end = static_cast<const char*>(std::memchr(pos, '\n', stop - pos));
    if (!end) break;
    const CString line(pos, static_cast<int>(end - pos));
    const int length = line.GetLength();
    pos = end + 1;
    if (first) {
      if (line != kHeader) break;
      journal.valid = true;
      first = false;
    } else if (length > 2 && std::memcmp(line.GetString(), "D ", 2) == 0) {
      journal.directories.push_back(line.Mid(2));
    } else if (length > 4 && (std::memcmp(line.GetString(), "F 0 ", 4) == 0 ||
                              std::memcmp(line.GetString(), "F 1 ", 4) == 0)) {
      journal.files.push_back({line.Mid(4), line.GetAt(2) == '1'});
    } else if (line == "C") {
      journal.committing = true;
      break;
    } else {
      break;
    }
  }
  return journal;
}
