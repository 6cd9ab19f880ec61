// The file-system seam over POSIX calls. '\' in a path is a separator, as on
// Windows. Attributes: read-only is the owner write bit; hidden, system and
// archive have no counterpart and are dropped. Creation time is not settable
// here and is ignored; last access and last write are set with futimens.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "unzip/platform/file_system.h"

struct FsPendingFile {
  int fd = -1;
  bool inPlace = false;  // temporary is the target itself
  std::string temporary;
  std::string target;
};

namespace {

std::string Native(const char* path) {
  std::string s(path);
  for (char& c : s) {
    if (c == '\\') c = '/';
  }
  return s;
}

// FILETIME ticks (100 ns since 1601) to a POSIX time.
timespec ToTimespec(const UNPACK_FILETIME& ft) {
  const int64_t kUnixEpochTicks = 116444736000000000LL;
  uint64_t raw = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  int64_t ticks = static_cast<int64_t>(raw) - kUnixEpochTicks;
  int64_t seconds = ticks / 10000000;
  int64_t rest = ticks % 10000000;
  if (rest < 0) {
    rest += 10000000;
    seconds -= 1;
  }
  timespec ts;
  ts.tv_sec = static_cast<time_t>(seconds);
  ts.tv_nsec = static_cast<long>(rest * 100);
  return ts;
}

void RemoveTemporary(FsPendingFile* file) {
  if (file->fd >= 0) close(file->fd);
  file->fd = -1;
  unlink(file->temporary.c_str());
}

}  // namespace

// The process code page is UTF-8 here, whose multibyte characters hold no
// ASCII byte: every byte can be compared on its own.
bool FsIsLeadByte(unsigned char) {
  return false;
}

uint32_t FsGetAttributes(const char* path) {
  struct stat st;
  if (lstat(Native(path).c_str(), &st) != 0) return kFsMissing;
  if (S_ISLNK(st.st_mode)) return kFsLink;
  if (S_ISDIR(st.st_mode)) return kUnpackAttrDirectory;
  return (st.st_mode & S_IWUSR) ? kUnpackAttrArchive : (kUnpackAttrArchive | kUnpackAttrReadOnly);
}

bool FsCreateDirectory(const char* path) {
  return mkdir(Native(path).c_str(), 0777) == 0;
}

char FsSeparator() {
  return '/';
}

bool FsFullPath(const char* path, char* out, size_t size) {
  std::string text = Native(path);
  if (text.empty() || text[0] != '/') {
    char cwd[4096];
    if (getcwd(cwd, sizeof(cwd)) == nullptr) return false;
    text = std::string(cwd) + "/" + text;
  }
  bool trailing = text.back() == '/';
  std::vector<std::string> parts;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t next = text.find('/', pos);
    if (next == std::string::npos) next = text.size();
    std::string part = text.substr(pos, next - pos);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    pos = next + 1;
  }
  std::string result;
  for (const std::string& part : parts) result += "/" + part;
  if (result.empty() || trailing) result += "/";
  if (result.size() + 1 > size) return false;
  memcpy(out, result.c_str(), result.size() + 1);
  return true;
}

FsPendingFile* FsCreatePending(const char* target, uint32_t attributes, bool inPlace) {
  std::string native = Native(target);
  mode_t mode = (attributes & kUnpackAttrReadOnly) ? 0444 : 0666;
  if (inPlace) {
    int fd = open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0) {
      FsPendingFile* file = new FsPendingFile;
      file->fd = fd;
      file->inPlace = true;
      file->temporary = native;
      file->target = native;
      return file;
    }
  }
  char name[kUnpackMaxPath];
  for (uint32_t attempt = 0; attempt < kFsTemporaryAttempts; ++attempt) {
    if (!FsTemporaryName(native.c_str(), attempt, name, sizeof(name))) return nullptr;
    int fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0) {
      FsPendingFile* file = new FsPendingFile;
      file->fd = fd;
      file->temporary = name;
      file->target = native;
      return file;
    }
    if (errno != EEXIST) return nullptr;
  }
  return nullptr;
}

bool FsWrite(FsPendingFile* file, const void* data, uint32_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = write(file->fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<uint32_t>(n);
  }
  return true;
}

bool FsCommit(FsPendingFile* file, const UNPACK_FILETIME& creation,
              const UNPACK_FILETIME& lastAccess, const UNPACK_FILETIME& lastWrite) {
  // Times the file system cannot take are not worth the data: a failure here
  // is not reported.
  timespec times[2] = {ToTimespec(lastAccess), ToTimespec(lastWrite)};
  futimens(file->fd, times);
  bool ok = close(file->fd) == 0;
  file->fd = -1;
  // rename fails for a directory; a read-only target is refused by the
  // caller before the data is written (rename alone would replace it).
  ok = ok && (file->inPlace || rename(file->temporary.c_str(), file->target.c_str()) == 0);
  if (!ok) RemoveTemporary(file);
  delete file;
  return ok;
}

void FsDiscard(FsPendingFile* file) {
  if (file == nullptr) return;
  RemoveTemporary(file);
  delete file;
}

bool FsVolumeFreeSpace(const char* directory, uint64_t* bytes) {
  struct statvfs volume;
  if (statvfs(directory, &volume) != 0) return false;
  *bytes = static_cast<uint64_t>(volume.f_bavail) * volume.f_frsize;
  return true;
}
