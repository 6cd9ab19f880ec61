// The archive handle and the entry directory: open, base directory, entry
// lookup with its one-entry cache, close.
#include <unzip.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "unzip/names/entry_attributes.h"
#include "unzip/archive/entry_extents.h"
#include "unzip/names/entry_name.h"
#include "unzip/names/entry_times.h"
#include "unzip/platform/file_system.h"
#include "unzip/platform/platform.h"
#include "unzip/unpack.h"
#include "unzip/archive/unpack_source.h"
#include "unzip/archive/unpack_state.h"

UnpackResult UnpackLastResult = UNPACK_OK;

namespace {

UnpackResult Store(UnpackResult result) {
  UnpackLastResult = result;
  return result;
}

unzFile Reader(UnpackState* state) {
  return static_cast<unzFile>(state->pReader);
}

void FreeState(UnpackState* state) {
  delete[] state->pszPassword;
  delete[] state->pTransfer;
  delete[] state->pOverlapping;
  delete state;
}

// Copies directory into base (kUnpackMaxPath bytes) with a separator at the
// end; an empty directory gives "\". False, base untouched, when it does not
// fit.
bool SetBase(char* base, const char* directory) {
  const size_t length = std::strlen(directory);
  const bool needsSeparator = !FsEndsWithSeparator(directory);
  if (length + (needsSeparator ? 1 : 0) >= static_cast<size_t>(kUnpackMaxPath)) return false;
  std::memcpy(base, directory, length);
  size_t end = length;
  if (needsSeparator) base[end++] = '\\';
  base[end] = '\0';
  return true;
}

// The local header check and the local extra field. minizip checks the local
// header against the central record only when it opens the entry's data, so
// the data is opened raw (no decompression, no password), the extra field
// read, and the data closed again. *extra is malloc'ed (freed by the caller).
UnpackResult ReadLocalExtra(unzFile reader, const unz_file_info64& info, unsigned char** extra,
                            size_t* extraSize) {
  *extra = nullptr;
  *extraSize = 0;
  int method = 0;
  if (unzOpenCurrentFile2(reader, &method, nullptr, 1) != UNZ_OK) {
    return UNPACK_ERR_LOCAL_HEADER;
  }
  // minizip also lets method 12 through; only stored and deflated are ours.
  if (info.compression_method != 0 && info.compression_method != Z_DEFLATED) {
    unzCloseCurrentFile(reader);
    return UNPACK_ERR_LOCAL_HEADER;
  }
  UnpackResult result = UNPACK_OK;
  const int length = unzGetLocalExtrafield(reader, nullptr, 0);  // 0 to 65535
  if (length < 0) {
    result = UNPACK_ERR_EXTRA_FIELD;
  } else if (length > 0) {
    unsigned char* buffer = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(length)));
    if (buffer == nullptr ||
        unzGetLocalExtrafield(reader, buffer, static_cast<unsigned>(length)) != length) {
      std::free(buffer);
      result = UNPACK_ERR_EXTRA_FIELD;
    } else {
      *extra = buffer;
      *extraSize = static_cast<size_t>(length);
    }
  }
  unzCloseCurrentFile(reader);
  return result;
}

// The current entry's name before cleaning (UnpackDecodeName), with the
// central extra field read only when the name may need it.
UnpackResult DecodeName(unzFile reader, const unz_file_info64& central, const char* stored,
                        const unsigned char* localExtra, size_t localSize, char* name) {
  unsigned char* centralExtra = nullptr;
  const size_t centralSize = central.size_file_extra;
  if ((central.flag & kUnpackFlagUtf8Name) == 0 && centralSize > 0) {
    centralExtra = static_cast<unsigned char*>(std::malloc(centralSize));
    if (centralExtra == nullptr ||
        unzGetCurrentFileInfo64(reader, nullptr, nullptr, 0, centralExtra,
                                static_cast<uLong>(centralSize), nullptr, 0) != UNZ_OK) {
      std::free(centralExtra);
      return UNPACK_ERR_DIRECTORY;
    }
  }
  const UnpackResult result =
      UnpackDecodeName(stored, static_cast<uint32_t>(central.flag), localExtra, localSize,
                       centralExtra, centralExtra != nullptr ? centralSize : 0, name);
  std::free(centralExtra);
  return result;
}

// An entry count the archive can hold: at most 65535 (the end record's
// 16-bit count), and no more records than its central directory has room for.
// A zip64 end record could otherwise promise billions of entries over a
// directory of one, and every loop over the entries would run that long.
bool CountIsPossible(UnpackSource* source) {
  const uint64_t kMaxEntries = 65535;
  const uint64_t kMinRecordSize = 46;
  uint64_t entries = 0;
  uint64_t directorySize = 0;
  return UnpackSourceReadEnd(source, &entries, &directorySize) && entries <= kMaxEntries &&
         entries * kMinRecordSize <= directorySize;
}

