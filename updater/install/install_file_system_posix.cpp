// The transaction's file-system operations over POSIX calls; '\' in a path
// is a separator, as on Windows, and read-only is the owner write bit.
// Renames are not flushed one by one: a flush of the journal afterwards
// commits them with it on a file system that journals its metadata in order
// (ext4), which the durability of an update relies on here.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "unzip/unpack.h"
#include "updater/install/install_file_system.h"

namespace {

const size_t kFlushThreads = 16;

bool SyncPath(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = fsync(fd) == 0;
  return close(fd) == 0 && ok;
}

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
    if (lstat(Native(path).c_str(), &st) != 0) {
      return errno == ENOENT || errno == ENOTDIR ? kInstallMissing : kInstallUnknown;
    }
    if (S_ISLNK(st.st_mode)) return kInstallLink;
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

  bool MakeDirectory(const CString& path) override {
    const std::string native = Native(path);
    if (mkdir(native.c_str(), 0777) == 0) return true;
    struct stat st;
    return errno == EEXIST && lstat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }

  bool FlushFiles(const std::vector<CString>& paths, size_t* failed) override {
    // fsync of one small file waits mostly for the disk; several at once
    // share its journal commits.
    std::atomic<size_t> next{0};
    std::atomic<size_t> firstFailure{paths.size()};
    auto work = [&] {
      for (size_t i; (i = next++) < paths.size();) {
        if (!SyncPath(Native(paths[i]))) {
          size_t expected = paths.size();
          firstFailure.compare_exchange_strong(expected, i);
        }
      }
    };
    std::vector<std::thread> workers;
    for (size_t n = 0; n < kFlushThreads && n < paths.size(); ++n) workers.emplace_back(work);
    for (std::thread& worker : workers) worker.join();
    if (firstFailure < paths.size()) {
      *failed = firstFailure;
      return false;
    }
    // The names of new files are entries of their folders.
    std::set<std::string> folders;
    for (const CString& path : paths) {
      const std::string native = Native(path);
      folders.insert(native.substr(0, native.find_last_of('/') + 1));
    }
    for (const std::string& folder : folders) SyncPath(folder.empty() ? "." : folder);
    return true;
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
