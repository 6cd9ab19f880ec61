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

#include <condition_variable>
#include <mutex>
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

// Flushes files on threads of its own while the caller goes on: fsync of a
// small file mostly waits for the disk, and several at once share its
// journal commits. The threads start with the first file and end in Finish.
// REQUIRES: Add, Finish and Flushed from one thread.
class CFlushQueue {
 public:
  ~CFlushQueue() { Finish(); }

  void Add(const std::string& path) {
    std::lock_guard<std::mutex> hold(m_lock);
    if (!m_queued.insert(path).second) return;
    m_waiting.push_back(path);
    while (m_workers.size() < kFlushThreads) m_workers.emplace_back([this] { Work(); });
    m_wake.notify_one();
  }

  // Returns once every queued file is flushed or failed; the threads end.
  void Finish() {
    {
      std::lock_guard<std::mutex> hold(m_lock);
      m_finishing = true;
    }
    m_wake.notify_all();
    for (std::thread& worker : m_workers) worker.join();
    m_workers.clear();
    m_finishing = false;
  }

  bool Flushed(const std::string& path) const { return m_flushed.count(path) != 0; }
  void Forget() {
    m_queued.clear();
    m_flushed.clear();
    m_waiting.clear();
    m_next = 0;
  }

 private:
  void Work() {
    std::unique_lock<std::mutex> hold(m_lock);
    for (;;) {
      m_wake.wait(hold, [this] { return m_next < m_waiting.size() || m_finishing; });
      if (m_next == m_waiting.size()) return;
      const std::string path = m_waiting[m_next++];
      hold.unlock();
      const bool flushed = SyncPath(path);
      hold.lock();
      if (flushed) m_flushed.insert(path);
    }
  }

  std::mutex m_lock;
  std::condition_variable m_wake;
  std::vector<std::thread> m_workers;
  std::vector<std::string> m_waiting;  // queued in order; m_next is the next to take
  size_t m_next = 0;
  bool m_finishing = false;
  std::set<std::string> m_queued;
  std::set<std::string> m_flushed;
};

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

  void FlushLater(const CString& path) override {
    m_flushQueue.Add(Native(path));
  }

  bool FlushFiles(const std::vector<CString>& paths, size_t* failed) override {
    for (const CString& path : paths) m_flushQueue.Add(Native(path));
    m_flushQueue.Finish();
    bool ok = true;
    for (size_t i = 0; ok && i < paths.size(); ++i) {
      const std::string native = Native(paths[i]);
      ok = m_flushQueue.Flushed(native) || SyncPath(native);
      if (!ok) *failed = i;
    }
    // The names of new files are entries of their folders.
    std::set<std::string> folders;
    for (const CString& path : paths) {
      const std::string native = Native(path);
      folders.insert(native.substr(0, native.find_last_of('/') + 1));
    }
    for (const std::string& folder : folders) SyncPath(folder.empty() ? "." : folder);
    m_flushQueue.Forget();
    return ok;
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

 private:
  CFlushQueue m_flushQueue;
};

}  // namespace

CInstallFileSystem& SystemFileSystem() {
  static CPosixFileSystem fileSystem;
  return fileSystem;
}
