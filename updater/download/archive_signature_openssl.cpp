// OpenSSL implementation of the archive signature (native build).
#include <openssl/bio.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>
#include <memory>

#include "updater/download/archive_signature.h"

namespace {

struct KeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct ContextFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
struct FileClose {
  void operator()(FILE* file) const { std::fclose(file); }
};
typedef std::unique_ptr<EVP_PKEY, KeyFree> KeyPtr;

// A P-256 key from PEM text, public or private; null otherwise.
KeyPtr ReadKey(const std::string& pem, bool isPrivate) {
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  if (bio == nullptr) return nullptr;
  KeyPtr key(isPrivate ? PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr)
                       : PEM_read_bio_PUBKEY(bio, nullptr, nullptr, nullptr));
  BIO_free(bio);
  if (key == nullptr || EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_EC) return nullptr;
  char curve[64] = {};
  size_t length = 0;
  if (!EVP_PKEY_get_group_name(key.get(), curve, sizeof(curve), &length) ||
      std::string(curve) != "prime256v1") {
    return nullptr;
  }
  return key;
}

typedef std::unique_ptr<EVP_MD_CTX, ContextFree> ContextPtr;

// A signing or verifying context (init is EVP_DigestSignInit or
// EVP_DigestVerifyInit) over the key in keyPem that has taken in every byte
// of the file at path; null, with *why, on failure.
template <typename Init, typename Update>
ContextPtr DigestFile(const std::string& keyPem, bool isPrivate, const std::string& path, Init init,
                      Update update, std::string* why) {
  KeyPtr key = ReadKey(keyPem, isPrivate);
  if (key == nullptr) {
    *why = isPrivate ? "the key is not a PEM private key of curve P-256"
                     : "the key is not a PEM public key of curve P-256";
    return nullptr;
  }
  ContextPtr context(EVP_MD_CTX_new());
  if (context == nullptr || init(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1) {
    *why = "the key cannot be used";
    return nullptr;
  }
  std::unique_ptr<FILE, FileClose> file(std::fopen(path.c_str(), "rb"));
  unsigned char buffer[65536];
  size_t got = 0;
  while (file != nullptr && (got = std::fread(buffer, 1, sizeof(buffer), file.get())) > 0) {
    if (update(context.get(), buffer, got) != 1) return nullptr;
  }
  if (file == nullptr || std::ferror(file.get())) {
    *why = "cannot read the archive";
    return nullptr;
  }
  return context;
}

}  // namespace

SignatureVerdict VerifyArchiveFile(const std::string& keyPem, const std::string& archivePath,
                                   const std::string& signature, std::string* why) {
  ContextPtr context =
      DigestFile(keyPem, false, archivePath, EVP_DigestVerifyInit, EVP_DigestVerifyUpdate, why);
  if (context == nullptr) return SIGNATURE_ERROR;
  const int verdict = EVP_DigestVerifyFinal(
      context.get(), reinterpret_cast<const unsigned char*>(signature.data()), signature.size());
  if (verdict == 1) return SIGNATURE_GOOD;
  *why = "the signature does not match the archive and key";
  return SIGNATURE_BAD;
}

bool SignArchiveFile(const std::string& keyPem, const std::string& archivePath,
                     std::string* signature, std::string* why) {
  ContextPtr context =
      DigestFile(keyPem, true, archivePath, EVP_DigestSignInit, EVP_DigestSignUpdate, why);
  if (context == nullptr) return false;
  size_t size = 0;
  if (EVP_DigestSignFinal(context.get(), nullptr, &size) == 1) {
    signature->resize(size);
    if (EVP_DigestSignFinal(context.get(), reinterpret_cast<unsigned char*>(&(*signature)[0]),
                            &size) == 1) {
      signature->resize(size);
      return true;
    }
  }
  *why = "signing failed";
  return false;
}
