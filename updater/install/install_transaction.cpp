#include "updater/install/install_transaction.h"

#include <algorithm>
#include <utility>

#include "unzip/platform/file_system.h"
#include "unzip/unpack.h"
#include "updater/install/install_moves.h"
#include "updater/install/install_names.h"

namespace {

// An existing file the update leaves alone, as extraction always has.
bool IsKept(uint32_t existing, uint32_t incoming) {
  if (existing == kInstallMissing) return false;
  if (existing & (kUnpackAttrDirectory | kUnpackAttrReadOnly)) return true;
  if ((existing & kUnpackAttrHidden) && !(incoming & kUnpackAttrHidden)) return true;
  return (existing & kUnpackAttrSystem) && !(incoming & kUnpackAttrSystem);
}

char FoldAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The length of path's directory part without its last separator; 0 when
// it has none.
int ParentLength(const CString& path) {
  const int length = static_cast<int>(FsDirectoryLength(path.GetString()));
  return length > 0 ? length - 1 : 0;
}

}  // namespace

CInstallTransaction::CInstallTransaction(CInstallFileSystem& fs, const CString& folder)
    : m_fs(fs), m_folder(folder) {}

CInstallTransaction::~CInstallTransaction() {
  if (m_open) Abort();
}

CString CInstallTransaction::Full(const CString& relative) const {
  return JoinInstallPath(m_folder, relative);
}

CString CInstallTransaction::Key(const CString& path) const {
  CString key;
  for (int i = 0; i < path.GetLength(); ++i) {
    char c = path.GetAt(i);
    if (c == '\\') c = '/';
    key += m_fs.FoldsCase() ? FoldAscii(c) : c;
  }
  return key;
}

bool CInstallTransaction::IsRemoval(const CString& key) const {
  for (const InstallRecord& record : m_records) {
    if (Key(record.target) == key) return record.kind == RecordKind::kRemove;
  }
  return false;
}

bool CInstallTransaction::IsProgram(const InstallRecord& record) const {
  const CString& target = record.target;
  if (m_program.IsEmpty() || target.GetLength() != m_program.GetLength()) return false;
  for (int i = 0; i < target.GetLength(); ++i) {
    if (FoldAscii(target.GetAt(i)) != FoldAscii(m_program.GetAt(i))) return false;
  }
  return true;
}

bool CInstallTransaction::Begin() {
  const CString journal = Full(kJournalName);
  if (m_fs.GetAttributes(journal) != kInstallMissing) return false;
  m_open =
      m_fs.Append(journal, JournalHeader(), false) && m_fs.MakeDirectory(Full(kStagingFolderName));
  if (!m_open) Abort();
  return m_open;
}

bool CInstallTransaction::NoteDirectory(const CString& directory) {
  const CString path = CanonicalEntryPath(directory);
  if (path.IsEmpty()) return true;  // the folder itself
  if (!IsSafeRelativePath(path)) return false;
  const CString key = Key(path);
  if (m_knownDirectories.count(key) != 0) return true;
  // A file of this update; only one it removes may give way to the directory.
  const bool replacesRemoval = m_recordKeys.count(key) != 0;
  if (replacesRemoval && !IsRemoval(key)) return false;
  const int parent = ParentLength(path);
  if (parent > 0 && !NoteDirectory(path.Left(parent))) return false;
  const uint32_t attributes = replacesRemoval ? kInstallMissing : m_fs.GetAttributes(Full(path));
  if (attributes == kInstallMissing) {
    m_directories.push_back(path);
  } else if (attributes == kInstallUnknown || (attributes & kInstallLink) ||
             !(attributes & kUnpackAttrDirectory)) {
    return false;
  }
  m_knownDirectories.insert(key);
  return true;
}

StageStep CInstallTransaction::PrepareFile(const CString& name, uint32_t attributes,
                                           CString* staging) {
  const CString target = CanonicalEntryPath(name);
  if (!IsSafeRelativePath(target) || Full(target).GetLength() >= kUnpackMaxPath) {
    return StageStep::kFailed;
  }
  const CString key = Key(target);
  if (m_recordKeys.count(key) != 0) {
    // Named before (rarely): the later entry is staged under a number of
    // its own, as the earlier file may be on its way to the disk; that one
    // goes with the staging folder.
    for (InstallRecord& record : m_records) {
      if (Key(record.target) != key) continue;
      if (record.kind == RecordKind::kRemove) return StageStep::kFailed;
      record.number = ++m_lastNumber;
      *staging = StagedFileName(record.number);
      return StageStep::kStage;
    }
  }
  if (m_knownDirectories.count(key) != 0) return StageStep::kFailed;
  const int parent = ParentLength(target);
  if (parent > 0 && !NoteDirectory(target.Left(parent))) return StageStep::kFailed;
  const uint32_t existing = m_fs.GetAttributes(Full(target));
  if (existing == kInstallUnknown || (existing != kInstallMissing && (existing & kInstallLink))) {
    return StageStep::kFailed;
  }
  if (IsKept(existing, attributes)) return StageStep::kKeep;
  InstallRecord record;
  record.kind = existing == kInstallMissing ? RecordKind::kAdd : RecordKind::kReplace;
  record.number = ++m_lastNumber;
  record.target = target;
  m_recordKeys.insert(key);
  m_records.push_back(record);
  *staging = StagedFileName(record.number);
  return StageStep::kStage;
}

