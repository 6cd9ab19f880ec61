#include "updater/install/release_install.h"

#include <memory>
#include <new>
#include <vector>

#include "unzip/platform/file_system.h"
#include "unzip/platform/platform.h"
#include "updater/install/archive_names.h"
#include "updater/install/install_moves.h"
#include "updater/install/install_names.h"
#include "updater/install/install_outcome.h"
#include "updater/install/install_transaction.h"
#include "updater/release/patch_decoder.h"
#include "updater/release/release_archive.h"

namespace {

const uint32_t kReadPiece = 1u << 16;
// Scratch files in the staging folder, gone with it.
const char kRecordScratch[] = "/release";
const char kFrameScratch[] = "/patch";

// A file of the folder, open for reading until the object ends.
class CInstalledFile {
 public:
  explicit CInstalledFile(const CString& path)
      : m_open(UnpackPlatformOpenForRead(path.GetString(), &m_file)) {}
  ~CInstalledFile() {
    if (m_open) UnpackPlatformClose(m_file);
  }
  CInstalledFile(const CInstalledFile&) = delete;
  CInstalledFile& operator=(const CInstalledFile&) = delete;

  bool Size(uint64_t* size) {
    uint64_t start = 0;
    return m_open && UnpackPlatformSeek(m_file, 0, UNPACK_SEEK_END, size) &&
           UnpackPlatformSeek(m_file, 0, UNPACK_SEEK_BEGIN, &start);
  }
  // Reads exactly size bytes into data, which has room for one byte more:
  // a file that grew meanwhile fills it, and fails.
  bool ReadAll(unsigned char* data, uint64_t size) {
    for (uint64_t at = 0;;) {
      const uint64_t left = size - at;
      const uint32_t piece = left < kReadPiece ? static_cast<uint32_t>(left) + 1 : kReadPiece;
      uint32_t got = 0;
      if (!UnpackPlatformRead(m_file, data + at, piece, &got)) return false;
      if (got == 0) return at == size;
      if (got > left) return false;
      at += got;
    }
  }
  bool Hash(uint64_t* size, Sha256Digest* digest) {
    std::vector<unsigned char> buffer(kReadPiece);
    CSha256 hash;
    *size = 0;
    for (;;) {
      uint32_t got = 0;
      if (!m_open || !UnpackPlatformRead(m_file, buffer.data(), kReadPiece, &got)) return false;
      if (got == 0) return hash.Finish(digest);
      hash.Update(buffer.data(), got);
      *size += got;
    }
  }

 private:
  UnpackPlatformFile m_file = 0;
  bool m_open;
};

bool IsFolderEntry(const UnpackEntryInfo& info) {
  return (info.dwAttributes & kUnpackAttrDirectory) != 0;
}

class CReleaseInstall {
 public:
  CReleaseInstall(UnpackHandle archive, const CString& folder, CInstallFileSystem& fs,
                  const ReleaseInstallOptions& options, CString* message)
      : m_archive(archive),
        m_folder(folder),
        m_fs(fs),
        m_options(options),
        m_message(*message),
        m_transaction(fs, folder) {}

  InstallResult Run();

 private:
  CString Full(const CString& relative) const { return JoinInstallPath(m_folder, relative); }
  InstallResult Refuse(const CString& why);
  InstallResult Fail(const CString& message);
  bool ReadRecord();
  bool CheckNames();
  InstallResult CheckVersion();
  bool CheckBases();
  uint64_t Needed() const;
  InstallResult Stage();
  bool StageFile(size_t i);
  bool StageWhole(size_t i, const UnpackEntryInfo& info, const CString& staging);
  bool StagePatch(size_t i, const UnpackEntryInfo& info, const CString& staging);
  bool StageVersion();
  void Report(int32_t index, const CString& name, EntryStep step, const char* reason = "") {
    if (m_options.report) m_options.report(index, name, step, reason);
  }

