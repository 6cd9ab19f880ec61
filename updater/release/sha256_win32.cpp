// SHA-256 on the system's CNG hash objects (bcrypt.dll).
#include <windows.h>
#include <bcrypt.h>

#include "updater/release/sha256.h"

struct CSha256::State {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool failed = false;
};

CSha256::CSha256() : m_state(new State) {
  m_state->failed = !BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(
                        &m_state->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
                    !BCRYPT_SUCCESS(BCryptCreateHash(m_state->algorithm, &m_state->hash, nullptr, 0,
                                                     nullptr, 0, 0));
}

CSha256::~CSha256() {
  if (m_state->hash != nullptr) BCryptDestroyHash(m_state->hash);
  if (m_state->algorithm != nullptr) BCryptCloseAlgorithmProvider(m_state->algorithm, 0);
  delete m_state;
}

void CSha256::Update(const void* data, size_t size) {
  // BCryptHashData takes a 32-bit length.
  const size_t kPiece = 1u << 30;
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  while (!m_state->failed && size > 0) {
    const ULONG piece = static_cast<ULONG>(size < kPiece ? size : kPiece);
    m_state->failed =
        !BCRYPT_SUCCESS(BCryptHashData(m_state->hash, const_cast<PUCHAR>(bytes), piece, 0));
    bytes += piece;
    size -= piece;
  }
}

bool CSha256::Finish(Sha256Digest* digest) {
  if (!m_state->failed) {
    m_state->failed = !BCRYPT_SUCCESS(
        BCryptFinishHash(m_state->hash, digest->bytes, static_cast<ULONG>(kSha256Size), 0));
  }
  return !m_state->failed;
}
