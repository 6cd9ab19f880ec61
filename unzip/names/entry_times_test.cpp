#include "unzip/names/entry_times.h"

#include <gtest/gtest.h>

#include <string>

#include "testing/zip_builder.h"
#include "unzip/platform/platform.h"

namespace {

uint64_t Ticks(const UNPACK_FILETIME& t) {
  return UnpackFileTimeToTicks(t);
}

// The UTC ticks the zip layer must give for a local calendar time: the
// calendar arithmetic checked by hand constants below, then the platform's
// local-to-UTC rule.
uint64_t LocalToUtcTicks(uint64_t localTicks) {
  UNPACK_FILETIME utc;
  EXPECT_TRUE(UnpackPlatformLocalToUtc(UnpackTicksToFileTime(localTicks), &utc));
  return Ticks(utc);
}

TEST(EntryTimes, UnixSeconds) {
  EXPECT_EQ(Ticks(UnpackUnixSecondsToFileTime(0)), 116444736000000000ull);
  EXPECT_EQ(Ticks(UnpackUnixSecondsToFileTime(1)), 116444736010000000ull);
  EXPECT_EQ(Ticks(UnpackUnixSecondsToFileTime(-1)), 116444735990000000ull);
  // The extremes of a signed 32-bit time: 1901-12-13 and 2038-01-19.
  EXPECT_EQ(Ticks(UnpackUnixSecondsToFileTime(INT32_MIN)), 94969899520000000ull);
  EXPECT_EQ(Ticks(UnpackUnixSecondsToFileTime(INT32_MAX)), 137919572470000000ull);
}

TEST(EntryTimes, CalendarArithmetic) {
  struct Case {
    int year, month, day, hour, minute, second;
    int64_t unix;
  };
  const Case cases[] = {
      {1970, 1, 1, 0, 0, 0, 0},
      {1980, 1, 1, 0, 0, 0, 315532800},
      {2000, 2, 29, 23, 59, 58, 951868798},
      {2020, 6, 15, 12, 34, 56, 1592224496},
      {2107, 12, 31, 23, 59, 58, 4354819198ll},
      {1601, 1, 1, 0, 0, 0, -kUnpackUnixEpochSeconds},
  };
  for (const Case& c : cases) {
    int64_t seconds = 0;
    ASSERT_TRUE(
        UnpackCalendarToUnixSeconds(c.year, c.month, c.day, c.hour, c.minute, c.second, &seconds))
        << c.year << "-" << c.month << "-" << c.day;
    EXPECT_EQ(seconds, c.unix) << c.year << "-" << c.month << "-" << c.day;
  }
  int64_t seconds = 0;
  EXPECT_FALSE(UnpackCalendarToUnixSeconds(2001, 2, 29, 0, 0, 0, &seconds));
  EXPECT_FALSE(UnpackCalendarToUnixSeconds(1900, 2, 29, 0, 0, 0, &seconds));
  EXPECT_TRUE(UnpackCalendarToUnixSeconds(2000, 2, 29, 0, 0, 0, &seconds));
}

TEST(EntryTimes, DosStampIsLocalTimeConvertedToUtc) {
  const uint32_t stamp =
      (static_cast<uint32_t>(zipbuild::DosDate(2020, 6, 15)) << 16) | zipbuild::DosTime(12, 34, 56);
  EXPECT_EQ(Ticks(UnpackDosStampToFileTime(stamp)),
            LocalToUtcTicks(UnpackUnixSecondsToTicks(1592224496)));
}

TEST(EntryTimes, InvalidDosStampsGiveTheFixedTime) {
  const uint32_t invalid[] = {
      0,                                                              // all zero: month 0, day 0
      (uint32_t{zipbuild::DosDate(2020, 13, 1)} << 16),               // month 13
      (uint32_t{zipbuild::DosDate(2021, 2, 29)} << 16),               // no leap year
      (uint32_t{zipbuild::DosDate(2020, 4, 31)} << 16),               // April has 30 days
      (uint32_t{zipbuild::DosDate(2020, 1, 1)} << 16) | (24u << 11),  // hour 24
      (uint32_t{zipbuild::DosDate(2020, 1, 1)} << 16) | (60u << 5),   // minute 60
      (uint32_t{zipbuild::DosDate(2020, 1, 1)} << 16) | 30u,          // second 60
      0xFFFFFFFFu,
  };
  for (uint32_t stamp : invalid) {
    EXPECT_EQ(Ticks(UnpackDosStampToFileTime(stamp)), kUnpackInvalidDosTime) << std::hex << stamp;
  }
}

struct UtCase {
  const char* what;
  std::string extra;
  int32_t write, access, creation;  // Unix seconds; kDos for the DOS stamp
};

const int32_t kDos = INT32_MIN;

TEST(EntryTimes, ExtendedTimestampBlocks) {
  using zipbuild::ExtraBlock;
  using zipbuild::UtBlock;
  std::string truncatedUt = UtBlock(0x07, {100, 200, 300});
  truncatedUt.resize(truncatedUt.size() - 2);  // the field ends inside the third time

  const UtCase cases[] = {
      {"no extra field", "", kDos, kDos, kDos},
      {"other blocks only", ExtraBlock(0x7875, "abc") + ExtraBlock(0x000A, std::string(32, 'x')),
       kDos, kDos, kDos},
      {"write only", UtBlock(0x01, {1000}), 1000, kDos, kDos},
      {"all three in order", UtBlock(0x07, {1000, 2000, 3000}), 1000, 2000, 3000},
      {"access and creation", UtBlock(0x06, {2000, 3000}), kDos, 2000, 3000},
      {"negative time", UtBlock(0x01, {-86400}), -86400, kDos, kDos},
      {"after another block", ExtraBlock(0x7875, "uid") + UtBlock(0x01, {1000}), 1000, kDos, kDos},
      {"after a block longer than 255",
       ExtraBlock(0x000A, std::string(300, '\x55')) + UtBlock(0x01, {1000}), 1000, kDos, kDos},
      {"flags promise more than the block holds", UtBlock(0x07, {1000}), 1000, kDos, kDos},
      {"field ends inside the block", truncatedUt, 100, 200, kDos},
      {"only the first UT block counts", UtBlock(0x01, {1000}) + UtBlock(0x07, {5, 6, 7}), 1000,
       kDos, kDos},
      {"UT without data", ExtraBlock(0x5455, "") + UtBlock(0x01, {1000}), kDos, kDos, kDos},
      {"a block length past the field",
       ExtraBlock(0x000A, "") + std::string("\x55\x54\xFF\xFF\x01", 5), kDos, kDos, kDos},
  };
  const uint32_t stamp =
      (uint32_t{zipbuild::DosDate(2001, 2, 3)} << 16) | zipbuild::DosTime(4, 5, 6);
  const uint64_t dos = Ticks(UnpackDosStampToFileTime(stamp));
  auto expected = [dos](int32_t t) {
    return t == kDos ? dos : Ticks(UnpackUnixSecondsToFileTime(t));
  };
  for (const UtCase& c : cases) {
    UnpackEntryInfo info = {};
    UnpackSetEntryTimes(stamp, reinterpret_cast<const unsigned char*>(c.extra.data()),
                        c.extra.size(), &info);
    EXPECT_EQ(Ticks(info.ftLastWrite), expected(c.write)) << c.what;
    EXPECT_EQ(Ticks(info.ftLastAccess), expected(c.access)) << c.what;
    EXPECT_EQ(Ticks(info.ftCreation), expected(c.creation)) << c.what;
  }
}

}  // namespace
