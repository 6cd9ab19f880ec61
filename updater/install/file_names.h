// Names as the install folder's file system sees them: the UTF-16 form of an
// ANSI name, compared without case the way Windows compares file names
// (letters of every script, not only ASCII), with "." and ".." resolved and
// the trailing dots and spaces that Windows drops from a name dropped too.
// Two paths whose kept forms compare equal here open one file.
//
// The conversion and the comparison are the platform's (file_names_win32.cpp
// or file_names_posix.cpp, picked by CMake); natively the ANSI code page is
// UTF-8 and case is folded by the Unicode simple upper-case mapping.
#ifndef UPDATER_INSTALL_FILE_NAMES_H_
#define UPDATER_INSTALL_FILE_NAMES_H_

#include <cstddef>
#include <cstdint>

// UTF-16 units of a path below the folder, terminator included; a cleaned
// entry name (at most 259 bytes) always fits.
const size_t kFsPathUnits = 260;

// Converts name (NUL-terminated, process code page) as the file system does
// when it creates the file: bytes that are no valid text become a
// replacement character, never an error. Writes at most size units, no
// terminator; answers how many (0 when the name does not fit).
size_t ToFsName(const char* name, char16_t* out, size_t size);

// <0, 0 or >0 as a sorts before, equals or sorts after b when case is
// ignored as the file system ignores it; a total order.
int CompareFsNames(const char16_t* a, size_t aLength, const char16_t* b, size_t bLength);

// A path split into its components, split at '/' and '\' after the
// conversion (so the trail byte of a double-byte character is never taken
// for a separator). Empty and "." components are left out; ".." takes the
// one before it away.
struct FsPath {
  char16_t written[kFsPathUnits];     // the components as written, '/' between
  char16_t kept[kFsPathUnits];        // each without trailing dots and spaces
  uint16_t writtenEnd[kFsPathUnits];  // where component i ends in written
  uint16_t keptEnd[kFsPathUnits];     // and in kept
  size_t count = 0;                   // components
};

void ToFsPath(const char* name, FsPath* path);
// The same for size bytes of UTF-8 (a release record's path), whatever the
// code page: bytes that are no UTF-8 become a replacement character.
void Utf8ToFsPath(const char* text, size_t size, FsPath* path);

// Converts size bytes of UTF-8 to UTF-16 as ToFsName does; portable.
size_t Utf8ToFsName(const char* text, size_t size, char16_t* out, size_t capacity);

#endif  // UPDATER_INSTALL_FILE_NAMES_H_
