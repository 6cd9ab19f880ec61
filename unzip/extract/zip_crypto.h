// The traditional PKWARE stream cipher of the zip format: three 32-bit keys
// seeded from the password and updated with every plain byte.
//
// An encrypted entry's data begins with a 12-byte encryption header; the last
// byte of the decrypted header is a check byte that lets a reader tell a
// wrong password from a right one (with a 1 in 256 chance of a false match).
#ifndef UNZIP_ZIP_CRYPTO_H_
#define UNZIP_ZIP_CRYPTO_H_

#include <cstddef>
#include <cstdint>

const size_t kZipCryptoHeaderSize = 12;

struct ZipCryptoKeys {
  uint32_t k0;
  uint32_t k1;
  uint32_t k2;
};

// Seeds the keys from a NUL-terminated password (bytes as given).
void ZipCryptoInit(ZipCryptoKeys* keys, const char* password);

// Decrypts size bytes in place.
void ZipCryptoDecrypt(ZipCryptoKeys* keys, unsigned char* data, size_t size);

// Encrypts size bytes in place (used to build test archives).
void ZipCryptoEncrypt(ZipCryptoKeys* keys, unsigned char* data, size_t size);

#endif  // UNZIP_ZIP_CRYPTO_H_
