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

// Feeds the whole file at path to update (a DigestSign/VerifyUpdate).
template <typename Update>
bool DigestFile(const std::string& path, EVP_MD_CTX* context, Update update) {
  std::unique_ptr<FILE, FileClose> file(std::fopen(path.c_str(), "rb"));
  if (file == nullptr) return false;
  unsigned char buffer[65536];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof(buffer), file.get())) > 0) {
    if (update(context, buffer, got) != 1) return false;
  }
  return !std::ferror(file.get());
}

}  // namespace

SignatureVerdict VerifyArchiveFile(const std::string& keyPem, const std::string& archivePath,
                                   const std::string& signature, std::string* why) {
  KeyPtr key = ReadKey(keyPem, false);
  if (key == nullptr) {
    *why = "the key is not a PEM public key of curve P-256";
    return SIGNATURE_ERROR;
  }
  std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
  if (context == nullptr ||
      EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1) {
    *why = "the key cannot verify";
    return SIGNATURE_ERROR;
  }
  if (!DigestFile(archivePath, context.get(), EVP_DigestVerifyUpdate)) {
    *why = "cannot read the archive";
    return SIGNATURE_ERROR;
  }
  const int verdict = EVP_DigestVerifyFinal(
      context.get(), reinterpret_cast<const unsigned char*>(signature.data()), signature.size());
  if (verdict == 1) return SIGNATURE_GOOD;
  *why = "the signature does not match the archive and key";
  return SIGNATURE_BAD;
}

bool SignArchiveFile(const std::string& keyPem, const std::string& archivePath,
                     std::string* signature, std::string* why) {
  KeyPtr key = ReadKey(keyPem, true);
  if (key == nullptr) {
    *why = "the key is not a PEM private key of curve P-256";
    return false;
  }
  std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
  if (context == nullptr ||
      EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1) {
    *why = "the key cannot sign";
    return false;
  }
  if (!DigestFile(archivePath, context.get(), EVP_DigestSignUpdate)) {
    *why = "cannot read the archive";
    return false;
  }
  size_t size = 0;
  if (EVP_DigestSignFinal(context.get(), nullptr, &size) != 1) {
    *why = "signing failed";
    return false;
  }
  signature->resize(size);
  if (EVP_DigestSignFinal(context.get(), reinterpret_cast<unsigned char*>(&(*signature)[0]),
                          &size) != 1) {
    *why = "signing failed";
    return false;
  }
  signature->resize(size);
  return true;
}
