#include "unzip/extract/entry_reader.h"

#include <cstdlib>
#include <cstring>

#include <unzip.h>

#include "unzip/archive/unpack_state.h"

namespace {

const uint32_t kFlagEncrypted = 0x0001;
const uint32_t kFlagDataDescriptor = 0x0008;

unzFile Reader(UnpackEntryReader* entry) {
  return static_cast<unzFile>(entry->pReader);
}

// Reads up to size raw bytes of the entry's stored data through minizip;
// answers the count, or -1 on a read error.
int ReadRaw(UnpackEntryReader* entry, unsigned char* buffer, uint32_t size) {
  uint32_t got = 0;
  while (got < size) {
    int n = unzReadCurrentFile(Reader(entry), buffer + got, size - got);
    if (n < 0) return -1;
    if (n == 0) break;
    got += static_cast<uint32_t>(n);
  }
  return static_cast<int>(got);
}

// Reads and tests the 12-byte encryption header.
int CheckEncryptionHeader(UnpackEntryReader* entry) {
  unsigned char header[kZipCryptoHeaderSize];
  if (ReadRaw(entry, header, sizeof(header)) != static_cast<int>(sizeof(header))) {
    return kEntryReadFailed;
  }
  ZipCryptoDecrypt(&entry->keys, header, sizeof(header));
  if (header[kZipCryptoHeaderSize - 1] != entry->nCheckByte) return kEntryReadWrongPassword;
  return 0;
}

// Decrypted stored data straight into the caller's buffer.
int ReadStoredEncrypted(UnpackEntryReader* entry, unsigned char* buffer, uint32_t size) {
  int n = ReadRaw(entry, buffer, size);
  if (n < 0) return kEntryReadFailed;
  ZipCryptoDecrypt(&entry->keys, buffer, static_cast<size_t>(n));
  return n;
}

// Decrypts and inflates into the caller's buffer until it is full, the
// stream ends or the input runs out.
int ReadDeflatedEncrypted(UnpackEntryReader* entry, unsigned char* buffer, uint32_t size) {
  z_stream& zs = entry->stream;
  zs.next_out = buffer;
  zs.avail_out = size;
  while (zs.avail_out > 0) {
    if (zs.avail_in == 0 && !entry->bInputEnded) {
      int n = ReadRaw(entry, entry->pInput, static_cast<uint32_t>(kTransferBufferSize));
      if (n < 0) return kEntryReadFailed;
      if (n == 0) {
        entry->bInputEnded = true;
      } else {
        ZipCryptoDecrypt(&entry->keys, entry->pInput, static_cast<size_t>(n));
        zs.next_in = entry->pInput;
        zs.avail_in = static_cast<uInt>(n);
      }
    }
    int err = inflate(&zs, Z_NO_FLUSH);
    if (err == Z_STREAM_END) break;
    if (err == Z_BUF_ERROR && entry->bInputEnded) break;  // the data ends early
    if (err != Z_OK && err != Z_BUF_ERROR) return kEntryReadFailed;
  }
  return static_cast<int>(size - zs.avail_out);
}

// Called once the whole declared size has been delivered.
bool Verify(UnpackEntryReader* entry) {
  if (entry->bEncrypted) return entry->nCrc == entry->nCrcWanted;
  // minizip compares the CRC-32 when the entry's data is closed after the
  // whole size was read.
  entry->bOpen = false;
  return unzCloseCurrentFile(Reader(entry)) == UNZ_OK;
}

}  // namespace

UnpackEntryReader::~UnpackEntryReader() {
  UnpackEntryClose(this);
}