  UnpackHandle m_archive;
  CString m_folder;
  CInstallFileSystem& m_fs;
  const ReleaseInstallOptions& m_options;
  CString& m_message;
  CString m_summary;  // for options.describe
  CInstallTransaction m_transaction;
  ReleaseRecord m_record;
  std::vector<int32_t> m_entryOfFile;
  std::vector<CString> m_names;  // the record's paths in the process code page
};

InstallResult CReleaseInstall::Refuse(const CString& why) {
  m_transaction.Abort();
  m_message = "Update refused.  " + why + kNothingChanged;
  return InstallResult::kRefused;
}

InstallResult CReleaseInstall::Fail(const CString& message) {
  m_transaction.Abort();
  m_message = message;
  return InstallResult::kFailedNothingChanged;
}

bool CReleaseInstall::ReadRecord() {
  CString why;
  if (!ReadReleaseRecord(m_archive, Full(CString(kStagingFolderName) + kRecordScratch), &m_record,
                         &why) ||
      !MatchReleaseEntries(m_archive, m_record, &m_entryOfFile, &why)) {
    m_message = "The archive's release record cannot be used: " + why;
    return false;
  }
  size_t counts[4] = {};
  for (const ReleaseFile& file : m_record.files) ++counts[static_cast<int>(file.action)];
  m_summary.Format("release: version %s", FormatVersion(m_record.version).GetString());
  CString files;
  files.Format(" (%u written, %u patched, %u deleted, %u kept)", static_cast<unsigned>(counts[0]),
               static_cast<unsigned>(counts[1]), static_cast<unsigned>(counts[2]),
               static_cast<unsigned>(counts[3]));
  m_summary += m_record.isDelta ? ", a delta from " + FormatVersion(m_record.from) + files
                                : CString(", a full archive") + files;
  return true;
}

// The record's paths as this system names them, checked as an archive's
// names are, with the folders the archive makes.
bool CReleaseInstall::CheckNames() {
  CArchiveNames names;
  m_names.clear();
  for (const ReleaseFile& file : m_record.files) {
    char name[kUnpackMaxPath];
    if (!UnpackPlatformUtf8ToAnsi(file.path, name, sizeof(name)) ||
        !IsSafeRelativePath(CanonicalEntryPath(name))) {
      m_message = "Update refused.  The archive's release record names " + file.path +
                  ", which this system cannot hold as a file of its folder" + kNothingChanged;
      return false;
    }
    m_names.push_back(CanonicalEntryPath(name));
    names.Add(name, false);
  }
  UnpackEntryInfo info = {};
  UnpackGetEntry(m_archive, -1, &info);
  for (int32_t index = 1, count = info.nIndex; index < count; ++index) {
    if (UnpackGetEntry(m_archive, index, &info) == UNPACK_OK && IsFolderEntry(info)) {
      names.Add(info.szName, true);
    }
  }
  return names.Check(&m_message);
}

InstallResult CReleaseInstall::CheckVersion() {
  ReleaseVersion installed = {};
  switch (ReadInstalledVersion(m_fs, m_folder, &installed)) {
    case InstalledVersion::kNone:
      m_summary += "; no installed version recorded";
      return InstallResult::kApplied;
    case InstalledVersion::kUnknown:
      m_summary += "; the installed version's file is unreadable";
      return InstallResult::kApplied;
    case InstalledVersion::kKnown:
      break;
  }
  m_summary += "; installed version " + FormatVersion(installed);
  if (CompareVersions(m_record.version, installed) < 0 && !m_options.allowDowngrade) {
    return Refuse("The archive holds version " + FormatVersion(m_record.version) +
                  ", older than the installed version " + FormatVersion(installed));
  }
  if (m_record.isDelta && CompareVersions(m_record.from, installed) != 0) {
    m_transaction.Abort();
    m_message = "Update refused.  The update applies to version " + FormatVersion(m_record.from) +
                ", but version " + FormatVersion(installed) + " is installed" + kNothingChanged;
    return InstallResult::kBaseMismatch;
  }
  return InstallResult::kApplied;
}

// Every file the delta patches, deletes or keeps is the one it was made
// against.
bool CReleaseInstall::CheckBases() {
  for (size_t i = 0; i < m_record.files.size(); ++i) {
    const ReleaseFile& file = m_record.files[i];
    if (file.action == ReleaseAction::kWrite) continue;
    uint64_t size = 0;
    Sha256Digest digest = {};
    // Never through a link: it may lead out of the folder.
    if (!HasNoLinkOnTheWay(m_fs, m_folder, m_names[i]) ||
        !CInstalledFile(Full(m_names[i])).Hash(&size, &digest) || digest != file.base) {
      m_message = "Update refused.  The installed file " + ShownEntryName(m_names[i]) +
                  " is not the one the update applies to" + kNothingChanged;
      return false;
    }
  }
  return true;
}

// The files written and patched, the largest patch's scratch copy, and the
// version file.
uint64_t CReleaseInstall::Needed() const {
  uint64_t needed = 64, largestPatch = 0;
  for (size_t i = 0; i < m_record.files.size(); ++i) {
    const ReleaseFile& file = m_record.files[i];
    if (file.action != ReleaseAction::kWrite && file.action != ReleaseAction::kPatch) continue;
    needed = file.size > UINT64_MAX - needed ? UINT64_MAX : needed + file.size;
    uint64_t packed = 0;
    if (file.action == ReleaseAction::kPatch &&
        UnpackGetUnpackedSize(m_archive, m_entryOfFile[i], &packed) == UNPACK_OK &&
        packed > largestPatch) {
      largestPatch = packed;
    }
  }
  return largestPatch > UINT64_MAX - needed ? UINT64_MAX : needed + largestPatch;
}

bool CReleaseInstall::StageWhole(size_t i, const UnpackEntryInfo& info, const CString& staging) {
  const ReleaseFile& file = m_record.files[i];
  const UnpackResult result = UnpackExtract(m_archive, m_entryOfFile[i], staging.GetString());
  if (result != UNPACK_OK) {
    m_message = FileFailure(m_names[i], ExtractFailureReason(result));
    Report(info.nIndex, m_names[i], EntryStep::kFailed, ExtractFailureReason(result));
    return false;
  }
  uint64_t size = 0;
  Sha256Digest digest = {};
  if (!CInstalledFile(Full(staging)).Hash(&size, &digest) || size != file.size ||
      digest != file.result) {
    const char* why = "is not the file the archive's release record describes";
    m_message = FileFailure(m_names[i], why);
    Report(info.nIndex, m_names[i], EntryStep::kFailed, why);
    return false;
  }
  Report(info.nIndex, m_names[i], EntryStep::kWritten);
  return true;
}

// The installed file, read whole, and the patch entry, extracted to a
// scratch file, give the staged file.
bool CReleaseInstall::StagePatch(size_t i, const UnpackEntryInfo& info, const CString& staging) {
  const ReleaseFile& file = m_record.files[i];
  const CString frame = Full(CString(kStagingFolderName) + kFrameScratch);
  const UnpackResult extracted = UnpackExtract(m_archive, m_entryOfFile[i], frame.GetString());
  PatchResult result = PatchResult::kReadFailed;
  if (extracted == UNPACK_OK) {
    CInstalledFile installed(Full(m_names[i]));
    uint64_t size = 0;
    if (!installed.Size(&size)) size = UINT64_MAX;
    // One allocation of the base's exact size (and the byte ReadAll needs).
    std::unique_ptr<unsigned char[]> base(
        size <= kMaxPatchedFileSize ? new (std::nothrow) unsigned char[size + 1] : nullptr);
    if (size > kMaxPatchedFileSize) {
      result = size == UINT64_MAX ? PatchResult::kWrongBase : PatchResult::kTooLarge;
    } else if (base == nullptr) {
      result = PatchResult::kNoMemory;
    } else if (!installed.ReadAll(base.get(), size)) {
      result = PatchResult::kWrongBase;
    } else {
      const CString target = Full(staging);
      m_fs.MakeDirectory(target.Left(static_cast<int>(FsDirectoryLength(target)) - 1));
      CPatchFileSource source(frame.GetString());
      CPatchFileSink sink(target.GetString(), info.dwAttributes, true);
      result = sink.valid() ? ApplyPatch(base.get(), static_cast<size_t>(size), source, sink, file)
                            : PatchResult::kWriteFailed;
      if (result == PatchResult::kApplied &&
          !sink.Commit(info.ftCreation, info.ftLastAccess, info.ftLastWrite)) {
        result = PatchResult::kWriteFailed;
      }
    }
  }
  m_fs.RemoveFile(frame);
  if (result == PatchResult::kApplied) {
    Report(info.nIndex, m_names[i], EntryStep::kPatched);
    return true;
  }
  const CString why = extracted != UNPACK_OK
                          ? CString(ExtractFailureReason(extracted))
                          : CString("could not be patched: the patch ") + PatchResultText(result);
  m_message = FileFailure(m_names[i], why);
  Report(info.nIndex, m_names[i], EntryStep::kFailed, why);
  return false;
}

bool CReleaseInstall::StageFile(size_t i) {
  const ReleaseFile& file = m_record.files[i];
  UnpackEntryInfo info = {};
  if (UnpackGetEntry(m_archive, m_entryOfFile[i], &info) != UNPACK_OK) {
    m_message = FileFailure(m_names[i], "is damaged in the archive");
    return false;
  }
  CString staging;
  switch (m_transaction.PrepareFile(m_names[i], info.dwAttributes, &staging)) {
    case StageStep::kStage:
      break;
    case StageStep::kKeep:
      // An existing read-only, hidden or system file stays, as with any
      // archive; a folder in the way would leave the file missing.
      if ((m_fs.GetAttributes(Full(m_names[i])) & kUnpackAttrDirectory) == 0) {
        Report(info.nIndex, m_names[i], EntryStep::kKept);
        return true;
      }
      [[fallthrough]];
    case StageStep::kFailed:
      m_message = FileFailure(m_names[i], "could not be written");
      Report(info.nIndex, m_names[i], EntryStep::kFailed, "could not be written");
      return false;
  }
  const bool staged = file.action == ReleaseAction::kPatch ? StagePatch(i, info, staging)
                                                           : StageWhole(i, info, staging);
  if (staged) m_transaction.FileStaged(staging);
  return staged;
}

// The new version, in the same commit as the files.
bool CReleaseInstall::StageVersion() {
  CString staging;
  if (m_transaction.PrepareFile(kVersionFileName, kUnpackAttrArchive, &staging) !=
      StageStep::kStage) {
    return false;
  }
  const CString target = Full(staging);
  m_fs.MakeDirectory(target.Left(static_cast<int>(FsDirectoryLength(target)) - 1));
  if (!m_fs.Append(target, FormatVersion(m_record.version) + "\n", false)) return false;
  m_transaction.FileStaged(staging);
  return true;
}

InstallResult CReleaseInstall::Stage() {
  // Removals first: a removed file may give way to a folder.
  for (size_t i = 0; i < m_record.files.size(); ++i) {
    if (m_record.files[i].action != ReleaseAction::kDelete) continue;
    if (!m_transaction.PrepareRemoval(m_names[i])) {
      return Fail(FileFailure(m_names[i], "could not be removed"));
    }
    Report(-1, m_names[i], EntryStep::kDeleted);
  }
  UnpackEntryInfo info = {};
  UnpackGetEntry(m_archive, -1, &info);
  for (int32_t index = 1, count = info.nIndex; index < count; ++index) {
    if (UnpackGetEntry(m_archive, index, &info) == UNPACK_OK && IsFolderEntry(info) &&
        !m_transaction.NoteDirectory(info.szName)) {
      return Fail(FileFailure(info.szName, "could not be written"));
    }
  }
  for (size_t i = 0; i < m_record.files.size(); ++i) {
    const ReleaseAction action = m_record.files[i].action;
    if (action != ReleaseAction::kWrite && action != ReleaseAction::kPatch) continue;
    if (m_options.cancel && m_options.cancel(false)) {
      m_transaction.Abort();
      return InstallResult::kCancelled;
    }
    if (!StageFile(i)) return Fail(m_message);
  }
  if (!StageVersion()) {
    return Fail(CString("Update failed.  The installed version could not be recorded") +
                kNothingChanged);
  }
  if (m_options.cancel && m_options.cancel(true)) {
    m_transaction.Abort();
    return InstallResult::kCancelled;
  }
  return CommitInstall(&m_transaction, &m_message);
}

InstallResult CReleaseInstall::Run() {
  UnpackSetBaseDir(m_archive, m_folder.GetString());
  UnpackSetWriteInPlace(m_archive, 1);
  m_transaction.SetRunningProgram(m_options.runningProgram);
  // The record is read into the staging folder: nothing outside it changes
  // before the commit.
  if (!m_transaction.Begin()) {
    m_message = JournalFailure();
    return InstallResult::kFailedNothingChanged;
  }
  if (!ReadRecord()) return Refuse(m_message);
  if (!CheckNames()) {
    m_transaction.Abort();
    return InstallResult::kRefused;
  }
  const InstallResult version = CheckVersion();
  if (m_options.describe) m_options.describe(m_summary);
  if (version != InstallResult::kApplied) return version;
  if (!CheckBases()) {
    m_transaction.Abort();
    return InstallResult::kBaseMismatch;
  }
  CString noRoom;
  if (!HasRoomFor(m_fs, m_folder, Needed(), &noRoom)) return Fail(noRoom);
  return Stage();
}

}  // namespace

InstallResult InstallRelease(UnpackHandle archive, const CString& folder, CInstallFileSystem& fs,
                             const ReleaseInstallOptions& options, CString* message) {
  message->Empty();
  CReleaseInstall install(archive, folder, fs, options, message);
  return install.Run();
}

InstalledVersion ReadInstalledVersion(CInstallFileSystem& fs, const CString& folder,
                                      ReleaseVersion* version) {
  const CString path = JoinInstallPath(folder, kVersionFileName);
  const uint32_t attributes = fs.GetAttributes(path);
  if (attributes == kInstallMissing) return InstalledVersion::kNone;
  CString text;
  if (attributes == kInstallUnknown || (attributes & kUnpackAttrDirectory) ||
      !fs.Read(path, &text)) {
    return InstalledVersion::kUnknown;
  }
  const int length = text.GetLength();
  if (length < 2 || text.GetAt(length - 1) != '\n' ||
      !ParseVersion(text.GetString(), static_cast<size_t>(length - 1), version)) {
    return InstalledVersion::kUnknown;
  }
  return InstalledVersion::kKnown;
}