void CInstallTransaction::FileStaged(const CString& staging) {
  m_fs.FlushLater(Full(staging));
}

bool CInstallTransaction::PrepareRemoval(const CString& name) {
  const CString target = CanonicalEntryPath(name);
  if (!IsSafeRelativePath(target) || !HasNoLinkOnTheWay(m_fs, m_folder, target)) return false;
  const CString key = Key(target);
  if (m_recordKeys.count(key) != 0 || m_knownDirectories.count(key) != 0) return false;
  const uint32_t existing = m_fs.GetAttributes(Full(target));
  if (existing == kInstallMissing) return true;
  if (existing == kInstallUnknown || (existing & kUnpackAttrDirectory)) return false;
  InstallRecord record;
  record.kind = RecordKind::kRemove;
  record.number = ++m_lastNumber;
  record.target = target;
  m_recordKeys.insert(key);
  m_records.push_back(record);
  return true;
}

CommitOutcome CInstallTransaction::Commit(CString* failedTarget, MoveResult* why) {
  failedTarget->Empty();
  *why = MoveResult::kFailed;
  m_open = false;
  // Removals first: a removed file may give way to a directory the commit
  // makes (UndoInstall puts them back last).
  std::stable_partition(m_records.begin(), m_records.end(), [](const InstallRecord& record) {
    return record.kind == RecordKind::kRemove;
  });
  for (size_t i = 0; i + 1 < m_records.size(); ++i) {
    if (!IsProgram(m_records[i]) || m_records[i].kind == RecordKind::kRemove) continue;
    std::swap(m_records[i], m_records.back());  // at most one record is the program's
    break;
  }

  // 1. Every new file on the disk before anything old may go.
  std::vector<CString> staged;
  for (const InstallRecord& record : m_records) {
    if (record.kind != RecordKind::kRemove) staged.push_back(Full(StagedFileName(record.number)));
  }
  size_t failed = 0;
  if (!m_fs.FlushFiles(staged, &failed)) {
    for (const InstallRecord& record : m_records) {
      if (record.kind != RecordKind::kRemove && failed-- == 0) *failedTarget = record.target;
    }
    Abort();
    return CommitOutcome::kUndone;
  }

  // 2. What to put back, on the disk before the first move.
  CString records;
  for (const CString& directory : m_directories) records += JournalDirectoryRecord(directory);
  for (const InstallRecord& record : m_records) records += JournalFileRecord(record);
  records += kJournalCommitRecord;
  if (!m_fs.Append(Full(kJournalName), records, true)) {
    Abort();
    return CommitOutcome::kUndone;
  }
  InstallJournal journal;
  journal.state = JournalState::kCommitting;
  journal.directories = m_directories;
  journal.records = m_records;

  // 3. The backup folder's, the removals, the directories, then the moves.
  CString backupFolder;
  for (const InstallRecord& record : m_records) {
    if (record.kind == RecordKind::kAdd) continue;
    const CString backup = BackupFileName(record.number);
    const CString folder = backup.Left(ParentLength(backup));
    if (folder == backupFolder) continue;
    if ((backupFolder.IsEmpty() && !m_fs.MakeDirectory(Full(kBackupFolderName))) ||
        !m_fs.MakeDirectory(Full(folder))) {
      return Undo(journal);
    }
    backupFolder = folder;
  }
  // Removals stand first (see above).
  size_t next = 0;
  auto applyWhile = [&](bool removals) {
    for (; next < m_records.size() && (m_records[next].kind == RecordKind::kRemove) == removals;
         ++next) {
      if (!ApplyRecord(m_fs, m_folder, m_records[next], why)) {
        *failedTarget = m_records[next].target;
        return false;
      }
    }
    return true;
  };
  if (!applyWhile(true)) return Undo(journal);
  for (const CString& directory : m_directories) {
    if (!m_fs.MakeDirectory(Full(directory))) {
      *failedTarget = directory;
      return Undo(journal);
    }
  }
  if (!applyWhile(false)) return Undo(journal);

  // 4. and 5.
  if (!m_fs.Append(Full(kJournalName), kJournalCommittedRecord, true)) return Undo(journal);
  FinishInstall(m_fs, m_folder);
  return CommitOutcome::kApplied;
}

CommitOutcome CInstallTransaction::Undo(const InstallJournal& journal) {
  // Tells the next start that this commit goes back. Without the record it
  // could still tell so from the names once the first old copy is back;
  // a failure to write it is no reason not to put things back.
  m_fs.Append(Full(kJournalName), kJournalUndoRecord, true);
  return UndoInstall(m_fs, m_folder, journal) ? CommitOutcome::kUndone : CommitOutcome::kBroken;
}

bool CInstallTransaction::Abort() {
  m_open = false;
  size_t failed = 0;
  m_fs.FlushFiles(std::vector<CString>(), &failed);  // no flush may hold a staged file
  int removed = 0;
  int kept = 0;
  RemoveOwnFolder(m_fs, m_folder, kStagingFolderName, &removed, &kept);
  return m_fs.RemoveFile(Full(kJournalName)) && kept == 0;
}
