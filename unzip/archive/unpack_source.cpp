#include "unzip/archive/unpack_source.h"

#include <cstring>
#include <new>

namespace {

uint64_t g_readCount = 0;
uint64_t g_fileReadCount = 0;

UnpackSource* FromStream(voidpf stream) {
  return static_cast<UnpackSource*>(stream);
}

voidpf ZCALLBACK SourceOpen(voidpf opaque, const void* /*filename*/, int /*mode*/) {
  return opaque;
}

// Fills the least recently used piece from position; false on a read error.
bool Refill(UnpackSource* source, uint64_t position, UnpackSourcePiece** filled) {
  UnpackSourcePiece* piece = &source->pieces[0];
  if (source->pieces[1].nLastUse < piece->nLastUse) piece = &source->pieces[1];
  piece->nLength = 0;
  piece->nOffset = position;
  uint64_t ignored = 0;
  if (position > static_cast<uint64_t>(INT64_MAX) ||
      !UnpackPlatformSeek(source->file, static_cast<int64_t>(position), UNPACK_SEEK_BEGIN,
                          &ignored)) {
    return false;
  }
  // One read may deliver less than asked; keep reading to the piece's end.
  while (piece->nLength < kUnpackSourcePiece) {
    uint32_t done = 0;
    ++g_fileReadCount;
    if (!UnpackPlatformRead(source->file, piece->bytes + piece->nLength,
                            kUnpackSourcePiece - piece->nLength, &done)) {
      return false;
    }
    if (done == 0) {
      // Remember the end, so reads past it (the reader asks byte by byte
      // while hunting through damaged records) cost no file access.
      source->bEndKnown = true;
      source->nEnd = position + piece->nLength;
      break;
    }
    piece->nLength += done;
  }
  *filled = piece;
  return true;
}

uLong ZCALLBACK SourceRead(voidpf /*opaque*/, voidpf stream, void* buffer, uLong size) {
  UnpackSource* source = FromStream(stream);
  ++g_readCount;
  unsigned char* out = static_cast<unsigned char*>(buffer);
  uLong total = 0;
  while (total < size) {
    UnpackSourcePiece* piece = nullptr;
    for (UnpackSourcePiece& candidate : source->pieces) {
      if (source->nPosition >= candidate.nOffset &&
          source->nPosition - candidate.nOffset < candidate.nLength) {
        piece = &candidate;
      }
    }
    if (piece == nullptr) {
      if (source->bEndKnown && source->nPosition >= source->nEnd) break;  // end of file
      if (!Refill(source, source->nPosition, &piece)) {
        source->bError = true;
        break;
      }
      if (piece->nLength == 0) break;  // end of file
    }
    piece->nLastUse = ++source->nUses;
    const uint64_t inPiece = source->nPosition - piece->nOffset;
    const uint64_t available = piece->nLength - inPiece;
    const uLong count = available < size - total ? static_cast<uLong>(available) : size - total;
    std::memcpy(out + total, piece->bytes + inPiece, count);
    total += count;
    source->nPosition += count;
  }
  return total;
}

uLong ZCALLBACK SourceWrite(voidpf, voidpf, const void*, uLong) {
  return 0;
}

ZPOS64_T ZCALLBACK SourceTell(voidpf /*opaque*/, voidpf stream) {
  UnpackSource* source = FromStream(stream);
  if (!source->bSeekable) return static_cast<ZPOS64_T>(-1);
  return source->nPosition - source->nStart;
}

// Moves the reader's position only; the file is positioned when read.
long ZCALLBACK SourceSeek(voidpf /*opaque*/, voidpf stream, ZPOS64_T offset, int origin) {
  UnpackSource* source = FromStream(stream);
  if (!source->bSeekable) return -1;
  // Offsets come from archive fields: every sum is checked, none may wrap.
  const int64_t kMax = INT64_MAX;
  int64_t base;
  int64_t distance;
  switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET:
      if (offset > static_cast<ZPOS64_T>(kMax)) return -1;
      base = static_cast<int64_t>(source->nStart);
      distance = static_cast<int64_t>(offset);
      break;
    case ZLIB_FILEFUNC_SEEK_CUR:
      base = static_cast<int64_t>(source->nPosition);
      distance = static_cast<int64_t>(offset);  // the reader passes negative longs this way
      break;
    case ZLIB_FILEFUNC_SEEK_END: {
      uint64_t end = 0;
      if (!UnpackPlatformSeek(source->file, 0, UNPACK_SEEK_END, &end) ||
          end > static_cast<uint64_t>(kMax)) {
        return -1;
      }
      base = static_cast<int64_t>(end);
      distance = static_cast<int64_t>(offset);
      break;
    }
    default:
      return -1;
  }
  if ((distance > 0 && base > kMax - distance) ||
      base + distance < static_cast<int64_t>(source->nStart)) {
    return -1;
  }
  source->nPosition = static_cast<uint64_t>(base + distance);
  return 0;
}

int ZCALLBACK SourceClose(voidpf /*opaque*/, voidpf stream) {
  UnpackSourceClose(FromStream(stream));
  return 0;
}

int ZCALLBACK SourceTestError(voidpf /*opaque*/, voidpf stream) {
  return FromStream(stream)->bError ? 1 : 0;
}

