// The transaction's file-system operations over the Win32 ANSI calls.
#include <windows.h>

#include <cstddef>

#include <set>
#include <utility>
#include <vector>

#include "updater/install/install_file_system.h"

namespace {

const size_t kFlushThreads = 16;

// Writes one file's data and attributes to the disk. FlushFileBuffers needs
// write access, which a read-only file refuses: its attribute is lifted for
// the flush and put back.
bool FlushFile(const char* path) {
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE file = CreateFileA(path, GENERIC_WRITE, share, nullptr, OPEN_EXISTING, 0, nullptr);
  DWORD readOnly = INVALID_FILE_ATTRIBUTES;
  if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
    readOnly = GetFileAttributesA(path);
    if (readOnly == INVALID_FILE_ATTRIBUTES || !(readOnly & FILE_ATTRIBUTE_READONLY)) return false;
    if (!SetFileAttributesA(path, readOnly & ~FILE_ATTRIBUTE_READONLY)) return false;
    file = CreateFileA(path, GENERIC_WRITE, share, nullptr, OPEN_EXISTING, 0, nullptr);
  }
  bool ok = file != INVALID_HANDLE_VALUE && FlushFileBuffers(file);
  if (file != INVALID_HANDLE_VALUE) ok = CloseHandle(file) && ok;
  if (readOnly != INVALID_FILE_ATTRIBUTES) ok = SetFileAttributesA(path, readOnly) && ok;
  return ok;
}

// Flushes files on threads of its own while the caller goes on: a flush of
// a small file mostly waits for the disk, and several at once share that
// wait. The threads start with the first file and end in Finish.
// REQUIRES: Add, Finish and Flushed from one thread.
class CFlushQueue {
 public:
  CFlushQueue() { InitializeCriticalSection(&m_lock); }

  // Queues path (complete; it will not change) unless it is queued already.
  void Add(const CString& path) {
    EnterCriticalSection(&m_lock);
    const bool fresh = m_queued.insert(path).second;
    if (fresh) m_waiting.push_back(path);
    LeaveCriticalSection(&m_lock);
    if (!fresh) return;
    if (m_wake == nullptr) m_wake = CreateSemaphoreA(nullptr, 0, 0x7FFFFFFF, nullptr);
    while (m_wake != nullptr && m_started < kFlushThreads) {
      HANDLE worker = CreateThread(nullptr, 0, Work, this, 0, nullptr);
      if (worker == nullptr) break;
      m_workers[m_started++] = worker;
    }
    if (m_started > 0) ReleaseSemaphore(m_wake, 1, nullptr);
  }

  // Returns once every queued file is flushed or failed; the threads end.
  // Without threads the files are flushed here.
  void Finish() {
    if (m_started > 0) {
      ReleaseSemaphore(m_wake, static_cast<LONG>(m_started), nullptr);
      WaitForMultipleObjects(static_cast<DWORD>(m_started), m_workers, TRUE, INFINITE);
      for (size_t n = 0; n < m_started; ++n) CloseHandle(m_workers[n]);
      m_started = 0;
    }
    for (CString path; Take(&path);) Flush(path);
  }

  // After Finish: whether path reached the disk. Forget starts afresh.
  bool Flushed(const CString& path) const { return m_flushed.count(path) != 0; }
  void Forget() {
    m_queued.clear();
    m_flushed.clear();
    m_waiting.clear();
    m_next = 0;
  }

 private:
  static DWORD WINAPI Work(LPVOID self) {
    CFlushQueue& queue = *static_cast<CFlushQueue*>(self);
    for (CString path;;) {
      WaitForSingleObject(queue.m_wake, INFINITE);
      if (!queue.Take(&path)) return 0;  // woken by Finish with nothing left
      queue.Flush(path);
    }
  }
  bool Take(CString* path) {
    EnterCriticalSection(&m_lock);
    const bool taken = m_next < m_waiting.size();
    if (taken) *path = m_waiting[m_next++];
    LeaveCriticalSection(&m_lock);
    return taken;
  }
  void Flush(const CString& path) {
    if (!FlushFile(path.GetString())) return;
    EnterCriticalSection(&m_lock);
    m_flushed.insert(path);
    LeaveCriticalSection(&m_lock);
  }

  CRITICAL_SECTION m_lock;
  HANDLE m_wake = nullptr;  // one count per queued file, one per thread to end
  HANDLE m_workers[kFlushThreads] = {};
  size_t m_started = 0;
  std::vector<CString> m_waiting;  // queued in order; m_next is the next to take
  size_t m_next = 0;
  std::set<CString> m_queued;
  std::set<CString> m_flushed;
};

