// Windows implementation of the archive signature interface (used by unpack),
// on the CNG check in archive_signature_win32.cpp. Kept in a file of its own:
// its std::string interface would otherwise link the whole std::string
// implementation into updater.exe.
#include <windows.h>

#include "updater/download/archive_signature_win32.h"

namespace {

class CHandleCloser {
 public:
  explicit CHandleCloser(HANDLE handle) : m_handle(handle) {}
  ~CHandleCloser() {
    if (m_handle != INVALID_HANDLE_VALUE) CloseHandle(m_handle);
  }
  CHandleCloser(const CHandleCloser&) = delete;
  CHandleCloser& operator=(const CHandleCloser&) = delete;

 private:
  HANDLE m_handle;
};

}  // namespace

SignatureVerdict VerifyArchiveFile(const std::string& keyPem, const std::string& archivePath,
                                   const std::string& signature, std::string* why) {
  CSignatureKey key(keyPem.c_str());
  if (!key.valid()) {
    *why = "the key is not a PEM public key of curve P-256";
    return SIGNATURE_ERROR;
  }
  HANDLE file = OpenArchiveLocked(archivePath.c_str());
  if (file == INVALID_HANDLE_VALUE) {
    *why = "cannot read the archive";
    return SIGNATURE_ERROR;
  }
  CHandleCloser closer(file);
  const SignatureVerdict verdict = VerifyOpenFile(
      file, key, reinterpret_cast<const unsigned char*>(signature.data()), signature.size());
  if (verdict == SIGNATURE_BAD) *why = "the signature does not match the archive and key";
  if (verdict == SIGNATURE_ERROR) *why = "cannot read the archive";
  return verdict;
}

bool SignArchiveFile(const std::string&, const std::string&, std::string*, std::string* why) {
  *why = "this build only verifies; sign with the native unpack or openssl dgst";
  return false;
}
