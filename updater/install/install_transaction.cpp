#include "updater/install/install_transaction.h"

#include <cstring>

#include "unzip/unpack.h"

const char kJournalName[] = "~update.journal";
const char kStagingSuffix[] = ".~upd-new";
const char kAsideSuffix[] = ".~upd-old";

namespace {

bool IsSeparator(char c) {
  return c == '/' || c == '\\';
}

// An existing file the update leaves alone, as extraction always has.
bool IsKept(uint32_t existing, uint32_t incoming) {
  if (existing == kInstallMissing) return false;
  if (existing & (kUnpackAttrDirectory | kUnpackAttrReadOnly)) return true;
  if ((existing & kUnpackAttrHidden) && !(incoming & kUnpackAttrHidden)) return true;
  return (existing & kUnpackAttrSystem) && !(incoming & kUnpackAttrSystem);
}

}  // namespace

CString JoinInstallPath(const CString& folder, const CString& relative) {
  return folder + "/" + relative;
}

namespace {

// What the moves of one file have left on disk.
struct FileState {
  bool target = false;
  bool staging = false;
  bool aside = false;
};

bool Probe(CInstallFileSystem& fs, const CString& path, bool* exists) {
  const uint32_t attributes = fs.GetAttributes(path);
  *exists = attributes != kInstallMissing;
  return attributes != kInstallUnknown;
}

bool ReadFileState(CInstallFileSystem& fs, const CString& folder, const InstallJournalFile& file,
                   FileState* state) {
  const CString target = JoinInstallPath(folder, file.target);
  return Probe(fs, target, &state->target) && Probe(fs, target + kStagingSuffix, &state->staging) &&
         (!file.hadOld || Probe(fs, target + kAsideSuffix, &state->aside));
}

}  // namespace

bool InstallFileIsDone(CInstallFileSystem& fs, const CString& folder,
                       const InstallJournalFile& file, bool* done) {
  FileState state;
  if (!ReadFileState(fs, folder, file, &state)) return false;
  *done = state.target && !state.staging;
  return true;
}

bool UndoInstallFile(CInstallFileSystem& fs, const CString& folder,
                     const InstallJournalFile& file) {
  const CString target = JoinInstallPath(folder, file.target);
  const CString staging = target + kStagingSuffix;
  FileState state;
  if (!ReadFileState(fs, folder, file, &state)) return false;
  // The new file is in place unless the old one is gone for good (finishing
  // had begun; then the new file stays).
  if (state.target && !state.staging && (!file.hadOld || state.aside)) {
    if (fs.Move(target, staging) != MoveResult::kMoved) return false;
    state.target = false;
  }
  if (state.aside && !state.target) {
    if (fs.Move(target + kAsideSuffix, target) != MoveResult::kMoved) return false;
  }
  return fs.RemoveFile(staging);
}

bool RemoveCreatedDirectories(CInstallFileSystem& fs, const CString& folder,
                              const std::vector<CString>& directories) {
  bool clean = true;
  for (auto it = directories.rbegin(); it != directories.rend(); ++it) {
    clean = fs.RemoveEmptyDirectory(JoinInstallPath(folder, *it)) && clean;
  }
  return clean;
}

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
    if (m_fs.FoldsCase() && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    key += c;
  }
  return key;
}

bool CInstallTransaction::Begin() {
  const CString journal = Full(kJournalName);
  if (m_fs.GetAttributes(journal) != kInstallMissing) return false;
  m_open = m_fs.Append(journal, JournalHeader(), false);
  if (!m_open) m_fs.RemoveFile(journal);
  return m_open;
}

