#include "unzip/unpack_source.h"

#include <new>

namespace {

uint64_t g_readCount = 0;

UnpackSource* FromStream(voidpf stream) {
  return static_cast<UnpackSource*>(stream);
}

voidpf ZCALLBACK SourceOpen(voidpf opaque, const void* /*filename*/, int /*mode*/) {
  return opaque;
}

uLong ZCALLBACK SourceRead(voidpf /*opaque*/, voidpf stream, void* buffer, uLong size) {
  UnpackSource* source = FromStream(stream);
  ++g_readCount;
  unsigned char* out = static_cast<unsigned char*>(buffer);
  uLong total = 0;
  while (total < size) {
    const uLong left = size - total;
    const uint32_t piece =
        left < kUnpackSourcePiece ? static_cast<uint32_t>(left) : kUnpackSourcePiece;
    uint32_t done = 0;
    if (!UnpackPlatformRead(source->file, out + total, piece, &done)) {
      source->bError = true;
      break;
    }
    if (done == 0) break;  // end of file
    total += done;
  }
  return total;
}

uLong ZCALLBACK SourceWrite(voidpf, voidpf, const void*, uLong) {
  return 0;
}

ZPOS64_T ZCALLBACK SourceTell(voidpf /*opaque*/, voidpf stream) {
  UnpackSource* source = FromStream(stream);
  uint64_t position = 0;
  if (!source->bSeekable || !UnpackPlatformSeek(source->file, 0, UNPACK_SEEK_CURRENT, &position) ||
      position < source->nStart) {
    return static_cast<ZPOS64_T>(-1);
  }
  return position - source->nStart;
}

long ZCALLBACK SourceSeek(voidpf /*opaque*/, voidpf stream, ZPOS64_T offset, int origin) {
  UnpackSource* source = FromStream(stream);
  if (!source->bSeekable) return -1;
  uint64_t position = 0;
  // Offsets come from archive fields: refuse any the platform's signed
  // distance cannot hold instead of letting them wrap.
  if (offset > static_cast<ZPOS64_T>(INT64_MAX) - source->nStart) return -1;
  bool ok;
  switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET:
      ok = UnpackPlatformSeek(source->file, static_cast<int64_t>(source->nStart + offset),
                              UNPACK_SEEK_BEGIN, &position);
      break;
    case ZLIB_FILEFUNC_SEEK_CUR:
      ok = UnpackPlatformSeek(source->file, static_cast<int64_t>(offset), UNPACK_SEEK_CURRENT,
                              &position);
      break;
    case ZLIB_FILEFUNC_SEEK_END:
      ok = UnpackPlatformSeek(source->file, static_cast<int64_t>(offset), UNPACK_SEEK_END,
                              &position);
      break;
    default:
      return -1;
  }
  return ok && position >= source->nStart ? 0 : -1;
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

}  // namespace

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
