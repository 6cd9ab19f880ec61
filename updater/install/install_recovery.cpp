#include "updater/install/install_recovery.h"

#include <cstring>

#include "updater/install/install_journal.h"
#include "updater/install/install_transaction.h"

const char kArchiveSuffix[] = ".tarnwick.zip";
const char kSignatureSuffix[] = ".tarnwick.zip.sig";

namespace {

bool EndsWith(const std::string& text, const char* suffix) {
  const size_t n = strlen(suffix);
  return text.size() > n && text.compare(text.size() - n, n, suffix) == 0;
}

// The zip layer writes each file to "~u" and four hex digits first
// (unzip/file_system.h); a kill can leave one.
bool IsLayerTemporary(const std::string& name) {
  if (name.size() != 6 || name.compare(0, 2, "~u") != 0) return false;
  return strspn(name.c_str() + 2, "0123456789abcdef") == 4;
}

// Removes one leftover of an earlier run; an old file whose target is gone
// is put back instead.
bool RemoveLeftover(CInstallFileSystem& fs, const std::string& directory, const std::string& name,
                    bool topLevel) {
  const std::string path = directory + "/" + name;
  if (EndsWith(name, kAsideSuffix)) {
    const std::string target = path.substr(0, path.size() - strlen(kAsideSuffix));
    const uint32_t attributes = fs.GetAttributes(target);
    if (attributes == kInstallUnknown) return false;
    if (attributes == kInstallMissing) return fs.Move(path, target) == MoveResult::kMoved;
    return fs.RemoveFile(path);
  }
  if (EndsWith(name, kStagingSuffix) || IsLayerTemporary(name) ||
      (topLevel && (EndsWith(name, kArchiveSuffix) || EndsWith(name, kSignatureSuffix)))) {
    return fs.RemoveFile(path);
  }
  return true;
}

bool Sweep(CInstallFileSystem& fs, const std::string& directory, bool topLevel, bool recurse) {
  bool clean = true;
  fs.List(directory, [&](const std::string& name, bool isDirectory) {
    if (isDirectory) {
      if (recurse) clean = Sweep(fs, directory + "/" + name, false, true) && clean;
    } else {
      clean = RemoveLeftover(fs, directory, name, topLevel) && clean;
    }
  });
  return clean;
}

}  // namespace

bool RecoverInterruptedUpdate(CInstallFileSystem& fs, const std::string& folder) {
  const std::string journalPath = JoinInstallPath(folder, kJournalName);
  const uint32_t journalAttributes = fs.GetAttributes(journalPath);
  if (journalAttributes == kInstallUnknown) return false;
  if (journalAttributes == kInstallMissing) {
    // No run was interrupted: only the old copy of a replaced updater and
    // archives of earlier runs can be here.
    return Sweep(fs, folder, true, false);
  }

  std::string text;
  if (!fs.Read(journalPath, &text)) return false;
  const InstallJournal journal = ParseJournal(text);
  bool clean = true;
  bool finish = journal.committing;
  for (const InstallJournalFile& file : journal.files) {
    bool done = false;
    if (!InstallFileIsDone(fs, folder, file, &done)) return false;
    finish = finish && done;
  }
  if (!finish) {
    // Undo, last file first. Before the commit record nothing was moved.
    for (auto it = journal.files.rbegin(); it != journal.files.rend(); ++it) {
      const std::string staging = JoinInstallPath(folder, it->target) + kStagingSuffix;
      clean =
          (journal.committing ? UndoInstallFile(fs, folder, *it) : fs.RemoveFile(staging)) && clean;
    }
  }
  // Moved-aside files of a finished run go with the rest of the leftovers.
  // A journal cut short names fewer files than were staged; the walk over
  // the whole tree finds the others by their names.
  clean = Sweep(fs, folder, true, true) && clean;
  if (!finish) clean = RemoveCreatedDirectories(fs, folder, journal.directories) && clean;
  return clean && fs.RemoveFile(journalPath);
}
