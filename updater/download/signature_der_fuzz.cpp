// libFuzzer target: arbitrary bytes as a downloaded signature. Besides the
// sanitizers' checks, every answer of the decoder is compared with OpenSSL's
// reading of the same bytes: the decoder must accept exactly the strict DER
// signatures that OpenSSL reads back byte for byte with non-negative r and s
// of at most 32 bytes, and give the same r and s.
#include <openssl/bn.h>
#include <openssl/ecdsa.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "updater/download/signature_der.h"

namespace {

const int kScalar = static_cast<int>(kSignatureScalarSize);

// OpenSSL's answer: the raw form, or false where our decoder must refuse.
bool ReferenceDecode(const uint8_t* data, size_t size, unsigned char* raw) {
  const unsigned char* cursor = data;
  ECDSA_SIG* signature = d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(size));
  if (signature == nullptr) return false;
  bool ok = cursor == data + size;
  unsigned char* encoded = nullptr;
  const int length = i2d_ECDSA_SIG(signature, &encoded);
  ok = ok && length == static_cast<int>(size) && std::memcmp(encoded, data, size) == 0;
  OPENSSL_free(encoded);
  const BIGNUM* r = ECDSA_SIG_get0_r(signature);
  const BIGNUM* s = ECDSA_SIG_get0_s(signature);
  ok = ok && !BN_is_negative(r) && !BN_is_negative(s) && BN_bn2binpad(r, raw, kScalar) == kScalar &&
       BN_bn2binpad(s, raw + kScalar, kScalar) == kScalar;
  ECDSA_SIG_free(signature);
  return ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  unsigned char ours[kRawSignatureSize];
  unsigned char reference[kRawSignatureSize];
  const bool decoded = DecodeSignatureDer(data, size, ours);
  const bool expected = ReferenceDecode(data, size, reference);
  if (decoded != expected) std::abort();
  if (decoded && std::memcmp(ours, reference, kRawSignatureSize) != 0) std::abort();
  return 0;
}
