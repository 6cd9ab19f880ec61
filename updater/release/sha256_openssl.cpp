// SHA-256 on OpenSSL's libcrypto (native build).
#include <openssl/evp.h>

#include "updater/release/sha256.h"

struct CSha256::State {
  EVP_MD_CTX* context = nullptr;
  bool failed = false;
};

CSha256::CSha256() : m_state(new State) {
  m_state->context = EVP_MD_CTX_new();
  m_state->failed = m_state->context == nullptr ||
                    EVP_DigestInit_ex(m_state->context, EVP_sha256(), nullptr) != 1;
}

CSha256::~CSha256() {
  EVP_MD_CTX_free(m_state->context);
  delete m_state;
}

void CSha256::Update(const void* data, size_t size) {
  if (m_state->failed || size == 0) return;
  m_state->failed = EVP_DigestUpdate(m_state->context, data, size) != 1;
}

bool CSha256::Finish(Sha256Digest* digest) {
  unsigned int length = 0;
  if (m_state->failed || EVP_DigestFinal_ex(m_state->context, digest->bytes, &length) != 1 ||
      length != kSha256Size) {
    m_state->failed = true;
  }
  return !m_state->failed;
}
