#include "updater/install/install_journal.h"

namespace {

const char kHeader[] = "updater journal 1";

}  // namespace

std::string JournalHeader() {
  return std::string(kHeader) + "\n";
}

std::string JournalDirectoryRecord(const std::string& path) {
  return "D " + path + "\n";
}

std::string JournalFileRecord(const InstallJournalFile& file) {
  return std::string(file.hadOld ? "F 1 " : "F 0 ") + file.target + "\n";
}

std::string JournalCommitRecord() {
  return "C\n";
}

bool JournalCanHold(const std::string& path) {
  return !path.empty() && path.find_first_of("\r\n") == std::string::npos;
}

InstallJournal ParseJournal(const std::string& text) {
  InstallJournal journal;
  size_t pos = 0;
  bool first = true;
  for (;;) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) break;
    const std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (first) {
      if (line != kHeader) break;
      journal.valid = true;
      first = false;
    } else if (line.size() > 2 && line.compare(0, 2, "D ") == 0) {
      journal.directories.push_back(line.substr(2));
    } else if (line.size() > 4 &&
               (line.compare(0, 4, "F 0 ") == 0 || line.compare(0, 4, "F 1 ") == 0)) {
      journal.files.push_back({line.substr(4), line[2] == '1'});
    } else if (line == "C") {
      journal.committing = true;
      break;
    } else {
      break;
    }
  }
  return journal;
}
