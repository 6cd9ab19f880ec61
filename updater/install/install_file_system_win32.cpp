// The transaction's file-system operations over the Win32 ANSI calls.
#include <windows.h>

#include <cstddef>

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

// The shared state of one FlushFiles call: the workers take the paths in
// turn and note the first failure.
struct FlushWork {
  const std::vector<CString>* paths;
  volatile LONG next;
  volatile LONG failed;  // the index of a failure, or the count of paths
};

DWORD WINAPI FlushWorker(LPVOID parameter) {
  FlushWork& work = *static_cast<FlushWork*>(parameter);
  const LONG count = static_cast<LONG>(work.paths->size());
  for (LONG i; (i = InterlockedIncrement(&work.next) - 1) < count;) {
    if (!FlushFile((*work.paths)[i].GetString())) {
      InterlockedCompareExchange(&work.failed, i, count);
    }
  }
  return 0;
}

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

  // A flush of one small file waits mostly for the disk; several at once
  // share its work. A thread that cannot be started leaves the work to the
  // others, the calling one among them.
  bool FlushFiles(const std::vector<CString>& paths, size_t* failed) override {
    FlushWork work = {&paths, 0, static_cast<LONG>(paths.size())};
    HANDLE workers[kFlushThreads] = {};
    size_t started = 0;
    for (size_t n = 1; n < kFlushThreads && n < paths.size(); ++n) {
      HANDLE worker = CreateThread(nullptr, 0, FlushWorker, &work, 0, nullptr);
      if (worker != nullptr) workers[started++] = worker;
    }
    FlushWorker(&work);
    for (size_t n = 0; n < started; ++n) {
      WaitForSingleObject(workers[n], INFINITE);
      CloseHandle(workers[n]);
    }
    if (work.failed == static_cast<LONG>(paths.size())) return true;
    *failed = static_cast<size_t>(work.failed);
    return false;
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
};

}  // namespace

CInstallFileSystem& SystemFileSystem() {
  static CWin32FileSystem fileSystem;
  return fileSystem;
}