void UnpackEntryOpen(UnpackEntryReader* entry, void* reader, const char* password) {
  UnpackEntryClose(entry);
  entry->pReader = reader;
  entry->bOpenFailed = false;
  entry->bHeaderChecked = false;
  entry->bComplete = false;
  entry->bInputEnded = false;
  entry->nDelivered = 0;
  entry->nCrc = 0;
  entry->stream = z_stream();
  unz_file_info64 info;
  if (unzGetCurrentFileInfo64(Reader(entry), &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
    entry->bOpenFailed = true;
    return;
  }
  entry->nSize = static_cast<uint32_t>(info.uncompressed_size);
  entry->nCrcWanted = static_cast<uint32_t>(info.crc);
  entry->bEncrypted = (info.flag & kFlagEncrypted) != 0;
  entry->bDeflated = info.compression_method == Z_DEFLATED;
  if (info.uncompressed_size > UINT32_MAX ||
      (info.compression_method != 0 && info.compression_method != Z_DEFLATED)) {
    entry->bOpenFailed = true;
    return;
  }
  if (!entry->bEncrypted) {
    entry->bHeaderChecked = true;
    if (unzOpenCurrentFile3(Reader(entry), nullptr, nullptr, 0, nullptr) != UNZ_OK) {
      entry->bOpenFailed = true;
      return;
    }
    entry->bOpen = true;
    return;
  }
  entry->nCheckByte = (info.flag & kFlagDataDescriptor) != 0
                          ? static_cast<unsigned char>(info.dosDate >> 8)
                          : static_cast<unsigned char>(info.crc >> 24);
  ZipCryptoInit(&entry->keys, password != nullptr ? password : "");
  if (unzOpenCurrentFile3(Reader(entry), nullptr, nullptr, 1, nullptr) != UNZ_OK) {
    entry->bOpenFailed = true;
    return;
  }
  entry->bOpen = true;
  if (entry->bDeflated) {
    entry->pInput = static_cast<unsigned char*>(malloc(kTransferBufferSize));
    if (entry->pInput == nullptr || inflateInit2(&entry->stream, -MAX_WBITS) != Z_OK) {
      entry->bOpenFailed = true;
      return;
    }
    entry->bStreamReady = true;
  }
}

int UnpackEntryRead(UnpackEntryReader* entry, unsigned char* buffer, uint32_t size,
                    bool* complete) {
  *complete = false;
  if (entry->bOpenFailed) return kEntryReadFailed;
  if (entry->bComplete) {
    *complete = true;
    return 0;
  }
  if (!entry->bHeaderChecked) {
    int check = CheckEncryptionHeader(entry);
    if (check != 0) return check;
    entry->bHeaderChecked = true;
  }
  uint32_t want = entry->nSize - entry->nDelivered;
  if (want > size) want = size;
  int n = 0;
  if (want > 0) {
    if (!entry->bEncrypted) {
      n = unzReadCurrentFile(Reader(entry), buffer, want);
      if (n < 0) return kEntryReadFailed;
    } else {
      n = entry->bDeflated ? ReadDeflatedEncrypted(entry, buffer, want)
                           : ReadStoredEncrypted(entry, buffer, want);
      if (n < 0) return n;
    }
    entry->nCrc = static_cast<uint32_t>(crc32(entry->nCrc, buffer, static_cast<uInt>(n)));
    if (n == 0) {
      // A deflate stream may end before the declared size; what it delivered
      // is the entry when its CRC-32 matches. Anything else ended early.
      if (!entry->bDeflated || entry->nCrc != entry->nCrcWanted) return kEntryReadFailed;
      UnpackEntryClose(entry);
      entry->bComplete = true;
      *complete = true;
      return 0;
    }
    entry->nDelivered += static_cast<uint32_t>(n);
  }
  if (entry->nDelivered == entry->nSize) {
    if (!Verify(entry)) return kEntryReadFailed;
    entry->bComplete = true;
    *complete = true;
  }
  return n;
}

void UnpackEntryClose(UnpackEntryReader* entry) {
  if (entry->bStreamReady) inflateEnd(&entry->stream);
  entry->bStreamReady = false;
  free(entry->pInput);
  entry->pInput = nullptr;
  if (entry->bOpen) unzCloseCurrentFile(Reader(entry));
  entry->bOpen = false;
}
