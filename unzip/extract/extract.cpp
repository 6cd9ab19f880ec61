// UnpackExtract: writes one entry of an open archive to the file system.
//
// A file entry is written into a new temporary file in its target's
// directory and moved over the target only once all of its data has been
// written and verified, so a damaged entry, a wrong password or a failed
// write never destroys a file that was there before.
//
// Relative targets are joined to the base directory and must stay inside it
// (extract_paths.h); the target itself may not be a link either. Absolute
// targets are the caller's choice and are not confined.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include <unzip.h>

#include "unzip/extract/entry_reader.h"
#include "unzip/extract/extract_paths.h"
#include "unzip/platform/file_system.h"
#include "unzip/unpack.h"
#include "unzip/archive/unpack_state.h"

namespace {

bool IsAbsolute(const char* path) {
  return FsIsSeparator(path[0]) || (path[0] != '\0' && path[1] == ':');
}

// An existing target that cannot be replaced: a link, a directory, a
// read-only file, or a hidden or system file that the new attributes would
// not keep so.
bool TargetIsProtected(const char* path, uint32_t newAttributes) {
  uint32_t existing = FsGetAttributes(path);
  if (existing == kFsMissing) return false;
  if (existing & (kFsLink | kUnpackAttrDirectory | kUnpackAttrReadOnly)) return true;
  if ((existing & kUnpackAttrHidden) && !(newAttributes & kUnpackAttrHidden)) return true;
  return (existing & kUnpackAttrSystem) && !(newAttributes & kUnpackAttrSystem);
}

UnpackResult ExtractDirectory(UnpackState* state, const char* target) {
  char full[kUnpackMaxPath];
  const bool made = IsAbsolute(target) ? UnpackCreateDirectories(target)
                                       : UnpackPrepareRelative(&state->knownPaths, state->szBaseDir,
                                                               target, true, full);
  return made ? UNPACK_OK : UNPACK_ERR_FILE;
}

// Reads the entry's data into file through the transfer buffer.
UnpackResult CopyEntryData(UnpackState* state, FsPendingFile* file) {
  UnpackEntryReader entry;
  UnpackEntryOpen(&entry, state->pReader, state->pszPassword);
  if (state->pTransfer == nullptr) {
    state->pTransfer = new (std::nothrow) unsigned char[kTransferBufferSize];
    if (state->pTransfer == nullptr) return UNPACK_ERR_READ;
  }
  for (;;) {
    bool complete = false;
    int n = UnpackEntryRead(&entry, state->pTransfer, kTransferBufferSize, &complete);
    if (n == kEntryReadWrongPassword) return UNPACK_ERR_PASSWORD;
    if (n < 0) return UNPACK_ERR_READ;
    if (n > 0 && !FsWrite(file, state->pTransfer, static_cast<uint32_t>(n))) {
      return UNPACK_ERR_WRITE;
    }
    if (complete) return UNPACK_OK;
    if (n == 0) return UNPACK_ERR_READ;
  }
}

UnpackResult ExtractFile(UnpackState* state, const UnpackEntryInfo& info, const char* target) {
  char full[kUnpackMaxPath];
  if (IsAbsolute(target)) {
    // Directory part: up to and including the last separator.
    const size_t split = FsDirectoryLength(target);
    char directory[kUnpackMaxPath];
    if (strlen(target) >= sizeof(full)) return UNPACK_ERR_FILE;
    memcpy(directory, target, split);
    directory[split] = '\0';
    memcpy(full, target, strlen(target) + 1);
    if (!UnpackCreateDirectories(directory)) return UNPACK_ERR_FILE;
  } else if (!UnpackPrepareRelative(&state->knownPaths, state->szBaseDir, target, false, full)) {
    return UNPACK_ERR_FILE;
  }

  if (TargetIsProtected(full, info.dwAttributes)) return UNPACK_ERR_FILE;
  FsPendingFile* file = FsCreatePending(full, info.dwAttributes, state->bWriteInPlace);
  if (file == nullptr && !IsAbsolute(target)) {
    // A directory known to exist may have gone since: look again once.
    UnpackForgetDirectories(&state->knownPaths);
    if (UnpackPrepareRelative(&state->knownPaths, state->szBaseDir, target, false, full)) {
      file = FsCreatePending(full, info.dwAttributes, state->bWriteInPlace);
    }
  }
  if (file == nullptr) return UNPACK_ERR_FILE;
  UnpackResult result = CopyEntryData(state, file);
  if (result != UNPACK_OK) {
    FsDiscard(file);
    return result;
  }
  if (!FsCommit(file, info.ftCreation, info.ftLastAccess, info.ftLastWrite)) {
    return UNPACK_ERR_FILE;
  }
  return UNPACK_OK;
}

UnpackResult Extract(UnpackState* state, int32_t index, const char* target) {
  UnpackCloseOpenEntry(state);
  if (target == nullptr || index < 0 || index >= UnpackEntryCount(state)) {
    return UNPACK_ERR_ARGS;
  }
  UnpackEntryInfo info;
  UnpackResult result = UnpackLookUp(state, index, &info);
  if (result != UNPACK_OK) return result;
  // The cache answers without moving the reader, which may stand elsewhere
  // (after a failed lookup of another index, say).
  result = UnpackWalkTo(state, index);
  if (result != UNPACK_OK) return result;
  if (info.dwAttributes & kUnpackAttrDirectory) return ExtractDirectory(state, target);
  return ExtractFile(state, info, target);
}

}  // namespace

UnpackResult UnpackExtract(UnpackHandle handle, int32_t index, const char* target) {
  UnpackState* state = nullptr;
  UnpackResult result = UnpackCheckHandle(handle, &state);
  if (result != UNPACK_OK) return result;
  result = Extract(state, index, target);
  UnpackLastResult = result;
  return result;
}
