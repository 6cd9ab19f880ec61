#include "testing/test_signer.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstring>
#include <vector>

#include "test_publisher_key.h"

namespace testsign {
namespace {

const ULONG kScalar = 32;

// SEC1 DER of a P-256 private key as OpenSSL writes it: d at offset 7, the
// uncompressed point's X and Y at 57 and 89.
bool ImportTestKey(BCRYPT_ALG_HANDLE algorithm, BCRYPT_KEY_HANDLE* key) {
  const unsigned char* der = kTestPublisherKeyDer;
  if (sizeof(kTestPublisherKeyDer) != 121 || der[5] != 0x04 || der[6] != 0x20 || der[56] != 0x04) {
    return false;
  }
  std::vector<unsigned char> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 3 * kScalar);
  auto* header = reinterpret_cast<BCRYPT_ECCKEY_BLOB*>(blob.data());
  header->dwMagic = BCRYPT_ECDSA_PRIVATE_P256_MAGIC;
  header->cbKey = kScalar;
  unsigned char* fields = blob.data() + sizeof(BCRYPT_ECCKEY_BLOB);
  std::memcpy(fields, der + 57, 2 * kScalar);  // X, Y
  std::memcpy(fields + 2 * kScalar, der + 7, kScalar);
  return BCRYPT_SUCCESS(BCryptImportKeyPair(algorithm, nullptr, BCRYPT_ECCPRIVATE_BLOB, key,
                                            blob.data(), static_cast<ULONG>(blob.size()), 0));
}

// One INTEGER of DER from a big-endian scalar.
std::string DerInteger(const unsigned char* scalar) {
  ULONG skip = 0;
  while (skip + 1 < kScalar && scalar[skip] == 0) ++skip;
  std::string value(reinterpret_cast<const char*>(scalar + skip), kScalar - skip);
  if (static_cast<unsigned char>(value[0]) & 0x80) value.insert(value.begin(), '\0');
  return std::string{'\x02', static_cast<char>(value.size())} + value;
}

bool Sha256(BCRYPT_ALG_HANDLE sha256, const std::string& bytes, unsigned char* hash) {
  BCRYPT_HASH_HANDLE hasher = nullptr;
  if (!BCRYPT_SUCCESS(BCryptCreateHash(sha256, &hasher, nullptr, 0, nullptr, 0, 0))) return false;
  const bool ok = BCRYPT_SUCCESS(BCryptHashData(
                      hasher, reinterpret_cast<unsigned char*>(const_cast<char*>(bytes.data())),
                      static_cast<ULONG>(bytes.size()), 0)) &&
                  BCRYPT_SUCCESS(BCryptFinishHash(hasher, hash, 32, 0));
  BCryptDestroyHash(hasher);
  return ok;
}

std::string Sign(const std::string& bytes, bool testKey) {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!BCRYPT_SUCCESS(
          BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) {
    return "";
  }
  BCRYPT_KEY_HANDLE key = nullptr;
  const bool haveKey = testKey ? ImportTestKey(algorithm, &key)
                               : BCRYPT_SUCCESS(BCryptGenerateKeyPair(algorithm, &key, 256, 0)) &&
                                     BCRYPT_SUCCESS(BCryptFinalizeKeyPair(key, 0));
  std::string der;
  unsigned char hash[32];
  unsigned char raw[2 * kScalar];
  ULONG rawSize = 0;
  BCRYPT_ALG_HANDLE sha256 = nullptr;
  if (haveKey &&
      BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&sha256, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) &&
      Sha256(sha256, bytes, hash) &&
      BCRYPT_SUCCESS(
          BCryptSignHash(key, nullptr, hash, sizeof(hash), raw, sizeof(raw), &rawSize, 0)) &&
      rawSize == sizeof(raw)) {
    const std::string body = DerInteger(raw) + DerInteger(raw + kScalar);
    der = std::string{'\x30', static_cast<char>(body.size())} + body;
  }
  if (sha256 != nullptr) BCryptCloseAlgorithmProvider(sha256, 0);
  if (key != nullptr) BCryptDestroyKey(key);
  BCryptCloseAlgorithmProvider(algorithm, 0);
  return der;
}

}  // namespace

std::string SignWithTestKey(const std::string& bytes) {
  return Sign(bytes, true);
}

std::string SignWithOtherKey(const std::string& bytes) {
  return Sign(bytes, false);
}

}  // namespace testsign
