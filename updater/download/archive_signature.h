// Checks an update archive against its publisher's signature: ECDSA P-256
// over the SHA-256 of the archive file's bytes, the signature in DER as
// `openssl dgst -sha256 -sign` writes it. On Windows the system's own crypto
// (CNG) checks; natively OpenSSL's libcrypto, which can also sign.
#ifndef UPDATER_DOWNLOAD_ARCHIVE_SIGNATURE_H_
#define UPDATER_DOWNLOAD_ARCHIVE_SIGNATURE_H_

#include <string>

enum SignatureVerdict {
  SIGNATURE_GOOD,
  SIGNATURE_BAD,    // malformed, made with another key, or not over these bytes
  SIGNATURE_ERROR,  // the key or the archive could not be used
};

// keyPem: the text of a PEM public key (P-256). signature: the bytes of the
// signature file. *why: a line for a person on every verdict but GOOD.
SignatureVerdict VerifyArchiveFile(const std::string& keyPem, const std::string& archivePath,
                                   const std::string& signature, std::string* why);

// Signs the archive with a PEM private key (P-256), as `openssl dgst -sha256
// -sign` does. Native build only. False, with *why, on failure.
bool SignArchiveFile(const std::string& keyPem, const std::string& archivePath,
                     std::string* signature, std::string* why);

#endif  // UPDATER_DOWNLOAD_ARCHIVE_SIGNATURE_H_