bool CInstallTransaction::NoteDirectories(const CString& path) {
  CString records;
  std::vector<CString> added;
  for (int i = 1; i < path.GetLength(); ++i) {
    if (!IsSeparator(path.GetAt(i)) || IsSeparator(path.GetAt(i - 1))) continue;
    const CString directory = path.Left(i);
    if (!m_knownDirectories.insert(Key(directory)).second) continue;
    const uint32_t attributes = m_fs.GetAttributes(Full(directory));
    if (attributes == kInstallUnknown) return false;
    if (attributes != kInstallMissing) continue;
    if (!JournalCanHold(directory)) return false;
    records += JournalDirectoryRecord(directory);
    added.push_back(directory);
  }
  if (records.IsEmpty()) return true;
  // Written before the directories exist, so that a kill cannot leave one
  // the journal does not know.
  if (!m_fs.Append(Full(kJournalName), records, false)) return false;
  m_createdDirectories.insert(m_createdDirectories.end(), added.begin(), added.end());
  return true;
}

StageStep CInstallTransaction::PrepareFile(const CString& target, uint32_t attributes,
                                           CString* staging) {
  if (!JournalCanHold(target) || IsSeparator(target.GetAt(target.GetLength() - 1)))
    return StageStep::kFailed;
  *staging = target + kStagingSuffix;
  if (m_fileKeys.count(Key(target)) != 0) {
    // Named before: the earlier staging file (perhaps read-only) makes way.
    return m_fs.RemoveFile(Full(*staging)) ? StageStep::kStage : StageStep::kFailed;
  }
  const uint32_t existing = m_fs.GetAttributes(Full(target));
  if (existing == kInstallUnknown) return StageStep::kFailed;
  if (IsKept(existing, attributes)) return StageStep::kKeep;
  if (!NoteDirectories(target)) return StageStep::kFailed;
  m_fileKeys.insert(Key(target));
  m_files.push_back({target, existing != kInstallMissing});
  return StageStep::kStage;
}

CommitOutcome CInstallTransaction::Commit(CString* failedTarget, MoveResult* why) {
  failedTarget->Empty();
  *why = MoveResult::kFailed;
  CString records;
  for (const InstallJournalFile& file : m_files) records += JournalFileRecord(file);
  records += JournalCommitRecord();
  if (!m_fs.Append(Full(kJournalName), records, true)) {
    return Abort() ? CommitOutcome::kUndone : CommitOutcome::kBroken;
  }

  size_t moved = 0;  // files whose moves have begun
  for (; moved < m_files.size(); ++moved) {
    const CString target = Full(m_files[moved].target);
    MoveResult result = MoveResult::kMoved;
    if (m_files[moved].hadOld) result = m_fs.Move(target, target + kAsideSuffix);
    if (result == MoveResult::kMoved) result = m_fs.Move(target + kStagingSuffix, target);
    if (result != MoveResult::kMoved) {
      *failedTarget = m_files[moved].target;
      *why = result;
      break;
    }
  }

  m_open = false;
  bool clean = true;
  if (moved == m_files.size()) {
    // The old copy of a running program cannot be deleted; the next start
    // looks for such copies in the folder itself, and for those further down
    // only when the journal is there.
    for (const InstallJournalFile& file : m_files) {
      if (file.hadOld && !m_fs.RemoveFile(Full(file.target) + kAsideSuffix) &&
          std::strpbrk(file.target.GetString(), "/\\") != nullptr) {
        clean = false;
      }
    }
  } else {
    for (size_t i = m_files.size(); i-- > 0;) {
      clean = (i <= moved ? UndoInstallFile(m_fs, m_folder, m_files[i])
                          : m_fs.RemoveFile(Full(m_files[i].target + kStagingSuffix))) &&
              clean;
    }
    clean = RemoveCreatedDirectories(m_fs, m_folder, m_createdDirectories) && clean;
  }
  if (clean) clean = m_fs.RemoveFile(Full(kJournalName));
  if (moved == m_files.size()) return CommitOutcome::kApplied;
  return clean ? CommitOutcome::kUndone : CommitOutcome::kBroken;
}

bool CInstallTransaction::Abort() {
  m_open = false;
  bool clean = true;
  for (auto it = m_files.rbegin(); it != m_files.rend(); ++it) {
    clean = m_fs.RemoveFile(Full(it->target + kStagingSuffix)) && clean;
  }
  clean = RemoveCreatedDirectories(m_fs, m_folder, m_createdDirectories) && clean;
  return clean && m_fs.RemoveFile(Full(kJournalName));
}