class CWin32FileSystem : public CInstallFileSystem {
 public:
  uint32_t GetAttributes(const CString& path) override {
    DWORD attributes = GetFileAttributesA(path.GetString());
    if (attributes != INVALID_FILE_ATTRIBUTES) return attributes;
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? kInstallMissing
                                                                          : kInstallUnknown;
  }

  MoveResult Move(const CString& from, const CString& to) override {
    if (MoveFileExA(from.GetString(), to.GetString(), MOVEFILE_WRITE_THROUGH)) {
      return MoveResult::kMoved;
    }
    DWORD error = GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
                   error == ERROR_LOCK_VIOLATION
               ? MoveResult::kInUse
               : MoveResult::kFailed;
  }

  bool MakeDirectory(const CString& path) override {
    if (CreateDirectoryA(path.GetString(), nullptr)) return true;
    const DWORD attributes = GetFileAttributesA(path.GetString());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  }

  void FlushLater(const CString& path) override { m_flushQueue.Add(path); }

  bool FlushFiles(const std::vector<CString>& paths, size_t* failed) override {
    for (const CString& path : paths) m_flushQueue.Add(path);
    m_flushQueue.Finish();
    // A flush that failed in the background (a scanner holding the new file,
    // say) is tried once more.
    bool ok = true;
    for (size_t i = 0; ok && i < paths.size(); ++i) {
      ok = m_flushQueue.Flushed(paths[i]) || FlushFile(paths[i].GetString());
      if (!ok) *failed = i;
    }
    m_flushQueue.Forget();
    return ok;
  }

  bool RemoveFile(const CString& path) override {
    DWORD attributes = GetFileAttributesA(path.GetString());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      DWORD error = GetLastError();
      return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    if (attributes & FILE_ATTRIBUTE_READONLY) {
      SetFileAttributesA(path.GetString(), attributes & ~FILE_ATTRIBUTE_READONLY);
    }
    if (DeleteFileA(path.GetString())) return true;
    // A file that stays (the running program, for one) keeps its attributes.
    if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesA(path.GetString(), attributes);
    return false;
  }

  bool RemoveEmptyDirectory(const CString& path) override {
    if (::RemoveDirectoryA(path.GetString())) return true;
    DWORD error = GetLastError();
    return error == ERROR_DIR_NOT_EMPTY || error == ERROR_FILE_NOT_FOUND ||
           error == ERROR_PATH_NOT_FOUND;
  }

  bool Append(const CString& path, const CString& data, bool flush) override {
    HANDLE file = CreateFileA(path.GetString(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = WriteFile(file, data.GetString(), static_cast<DWORD>(data.GetLength()), &written,
                        nullptr) &&
              written == static_cast<DWORD>(data.GetLength());
    if (ok && flush) ok = FlushFileBuffers(file) != FALSE;
    return CloseHandle(file) && ok;
  }

  bool Read(const CString& path, CString* data) override {
    HANDLE file = CreateFileA(path.GetString(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    data->Empty();
    char buffer[4096];
    DWORD got = 0;
    bool ok;
    while ((ok = ReadFile(file, buffer, sizeof(buffer), &got, nullptr) != FALSE) && got > 0) {
      *data += CString(buffer, static_cast<int>(got));
    }
    CloseHandle(file);
    return ok;
  }

  void List(const CString& directory,
            const std::function<void(const CString&, bool)>& visit) override {
    // Collected first: the caller may delete what it visits, and a search
    // that sees its folder change can go on for ever.
    std::vector<std::pair<CString, bool>> entries;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((directory + "\\*").GetString(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
      CString name = found.cFileName;
      if (name == "." || name == "..") continue;
      // Junctions and links are not entered.
      const DWORD attributes = found.dwFileAttributes;
      entries.emplace_back(name, (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                                     !(attributes & FILE_ATTRIBUTE_REPARSE_POINT));
    } while (FindNextFileA(search, &found));
    FindClose(search);
    for (const auto& [name, isDirectory] : entries) visit(name, isDirectory);
  }

  uint64_t FreeSpace(const CString& path) override {
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExA(path.GetString(), &available, nullptr, nullptr)) return UINT64_MAX;
    return available.QuadPart;
  }

  bool FoldsCase() const override { return true; }

 private:
  CFlushQueue m_flushQueue;
};

}  // namespace

CInstallFileSystem& SystemFileSystem() {
  static CWin32FileSystem fileSystem;
  return fileSystem;
}
