// Reads the data of the reader's current entry, delivering exactly its
// uncompressed size and telling with each read whether the data is complete.
//
// Entries that are not encrypted are read through minizip, opened without a
// password. Entries with general-purpose bit 0 set are opened raw; the
// reader here decrypts them with the traditional cipher, tests the check byte
// of the encryption header (the CRC's high byte, or the DOS time's high byte
// when bit 3 is set) and inflates method 8 itself.
//
// Data is complete when the whole declared size has been delivered, or a
// deflate stream has ended before it, and the CRC-32 of what was delivered
// matches; stored data that ends early or any data failing the CRC is an
// error, so a caller never mistakes damaged data for a good entry.
//
// REQUIRES: the reader's current entry stays where it is between open and
// close; one thread.
#ifndef UNZIP_ENTRY_READER_H_
#define UNZIP_ENTRY_READER_H_

#include <cstdint>

#include <zlib.h>

#include "unzip/extract/zip_crypto.h"

// Negative answers of UnpackEntryRead.
const int kEntryReadWrongPassword = -1000;  // check byte of the encryption header differs
const int kEntryReadFailed = -1001;         // unreadable, damaged, short or failing the CRC-32

struct UnpackEntryReader {
  UnpackEntryReader() = default;
  UnpackEntryReader(const UnpackEntryReader&) = delete;
  UnpackEntryReader& operator=(const UnpackEntryReader&) = delete;
  ~UnpackEntryReader();

  void* pReader = nullptr;  // minizip unzFile; not owned
  bool bOpen = false;       // the entry's data is open in the reader
  bool bOpenFailed = false;
  bool bEncrypted = false;
  bool bDeflated = false;
  bool bHeaderChecked = false;
  bool bComplete = false;
  uint32_t nSize = 0;  // declared uncompressed size
  uint32_t nDelivered = 0;
  uint32_t nCrcWanted = 0;
  uint32_t nCrc = 0;  // running CRC-32 of what was delivered
  unsigned char nCheckByte = 0;
  ZipCryptoKeys keys = {};
  z_stream stream = {};
  bool bStreamReady = false;
  bool bInputEnded = false;
  unsigned char* pInput = nullptr;  // owned, compressed bytes of the own path
};

// Opens the data of the reader's current entry. A failure is kept and shows
// up as kEntryReadFailed in the first read. password may be null (as "").
void UnpackEntryOpen(UnpackEntryReader* entry, void* reader, const char* password);

// Reads up to size bytes into buffer. Answers the count delivered (0 or
// more) and sets *complete once the whole entry has been delivered and
// verified; or answers kEntryReadWrongPassword or kEntryReadFailed. An entry
// of size 0 is complete at its first read.
int UnpackEntryRead(UnpackEntryReader* entry, unsigned char* buffer, uint32_t size, bool* complete);

// Closes the entry's data in the reader and frees what the open took.
void UnpackEntryClose(UnpackEntryReader* entry);

#endif  // UNZIP_ENTRY_READER_H_
