#include "updater/install/install_recovery.h"

#include <cstring>

#include "updater/install/install_journal.h"
#include "updater/install/install_transaction.h"

const char kArchiveSuffix[] = ".tarnwick.zip";
const char kSignatureSuffix[] = ".tarnwick.zip.sig";

namespace {

bool EndsWith(const CString& text, const char* suffix) {
  const size_t n = strlen(suffix);
  const size_t size = static_cast<size_t>(text.GetLength());
  return size > n && memcmp(text.GetString() + size - n, suffix, n) == 0;
}

// The zip layer writes each file to "~u" and four hex digits first
// (unzip/platform/file_system.h); a kill can leave one.
bool IsLayerTemporary(const CString& name) {
  if (name.GetLength() != 6 || memcmp(name.GetString(), "~u", 2) != 0) return false;
  return strspn(name.GetString() + 2, "0123456789abcdef") == 4;
}

// Removes one leftover of an earlier run; an old file whose target is gone
// is put back instead.
bool RemoveLeftover(CInstallFileSystem& fs, const CString& directory, const CString& name,
                    bool topLevel) {
  const CString path = directory + "/" + name;
  if (EndsWith(name, kAsideSuffix)) {
    const CString target = path.Left(path.GetLength() - static_cast<int>(strlen(kAsideSuffix)));
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

bool Sweep(CInstallFileSystem& fs, const CString& directory, bool topLevel, bool recurse) {
  bool clean = true;
  fs.List(directory, [&](const CString& name, bool isDirectory) {
    if (isDirectory) {
      if (recurse) clean = Sweep(fs, directory + "/" + name, false, true) && clean;
    } else {
      clean = RemoveLeftover(fs, directory, name, topLevel) && clean;
    }
  });
  return clean;
}

}  // namespace

bool RecoverInterruptedUpdate(CInstallFileSystem& fs, const CString& folder) {
  const CString journalPath = JoinInstallPath(folder, kJournalName);
  const uint32_t journalAttributes = fs.GetAttributes(journalPath);
  if (journalAttributes == kInstallUnknown) return false;
  if (journalAttributes == kInstallMissing) {
    // No run was interrupted: only the old copy of a replaced updater and
    // archives of earlier runs can be here.
    return Sweep(fs, folder, true, false);
  }

  CString text;
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
      const CString staging = JoinInstallPath(folder, it->target) + kStagingSuffix;
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
