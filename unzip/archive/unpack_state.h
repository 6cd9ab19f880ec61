// The state behind an archive handle, shared by the directory (open, lookup,
// close) and the extraction. Internal to the zip layer.
#ifndef UNZIP_UNPACK_STATE_H_
#define UNZIP_UNPACK_STATE_H_

#include <cstddef>
#include <cstdint>

#include "unzip/extract/extract_paths.h"
#include "unzip/unpack.h"

const size_t kTransferBufferSize = 16384;

// pReader stays null for an archive with no entries (the reader cannot open
// one); with an entry count of 0 no operation reaches the reader.
struct UnpackState {
  void* pReader = nullptr;          // minizip unzFile, owned
  int32_t nOpenEntry = -1;          // entry whose data is open between calls, -1 none
  UnpackEntryInfo cacheEntry = {};  // last record built in full
  int32_t nCacheIndex = -1;         // index of cacheEntry, -1 while empty
  uint64_t nCacheUnpackedSize = 0;  // cacheEntry's uncompressed size in full
  // First index the walk could not reach (a damaged central record stops
  // it); lookups at or beyond it fail at once instead of walking again.
  // INT32_MAX while no walk has failed.
  int32_t nUnreachable = INT32_MAX;
  // One flag per entry (owned, new[]), set at open for an entry whose local
  // header or data shares bytes with another entry's; such entries are refused.
  bool* pOverlapping = nullptr;
  char* pszPassword = nullptr;          // owned copy, null when none was given
  unsigned char* pTransfer = nullptr;   // owned (new[]), kTransferBufferSize bytes once used
  char szBaseDir[kUnpackMaxPath] = {};  // always ends in a separator once set
  bool bWriteInPlace = false;           // UnpackSetWriteInPlace
  UnpackKnownPaths knownPaths;          // what the extraction learnt below szBaseDir
};

// Checks the handle (UNPACK_ERR_ARGS, then UNPACK_ERR_HANDLE_KIND), stores
// the code in UnpackLastResult on failure, and gives the state on success.
UnpackResult UnpackCheckHandle(UnpackHandle handle, UnpackState** state);

// Closes the entry left open between calls, if any.
void UnpackCloseOpenEntry(UnpackState* state);

// Looks entry index (0 <= index < count) up: walks the reader to it, checks
// its local header and builds the record, or copies the cached one. Leaves
// the reader positioned at the entry. Does not touch UnpackLastResult.
// Failures: UNPACK_ERR_DIRECTORY, UNPACK_ERR_NAME_TOO_LONG,
// UNPACK_ERR_LOCAL_HEADER, UNPACK_ERR_EXTRA_FIELD; *info is then untouched.
UnpackResult UnpackLookUp(UnpackState* state, int32_t index, UnpackEntryInfo* info);

// Makes entry index the reader's current entry, reading nothing when it
// already is. UNPACK_ERR_DIRECTORY when a damaged record stops the walk.
UnpackResult UnpackWalkTo(UnpackState* state, int32_t index);

// The number of entries in the archive (0 without a reader).
int32_t UnpackEntryCount(UnpackState* state);

#endif  // UNZIP_UNPACK_STATE_H_
