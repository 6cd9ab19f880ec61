// The zip extraction layer: plain functions over an opaque archive handle.
//
// Every public operation returns an UnpackResult and also stores it in the
// process-wide UnpackLastResult (UnpackOpen, which returns a handle, leaves
// its code only there).
//
// REQUIRES: one thread at a time; a handle is not safe for concurrent use and
// UnpackLastResult is one unsynchronised value for the whole process.
#ifndef UNZIP_UNPACK_H_
#define UNZIP_UNPACK_H_

#include <cstdint>

typedef uint32_t UnpackResult;

// Result codes: fixed values, not bit sets.
const UnpackResult UNPACK_OK = 0;
const UnpackResult UNPACK_ERR_FILE = 0x200;  // archive or target file unusable
// The walk to an entry stopped at a damaged central-directory record, or the
// entry's central-directory record could not be read.
const UnpackResult UNPACK_ERR_DIRECTORY = 0x300;
const UnpackResult UNPACK_ERR_WRITE = 0x400;         // writing extracted data failed
const UnpackResult UNPACK_ERR_MORE = 0x600;          // reserved (extraction into memory)
const UnpackResult UNPACK_ERR_LOCAL_HEADER = 0x700;  // local header unreadable or disagrees
const UnpackResult UNPACK_ERR_EXTRA_FIELD = 0x800;   // local extra field cannot be read
// The stored name has 260 bytes or more: it does not fit szName, and a cut
// name could address another file, so the entry is refused.
const UnpackResult UNPACK_ERR_NAME_TOO_LONG = 0x900;
// The entry's local header or data shares bytes with another entry's.
const UnpackResult UNPACK_ERR_OVERLAP = 0xA00;
// A UTF-8 name holds a character the ANSI code page cannot represent.
const UnpackResult UNPACK_ERR_NAME_ENCODING = 0xB00;
const UnpackResult UNPACK_ERR_PASSWORD = 0x1000;      // encryption check byte mismatch
const UnpackResult UNPACK_ERR_ARGS = 0x10000;         // no handle, or index out of range
const UnpackResult UNPACK_ERR_HANDLE_KIND = 0x80000;  // handle kind tag is not a reader
const UnpackResult UNPACK_ERR_BUSY = 0x1000000;       // reserved (open file handle / memory)
const UnpackResult UNPACK_ERR_SEEK = 0x2000000;       // reserved (unseekable file handle)
const UnpackResult UNPACK_ERR_READ = 0x5000000;       // entry data unreadable or corrupt

// The platform's FILETIME: 100-nanosecond ticks since 1601-01-01 UTC.
struct UNPACK_FILETIME {
  uint32_t dwLowDateTime;
  uint32_t dwHighDateTime;
};

const int kUnpackMaxPath = 260;  // bytes, terminator included

// Bits of UnpackEntryInfo::dwAttributes (the platform's file attributes).
const uint32_t kUnpackAttrReadOnly = 0x01;
const uint32_t kUnpackAttrHidden = 0x02;
const uint32_t kUnpackAttrSystem = 0x04;
const uint32_t kUnpackAttrDirectory = 0x10;
const uint32_t kUnpackAttrArchive = 0x20;

// One archive entry, filled by UnpackGetEntry into the caller's memory.
struct UnpackEntryInfo {
  int32_t nIndex;               // entry index; the entry count for index -1
  char szName[kUnpackMaxPath];  // cleaned name, NUL-terminated, bytes as stored
  uint32_t dwAttributes;        // 0x01 read-only, 0x02 hidden, 0x04 system,
                                // 0x10 directory, 0x20 archive
  UNPACK_FILETIME ftLastAccess;
  UNPACK_FILETIME ftCreation;
  UNPACK_FILETIME ftLastWrite;
  uint32_t nPackedSize;
  uint32_t nUnpackedSize;
};

const uint32_t UNPACK_HANDLE_READER = 1;

struct UnpackState;
struct UnpackHandleRecord {
  uint32_t nKind;       // UNPACK_HANDLE_READER
  UnpackState* pState;  // owned
};
typedef UnpackHandleRecord* UnpackHandle;

extern UnpackResult UnpackLastResult;

// Opens the archive at path (process code page). password may be null; an
// empty password is kept as such. Null on failure (code in UnpackLastResult).
UnpackHandle UnpackOpen(const char* path, const char* password);
// Sets the directory below which relative targets are written.
UnpackResult UnpackSetBaseDir(UnpackHandle handle, const char* directory);
// With inPlace non-zero, a file entry whose target does not exist yet is
// written under the target's own name instead of a temporary one (no good
// file can be lost, and a rename is saved); a failed entry's file is removed
// all the same, but while it is written the name is visible. For callers
// whose targets nobody reads until they are done, such as the updater's
// staging folder. Off when the handle is opened.
UnpackResult UnpackSetWriteInPlace(UnpackHandle handle, int32_t inPlace);
// Describes entry index into *info; index -1 asks for the entry count.
UnpackResult UnpackGetEntry(UnpackHandle handle, int32_t index, UnpackEntryInfo* info);
// The uncompressed size of entry index in full: a Zip64 entry's may exceed
// the 32 bits of UnpackEntryInfo::nUnpackedSize. Looks the entry up as
// UnpackGetEntry does (with its failures); *size is 0 on failure.
UnpackResult UnpackGetUnpackedSize(UnpackHandle handle, int32_t index, uint64_t* size);
// Writes entry index to target (relative to the base directory, or absolute).
UnpackResult UnpackExtract(UnpackHandle handle, int32_t index, const char* target);
// Closes the archive and frees the handle; answers UnpackLastResult.
UnpackResult UnpackClose(UnpackHandle handle);

#endif  // UNZIP_UNPACK_H_
