// The transaction's file-system operations over the Win32 ANSI calls.
#include <windows.h>

#include <utility>
#include <vector>

#include "updater/install/install_file_system.h"

namespace {

class CWin32FileSystem : public CInstallFileSystem {
 public:
  uint32_t GetAttributes(const std::string& path) override {
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) return attributes;
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? kInstallMissing
                                                                          : kInstallUnknown;
  }

  MoveResult Move(const std::string& from, const std::string& to) override {
    if (MoveFileExA(from.c_str(), to.c_str(), 0)) return MoveResult::kMoved;
    DWORD error = GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
                   error == ERROR_LOCK_VIOLATION
               ? MoveResult::kInUse
               : MoveResult::kFailed;
  }

  bool RemoveFile(const std::string& path) override {
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      DWORD error = GetLastError();
      return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    if (attributes & FILE_ATTRIBUTE_READONLY) {
      SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    }
    if (DeleteFileA(path.c_str())) return true;
    // A file that stays (the running program, for one) keeps its attributes.
    if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesA(path.c_str(), attributes);
    return false;
  }

  bool RemoveEmptyDirectory(const std::string& path) override {
    if (::RemoveDirectoryA(path.c_str())) return true;
    DWORD error = GetLastError();
    return error == ERROR_DIR_NOT_EMPTY || error == ERROR_FILE_NOT_FOUND ||
           error == ERROR_PATH_NOT_FOUND;
  }

  bool Append(const std::string& path, const std::string& data, bool flush) override {
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
              written == data.size();
    if (ok && flush) ok = FlushFileBuffers(file) != FALSE;
    return CloseHandle(file) && ok;
  }

  bool Read(const std::string& path, std::string* data) override {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    data->clear();
    char buffer[4096];
    DWORD got = 0;
    bool ok;
    while ((ok = ReadFile(file, buffer, sizeof(buffer), &got, nullptr) != FALSE) && got > 0) {
      data->append(buffer, got);
    }
    CloseHandle(file);
    return ok;
  }

  void List(const std::string& directory,
            const std::function<void(const std::string&, bool)>& visit) override {
    // Collected first: the caller may delete what it visits, and a search
    // that sees its folder change can go on for ever.
    std::vector<std::pair<std::string, bool>> entries;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((directory + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
      std::string name = found.cFileName;
      if (name == "." || name == "..") continue;
      // Junctions and links are not entered.
      const DWORD attributes = found.dwFileAttributes;
      entries.emplace_back(name, (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                                     !(attributes & FILE_ATTRIBUTE_REPARSE_POINT));
    } while (FindNextFileA(search, &found));
    FindClose(search);
    for (const auto& [name, isDirectory] : entries) visit(name, isDirectory);
  }

  uint64_t FreeSpace(const std::string& path) override {
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExA(path.c_str(), &available, nullptr, nullptr)) return UINT64_MAX;
    return available.QuadPart;
  }

  bool FoldsCase() const override { return true; }
};

}  // namespace

CInstallFileSystem& SystemFileSystem() {
  static CWin32FileSystem fileSystem;
  return fileSystem;
}
