// The file-system operations of the extraction: existence and attribute
// tests, directory creation, canonical paths, and files that are written
// under a temporary name and then moved over their target in one step.
// file_system_win32.cpp and file_system_posix.cpp implement it.
//
// Paths are NUL-terminated texts in the process code page; '/' and '\' are
// both separators (the POSIX side turns '\' into '/'). Every search for a
// separator steps over the double-byte characters of that code page (the
// ANSI code page on Windows, UTF-8 natively), so the trail byte 0x5C of a
// character such as 0x81 0x5C is never taken for a '\'.
#ifndef UNZIP_FILE_SYSTEM_H_
#define UNZIP_FILE_SYSTEM_H_

#include <cstddef>
#include <cstdint>

#include "unzip/unpack.h"

bool FsIsSeparator(char c);
// Whether byte starts a double-byte character of the process code page.
bool FsIsLeadByte(unsigned char byte);
// The character after the one at p (which is not the terminator).
const char* FsNextCharacter(const char* p);
// The length of path's directory part: up to and including its last
// separator; 0 when it has none.
size_t FsDirectoryLength(const char* path);
// Whether the last character of path is a separator.
bool FsEndsWithSeparator(const char* path);
// Removes trailing separators.
void FsTrimSeparators(char* path);

// Attributes use the kUnpackAttr bits of unpack.h, and kFsLink.
const uint32_t kFsMissing = 0xFFFFFFFF;  // nothing there, or the test failed
// A symbolic link (POSIX), or a junction or other reparse point (Windows).
const uint32_t kFsLink = 0x400;

// The attributes of what is at path itself (a link is not followed), or
// kFsMissing. POSIX reports only kFsLink, kUnpackAttrDirectory,
// kUnpackAttrReadOnly (owner write bit clear) and kUnpackAttrArchive.
uint32_t FsGetAttributes(const char* path);

// Creates one directory; false when it cannot be created (also when
// something already exists there).
bool FsCreateDirectory(const char* path);

// The canonical absolute form of path, resolved lexically ("." and ".."
// segments removed, separators unified) without consulting links. False when
// it does not fit size bytes with the terminator.
bool FsFullPath(const char* path, char* out, size_t size);

// The byte by which FsFullPath separates components.
char FsSeparator();

// A new file beside its target, written and then moved over the target.
struct FsPendingFile;

// Creates a new, empty temporary file in target's directory, with the given
// attributes (read-only included; writing through the returned file still
// works). Null when it cannot be created. With inPlace, a target that does
// not exist yet is itself created (exclusively) and written under its own
// name: there is no good file to keep, and FsCommit then renames nothing.
FsPendingFile* FsCreatePending(const char* target, uint32_t attributes, bool inPlace = false);

// Writes size bytes; false on failure.
bool FsWrite(FsPendingFile* file, const void* data, uint32_t size);

// Sets the three times, closes the file and moves it over its target in one
// replacing rename (unless it was created in place); on Windows the times are
// set again on a renamed file's final name.
// False when the target cannot be replaced (a directory; on Windows also a
// read-only file or a file in use; POSIX leaves refusing a read-only target to
// the caller); the temporary file is then removed and the target stays as it
// was. Times that cannot be set are not a failure: the data is kept.
// Frees file in every case. POSIX keeps no settable creation time: creation
// is ignored there.
bool FsCommit(FsPendingFile* file, const UNPACK_FILETIME& creation,
              const UNPACK_FILETIME& lastAccess, const UNPACK_FILETIME& lastWrite);

// Closes and removes the temporary file and frees file. Null is allowed.
void FsDiscard(FsPendingFile* file);

// Bytes free to this process on the volume that holds path, or would hold
// it: a path that does not exist yet is measured at its nearest existing
// parent. False when nothing on the way can be measured.
bool FsFreeSpace(const char* path, uint64_t* bytes);
// For the implementations: the same for an existing directory only.
bool FsVolumeFreeSpace(const char* directory, uint64_t* bytes);

// For the implementations: the name of temporary file number attempt beside
// target, "~u" and four hex digits in target's directory. False when it does
// not fit size bytes with the terminator.
bool FsTemporaryName(const char* target, uint32_t attempt, char* out, size_t size);
const uint32_t kFsTemporaryAttempts = 64;

#endif  // UNZIP_FILE_SYSTEM_H_
