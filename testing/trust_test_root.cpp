// trust_test_root: adds a test certificate authority to the trusted roots
// of the Wine prefix (or Windows machine) it runs in, or takes it out again,
// so that a test can serve HTTPS with a certificate of its own making.
//
//   trust_test_root add CA.pem      exit 0 when the CA is trusted now
//   trust_test_root remove CA.pem   exit 0 when it is no longer there
//
// It writes to the local machine's Root store in the registry directly:
// through the system store, Wine accepts a deletion but keeps the
// certificate.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// The DER bytes of the first PEM certificate in path; empty on failure.
std::vector<BYTE> ReadPemCertificate(const char* path) {
  std::vector<BYTE> der;
  FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return der;
  std::vector<char> pem(65536);
  const size_t length = std::fread(pem.data(), 1, pem.size(), file);
  std::fclose(file);
  DWORD size = 0;
  if (!CryptStringToBinaryA(pem.data(), static_cast<DWORD>(length), CRYPT_STRING_BASE64HEADER,
                            nullptr, &size, nullptr, nullptr)) {
    return der;
  }
  der.resize(size);
  if (!CryptStringToBinaryA(pem.data(), static_cast<DWORD>(length), CRYPT_STRING_BASE64HEADER,
                            der.data(), &size, nullptr, nullptr)) {
    der.clear();
  }
  return der;
}

}  // namespace

int main(int argc, char** argv) {
  const bool add = argc == 3 && std::strcmp(argv[1], "add") == 0;
  if (argc != 3 || (!add && std::strcmp(argv[1], "remove") != 0)) {
    std::fprintf(stderr, "usage: trust_test_root add|remove CA.pem\n");
    return 2;
  }
  std::vector<BYTE> der = ReadPemCertificate(argv[2]);
  if (der.empty()) {
    std::fprintf(stderr, "trust_test_root: no PEM certificate in %s\n", argv[2]);
    return 2;
  }
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_A, 0, 0,
                                   CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root");
  if (store == nullptr) {
    std::fprintf(stderr, "trust_test_root: cannot open the Root store (%lu)\n", GetLastError());
    return 1;
  }
  bool done = false;
  if (add) {
    done = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                            static_cast<DWORD>(der.size()),
                                            CERT_STORE_ADD_REPLACE_EXISTING, nullptr) != FALSE;
  } else {
    PCCERT_CONTEXT certificate =
        CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
    PCCERT_CONTEXT found =
        certificate == nullptr ? nullptr
                               : CertFindCertificateInStore(store, X509_ASN_ENCODING, 0,
                                                            CERT_FIND_EXISTING, certificate, nullptr);
    done = found == nullptr || CertDeleteCertificateFromStore(found);  // frees found
    if (certificate != nullptr) CertFreeCertificateContext(certificate);
  }
  if (!done) std::fprintf(stderr, "trust_test_root: %s failed (%lu)\n", argv[1], GetLastError());
  CertCloseStore(store, 0);
  return done ? 0 : 1;
}
