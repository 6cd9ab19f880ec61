// The transaction's file-system operations over POSIX calls; '\' in a path
// is a separator, as on Windows, and read-only is the owner write bit.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "unzip/unpack.h"
#include "updater/install/install_file_system.h"

namespace {

std::string Native(const CString& path) {
  std::string s(path.GetString(), path.GetLength());
  for (char& c : s) {
    if (c == '\\') c = '/';
  }
  return s;
}

class CPosixFileSystem : public CInstallFileSystem {
 public:
  uint32_t GetAttributes(const CString& path) override {
    struct stat st;
    if (stat(Native(path).c_str(), &st) != 0) {
      return errno == ENOENT || errno == ENOTDIR ? kInstallMissing : kInstallUnknown;
    }
    if (S_ISDIR(st.st_mode)) return kUnpackAttrDirectory;
    return (st.st_mode & S_IWUSR) ? kUnpackAttrArchive : (kUnpackAttrArchive | kUnpackAttrReadOnly);
  }

  MoveResult Move(const CString& from, const CString& to) override {
    // POSIX has no sharing violations. A rename that would replace a file
    // is refused, where the kernel can say so in the same call.
    const std::string source = Native(from);
    const std::string target = Native(to);
#ifdef RENAME_NOREPLACE
    if (renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
      return MoveResult::kMoved;
    }
    if (errno != EINVAL && errno != ENOSYS) return MoveResult::kFailed;
#endif
    struct stat st;
    if (lstat(target.c_str(), &st) == 0) return MoveResult::kFailed;
    return rename(source.c_str(), target.c_str()) == 0 ? MoveResult::kMoved : MoveResult::kFailed;
  }

  bool RemoveFile(const CString& path) override {
    return unlink(Native(path).c_str()) == 0 || errno == ENOENT;
  }

  bool RemoveEmptyDirectory(const CString& path) override {
    return rmdir(Native(path).c_str()) == 0 || errno == ENOTEMPTY || errno == EEXIST ||
           errno == ENOENT;
  }

  bool Append(const CString& path, const CString& data, bool flush) override {
    int fd = open(Native(path).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const char* p = data.GetString();
    size_t left = static_cast<size_t>(data.GetLength());
    bool ok = true;
    while (ok && left > 0) {
      ssize_t n = write(fd, p, left);
      if (n < 0 && errno == EINTR) continue;
      ok = n > 0;
      if (ok) {
        p += n;
        left -= static_cast<size_t>(n);
      }
    }
    if (ok && flush) ok = fsync(fd) == 0;
    return close(fd) == 0 && ok;
  }

  bool Read(const CString& path, CString* data) override {
    FILE* file = fopen(Native(path).c_str(), "rb");
    if (file == nullptr) return false;
    data->Empty();
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), file)) > 0)
      *data += CString(buffer, static_cast<int>(n));
    bool ok = ferror(file) == 0;
    fclose(file);
    return ok;
  }

  void List(const CString& directory,
            const std::function<void(const CString&, bool)>& visit) override {
    // Collected first: the caller may delete what it visits.
    const std::string native = Native(directory);
    std::vector<std::pair<std::string, bool>> entries;
    DIR* dir = opendir(native.c_str());
    if (dir == nullptr) return;
    while (dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      struct stat st;
      entries.emplace_back(name,
                           lstat((native + "/" + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode));
    }
    closedir(dir);
    for (const auto& [name, isDirectory] : entries) visit(name.c_str(), isDirectory);
  }

  uint64_t FreeSpace(const CString& path) override {
    struct statvfs st;
    if (statvfs(Native(path).c_str(), &st) != 0) return UINT64_MAX;
    return static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
  }

  bool FoldsCase() const override {
    return false;
  }
};

}  // namespace

CInstallFileSystem& SystemFileSystem() {
  static CPosixFileSystem fileSystem;
  return fileSystem;
}
