// SHA-256 of a stream of bytes: OpenSSL's libcrypto natively, the system's
// CNG (bcrypt.dll) on Windows; CMake picks sha256_openssl.cpp or
// sha256_win32.cpp.
#ifndef UPDATER_RELEASE_SHA256_H_
#define UPDATER_RELEASE_SHA256_H_

#include <cstddef>
#include <cstring>

const size_t kSha256Size = 32;

struct Sha256Digest {
  unsigned char bytes[kSha256Size];

  friend bool operator==(const Sha256Digest& a, const Sha256Digest& b) {
    return std::memcmp(a.bytes, b.bytes, kSha256Size) == 0;
  }
  friend bool operator!=(const Sha256Digest& a, const Sha256Digest& b) { return !(a == b); }
};

// One hash computation: Update any number of times, then Finish once.
// A failure of the platform's crypto at any step makes Finish answer false;
// the digest is then not to be trusted.
class CSha256 {
 public:
  CSha256();
  ~CSha256();
  CSha256(const CSha256&) = delete;
  CSha256& operator=(const CSha256&) = delete;

  void Update(const void* data, size_t size);
  bool Finish(Sha256Digest* digest);

 private:
  struct State;
  State* m_state;
};

// The digest of size bytes at data; false when the platform's crypto failed.
bool Sha256Of(const void* data, size_t size, Sha256Digest* digest);

#endif  // UPDATER_RELEASE_SHA256_H_
