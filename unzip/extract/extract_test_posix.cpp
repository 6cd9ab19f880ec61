// A futimens that fails on request. The extraction links against this
// program's definition rather than the C library's.
#include <errno.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "unzip/extract/extract_test_platform.h"

namespace {

bool failTimes = false;

}  // namespace

bool FailTimesForTest(bool fail) {
  failTimes = fail;
  return true;
}

extern "C" int futimens(int fd, const struct timespec times[2]) {
  if (failTimes) {
    errno = EPERM;
    return -1;
  }
  return static_cast<int>(syscall(SYS_utimensat, fd, nullptr, times, 0));
}
