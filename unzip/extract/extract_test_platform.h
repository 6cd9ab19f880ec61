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
#include <unistd.h>
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

inline bool FailTimesForTest(bool) {
  return false;
}

inline bool IsLinkForTest(const std::string& path) {
  DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Wine starts Unix programs through CreateProcess, and shows a Unix symbolic
// link to a folder as a reparse point, but makes and removes no links itself.
// Runs command in folder and waits until done() (at most a minute): the
// handle of a Unix program may signal before the program has run.
template <typename Done>
bool RunUnixForTest(const char* program, std::string command, const std::string& folder,
                    Done done) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process;
  if (!CreateProcessA(program, &command[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                      &startup, &process)) {
    return false;
  }
  for (int waited = 0; !done() && waited < 60000; waited += 10) Sleep(10);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return done();
}

// Makes link a symbolic link to the folder target (relative to link's
// folder, '/'-separated). True when link is a reparse point afterwards.
inline bool MakeLinkForTest(const std::string& link, const std::string& target) {
  std::string windowsTarget = target;
  for (char& c : windowsTarget) {
    if (c == '/') c = '\\';
  }
  const DWORD kAllowUnprivileged = 0x2;
  CreateSymbolicLinkA(link.c_str(), windowsTarget.c_str(),
                      SYMBOLIC_LINK_FLAG_DIRECTORY | kAllowUnprivileged);
  if (IsLinkForTest(link)) return true;
  const size_t slash = link.find_last_of("\\/");
  return RunUnixForTest("Z:\\bin\\ln", "/bin/ln -s " + target + " " + link.substr(slash + 1),
                        link.substr(0, slash), [&link] { return IsLinkForTest(link); });
}

// Removes a link made by MakeLinkForTest (not what it points to).
inline void RemoveLinkForTest(const std::string& link) {
  auto gone = [&link] { return GetFileAttributesA(link.c_str()) == INVALID_FILE_ATTRIBUTES; };
  if (RemoveDirectoryA(link.c_str()) || gone()) return;
  const size_t slash = link.find_last_of("\\/");
  RunUnixForTest("Z:\\bin\\rm", "/bin/rm -f " + link.substr(slash + 1), link.substr(0, slash),
                 gone);
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

// Makes the extraction's futimens fail while fail is set (extract_test_posix.cpp).
bool FailTimesForTest(bool fail);

inline bool MakeLinkForTest(const std::string& link, const std::string& target) {
  return symlink(target.c_str(), link.c_str()) == 0;
}

inline void RemoveLinkForTest(const std::string& link) {
  unlink(link.c_str());
}

#endif

#endif  // UNZIP_EXTRACT_TEST_PLATFORM_H_
