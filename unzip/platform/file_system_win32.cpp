// The file-system seam over the Win32 ANSI calls.
#include <windows.h>
#include <mbctype.h>

#include <cstring>

#include "unzip/platform/file_system.h"

struct FsPendingFile {
  HANDLE handle = INVALID_HANDLE_VALUE;
  bool inPlace = false;  // temporary is the target itself
  char temporary[kUnpackMaxPath] = {};
  char target[kUnpackMaxPath] = {};
};

namespace {

FILETIME ToFileTime(const UNPACK_FILETIME& ft) {
  FILETIME result;
  result.dwLowDateTime = ft.dwLowDateTime;
  result.dwHighDateTime = ft.dwHighDateTime;
  return result;
}

void RemoveTemporary(FsPendingFile* file) {
  if (file->handle != INVALID_HANDLE_VALUE) CloseHandle(file->handle);
  file->handle = INVALID_HANDLE_VALUE;
  // A read-only temporary cannot be deleted as it is.
  SetFileAttributesA(file->temporary, FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(file->temporary);
}

}  // namespace

// The process's multibyte code page, which the updater sets to the ANSI code
// page at start-up (and which starts out so in other programs).
bool FsIsLeadByte(unsigned char byte) {
  return _ismbblead(byte) != 0;
}

// FILE_ATTRIBUTE_REPARSE_POINT is kFsLink.
uint32_t FsGetAttributes(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  return attributes == INVALID_FILE_ATTRIBUTES ? kFsMissing : attributes;
}

bool FsCreateDirectory(const char* path) {
  return CreateDirectoryA(path, nullptr) != FALSE;
}

char FsSeparator() {
  return '\\';
}

bool FsFullPath(const char* path, char* out, size_t size) {
  DWORD n = GetFullPathNameA(path, static_cast<DWORD>(size), out, nullptr);
  return n > 0 && n < size;
}

FsPendingFile* FsCreatePending(const char* target, uint32_t attributes, bool inPlace) {
  size_t length = strlen(target);
  if (length >= kUnpackMaxPath) return nullptr;
  DWORD flags = attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                              FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
  if (flags == 0) flags = FILE_ATTRIBUTE_NORMAL;
  FsPendingFile* file = new FsPendingFile;
  memcpy(file->target, target, length + 1);
  if (inPlace) {
    file->handle = CreateFileA(target, GENERIC_WRITE, 0, nullptr, CREATE_NEW, flags, nullptr);
    if (file->handle != INVALID_HANDLE_VALUE) {
      memcpy(file->temporary, target, length + 1);
      file->inPlace = true;
      return file;
    }
  }
  for (uint32_t attempt = 0; attempt < kFsTemporaryAttempts; ++attempt) {
    if (!FsTemporaryName(target, attempt, file->temporary, sizeof(file->temporary))) break;
    file->handle =
        CreateFileA(file->temporary, GENERIC_WRITE, 0, nullptr, CREATE_NEW, flags, nullptr);
    if (file->handle != INVALID_HANDLE_VALUE) return file;
    DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
  }
  delete file;
  return nullptr;
}

bool FsWrite(FsPendingFile* file, const void* data, uint32_t size) {
  DWORD written = 0;
  return WriteFile(file->handle, data, size, &written, nullptr) != FALSE;
}

bool FsCommit(FsPendingFile* file, const UNPACK_FILETIME& creation,
              const UNPACK_FILETIME& lastAccess, const UNPACK_FILETIME& lastWrite) {
  FILETIME c = ToFileTime(creation);
  FILETIME a = ToFileTime(lastAccess);
  FILETIME w = ToFileTime(lastWrite);
  // Times the file system cannot take are not worth the data: a failure of
  // SetFileTime is not reported.
  SetFileTime(file->handle, &c, &a, &w);
  bool ok = CloseHandle(file->handle) != FALSE;
  file->handle = INVALID_HANDLE_VALUE;
  if (file->inPlace) {
    if (!ok) RemoveTemporary(file);
    delete file;
    return ok;
  }
  // The rename fails for a directory and for a file open without sharing.
  // A read-only target is refused here first: Windows refuses to replace it,
  // but Wine's MoveFileExA replaces it.
  DWORD existing = GetFileAttributesA(file->target);
  if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY)) ok = false;
  ok = ok && MoveFileExA(file->temporary, file->target, MOVEFILE_REPLACE_EXISTING) != FALSE;
  if (ok) {
    // NTFS gives a name that was replaced moments ago the creation time of
    // the file it replaced ("tunnelling"), so the times are set once more on
    // the final name. Write-attributes access works on read-only files too.
    HANDLE final = CreateFileA(file->target, FILE_WRITE_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (final != INVALID_HANDLE_VALUE) {
      SetFileTime(final, &c, &a, &w);
      CloseHandle(final);
    }
  } else {
    RemoveTemporary(file);
  }
  delete file;
  return ok;
}

void FsDiscard(FsPendingFile* file) {
  if (file == nullptr) return;
  RemoveTemporary(file);
  delete file;
}

bool FsVolumeFreeSpace(const char* directory, uint64_t* bytes) {
  const DWORD attributes = GetFileAttributesA(directory);
  ULARGE_INTEGER available;
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
      !GetDiskFreeSpaceExA(directory, &available, nullptr, nullptr)) {
    return false;
  }
  *bytes = available.QuadPart;
  return true;
}
