#include "unzip/extract/zip_crypto.h"

#include <zlib.h>

namespace {

// zlib's table is built into the library; asking for it costs a call.
const z_crc_t* CrcTable() {
  return get_crc_table();
}

inline uint32_t CrcStep(const z_crc_t* table, uint32_t crc, unsigned char byte) {
  return table[(crc ^ byte) & 0xFF] ^ (crc >> 8);
}

inline void UpdateKeys(const z_crc_t* table, ZipCryptoKeys* keys, unsigned char plain) {
  keys->k0 = CrcStep(table, keys->k0, plain);
  keys->k1 = (keys->k1 + (keys->k0 & 0xFF)) * 134775813u + 1;
  keys->k2 = CrcStep(table, keys->k2, static_cast<unsigned char>(keys->k1 >> 24));
}

inline unsigned char KeyStreamByte(const ZipCryptoKeys* keys) {
  uint32_t temp = (keys->k2 | 2) & 0xFFFF;
  return static_cast<unsigned char>((temp * (temp ^ 1)) >> 8);
}

}  // namespace

void ZipCryptoInit(ZipCryptoKeys* keys, const char* password) {
  const z_crc_t* table = CrcTable();
  keys->k0 = 305419896u;
  keys->k1 = 591751049u;
  keys->k2 = 878082192u;
  for (const char* p = password; *p != '\0'; ++p) {
    UpdateKeys(table, keys, static_cast<unsigned char>(*p));
  }
}

void ZipCryptoDecrypt(ZipCryptoKeys* keys, unsigned char* data, size_t size) {
  const z_crc_t* table = CrcTable();
  for (size_t i = 0; i < size; ++i) {
    unsigned char plain = data[i] ^ KeyStreamByte(keys);
    UpdateKeys(table, keys, plain);
    data[i] = plain;
  }
}

void ZipCryptoEncrypt(ZipCryptoKeys* keys, unsigned char* data, size_t size) {
  const z_crc_t* table = CrcTable();
  for (size_t i = 0; i < size; ++i) {
    unsigned char plain = data[i];
    data[i] = plain ^ KeyStreamByte(keys);
    UpdateKeys(table, keys, plain);
  }
}
