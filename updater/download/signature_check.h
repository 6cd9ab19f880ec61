// CSignedArchive: the check of a downloaded archive against the publisher's
// key built into the program, and the lock that keeps the checked bytes the
// ones that are unpacked.
#ifndef UPDATER_DOWNLOAD_SIGNATURE_CHECK_H_
#define UPDATER_DOWNLOAD_SIGNATURE_CHECK_H_

#include <windows.h>

#include "framework/cstring.h"

class CUpdateLog;

// The largest signature file accepted; a DER P-256 signature has at most 72
// bytes.
const DWORD kMaxSignatureFileSize = 4096;

class CSignedArchive {
 public:
  CSignedArchive() = default;
  ~CSignedArchive() { Release(); }
  CSignedArchive(const CSignedArchive&) = delete;
  CSignedArchive& operator=(const CSignedArchive&) = delete;

  // Without a built-in key: answers true and holds nothing. Otherwise
  // downloads the signature from signatureUrl into a file beside the archive
  // (HttpDownload, no progress reported, the tries logged to log when it is
  // not null), deletes that file again, and checks the archive against it.
  // On success the archive stays open, readable by others but neither
  // writable nor deletable, until Release. On any failure the archive and
  // the signature file are deleted and the answer is false. Runs on the
  // worker thread.
  bool Verify(const CString& archivePath, const CString& signatureUrl, CUpdateLog* log = nullptr);

  // Lets go of the archive (so it can be deleted). Idempotent.
  void Release();

 private:
  HANDLE m_archive = INVALID_HANDLE_VALUE;
};

#endif  // UPDATER_DOWNLOAD_SIGNATURE_CHECK_H_
