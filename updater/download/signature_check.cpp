#include "updater/download/signature_check.h"

#include "updater/download/archive_signature_win32.h"
#include "updater/download/download_status_callback.h"
#include "updater/download/http_download.h"
#include "updater/download/publisher_key.h"
#include "updater/download/signature_address.h"
#include "updater/download/update_status.h"

namespace {

// Reports nothing to the dialog and stops a download that grows beyond
// kMaxSignatureFileSize (or that the user cancelled).
class CCappedDownloadCallback : public CDownloadStatusCallback {
 public:
  CCappedDownloadCallback() : CDownloadStatusCallback(nullptr) {}

  HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progressMax, ULONG, LPCWSTR) override {
    if (g_abortDownload != 0) return E_ABORT;
    return progress > kMaxSignatureFileSize || progressMax > kMaxSignatureFileSize ? E_ABORT : S_OK;
  }
  void OnRetry(int, int) override {}
};

// The signature file's bytes, at most kMaxSignatureFileSize; false when it
// cannot be read or is larger.
bool ReadSignatureFile(const CString& path, unsigned char* bytes, DWORD* size) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD total = 0;
  bool ok = true;
  for (;;) {
    DWORD got = 0;
    // Room for one byte more than allowed shows a file that is too large.
    if (!ReadFile(file, bytes + total, kMaxSignatureFileSize + 1 - total, &got, nullptr)) {
      ok = false;
      break;
    }
    total += got;
    if (got == 0 || total > kMaxSignatureFileSize) break;
  }
  CloseHandle(file);
  *size = total;
  return ok && total <= kMaxSignatureFileSize;
}

}  // namespace

bool CSignedArchive::Verify(const CString& archivePath, const CString& signatureUrl,
                            CUpdateLog* log) {
  if (kPublisherKeyPem[0] == '\0') return true;

  const CString signaturePath = SignatureFilePath(archivePath);
  CCappedDownloadCallback callback;
  unsigned char signature[kMaxSignatureFileSize + 1];
  DWORD signatureSize = 0;
  const bool received =
      HttpDownload(signatureUrl, signaturePath, &callback, log, kDownloadTiming).exitCode ==
          kExitUpdated &&
      ReadSignatureFile(signaturePath, signature, &signatureSize);
  DeleteFileA(signaturePath);

  if (received) {
    const CSignatureKey key(kPublisherKeyPem);
    m_archive = OpenArchiveLocked(archivePath);
    if (m_archive != INVALID_HANDLE_VALUE &&
        VerifyOpenFile(m_archive, key, signature, signatureSize) == SIGNATURE_GOOD) {
      return true;
    }
  }
  Release();
  DeleteFileA(archivePath);
  return false;
}

void CSignedArchive::Release() {
  if (m_archive != INVALID_HANDLE_VALUE) CloseHandle(m_archive);
  m_archive = INVALID_HANDLE_VALUE;
}