// Walks the central directory once to learn which entries overlap another
// and which are reachable. False when memory runs out.
bool MapEntries(UnpackState* state) {
  const int32_t count = UnpackEntryCount(state);
  state->pOverlapping = new (std::nothrow) bool[static_cast<size_t>(count > 0 ? count : 1)];
  int32_t reachable = 0;
  if (state->pOverlapping == nullptr ||
      !UnpackFindOverlaps(state->pReader, count, state->pOverlapping, &reachable)) {
    return false;
  }
  if (reachable < count) state->nUnreachable = reachable;
  return true;
}

}  // namespace

UnpackResult UnpackCheckHandle(UnpackHandle handle, UnpackState** state) {
  if (handle == nullptr) return Store(UNPACK_ERR_ARGS);
  if (handle->nKind != UNPACK_HANDLE_READER) return Store(UNPACK_ERR_HANDLE_KIND);
  if (handle->pState == nullptr) return Store(UNPACK_ERR_ARGS);
  *state = handle->pState;
  return UNPACK_OK;
}

void UnpackCloseOpenEntry(UnpackState* state) {
  if (state->nOpenEntry != -1 && state->pReader != nullptr) unzCloseCurrentFile(Reader(state));
  state->nOpenEntry = -1;
}

// Forward from the current entry, or from the first when index lies behind
// it or the current entry is unknown (after a damaged record). At most index
// steps.
UnpackResult UnpackWalkTo(UnpackState* state, int32_t index) {
  if (index >= state->nUnreachable) return UNPACK_ERR_DIRECTORY;
  unzFile reader = Reader(state);
  unz64_file_pos position;
  uint64_t current;
  if (unzGetFilePos64(reader, &position) != UNZ_OK ||
      position.num_of_file > static_cast<uint64_t>(index)) {
    if (unzGoToFirstFile(reader) != UNZ_OK) {
      state->nUnreachable = 0;
      return UNPACK_ERR_DIRECTORY;
    }
    current = 0;
  } else {
    current = position.num_of_file;
  }
  while (current < static_cast<uint64_t>(index)) {
    if (unzGoToNextFile(reader) != UNZ_OK) {
      // The archive does not change while open: no later index is reachable.
      state->nUnreachable = static_cast<int32_t>(current + 1);
      return UNPACK_ERR_DIRECTORY;
    }
    ++current;
  }
  return UNPACK_OK;
}

int32_t UnpackEntryCount(UnpackState* state) {
  if (state->pReader == nullptr) return 0;
  unz_global_info64 global;
  if (unzGetGlobalInfo64(Reader(state), &global) != UNZ_OK) return 0;
  return global.number_entry > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int32_t>(global.number_entry);
}

UnpackResult UnpackLookUp(UnpackState* state, int32_t index, UnpackEntryInfo* info) {
  if (index != -1 && index == state->nCacheIndex) {
    *info = state->cacheEntry;
    return UNPACK_OK;
  }
  if (state->pReader == nullptr || index < 0) return UNPACK_ERR_ARGS;
  unzFile reader = Reader(state);
  UnpackResult result = UnpackWalkTo(state, index);
  if (result != UNPACK_OK) return result;

  unz_file_info64 central;
  char storedName[kUnpackMaxPath];
  if (unzGetCurrentFileInfo64(reader, &central, storedName, sizeof(storedName), nullptr, 0, nullptr,
                              0) != UNZ_OK) {
    return UNPACK_ERR_DIRECTORY;
  }
  // A name that does not fit is refused rather than cut into another path.
  if (central.size_filename >= sizeof(storedName)) return UNPACK_ERR_NAME_TOO_LONG;
  storedName[central.size_filename] = '\0';
  // Its bytes are also another entry's: writing both would expand the archive.
  if (state->pOverlapping[index]) return UNPACK_ERR_OVERLAP;

  unsigned char* extra = nullptr;
  size_t extraSize = 0;
  result = ReadLocalExtra(reader, central, &extra, &extraSize);
  if (result != UNPACK_OK) return result;

  char name[kUnpackMaxPath];
  result = DecodeName(reader, central, storedName, extra, extraSize, name);
  if (result != UNPACK_OK) {
    std::free(extra);
    return result;
  }

  UnpackEntryInfo record = *info;
  record.nIndex = index;
  UnpackCleanName(name, record.szName, sizeof(record.szName));
  record.dwAttributes = UnpackMapAttributes(static_cast<uint32_t>(central.version),
                                            static_cast<uint32_t>(central.external_fa));
  record.nPackedSize = static_cast<uint32_t>(central.compressed_size);
  record.nUnpackedSize = static_cast<uint32_t>(central.uncompressed_size);
  UnpackSetEntryTimes(static_cast<uint32_t>(central.dosDate), extra, extraSize, &record);
  std::free(extra);

  *info = record;
  state->cacheEntry = record;
  state->nCacheIndex = index;
  state->nCacheUnpackedSize = central.uncompressed_size;
  return UNPACK_OK;
}

