// The Windows side of the archive signature, on the system's own crypto
// (crypt32 and bcrypt): the key import and the check of an open file.
#ifndef UPDATER_DOWNLOAD_ARCHIVE_SIGNATURE_WIN32_H_
#define UPDATER_DOWNLOAD_ARCHIVE_SIGNATURE_WIN32_H_

#include <windows.h>
#include <bcrypt.h>

#include <cstddef>

#include "updater/download/archive_signature.h"

// A public key imported from PEM text; owns the key handle.
class CSignatureKey {
 public:
  // pem: NUL-terminated PEM text of a P-256 public key. valid() tells
  // whether it imported.
  explicit CSignatureKey(const char* pem);
  ~CSignatureKey();
  CSignatureKey(const CSignatureKey&) = delete;
  CSignatureKey& operator=(const CSignatureKey&) = delete;

  bool valid() const { return m_key != nullptr; }
  BCRYPT_KEY_HANDLE get() const { return m_key; }

 private:
  BCRYPT_KEY_HANDLE m_key = nullptr;
};

// Hashes file from its first byte to its end (the file position is moved)
// and checks der, the DER signature, over that hash with key.
SignatureVerdict VerifyOpenFile(HANDLE file, const CSignatureKey& key, const unsigned char* der,
                                size_t derSize);

// Opens path for reading the way the check needs it: other readers may
// share it, but nobody may write, delete or rename it while it stays open.
HANDLE OpenArchiveLocked(const char* path);

#endif  // UPDATER_DOWNLOAD_ARCHIVE_SIGNATURE_WIN32_H_
