// The three times of an entry record: the DOS stamp of the central record
// read as local time, replaced time by time from the first "UT" (extended
// timestamp) block of the local extra field.
#ifndef UNZIP_ENTRY_TIMES_H_
#define UNZIP_ENTRY_TIMES_H_

#include <cstddef>
#include <cstdint>

#include "unzip/unpack.h"

// 1980-01-01 00:00:00 UTC: the time of an entry whose DOS stamp is no valid
// date (an all-zero stamp included). Not adjusted for the local time zone.
const uint64_t kUnpackInvalidDosTime = 119600064000000000ull;

// Seconds from 1601-01-01 to 1970-01-01.
const int64_t kUnpackUnixEpochSeconds = 11644473600ll;

// The DOS stamp (date in the high 16 bits, time in the low 16) as local time,
// converted to UTC. A stamp that is no valid calendar time gives
// kUnpackInvalidDosTime.
UNPACK_FILETIME UnpackDosStampToFileTime(uint32_t dosStamp);

// Signed Unix seconds to FILETIME: (t + 11644473600) * 10000000.
UNPACK_FILETIME UnpackUnixSecondsToFileTime(int32_t seconds);

// Sets ftLastWrite, ftLastAccess and ftCreation of *info: all three from the
// DOS stamp, then each time present in the first "UT" block of the local
// extra field (extraSize bytes). Times the block's flags promise but its data
// does not hold keep the DOS-stamp value.
void UnpackSetEntryTimes(uint32_t dosStamp, const unsigned char* extra, size_t extraSize,
                         UnpackEntryInfo* info);

// Calendar arithmetic shared with the POSIX platform code.
// False unless month 1-12, day within the month, hour < 24, minute < 60,
// second < 60 and year 1601-30827.
bool UnpackCalendarToUnixSeconds(int year, int month, int day, int hour, int minute, int second,
                                 int64_t* seconds);
inline uint64_t UnpackUnixSecondsToTicks(int64_t seconds) {
  return static_cast<uint64_t>(seconds + kUnpackUnixEpochSeconds) * 10000000ull;
}
inline UNPACK_FILETIME UnpackTicksToFileTime(uint64_t ticks) {
  return UNPACK_FILETIME{static_cast<uint32_t>(ticks & 0xFFFFFFFF),
                         static_cast<uint32_t>(ticks >> 32)};
}
inline uint64_t UnpackFileTimeToTicks(const UNPACK_FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

#endif  // UNZIP_ENTRY_TIMES_H_
