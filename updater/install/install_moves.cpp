#include "updater/install/install_moves.h"

#include "unzip/platform/file_system.h"
#include "unzip/unpack.h"
#include "updater/install/install_names.h"

namespace {

bool Exists(CInstallFileSystem& fs, const CString& path, bool* exists) {
  const uint32_t attributes = fs.GetAttributes(path);
  *exists = attributes != kInstallMissing;
  return attributes != kInstallUnknown;
}

bool Moved(CInstallFileSystem& fs, const CString& from, const CString& to) {
  return fs.Move(from, to) == MoveResult::kMoved;
}

// Puts back the old file of one record (or takes away the new one).
bool UndoRecord(CInstallFileSystem& fs, const CString& folder, const InstallRecord& record) {
  const CString target = JoinInstallPath(folder, record.target);
  const CString staged = JoinInstallPath(folder, StagedFileName(record.number));
  bool hasTarget = false;
  bool hasStaged = false;
  if (!Exists(fs, target, &hasTarget) || !Exists(fs, staged, &hasStaged)) return false;
  if (record.kind == RecordKind::kAdd) {
    // A target beside its staged file is not ours: the move never happened.
    return !hasTarget || hasStaged || Moved(fs, target, staged);
  }
  const CString backup = JoinInstallPath(folder, BackupFileName(record.number));
  bool hasBackup = false;
  if (!Exists(fs, backup, &hasBackup)) return false;
  if (!hasBackup) return true;  // the old file never left
  if (hasTarget) {
    // The new file goes back to its staging name, unless something else is
    // in the way; then the old one cannot return and the journal stays.
    if (record.kind == RecordKind::kRemove || hasStaged || !Moved(fs, target, staged)) return false;
  }
  return Moved(fs, backup, target);
}

void RemoveTree(CInstallFileSystem& fs, const CString& path, int* removed, int* kept) {
  fs.List(path, [&](const CString& name, bool isDirectory) {
    const CString child = path + "/" + name;
    if (isDirectory) {
      RemoveTree(fs, child, removed, kept);
    } else {
      ++*(fs.RemoveFile(child) ? removed : kept);
    }
  });
  fs.RemoveEmptyDirectory(path);
}

}  // namespace

bool HasNoLinkOnTheWay(CInstallFileSystem& fs, const CString& folder, const CString& relative) {
  const char* const text = relative.GetString();
  for (const char* p = text;; p = FsNextCharacter(p)) {
    if (*p != '\0' && !FsIsSeparator(*p)) continue;
    const uint32_t attributes =
        fs.GetAttributes(JoinInstallPath(folder, CString(text, static_cast<int>(p - text))));
    if (attributes == kInstallMissing) return true;  // nothing further down exists
    if (attributes == kInstallUnknown || (attributes & kInstallLink)) return false;
    if (*p == '\0') return true;
  }
}

bool ApplyRecord(CInstallFileSystem& fs, const CString& folder, const InstallRecord& record,
                 MoveResult* why) {
  const CString target = JoinInstallPath(folder, record.target);
  *why = MoveResult::kMoved;
  if (record.kind != RecordKind::kAdd) {
    *why = fs.Move(target, JoinInstallPath(folder, BackupFileName(record.number)));
  }
  if (*why == MoveResult::kMoved && record.kind != RecordKind::kRemove) {
    *why = fs.Move(JoinInstallPath(folder, StagedFileName(record.number)), target);
  }
  return *why == MoveResult::kMoved;
}

bool RecordsApplied(CInstallFileSystem& fs, const CString& folder,
                    const std::vector<InstallRecord>& records, bool* done) {
  *done = true;
  for (const InstallRecord& record : records) {
    bool hasTarget = false;
    bool hasStaged = false;
    bool hasBackup = false;
    if (!Exists(fs, JoinInstallPath(folder, record.target), &hasTarget) ||
        !Exists(fs, JoinInstallPath(folder, StagedFileName(record.number)), &hasStaged) ||
        !Exists(fs, JoinInstallPath(folder, BackupFileName(record.number)), &hasBackup)) {
      return false;
    }
    switch (record.kind) {
      case RecordKind::kAdd:
        *done = *done && hasTarget && !hasStaged;
        break;
      case RecordKind::kReplace:
        *done = *done && hasTarget && !hasStaged && hasBackup;
        break;
      case RecordKind::kRemove:
        // A directory there is one the commit made after the removal.
        if (hasTarget) {
          const uint32_t attributes = fs.GetAttributes(JoinInstallPath(folder, record.target));
          if (attributes == kInstallUnknown) return false;
          hasTarget = (attributes & kUnpackAttrDirectory) == 0;
        }
        *done = *done && !hasTarget && hasBackup;
        break;
    }
  }
  return true;
}

bool UndoInstall(CInstallFileSystem& fs, const CString& folder, const InstallJournal& journal) {
  // Removed files come back last: a directory made in the place of one goes
  // first.
  for (auto it = journal.records.rbegin(); it != journal.records.rend(); ++it) {
    if (it->kind != RecordKind::kRemove && !UndoRecord(fs, folder, *it)) return false;
  }
  int removed = 0;
  int kept = 0;
  RemoveOwnFolder(fs, folder, kStagingFolderName, &removed, &kept);
  bool directoriesGone = true;
  for (auto it = journal.directories.rbegin(); it != journal.directories.rend(); ++it) {
    const CString path = JoinInstallPath(folder, *it);
    // A file there is a removed one put back by an undoing cut short.
    const uint32_t attributes = fs.GetAttributes(path);
    const bool isFile = attributes != kInstallMissing && attributes != kInstallUnknown &&
                        (attributes & (kUnpackAttrDirectory | kInstallLink)) == 0;
    directoriesGone = (isFile || fs.RemoveEmptyDirectory(path)) && directoriesGone;
  }
  // Only the journal knows the directories; what stays in the updater's own
  // folders the next start sweeps without it.
  if (!directoriesGone) return false;
  for (auto it = journal.records.rbegin(); it != journal.records.rend(); ++it) {
    if (it->kind == RecordKind::kRemove && !UndoRecord(fs, folder, *it)) return false;
  }
  RemoveOwnFolder(fs, folder, kBackupFolderName, &removed, &kept);
  fs.RemoveFile(JoinInstallPath(folder, kJournalName));
  return true;
}

int FinishInstall(CInstallFileSystem& fs, const CString& folder) {
  int removed = 0;
  int kept = 0;
  RemoveOwnFolder(fs, folder, kBackupFolderName, &removed, &kept);
  RemoveOwnFolder(fs, folder, kStagingFolderName, &removed, &kept);
  if (!fs.RemoveFile(JoinInstallPath(folder, kJournalName))) ++kept;
  return kept;
}

void RemoveOwnFolder(CInstallFileSystem& fs, const CString& folder, const char* path, int* removed,
                     int* kept) {
  RemoveTree(fs, JoinInstallPath(folder, path), removed, kept);
}
