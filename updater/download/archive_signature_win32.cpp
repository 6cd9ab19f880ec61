// The archive signature check on CNG: key import, hashing and verification
// of an open file. Holds no std::string, so updater.exe links without it.
#include <windows.h>
#include <bcrypt.h>
#include <wincrypt.h>

#include <cstring>
#include <vector>

#include "updater/download/archive_signature_win32.h"
#include "updater/download/signature_der.h"
#include "updater/release/sha256.h"

namespace {

const DWORD kReadPieceSize = 1 << 20;  // archive bytes hashed per read

// An elliptic-curve key on P-256 with its point uncompressed: the only kind
// whose signatures have the 32-byte scalars the decoder gives.
bool IsP256Key(const CERT_PUBLIC_KEY_INFO& info) {
  static const BYTE kP256[] = {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};
  const CRYPT_OBJID_BLOB& curve = info.Algorithm.Parameters;
  return info.Algorithm.pszObjId != nullptr &&
         std::strcmp(info.Algorithm.pszObjId, szOID_ECC_PUBLIC_KEY) == 0 &&
         curve.cbData == sizeof(kP256) && std::memcmp(curve.pbData, kP256, sizeof(kP256)) == 0 &&
         info.PublicKey.cbData == 1 + kRawSignatureSize && info.PublicKey.pbData[0] == 0x04;
}

// SHA-256 of file from its start. False when it cannot be read.
bool HashFile(HANDLE file, Sha256Digest* hash) {
  LARGE_INTEGER start = {};
  if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return false;
  CSha256 hasher;
  std::vector<unsigned char> buffer(kReadPieceSize);
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, buffer.data(), kReadPieceSize, &got, nullptr)) return false;
    if (got == 0) break;
    hasher.Update(buffer.data(), got);
  }
  return hasher.Finish(hash);
}

}  // namespace

CSignatureKey::CSignatureKey(const char* pem) {
  DWORD derSize = 0;
  if (!CryptStringToBinaryA(pem, 0, CRYPT_STRING_BASE64HEADER, nullptr, &derSize, nullptr,
                            nullptr)) {
    return;
  }
  std::vector<BYTE> der(derSize);
  if (!CryptStringToBinaryA(pem, 0, CRYPT_STRING_BASE64HEADER, der.data(), &derSize, nullptr,
                            nullptr)) {
    return;
  }
  CERT_PUBLIC_KEY_INFO* info = nullptr;
  DWORD infoSize = 0;
  if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, der.data(), derSize,
                           CRYPT_DECODE_ALLOC_FLAG, nullptr, &info, &infoSize)) {
    return;
  }
  BCRYPT_KEY_HANDLE key = nullptr;
  if (IsP256Key(*info) && CryptImportPublicKeyInfoEx2(X509_ASN_ENCODING, info, 0, nullptr, &key)) {
    m_key = key;
  }
  LocalFree(info);
}

CSignatureKey::~CSignatureKey() {
  if (m_key != nullptr) BCryptDestroyKey(m_key);
}

SignatureVerdict VerifyOpenFile(HANDLE file, const CSignatureKey& key, const unsigned char* der,
                                size_t derSize) {
  unsigned char raw[kRawSignatureSize];
  if (!key.valid()) return SIGNATURE_ERROR;
  if (!DecodeSignatureDer(der, derSize, raw)) return SIGNATURE_BAD;
  Sha256Digest hash = {};
  if (!HashFile(file, &hash)) return SIGNATURE_ERROR;
  const NTSTATUS status = BCryptVerifySignature(key.get(), nullptr, hash.bytes, kSha256Size, raw,
                                                static_cast<ULONG>(kRawSignatureSize), 0);
  return BCRYPT_SUCCESS(status) ? SIGNATURE_GOOD : SIGNATURE_BAD;
}

HANDLE OpenArchiveLocked(const char* path) {
  return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}
