// Reads back what an extraction wrote with the platform's own calls, so the
// extraction's tests do not check the code with itself.
#ifndef UNZIP_EXTRACT_TEST_PLATFORM_H_
#define UNZIP_EXTRACT_TEST_PLATFORM_H_

#include <cstdint>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

struct FileTimesForTest {
  int64_t creation = 0;  // FILETIME ticks
  int64_t lastAccess = 0;
  int64_t lastWrite = 0;
};

struct HeldFileForTest {
  bool valid = false;
#ifdef _WIN32
  HANDLE handle = INVALID_HANDLE_VALUE;
#endif
};

#ifdef _WIN32

const bool kShareModesEnforced = true;

inline int64_t TicksForTest(const FILETIME& ft) {
  return (static_cast<int64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

inline FileTimesForTest ReadTimesForTest(const std::string& path) {
  FileTimesForTest times;
  HANDLE h =
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  FILETIME c, a, w;
  if (h != INVALID_HANDLE_VALUE && GetFileTime(h, &c, &a, &w)) {
    times.creation = TicksForTest(c);
    times.lastAccess = TicksForTest(a);
    times.lastWrite = TicksForTest(w);
  }
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  return times;
}

// Whether the file system keeps a creation time that was set (Wine on a
// Linux file system does not): probed on a scratch file in dir.
inline bool CreationTimeSettableForTest(const std::string& dir) {
  const std::string path = dir + "\\creation-probe";
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  FILETIME wanted = {0x12345600, 0x01C00000};
  SetFileTime(h, &wanted, nullptr, nullptr);
  CloseHandle(h);
  bool kept = ReadTimesForTest(path).creation == TicksForTest(wanted);
  DeleteFileA(path.c_str());
  return kept;
}

inline bool IsReadOnlyForTest(const std::string& path) {
  DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY);
}

inline void SetReadOnlyForTest(const std::string& path, bool readOnly) {
  DWORD a = GetFileAttributesA(path.c_str());
  if (a == INVALID_FILE_ATTRIBUTES) return;
  a = readOnly ? (a | FILE_ATTRIBUTE_READONLY) : (a & ~FILE_ATTRIBUTE_READONLY);
  SetFileAttributesA(path.c_str(), a);
}

inline HeldFileForTest HoldWithoutSharingForTest(const std::string& path) {
  HeldFileForTest held;
  held.handle = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  held.valid = held.handle != INVALID_HANDLE_VALUE;
  return held;
}

inline void ReleaseForTest(HeldFileForTest* held) {
  if (held->valid) CloseHandle(held->handle);
  held->valid = false;
}

#else

const bool kShareModesEnforced = false;

inline bool CreationTimeSettableForTest(const std::string&) {
  return false;
}

inline int64_t TicksForTest(const timespec& ts) {
  return (static_cast<int64_t>(ts.tv_sec) * 10000000 + ts.tv_nsec / 100) + 116444736000000000LL;
}

inline FileTimesForTest ReadTimesForTest(const std::string& path) {
  FileTimesForTest times;
  struct stat st;
  if (stat(path.c_str(), &st) == 0) {
    times.lastAccess = TicksForTest(st.st_atim);
    times.lastWrite = TicksForTest(st.st_mtim);
  }
  return times;
}

inline bool IsReadOnlyForTest(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && (st.st_mode & S_IWUSR) == 0;
}

inline void SetReadOnlyForTest(const std::string& path, bool readOnly) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return;
  chmod(path.c_str(), readOnly ? (st.st_mode & ~0222) : (st.st_mode | S_IWUSR));
}

inline HeldFileForTest HoldWithoutSharingForTest(const std::string&) {
  return {};
}
inline void ReleaseForTest(HeldFileForTest*) {}

#endif

#endif  // UNZIP_EXTRACT_TEST_PLATFORM_H_
