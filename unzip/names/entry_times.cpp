#include "unzip/names/entry_times.h"

#include "unzip/archive/extra_field.h"
#include "unzip/platform/platform.h"

namespace {

const uint16_t kExtendedTimestampTag = 0x5455;  // "UT"

bool IsLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to the given date of the proleptic Gregorian calendar.
int64_t DaysFromEpoch(int year, int month, int day) {
  const int64_t y = month <= 2 ? year - 1 : year;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yearOfEra = y - era * 400;
  const int64_t monthFromMarch = month > 2 ? month - 3 : month + 9;
  const int64_t dayOfYear = (153 * monthFromMarch + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

}  // namespace

bool UnpackCalendarToUnixSeconds(int year, int month, int day, int hour, int minute, int second,
                                 int64_t* seconds) {
  if (year < 1601 || year > 30827 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month) || hour > 23 || minute > 59 || second > 59 || hour < 0 ||
      minute < 0 || second < 0) {
    return false;
  }
  *seconds = DaysFromEpoch(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
  return true;
}

UNPACK_FILETIME UnpackDosStampToFileTime(uint32_t dosStamp) {
  const uint16_t date = static_cast<uint16_t>(dosStamp >> 16);
  const uint16_t time = static_cast<uint16_t>(dosStamp & 0xFFFF);
  UnpackSystemTime system = {};
  system.wYear = static_cast<uint16_t>((date >> 9) + 1980);
  system.wMonth = (date >> 5) & 0x0F;
  system.wDay = date & 0x1F;
  system.wHour = time >> 11;
  system.wMinute = (time >> 5) & 0x3F;
  system.wSecond = static_cast<uint16_t>((time & 0x1F) * 2);

  // Both platforms must agree on what is a valid stamp, so the test is ours.
  int64_t ignored;
  UNPACK_FILETIME local;
  if (!UnpackCalendarToUnixSeconds(system.wYear, system.wMonth, system.wDay, system.wHour,
                                   system.wMinute, system.wSecond, &ignored) ||
      !UnpackPlatformSystemTimeToFileTime(system, &local)) {
    return UnpackTicksToFileTime(kUnpackInvalidDosTime);
  }
  UNPACK_FILETIME utc;
  if (!UnpackPlatformLocalToUtc(local, &utc)) return local;  // not reported
  return utc;
}

UNPACK_FILETIME UnpackUnixSecondsToFileTime(int32_t seconds) {
  return UnpackTicksToFileTime(UnpackUnixSecondsToTicks(seconds));
}

void UnpackSetEntryTimes(uint32_t dosStamp, const unsigned char* extra, size_t extraSize,
                         UnpackEntryInfo* info) {
  const UNPACK_FILETIME stamp = UnpackDosStampToFileTime(dosStamp);
  info->ftLastWrite = stamp;
  info->ftLastAccess = stamp;
  info->ftCreation = stamp;
  const unsigned char* block = nullptr;
  size_t length = 0;
  if (!UnpackFindExtraBlock(extra, extraSize, kExtendedTimestampTag, &block, &length) ||
      length == 0) {
    return;
  }
  const unsigned char flags = block[0];
  UNPACK_FILETIME* const targets[3] = {&info->ftLastWrite, &info->ftLastAccess, &info->ftCreation};
  size_t position = 1;
  for (int bit = 0; bit < 3; ++bit) {
    if ((flags & (1 << bit)) == 0) continue;
    if (position + 4 > length) return;
    *targets[bit] =
        UnpackUnixSecondsToFileTime(static_cast<int32_t>(UnpackRead32(block + position)));
    position += 4;
  }
}
