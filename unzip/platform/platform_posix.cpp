// POSIX implementation of the read-side platform operations.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "unzip/platform/platform.h"
#include "unzip/names/entry_times.h"

bool UnpackPlatformOpenForRead(const char* path, UnpackPlatformFile* file) {
  int fd;
  do {
    fd = open(path, O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  *file = fd;
  return true;
}

bool UnpackPlatformSeek(UnpackPlatformFile file, int64_t distance, UnpackSeekOrigin origin,
                        uint64_t* position) {
  const int whence = origin == UNPACK_SEEK_BEGIN
                         ? SEEK_SET
                         : (origin == UNPACK_SEEK_CURRENT ? SEEK_CUR : SEEK_END);
  const off_t result = lseek(static_cast<int>(file), static_cast<off_t>(distance), whence);
  if (result < 0) return false;
  *position = static_cast<uint64_t>(result);
  return true;
}

bool UnpackPlatformRead(UnpackPlatformFile file, void* buffer, uint32_t size, uint32_t* done) {
  ssize_t got;
  do {
    got = read(static_cast<int>(file), buffer, size);
  } while (got < 0 && errno == EINTR);
  if (got < 0) {
    *done = 0;
    return false;
  }
  *done = static_cast<uint32_t>(got);
  return true;
}

void UnpackPlatformClose(UnpackPlatformFile file) {
  close(static_cast<int>(file));
}

bool UnpackPlatformCurrentDirectory(char* buffer, size_t size) {
  return getcwd(buffer, size) != nullptr;
}

bool UnpackPlatformSystemTimeToFileTime(const UnpackSystemTime& time, UNPACK_FILETIME* fileTime) {
  int64_t seconds;
  if (!UnpackCalendarToUnixSeconds(time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute,
                                   time.wSecond, &seconds) ||
      time.wMilliseconds > 999) {
    return false;
  }
  *fileTime = UnpackTicksToFileTime(UnpackUnixSecondsToTicks(seconds) +
                                    static_cast<uint64_t>(time.wMilliseconds) * 10000);
  return true;
}

bool UnpackPlatformLocalToUtc(const UNPACK_FILETIME& local, UNPACK_FILETIME* utc) {
  const time_t now = time(nullptr);
  struct tm parts;
  if (localtime_r(&now, &parts) == nullptr) return false;
  // tm_gmtoff: seconds east of UTC, daylight saving included.
  const int64_t biasTicks = static_cast<int64_t>(parts.tm_gmtoff) * 10000000;
  const int64_t ticks = static_cast<int64_t>(UnpackFileTimeToTicks(local)) - biasTicks;
  if (ticks < 0) return false;
  *utc = UnpackTicksToFileTime(static_cast<uint64_t>(ticks));
  return true;
}

const char* UnpackPlatformFindText(const char* text, const char* pattern) {
  return std::strstr(text, pattern);
}

bool UnpackPlatformUtf8ToAnsi(const char* utf8, char* out, size_t size) {
  const size_t length = std::strlen(utf8);
  if (length >= size) return false;
  std::memcpy(out, utf8, length + 1);
  return true;
}
