#include "updater/release/release_archive.h"

#include <cstdio>
#include <cstring>
#include <map>

#include "unzip/platform/file_system.h"
#include "unzip/platform/platform.h"

namespace {

bool IsFolderEntry(const UnpackEntryInfo& info) {
  const size_t length = std::strlen(info.szName);
  return (info.dwAttributes & kUnpackAttrDirectory) != 0 ||
         (length > 0 && (info.szName[length - 1] == '/' || info.szName[length - 1] == '\\'));
}

// The whole file at path, at most limit bytes.
bool ReadSmallFile(const char* path, size_t limit, std::vector<char>* bytes) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return false;
  bytes->resize(limit + 1);
  const size_t got = std::fread(bytes->data(), 1, bytes->size(), file);
  const bool ok = !std::ferror(file) && got <= limit;
  std::fclose(file);
  bytes->resize(got);
  return ok;
}

}  // namespace

bool HasReleaseRecord(UnpackHandle archive) {
  UnpackEntryInfo info = {};
  return UnpackGetEntry(archive, 0, &info) == UNPACK_OK &&
         std::strcmp(info.szName, kReleaseRecordName) == 0;
}

bool ReadReleaseRecord(UnpackHandle archive, const char* scratchPath, ReleaseRecord* record,
                       CString* why) {
  UnpackEntryInfo info = {};
  if (!HasReleaseRecord(archive)) {
    *why = "the archive has no release record";
    return false;
  }
  UnpackGetEntry(archive, 0, &info);
  if (info.nUnpackedSize > kReleaseRecordMaxSize) {
    *why = "the release record is too large";
    return false;
  }
  // An absolute target: the zip layer joins relative ones to its base folder.
  char scratch[kUnpackMaxPath];
  if (!FsFullPath(scratchPath, scratch, sizeof(scratch))) {
    *why = "the release record has no place to be read";
    return false;
  }
  const UnpackResult extracted = UnpackExtract(archive, 0, scratch);
  std::vector<char> text;
  const bool read = extracted == UNPACK_OK && ReadSmallFile(scratch, kReleaseRecordMaxSize, &text);
  std::remove(scratch);
  if (!read) {
    why->Format("the release record cannot be read (code 0x%X)", static_cast<unsigned>(extracted));
    return false;
  }
  CString problem;
  if (!ParseReleaseRecord(text.data(), text.size(), record, &problem)) {
    *why = "the release record is malformed: " + problem;
    return false;
  }
  return true;
}

bool MatchReleaseEntries(UnpackHandle archive, const ReleaseRecord& record,
                         std::vector<int32_t>* entryOfFile, CString* why) {
  // Entry name (process code page) to the record line it must serve.
  std::map<CString, size_t> wanted;
  size_t patches = 0;
  for (size_t i = 0; i < record.files.size(); ++i) {
    const ReleaseFile& file = record.files[i];
    if (file.action == ReleaseAction::kWrite) {
      char name[kUnpackMaxPath];
      if (!UnpackPlatformUtf8ToAnsi(file.path, name, sizeof(name))) {
        *why = "the path " + file.path + " cannot be named in this system's code page";
        return false;
      }
      wanted[CString(name)] = i;
    } else if (file.action == ReleaseAction::kPatch) {
      wanted[ReleasePatchEntryName(patches++)] = i;
    }
  }
  entryOfFile->assign(record.files.size(), -1);
  UnpackEntryInfo info = {};
  if (UnpackGetEntry(archive, -1, &info) != UNPACK_OK) {
    *why = "the archive's entries cannot be counted";
    return false;
  }
  const int32_t count = info.nIndex;
  for (int32_t index = 1; index < count; ++index) {
    if (UnpackGetEntry(archive, index, &info) != UNPACK_OK) {
      why->Format("entry %d cannot be read (code 0x%X)", index,
                  static_cast<unsigned>(UnpackLastResult));
      return false;
    }
    if (IsFolderEntry(info)) continue;
    auto found = wanted.find(CString(info.szName));
    if (found == wanted.end()) {
      *why =
          CString("the archive holds ") + info.szName + ", which its release record does not name";
      return false;
    }
    if ((*entryOfFile)[found->second] >= 0) {
      *why = CString("the archive holds ") + info.szName + " twice";
      return false;
    }
    (*entryOfFile)[found->second] = index;
  }
  for (const auto& item : wanted) {
    if ((*entryOfFile)[item.second] < 0) {
      *why = "the archive lacks " + item.first + ", which its release record names";
      return false;
    }
  }
  return true;
}
