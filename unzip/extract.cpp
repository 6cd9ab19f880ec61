// UnpackExtract: writes one entry of an open archive to the file system.
//
// A file entry is written into a new temporary file in its target's
// directory and moved over the target only once all of its data has been
// written and verified, so a damaged entry, a wrong password or a failed
// write never destroys a file that was there before.
//
// Relative targets are joined to the base directory and must stay inside it:
// the canonical joined path (and every directory created on the way) has to
// lie below the canonical base on a component boundary. Absolute targets are
// the caller's choice and are not confined.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include <unzip.h>

#include "unzip/entry_reader.h"
#include "unzip/file_system.h"
#include "unzip/unpack.h"
#include "unzip/unpack_state.h"

namespace {

bool IsSeparator(char c) {
  return c == '/' || c == '\\';
}

bool IsAbsolute(const char* path) {
  return IsSeparator(path[0]) || (path[0] != '\0' && path[1] == ':');
}

// Joins up to three pieces into out (kUnpackMaxPath bytes); false when the
// result does not fit.
bool JoinPath(char* out, const char* a, const char* b, const char* c = "") {
  int n = snprintf(out, kUnpackMaxPath, "%s%s%s", a, b, c);
  return n >= 0 && n < kUnpackMaxPath;
}

// The canonical base directory without trailing separators, against which
// relative targets are confined.
struct Confinement {
  char szBase[kUnpackMaxPath];
};

void TrimSeparators(char* path) {
  size_t n = strlen(path);
  while (n > 0 && IsSeparator(path[n - 1])) path[--n] = '\0';
}

bool MakeConfinement(const char* base, Confinement* confinement) {
  if (!FsFullPath(base, confinement->szBase, sizeof(confinement->szBase))) return false;
  TrimSeparators(confinement->szBase);
  return true;
}

// True when path resolves below the base (or to the base itself, when
// allowBase is set).
bool StaysInside(const Confinement& confinement, const char* path, bool allowBase) {
  char canonical[kUnpackMaxPath];
  if (!FsFullPath(path, canonical, sizeof(canonical))) return false;
  TrimSeparators(canonical);
  size_t n = strlen(confinement.szBase);
  if (strncmp(canonical, confinement.szBase, n) != 0) return false;
  if (canonical[n] == FsSeparator()) return true;
  return allowBase && canonical[n] == '\0';
}

// Creates base when missing, then every directory of path below it,
// outermost first, each only when the existence test reports it missing.
// With a confinement, a directory that would lie outside the base is not
// created. A joined path that does not fit is skipped; the later creation of
// the file then fails.
void CreateDirectoryChain(const char* base, const char* path, const Confinement* confinement) {
  if (base != nullptr && FsGetAttributes(base) == kFsMissing) FsCreateDirectory(base);
  if (path[0] == '\0') return;
  size_t last = 0;
  bool found = false;
  for (size_t i = 0; path[i] != '\0'; ++i) {
    if (IsSeparator(path[i])) {
      last = i;
      found = true;
    }
  }
  if (found && last > 0) {
    char parent[kUnpackMaxPath];
    if (last < sizeof(parent)) {
      memcpy(parent, path, last);
      parent[last] = '\0';
      CreateDirectoryChain(base, parent, confinement);
    }
  }
  char joined[kUnpackMaxPath];
  if (!JoinPath(joined, base != nullptr ? base : "", path)) return;
  if (confinement != nullptr && !StaysInside(*confinement, joined, true)) return;
  if (FsGetAttributes(joined) == kFsMissing) FsCreateDirectory(joined);
}

// An existing target that cannot be replaced: a directory, a read-only file,
// or a hidden or system file that the new attributes would not keep so.
bool TargetIsProtected(const char* path, uint32_t newAttributes) {
  uint32_t existing = FsGetAttributes(path);
  if (existing == kFsMissing) return false;
  if (existing & (kUnpackAttrDirectory | kUnpackAttrReadOnly)) return true;
  if ((existing & kUnpackAttrHidden) && !(newAttributes & kUnpackAttrHidden)) return true;
  return (existing & kUnpackAttrSystem) && !(newAttributes & kUnpackAttrSystem);
}

UnpackResult ExtractDirectory(UnpackState* state, const char* target) {
  if (IsAbsolute(target)) {
    CreateDirectoryChain(nullptr, target, nullptr);
    return UNPACK_OK;
  }
  char joined[kUnpackMaxPath];
  Confinement confinement;
  if (!JoinPath(joined, state->szBaseDir, target) ||
      !MakeConfinement(state->szBaseDir, &confinement) || !StaysInside(confinement, joined, true)) {
    return UNPACK_ERR_FILE;
  }
  CreateDirectoryChain(state->szBaseDir, target, &confinement);
  return UNPACK_OK;
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
  // Directory part: up to and including the last separator.
  size_t split = 0;
  for (size_t i = 0; target[i] != '\0'; ++i) {
    if (IsSeparator(target[i])) split = i + 1;
  }
  char directory[kUnpackMaxPath];
  if (split >= sizeof(directory)) return UNPACK_ERR_FILE;
  memcpy(directory, target, split);
  directory[split] = '\0';
  const char* name = target + split;

  char full[kUnpackMaxPath];
  if (IsAbsolute(directory)) {
    if (!JoinPath(full, directory, name)) return UNPACK_ERR_FILE;
    CreateDirectoryChain(nullptr, directory, nullptr);
  } else {
    Confinement confinement;
    if (!JoinPath(full, state->szBaseDir, directory, name) ||
        !MakeConfinement(state->szBaseDir, &confinement) ||
        !StaysInside(confinement, full, false)) {
      return UNPACK_ERR_FILE;
    }
    CreateDirectoryChain(state->szBaseDir, directory, &confinement);
  }

  if (TargetIsProtected(full, info.dwAttributes)) return UNPACK_ERR_FILE;
  FsPendingFile* file = FsCreatePending(full, info.dwAttributes);
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
