// Local time follows TZ on POSIX: the DOS stamp is taken as local time of the
// zone in TZ. (Windows takes its zone from the system, not from TZ.)
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "testing/zip_builder.h"
#include "unzip/names/entry_times.h"

namespace {

class CZone {
 public:
  explicit CZone(const char* zone) {
    const char* old = std::getenv("TZ");
    m_hadOld = old != nullptr;
    if (m_hadOld) m_old = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~CZone() {
    if (m_hadOld) {
      setenv("TZ", m_old.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  bool m_hadOld = false;
  std::string m_old;
};

TEST(EntryTimesPosix, DosStampFollowsTz) {
  const uint32_t stamp =
      (uint32_t{zipbuild::DosDate(2020, 6, 15)} << 16) | zipbuild::DosTime(12, 34, 56);
  const int64_t utcNoon = 1592224496;  // 2020-06-15 12:34:56 UTC
  struct Case {
    const char* zone;
    int64_t offsetSeconds;  // local minus UTC
  };
  for (const Case& c : {Case{"UTC0", 0}, Case{"EST5", -5 * 3600}, Case{"IST-5:30", 19800},
                        Case{"JST-9", 9 * 3600}}) {
    CZone zone(c.zone);
    EXPECT_EQ(UnpackFileTimeToTicks(UnpackDosStampToFileTime(stamp)),
              UnpackUnixSecondsToTicks(utcNoon - c.offsetSeconds))
        << c.zone;
  }
}

}  // namespace
