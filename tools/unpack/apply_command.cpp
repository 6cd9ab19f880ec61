// unpack apply ARCHIVE FOLDER: see release_commands.h. Paths on disk are
// texts in the process code page, as the zip layer uses them; record paths
// are converted to it.
#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/unpack/release_commands.h"
#include "unzip/platform/file_system.h"
#include "unzip/platform/platform.h"
#include "unzip/unpack.h"
#include "updater/release/patch_decoder.h"
#include "updater/release/release_archive.h"

namespace {

class CArchive {
 public:
  explicit CArchive(const char* path) : m_handle(UnpackOpen(path, "")) {}
  ~CArchive() {
    if (m_handle != nullptr) UnpackClose(m_handle);
  }
  CArchive(const CArchive&) = delete;
  CArchive& operator=(const CArchive&) = delete;
  UnpackHandle get() const { return m_handle; }

 private:
  UnpackHandle m_handle;
};

bool ReadWhole(const std::string& path, std::string* bytes) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  bytes->clear();
  // One allocation of the right size where the size can be told: a base
  // file is held whole while its patch is applied.
  if (std::fseek(file, 0, SEEK_END) == 0) {
    const long size = std::ftell(file);
    if (size > 0) bytes->reserve(static_cast<size_t>(size));
    std::rewind(file);
  }
  char buffer[1 << 16];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof(buffer), file)) > 0) bytes->append(buffer, got);
  const bool ok = !std::ferror(file);
  std::fclose(file);
  return ok;
}

class CApply {
 public:
  CApply(UnpackHandle archive, const std::string& folder) : m_archive(archive), m_folder(folder) {}

  int Run();

 private:
  bool OnDisk(const ReleaseFile& file, std::string* path);
  bool CheckBases();
  bool Patch(const ReleaseFile& file, int32_t entry, const std::string& target);
  bool ApplyFile(size_t i);

  UnpackHandle m_archive;
  std::string m_folder;
  ReleaseRecord m_record;
  std::vector<int32_t> m_entryOfFile;
};

bool CApply::OnDisk(const ReleaseFile& file, std::string* path) {
  char name[kUnpackMaxPath];
  if (!UnpackPlatformUtf8ToAnsi(file.path, name, sizeof(name))) return false;
  *path = m_folder + "/" + name;
  return true;
}

// Every file a delta patches, deletes or keeps must be the one it was made
// against.
bool CApply::CheckBases() {
  bool allMatch = true;
  for (const ReleaseFile& file : m_record.files) {
    if (file.action == ReleaseAction::kWrite) continue;
    std::string path, bytes;
    Sha256Digest hash = {};
    const bool match = OnDisk(file, &path) && ReadWhole(path, &bytes) &&
                       Sha256Of(bytes.data(), bytes.size(), &hash) && hash == file.base;
    if (!match) {
      std::printf("base mismatch: %s is not the file this delta was made against\n",
                  file.path.GetString());
      allMatch = false;
    }
  }
  return allMatch;
}

bool CApply::Patch(const ReleaseFile& file, int32_t entry, const std::string& target) {
  UnpackEntryInfo info = {};
  std::string base;
  // The frame beside the target, named absolutely: the zip layer joins
  // relative names to its base folder.
  char frame[kUnpackMaxPath];
  if (!FsFullPath((target + ".~patch").c_str(), frame, sizeof(frame)) ||
      UnpackGetEntry(m_archive, entry, &info) != UNPACK_OK || !ReadWhole(target, &base) ||
      UnpackExtract(m_archive, entry, frame) != UNPACK_OK) {
    std::remove(frame);
    return false;
  }
  PatchResult result = PatchResult::kWriteFailed;
  {
    CPatchFileSource source(frame);
    CPatchFileSink sink(target.c_str(), info.dwAttributes);
    if (sink.valid()) {
      result = ApplyPatch(reinterpret_cast<const unsigned char*>(base.data()), base.size(), source,
                          sink, file);
    }
    if (result == PatchResult::kApplied &&
        !sink.Commit(info.ftCreation, info.ftLastAccess, info.ftLastWrite)) {
      result = PatchResult::kWriteFailed;
    }
  }
  std::remove(frame);
  if (result != PatchResult::kApplied) {
    std::fprintf(stderr, "unpack: the patch of %s %s\n", file.path.GetString(),
                 PatchResultText(result));
  }
  return result == PatchResult::kApplied;
}

bool CApply::ApplyFile(size_t i) {
  const ReleaseFile& file = m_record.files[i];
  const int32_t entry = m_entryOfFile[i];
  std::string path;
  if (!OnDisk(file, &path)) return false;
  switch (file.action) {
    case ReleaseAction::kKeep:
      return true;
    case ReleaseAction::kDelete:
      return std::remove(path.c_str()) == 0;
    case ReleaseAction::kPatch:
      return Patch(file, entry, path);
    case ReleaseAction::kWrite: {
      UnpackEntryInfo info = {};
      return UnpackGetEntry(m_archive, entry, &info) == UNPACK_OK &&
             UnpackExtract(m_archive, entry, info.szName) == UNPACK_OK;
    }
  }
  return false;
}

int CApply::Run() {
  CString why;
  const std::string scratch = m_folder + "/~update.release";
  if (!ReadReleaseRecord(m_archive, scratch.c_str(), &m_record, &why) ||
      !MatchReleaseEntries(m_archive, m_record, &m_entryOfFile, &why)) {
    std::fprintf(stderr, "unpack: %s\n", why.GetString());
    return 1;
  }
  if (!CheckBases()) {
    std::printf("nothing changed\n");
    return 1;
  }
  // Deletions first (a file may give way to a folder of the same name), then
  // the folders, then everything written.
  int failures = 0;
  auto apply = [&](bool deletions) {
    for (size_t i = 0; i < m_record.files.size(); ++i) {
      if ((m_record.files[i].action == ReleaseAction::kDelete) != deletions) continue;
      if (!ApplyFile(i)) {
        std::fprintf(stderr, "unpack: %s failed\n", m_record.files[i].path.GetString());
        ++failures;
      }
    }
  };
  apply(true);
  UnpackEntryInfo info = {};
  UnpackGetEntry(m_archive, -1, &info);
  for (int32_t index = 1, count = info.nIndex; index < count; ++index) {
    if (UnpackGetEntry(m_archive, index, &info) == UNPACK_OK &&
        (info.dwAttributes & kUnpackAttrDirectory) != 0 &&
        UnpackExtract(m_archive, index, info.szName) != UNPACK_OK) {
      std::fprintf(stderr, "unpack: cannot make the folder %s\n", info.szName);
      ++failures;
    }
  }
  apply(false);
  std::printf("applied version %s: %zu files, %d failed\n",
              FormatVersion(m_record.version).GetString(), m_record.files.size(), failures);
  return failures == 0 ? 0 : 1;
}

}  // namespace

int ApplyCommand(int argc, char** argv) {
  if (argc != 2 || argv[1][0] == '\0') {
    std::fprintf(stderr, "usage: unpack apply ARCHIVE FOLDER\n");
    return 2;
  }
  CArchive archive(argv[0]);
  if (archive.get() == nullptr) {
    std::fprintf(stderr, "unpack: cannot open %s as a zip archive (code 0x%X)\n", argv[0],
                 UnpackLastResult);
    return 1;
  }
  if (UnpackSetBaseDir(archive.get(), argv[1]) != UNPACK_OK) {
    std::fprintf(stderr, "unpack: cannot apply into %s\n", argv[1]);
    return 2;
  }
  CApply apply(archive.get(), argv[1]);
  return apply.Run();
}
