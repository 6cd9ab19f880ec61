// Names as the install folder's file system sees them: the UTF-16 form of an
// ANSI name, compared without case the way Windows compares file names
// (letters of every script, not only ASCII), with the trailing dots and
// spaces that Windows drops from a name dropped too. Two names that compare
// equal here open one file.
//
// The conversion and the comparison are the platform's (file_names_win32.cpp
// or file_names_posix.cpp, picked by CMake); natively the ANSI code page is
// UTF-8 and case is folded by the Unicode simple upper-case mapping.
#ifndef UPDATER_INSTALL_FILE_NAMES_H_
#define UPDATER_INSTALL_FILE_NAMES_H_

#include <cstddef>
#include <vector>

// UTF-16 code units, without terminator.
typedef std::vector<char16_t> FsName;

// name (NUL-terminated, process code page) as the file system converts it:
// bytes that are no valid text become a replacement character, never an
// error, as they do when the file is created.
FsName ToFsName(const char* name);

// <0, 0 or >0 as a sorts before, equals or sorts after b when case is
// ignored as the file system ignores it; a total order.
int CompareFsNames(const char16_t* a, size_t aLength, const char16_t* b, size_t bLength);

// One component of a path: its text as written, and how much of it the file
// system keeps (trailing dots and spaces dropped).
struct FsNameComponent {
  FsName text;
  size_t kept = 0;
};

// The components of path, split at '/' and '\' after the conversion (so the
// trail byte of a double-byte character is never taken for a separator);
// empty and "." components are left out, and ".." takes the one before it
// away.
std::vector<FsNameComponent> FsPathComponents(const char* path);

#endif  // UPDATER_INSTALL_FILE_NAMES_H_