uint32_t Read32(const unsigned char* bytes) {
  return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
         (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

uint64_t Read64(const unsigned char* bytes) {
  return Read32(bytes) | (static_cast<uint64_t>(Read32(bytes + 4)) << 32);
}

// Reads exactly size bytes at position (from the archive's start) straight
// from the file, past the pieces; false when they are not all there.
bool ReadAt(UnpackSource* source, uint64_t position, unsigned char* buffer, uint32_t size) {
  uint64_t ignored = 0;
  if (position > static_cast<uint64_t>(INT64_MAX) - source->nStart ||
      !UnpackPlatformSeek(source->file, static_cast<int64_t>(source->nStart + position),
                          UNPACK_SEEK_BEGIN, &ignored)) {
    return false;
  }
  uint32_t got = 0;
  while (got < size) {
    uint32_t done = 0;
    if (!UnpackPlatformRead(source->file, buffer + got, size - got, &done) || done == 0) {
      return false;
    }
    got += done;
  }
  return true;
}

// The last occurrence of signature in tail, searched as the reader searches:
// from tail[length - 4] down to tail[1]. length when there is none.
size_t FindLastSignature(const unsigned char* tail, size_t length, uint32_t signature) {
  for (size_t i = length >= 4 ? length - 4 : 0; i > 0; --i) {
    if (Read32(tail + i) == signature) return i;
  }
  return length;
}

}  // namespace

bool UnpackSourceReadEnd(UnpackSource* source, uint64_t* entries, uint64_t* directorySize) {
  const uint32_t kSearched = 0xFFFF;  // the reader looks this far back from the end
  uint64_t end = 0;
  if (!source->bSeekable || !UnpackPlatformSeek(source->file, 0, UNPACK_SEEK_END, &end) ||
      end < source->nStart) {
    return false;
  }
  const uint64_t size = end - source->nStart;
  const uint32_t length = size < kSearched ? static_cast<uint32_t>(size) : kSearched;
  unsigned char* tail = new (std::nothrow) unsigned char[length + 1];
  if (tail == nullptr) return false;
  bool found = false;
  if (ReadAt(source, size - length, tail, length)) {
    const size_t locator = FindLastSignature(tail, length, 0x07064B50);
    unsigned char fields[56];
    // A usable zip64 locator names the zip64 end record, which then holds
    // the numbers; otherwise the reader falls back to the plain end record.
    found = locator != length && ReadAt(source, size - length + locator, fields, 20) &&
            Read32(fields + 4) == 0 && Read32(fields + 16) == 1 &&
            ReadAt(source, Read64(fields + 8), fields, 56) && Read32(fields) == 0x06064B50;
    if (found) {
      *entries = Read64(fields + 32);
      *directorySize = Read64(fields + 40);
    } else {
      const size_t record = FindLastSignature(tail, length, 0x06054B50);
      found = record != length && ReadAt(source, size - length + record, fields, 22);
      if (found) {
        *entries = fields[10] | (fields[11] << 8);
        *directorySize = Read32(fields + 12);
      }
    }
  }
  delete[] tail;
  return found;
}

UnpackSource* UnpackSourceOpen(const char* path) {
  UnpackPlatformFile file;
  if (!UnpackPlatformOpenForRead(path, &file)) return nullptr;
  UnpackSource* source = new (std::nothrow) UnpackSource;
  if (source == nullptr) {
    UnpackPlatformClose(file);
    return nullptr;
  }
  source->file = file;
  source->bOwnsFile = true;
  uint64_t position = 0;
  source->bSeekable = UnpackPlatformSeek(file, 0, UNPACK_SEEK_CURRENT, &position);
  source->nStart = source->bSeekable ? position : 0;
  source->nPosition = source->nStart;
  return source;
}

void UnpackSourceClose(UnpackSource* source) {
  if (source == nullptr) return;
  if (source->bOwnsFile) UnpackPlatformClose(source->file);
  delete source;
}

void UnpackSourceFileFunctions(UnpackSource* source, zlib_filefunc64_def* functions) {
  functions->zopen64_file = SourceOpen;
  functions->zread_file = SourceRead;
  functions->zwrite_file = SourceWrite;
  functions->ztell64_file = SourceTell;
  functions->zseek64_file = SourceSeek;
  functions->zclose_file = SourceClose;
  functions->zerror_file = SourceTestError;
  functions->opaque = source;
}

bool UnpackSourceIsEmptyArchive(UnpackSource* source) {
  const uint32_t kRecordSize = 22;
  uint64_t end = 0;
  uint64_t ignored = 0;
  if (!source->bSeekable || !UnpackPlatformSeek(source->file, 0, UNPACK_SEEK_END, &end) ||
      end < source->nStart + kRecordSize ||
      !UnpackPlatformSeek(source->file, static_cast<int64_t>(source->nStart), UNPACK_SEEK_BEGIN,
                          &ignored)) {
    return false;
  }
  unsigned char record[kRecordSize];
  uint32_t done = 0;
  if (!UnpackPlatformRead(source->file, record, kRecordSize, &done) || done != kRecordSize) {
    return false;
  }
  const uint64_t commentLength = static_cast<uint64_t>(record[20] | (record[21] << 8));
  const bool allZero = Read32(record + 4) == 0 && Read32(record + 8) == 0 &&
                       Read32(record + 12) == 0 && Read32(record + 16) == 0;
  return Read32(record) == 0x06054B50 && allZero &&
         end - source->nStart == kRecordSize + commentLength;
}

uint64_t UnpackSourceReadCount() {
  return g_readCount;
}

uint64_t UnpackSourceFileReadCount() {
  return g_fileReadCount;
}
