#include "updater/download/signature_der.h"

#include <cstring>

namespace {

const unsigned char kSequenceTag = 0x30;
const unsigned char kIntegerTag = 0x02;

// Reads a DER length at der[*at] (short form, or the long form 0x81 with one
// byte, the only one a signature can need) and checks that that many bytes
// remain before end. Advances *at past the length.
bool ReadLength(const unsigned char* der, size_t end, size_t* at, size_t* length) {
  if (*at >= end) return false;
  const unsigned char first = der[(*at)++];
  if (first < 0x80) {
    *length = first;
  } else if (first == 0x81) {
    if (*at >= end) return false;
    *length = der[(*at)++];
    if (*length < 0x80) return false;  // DER wants the short form then
  } else {
    return false;
  }
  return *length <= end - *at;
}

// Reads one INTEGER at der[*at] into a 32-byte big-endian field.
bool ReadScalar(const unsigned char* der, size_t end, size_t* at, unsigned char* scalar) {
  if (*at >= end || der[(*at)++] != kIntegerTag) return false;
  size_t length = 0;
  if (!ReadLength(der, end, at, &length) || length == 0) return false;
  const unsigned char* value = der + *at;
  *at += length;
  if (value[0] & 0x80) return false;                                    // negative
  if (length > 1 && value[0] == 0 && !(value[1] & 0x80)) return false;  // not minimal
  if (value[0] == 0 && length > 1) {
    ++value;
    --length;
  }
  if (length > kSignatureScalarSize) return false;
  std::memset(scalar, 0, kSignatureScalarSize - length);
  std::memcpy(scalar + kSignatureScalarSize - length, value, length);
  return true;
}

}  // namespace

bool DecodeSignatureDer(const unsigned char* der, size_t size, unsigned char* raw) {
  if (der == nullptr || size < 2 || der[0] != kSequenceTag) return false;
  size_t at = 1;
  size_t length = 0;
  if (!ReadLength(der, size, &at, &length) || at + length != size) return false;
  return ReadScalar(der, size, &at, raw) &&
         ReadScalar(der, size, &at, raw + kSignatureScalarSize) && at == size;
}