UnpackHandle UnpackOpen(const char* path, const char* password) {
  UnpackState* state = new (std::nothrow) UnpackState;
  if (state == nullptr) {
    Store(UNPACK_ERR_FILE);
    return nullptr;
  }
  if (password != nullptr) {
    const size_t length = std::strlen(password);
    state->pszPassword = new (std::nothrow) char[length + 1];
    if (state->pszPassword == nullptr) {
      FreeState(state);
      Store(UNPACK_ERR_FILE);
      return nullptr;
    }
    std::memcpy(state->pszPassword, password, length + 1);
  }
  // A current directory too long for its separator leaves the base empty, so
  // relative targets still land in the current directory.
  char current[kUnpackMaxPath];
  if (!UnpackPlatformCurrentDirectory(current, sizeof(current)) ||
      !SetBase(state->szBaseDir, current)) {
    state->szBaseDir[0] = '\0';
  }

  UnpackSource* source = path != nullptr ? UnpackSourceOpen(path) : nullptr;
  if (source == nullptr) {
    FreeState(state);
    Store(UNPACK_ERR_FILE);
    return nullptr;
  }
  if (UnpackSourceIsEmptyArchive(source)) {
    // No reader: the archive has no entries to read.
    UnpackSourceClose(source);
  } else {
    if (!CountIsPossible(source)) {
      UnpackSourceClose(source);
      FreeState(state);
      Store(UNPACK_ERR_FILE);
      return nullptr;
    }
    zlib_filefunc64_def functions;
    UnpackSourceFileFunctions(source, &functions);
    // From here the reader owns the source, and closes it if the open fails.
    state->pReader = unzOpen2_64(path, &functions);
    if (state->pReader == nullptr || !MapEntries(state)) {
      if (state->pReader != nullptr) unzClose(Reader(state));
      FreeState(state);
      Store(UNPACK_ERR_FILE);
      return nullptr;
    }
  }
  UnpackHandle handle = new (std::nothrow) UnpackHandleRecord{UNPACK_HANDLE_READER, state};
  if (handle == nullptr) {
    if (state->pReader != nullptr) unzClose(Reader(state));
    FreeState(state);
    Store(UNPACK_ERR_FILE);
    return nullptr;
  }
  Store(UNPACK_OK);
  return handle;
}

UnpackResult UnpackSetBaseDir(UnpackHandle handle, const char* directory) {
  UnpackState* state = nullptr;
  if (UnpackCheckHandle(handle, &state) != UNPACK_OK) return UnpackLastResult;
  if (directory == nullptr || !SetBase(state->szBaseDir, directory)) {
    return Store(UNPACK_ERR_ARGS);
  }
  return Store(UNPACK_OK);
}

UnpackResult UnpackSetWriteInPlace(UnpackHandle handle, int32_t inPlace) {
  UnpackState* state = nullptr;
  if (UnpackCheckHandle(handle, &state) != UNPACK_OK) return UnpackLastResult;
  state->bWriteInPlace = inPlace != 0;
  return Store(UNPACK_OK);
}

UnpackResult UnpackGetEntry(UnpackHandle handle, int32_t index, UnpackEntryInfo* info) {
  if (info != nullptr) {
    info->nIndex = 0;
    info->szName[0] = '\0';
    info->nUnpackedSize = 0;
  }
  UnpackState* state = nullptr;
  if (UnpackCheckHandle(handle, &state) != UNPACK_OK) return UnpackLastResult;
  if (info == nullptr) return Store(UNPACK_ERR_ARGS);
  const int32_t count = UnpackEntryCount(state);
  if (index < -1 || index >= count) return Store(UNPACK_ERR_ARGS);
  UnpackCloseOpenEntry(state);

  if (index == -1) {
    info->nIndex = count;
    info->szName[0] = '\0';
    info->dwAttributes = 0;
    info->ftLastAccess = UNPACK_FILETIME{0, 0};
    info->ftCreation = UNPACK_FILETIME{0, 0};
    info->ftLastWrite = UNPACK_FILETIME{0, 0};
    info->nPackedSize = 0;
    info->nUnpackedSize = 0;
    return Store(UNPACK_OK);
  }
  return Store(UnpackLookUp(state, index, info));
}

UnpackResult UnpackGetUnpackedSize(UnpackHandle handle, int32_t index, uint64_t* size) {
  if (size != nullptr) *size = 0;
  UnpackState* state = nullptr;
  if (UnpackCheckHandle(handle, &state) != UNPACK_OK) return UnpackLastResult;
  if (size == nullptr || index < 0 || index >= UnpackEntryCount(state)) {
    return Store(UNPACK_ERR_ARGS);
  }
  UnpackCloseOpenEntry(state);
  UnpackEntryInfo record = {};
  const UnpackResult result = UnpackLookUp(state, index, &record);
  if (result == UNPACK_OK) *size = state->nCacheUnpackedSize;
  return Store(result);
}

UnpackResult UnpackClose(UnpackHandle handle) {
  UnpackState* state = nullptr;
  if (UnpackCheckHandle(handle, &state) != UNPACK_OK) return UnpackLastResult;
  UnpackCloseOpenEntry(state);
  if (state->pReader != nullptr) unzClose(Reader(state));
  state->pReader = nullptr;
  Store(UNPACK_OK);
  FreeState(state);
  delete handle;
  return UnpackLastResult;
}
