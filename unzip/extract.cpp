// UnpackExtract: writes one entry of an open archive to the file system.
//
// A file entry is written into a new temporary file in its target's
// directory and moved over the target only once all of its data has been
// written and verified, so a damaged entry, a wrong password or a failed
// write never destroys a file that was there before.
//
// Relative targets are joined to the base directory and must stay inside it:
// they may hold no ".." component, the canonical joined path has to lie below
// the canonical base on a component boundary, and no existing component below
// the base may be a link (a symbolic link, a junction or another reparse
// point), which would lead elsewhere. Absolute targets are the caller's
// choice and are not confined.
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

bool IsAbsolute(const char* path) {
  return FsIsSeparator(path[0]) || (path[0] != '\0' && path[1] == ':');
}

// Joins up to three pieces into out (kUnpackMaxPath bytes); false when the
// result does not fit.
bool JoinPath(char* out, const char* a, const char* b, const char* c = "") {
  int n = snprintf(out, kUnpackMaxPath, "%s%s%s", a, b, c);
  return n >= 0 && n < kUnpackMaxPath;
}

// Calls visit(end) for every component of path, with end the index just past
// the component; empty components are skipped. Stops when visit answers
// false, and answers that.
template <typename Visit>
bool ForEachComponent(const char* path, Visit visit) {
  const char* start = path;
  for (;;) {
    const char* end = start;
    while (*end != '\0' && !FsIsSeparator(*end)) end = FsNextCharacter(end);
    if (end > start && !visit(static_cast<size_t>(start - path), static_cast<size_t>(end - path))) {
      return false;
    }
    if (*end == '\0') return true;
    start = end + 1;
  }
}

// A ".." component: the target would be resolved by the system, which
// follows links, rather than by our text comparison.
bool HasParentComponent(const char* path) {
  return !ForEachComponent(path, [path](size_t start, size_t end) {
    return !(end - start == 2 && path[start] == '.' && path[start + 1] == '.');
  });
}

// True when the canonical form of path lies below the canonical base (or is
// the base itself, when allowBase is set), on a component boundary.
bool StaysInside(const char* base, const char* path, bool allowBase) {
  char canonicalBase[kUnpackMaxPath];
  char canonical[kUnpackMaxPath];
  if (!FsFullPath(base, canonicalBase, sizeof(canonicalBase)) ||
      !FsFullPath(path, canonical, sizeof(canonical))) {
    return false;
  }
  FsTrimSeparators(canonicalBase);
  FsTrimSeparators(canonical);
  // Both trimmed on character boundaries: equal bytes up to n mean that
  // canonical[n] starts a character.
  size_t n = strlen(canonicalBase);
  if (strncmp(canonical, canonicalBase, n) != 0) return false;
  if (canonical[n] == FsSeparator()) return true;
  return allowBase && canonical[n] == '\0';
}

// True when an existing component of relative below base is a link (or a
// reparse point): the system would follow it out of the base.
bool PassesThroughLink(const char* base, const char* relative) {
  return !ForEachComponent(relative, [base, relative](size_t, size_t end) {
    char prefix[kUnpackMaxPath];
    int n = snprintf(prefix, sizeof(prefix), "%s%.*s", base, static_cast<int>(end), relative);
    if (n < 0 || n >= kUnpackMaxPath) return false;
    const uint32_t attributes = FsGetAttributes(prefix);
    if (attributes == kFsMissing) return true;  // nothing deeper exists either
    return (attributes & kFsLink) == 0;
  });
}

// Creates base when missing, then every missing directory of path below it
// (or from the root, without a base), outermost first. True when base and
// path then exist as directories; a directory that could not be created
// makes it false.
bool CreateDirectoryChain(const char* base, const char* path) {
  if (base != nullptr && FsGetAttributes(base) == kFsMissing) FsCreateDirectory(base);
  const char* prefixBase = base != nullptr ? base : "";
  bool fits = ForEachComponent(path, [prefixBase, path](size_t, size_t end) {
    char joined[kUnpackMaxPath];
    int n = snprintf(joined, sizeof(joined), "%s%.*s", prefixBase, static_cast<int>(end), path);
    if (n < 0 || n >= kUnpackMaxPath) return false;
    // A drive or share root cannot be created; only the end result counts.
    if (FsGetAttributes(joined) == kFsMissing) FsCreateDirectory(joined);
    return true;
  });
  char whole[kUnpackMaxPath];
  if (!fits || !JoinPath(whole, prefixBase, path)) return false;
  const uint32_t attributes = FsGetAttributes(whole[0] != '\0' ? whole : ".");
  return attributes != kFsMissing && (attributes & kUnpackAttrDirectory) != 0;
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

// Checks a relative target against the base before anything is created: no
// ".." component, inside the base, through no link. joined receives base and
// target joined.
bool AcceptRelative(const UnpackState* state, const char* target, bool isDirectory, char* joined) {
  return !HasParentComponent(target) && JoinPath(joined, state->szBaseDir, target) &&
         StaysInside(state->szBaseDir, joined, isDirectory) &&
         !PassesThroughLink(state->szBaseDir, target);
}

UnpackResult ExtractDirectory(UnpackState* state, const char* target) {
  if (IsAbsolute(target)) {
    return CreateDirectoryChain(nullptr, target) ? UNPACK_OK : UNPACK_ERR_FILE;
  }
  char joined[kUnpackMaxPath];
  if (!AcceptRelative(state, target, true, joined) ||
      !CreateDirectoryChain(state->szBaseDir, target)) {
    return UNPACK_ERR_FILE;
  }
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
  const size_t split = FsDirectoryLength(target);
  char directory[kUnpackMaxPath];
  if (split >= sizeof(directory)) return UNPACK_ERR_FILE;
  memcpy(directory, target, split);
  directory[split] = '\0';

  char full[kUnpackMaxPath];
  if (IsAbsolute(directory)) {
    if (!JoinPath(full, target, "") || !CreateDirectoryChain(nullptr, directory)) {
      return UNPACK_ERR_FILE;
    }
  } else if (!AcceptRelative(state, target, false, full) ||
             !CreateDirectoryChain(state->szBaseDir, directory)) {
    return UNPACK_ERR_FILE;
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
  // The lookup leaves the reader at the entry, also when the cache answers.
  unz_file_pos position;
  if (unzGetFilePos(static_cast<unzFile>(state->pReader), &position) != UNZ_OK ||
      position.num_of_file != static_cast<uLong>(index)) {
    return UNPACK_ERR_READ;
  }
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
