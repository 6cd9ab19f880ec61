// The file-system operations of the extraction: existence and attribute
// tests, directory creation, canonical paths, and files that are written
// under a temporary name and then moved over their target in one step.
// file_system_win32.cpp and file_system_posix.cpp implement it.
//
// Paths are NUL-terminated texts in the process code page; '/' and '\' are
// both separators (the POSIX side turns '\' into '/').
#ifndef UNZIP_FILE_SYSTEM_H_
#define UNZIP_FILE_SYSTEM_H_

#include <cstddef>
#include <cstdint>

#include "unzip/unpack.h"

// Attributes use the kUnpackAttr bits of unpack.h.
const uint32_t kFsMissing = 0xFFFFFFFF;  // nothing there, or the test failed

// The attributes of what is at path, or kFsMissing. POSIX reports only
// kUnpackAttrDirectory, kUnpackAttrReadOnly (owner write bit clear) and kUnpackAttrArchive.
uint32_t FsGetAttributes(const char* path);

// Creates one directory; the result is not reported.
void FsCreateDirectory(const char* path);

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
// works). Null when it cannot be created.
FsPendingFile* FsCreatePending(const char* target, uint32_t attributes);

// Writes size bytes; false on failure.
bool FsWrite(FsPendingFile* file, const void* data, uint32_t size);

// Sets the three times, closes the file and moves it over its target in one
// replacing rename. False when the target cannot be replaced (a directory,
// a read-only file, a file in use); the temporary file is then removed and
// the target stays as it was. Frees file in every case. POSIX keeps no
// settable creation time: creation is ignored there.
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
