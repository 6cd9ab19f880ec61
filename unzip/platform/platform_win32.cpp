// Win32 implementation of the read-side platform operations.
#include <windows.h>
#include <mbctype.h>

#include <climits>
#include <cstring>
#include <vector>

#include "unzip/platform/platform.h"

namespace {

HANDLE ToHandle(UnpackPlatformFile file) {
  return reinterpret_cast<HANDLE>(file);
}

}  // namespace

bool UnpackPlatformOpenForRead(const char* path, UnpackPlatformFile* file) {
  HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  *file = reinterpret_cast<UnpackPlatformFile>(handle);
  return true;
}

bool UnpackPlatformSeek(UnpackPlatformFile file, int64_t distance, UnpackSeekOrigin origin,
                        uint64_t* position) {
  const DWORD method = origin == UNPACK_SEEK_BEGIN
                           ? FILE_BEGIN
                           : (origin == UNPACK_SEEK_CURRENT ? FILE_CURRENT : FILE_END);
  LONG high = static_cast<LONG>(distance >> 32);
  SetLastError(NO_ERROR);
  const DWORD low =
      SetFilePointer(ToHandle(file), static_cast<LONG>(distance & 0xFFFFFFFF), &high, method);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return false;
  *position = (static_cast<uint64_t>(static_cast<DWORD>(high)) << 32) | low;
  return true;
}

bool UnpackPlatformRead(UnpackPlatformFile file, void* buffer, uint32_t size, uint32_t* done) {
  DWORD got = 0;
  const BOOL ok = ReadFile(ToHandle(file), buffer, size, &got, nullptr);
  *done = ok ? got : 0;
  return ok != FALSE;
}

void UnpackPlatformClose(UnpackPlatformFile file) {
  CloseHandle(ToHandle(file));
}

bool UnpackPlatformCurrentDirectory(char* buffer, size_t size) {
  const DWORD length = GetCurrentDirectoryA(static_cast<DWORD>(size), buffer);
  return length != 0 && length < size;
}

bool UnpackPlatformSystemTimeToFileTime(const UnpackSystemTime& time, UNPACK_FILETIME* fileTime) {
  SYSTEMTIME system = {time.wYear, time.wMonth,  time.wDayOfWeek, time.wDay,
                       time.wHour, time.wMinute, time.wSecond,    time.wMilliseconds};
  FILETIME result;
  if (!SystemTimeToFileTime(&system, &result)) return false;
  fileTime->dwLowDateTime = result.dwLowDateTime;
  fileTime->dwHighDateTime = result.dwHighDateTime;
  return true;
}

bool UnpackPlatformLocalToUtc(const UNPACK_FILETIME& local, UNPACK_FILETIME* utc) {
  const FILETIME in = {local.dwLowDateTime, local.dwHighDateTime};
  FILETIME out;
  if (!LocalFileTimeToFileTime(&in, &out)) return false;
  utc->dwLowDateTime = out.dwLowDateTime;
  utc->dwHighDateTime = out.dwHighDateTime;
  return true;
}

// What _mbsstr does on Windows, written out: Wine's _mbsstr compares bytes
// and would take a trail byte for the start of a match.
const char* UnpackPlatformFindText(const char* text, const char* pattern) {
  const size_t length = std::strlen(pattern);
  for (const char* p = text; *p != '\0';) {
    if (std::strncmp(p, pattern, length) == 0) return p;
    p += (_ismbblead(static_cast<unsigned char>(*p)) && p[1] != '\0') ? 2 : 1;
  }
  return length == 0 ? text : nullptr;
}

bool UnpackPlatformUtf8ToAnsi(const char* utf8, char* out, size_t size) {
  const size_t length = std::strlen(utf8);
  if (length >= size || size > INT_MAX) return false;
  if (GetACP() == CP_UTF8) {
    std::memcpy(out, utf8, length + 1);
    return true;
  }
  // No character takes more UTF-16 units than UTF-8 bytes.
  std::vector<wchar_t> wide(length + 1);
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, wide.data(),
                          static_cast<int>(wide.size())) <= 0) {
    return false;
  }
  BOOL usedDefault = FALSE;
  const int written = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), -1, out,
                                          static_cast<int>(size), nullptr, &usedDefault);
  return written > 0 && !usedDefault;
}
