// UnpackSource: the bytes of an archive as the zip reader reads them, over
// the platform's file calls, handed to minizip as its file functions.
#ifndef UNZIP_UNPACK_SOURCE_H_
#define UNZIP_UNPACK_SOURCE_H_

#include <ioapi.h>

#include <cstdint>

#include "unzip/platform/platform.h"

// The largest piece the source reads from the file in one call.
const uint32_t kUnpackSourcePiece = 16384;

// minizip reads most fields a byte at a time, and a lookup alternates between
// the central directory and the local headers. The source therefore keeps two
// pieces of the file in memory (the least recently used one is refilled) and
// seeks only its own position; the file is read in pieces of at most
// kUnpackSourcePiece bytes.
struct UnpackSourcePiece {
  unsigned char bytes[kUnpackSourcePiece];
  uint64_t nOffset = 0;  // file position of bytes[0]
  uint32_t nLength = 0;  // valid bytes
  uint64_t nLastUse = 0;
};

struct UnpackSource {
  UnpackPlatformFile file = 0;
  bool bSeekable = false;  // the file position could be queried at open
  uint64_t nStart = 0;     // file position at which the archive starts
  bool bError = false;     // a read failed (as opposed to reaching the end)
  bool bOwnsFile = false;  // the source opened the file and closes it
  uint64_t nPosition = 0;  // the reader's file position
  UnpackSourcePiece pieces[2];
  uint64_t nUses = 0;
  bool bEndKnown = false;  // a short fill found the end of the file at nEnd
  uint64_t nEnd = 0;
};

// Opens path for reading into a new source (owned by the caller until the
// reader takes it). Null when the file cannot be opened.
UnpackSource* UnpackSourceOpen(const char* path);
// Closes the file if the source owns it and frees the source.
void UnpackSourceClose(UnpackSource* source);

// minizip's file functions over source. The reader's open hands source back
// as its stream; the reader's close closes and frees it.
void UnpackSourceFileFunctions(UnpackSource* source, zlib_filefunc64_def* functions);

// True when the source holds exactly an empty archive: an end-of-central-
// directory record at offset 0 with no entries, followed only by its comment.
// minizip cannot open this case (it takes offset 0 for "no record").
bool UnpackSourceIsEmptyArchive(UnpackSource* source);

// The entry count and the central directory's size from the end record the
// reader itself uses: the zip64 end record when a zip64 locator lies in the
// last 65535 bytes, else the last end-of-central-directory record there.
// False when neither can be read.
bool UnpackSourceReadEnd(UnpackSource* source, uint64_t* entries, uint64_t* directorySize);

// Number of reads the reader has made through any source of this process.
// Lets tests prove that a lookup did not touch the archive.
uint64_t UnpackSourceReadCount();
// Number of reads of archive files made by sources of this process.
uint64_t UnpackSourceFileReadCount();

#endif  // UNZIP_UNPACK_SOURCE_H_
