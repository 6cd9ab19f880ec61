// The archive signature as publishers make it: an ECDSA-Sig-Value
// (SEQUENCE { INTEGER r, INTEGER s }) in DER, over the SHA-256 of the
// archive file, made with a P-256 key. The bytes come from the network, so
// the decoder trusts nothing in them.
#ifndef UPDATER_DOWNLOAD_SIGNATURE_DER_H_
#define UPDATER_DOWNLOAD_SIGNATURE_DER_H_

#include <cstddef>

// r and s of a P-256 signature, each 32 bytes big-endian, left-padded with
// zeros: the form the platform's verification call takes.
const size_t kSignatureScalarSize = 32;
const size_t kRawSignatureSize = 2 * kSignatureScalarSize;

// Decodes der (size bytes) into raw (kRawSignatureSize bytes). Answers false,
// raw unspecified, unless der is exactly one DER sequence of two non-negative,
// minimally encoded integers of at most 32 significant bytes each, with
// nothing after it.
bool DecodeSignatureDer(const unsigned char* der, size_t size, unsigned char* raw);

#endif  // UPDATER_DOWNLOAD_SIGNATURE_DER_H_
