// The platform operations the zip layer reads an archive with. CMake links
// exactly one implementation: platform_win32.cpp (the Win32 calls) or
// platform_posix.cpp (POSIX files, local time by TZ, UTF-8 as the ANSI code
// page, searched byte by byte).
#ifndef UNZIP_PLATFORM_H_
#define UNZIP_PLATFORM_H_

#include <cstddef>
#include <cstdint>

#include "unzip/unpack.h"

// An open file: a Win32 HANDLE or a POSIX descriptor.
typedef intptr_t UnpackPlatformFile;

enum UnpackSeekOrigin { UNPACK_SEEK_BEGIN, UNPACK_SEEK_CURRENT, UNPACK_SEEK_END };

// The platform's SYSTEMTIME.
struct UnpackSystemTime {
  uint16_t wYear;
  uint16_t wMonth;
  uint16_t wDayOfWeek;  // ignored by the conversion
  uint16_t wDay;
  uint16_t wHour;
  uint16_t wMinute;
  uint16_t wSecond;
  uint16_t wMilliseconds;
};

// Opens an existing file for reading; other readers may share it, writers
// may not (where the platform can say so). False when it cannot be opened.
bool UnpackPlatformOpenForRead(const char* path, UnpackPlatformFile* file);
// Moves the file position; gives the new position from the file's start.
// False when the file cannot seek or the position would be negative.
bool UnpackPlatformSeek(UnpackPlatformFile file, int64_t distance, UnpackSeekOrigin origin,
                        uint64_t* position);
// Reads up to size bytes; *done is the count read (0 at the end of the file).
// False when the read fails.
bool UnpackPlatformRead(UnpackPlatformFile file, void* buffer, uint32_t size, uint32_t* done);
void UnpackPlatformClose(UnpackPlatformFile file);

// The current directory, NUL-terminated, without a trailing separator except
// at a root. False when it does not fit size bytes.
bool UnpackPlatformCurrentDirectory(char* buffer, size_t size);

// Calendar time to FILETIME; false for a time that is no valid date.
bool UnpackPlatformSystemTimeToFileTime(const UnpackSystemTime& time, UNPACK_FILETIME* fileTime);
// A local FILETIME to UTC by the local-time rules in force now (the bias of
// the current moment, as the Win32 call applies it, not that of the date).
bool UnpackPlatformLocalToUtc(const UNPACK_FILETIME& local, UNPACK_FILETIME* utc);

// First occurrence of pattern in text, stepping over double-byte characters
// of the process code page (a trail byte never starts a match); null when
// there is none.
const char* UnpackPlatformFindText(const char* text, const char* pattern);

// Converts a NUL-terminated UTF-8 text into the ANSI code page, into out
// (size bytes, NUL-terminated). False when the text is no valid UTF-8, holds a
// character that the code page has no exact counterpart for (no look-alike
// is ever substituted), or does not fit. Where the ANSI code page is UTF-8
// the text is copied unchanged.
bool UnpackPlatformUtf8ToAnsi(const char* utf8, char* out, size_t size);

#endif  // UNZIP_PLATFORM_H_
