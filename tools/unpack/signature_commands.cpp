#include "tools/unpack/signature_commands.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "tools/unpack/product_folder.h"
#include "updater/download/archive_signature.h"

namespace {

struct SignatureArguments {
  std::string key;
  std::string archive;
  std::string signature;
};

// --key KEY ARCHIVE [SIGNATURE]; false when they do not have that shape.
bool ParseArguments(int argc, char** argv, SignatureArguments* out) {
  if ((argc != 3 && argc != 4) || std::strcmp(argv[0], "--key") != 0) return false;
  out->key = argv[1];
  out->archive = argv[2];
  out->signature = argc == 4 ? argv[3] : out->archive + ".sig";
  return true;
}

// Parses the arguments of command and reads the key. Answers 0, or the
// exit status after saying what is wrong.
int Prepare(const char* command, int argc, char** argv, SignatureArguments* args,
            std::string* key) {
  if (!ParseArguments(argc, argv, args)) {
    std::fprintf(stderr, "usage: unpack %s --key KEY.pem ARCHIVE [SIGNATURE]\n", command);
    return 2;
  }
  if (!ReadFileBytes(args->key, key)) {
    std::fprintf(stderr, "unpack: cannot read the key %s\n", args->key.c_str());
    return 2;
  }
  return 0;
}

}  // namespace

int SignCommand(int argc, char** argv) {
  SignatureArguments args;
  std::string key, signature, why;
  if (const int status = Prepare("sign", argc, argv, &args, &key)) return status;
  if (!SignArchiveFile(key, args.archive, &signature, &why)) {
    std::fprintf(stderr, "unpack: cannot sign %s: %s\n", args.archive.c_str(), why.c_str());
    return 2;
  }
  std::ofstream out(args.signature, std::ios::binary | std::ios::trunc);
  if (!out.write(signature.data(), static_cast<std::streamsize>(signature.size())) ||
      !out.flush()) {
    std::fprintf(stderr, "unpack: cannot write %s\n", args.signature.c_str());
    return 2;
  }
  std::printf("signed %s into %s\n", args.archive.c_str(), args.signature.c_str());
  return 0;
}

int VerifyCommand(int argc, char** argv) {
  SignatureArguments args;
  std::string key, signature, why;
  if (const int status = Prepare("verify", argc, argv, &args, &key)) return status;
  if (!ReadFileBytes(args.signature, &signature)) {
    std::printf("no signature: cannot read %s\n", args.signature.c_str());
    return 1;
  }
  switch (VerifyArchiveFile(key, args.archive, signature, &why)) {
    case SIGNATURE_GOOD:
      std::printf("good signature: %s is signed by the key's owner\n", args.archive.c_str());
      return 0;
    case SIGNATURE_BAD:
      std::printf("bad signature: %s\n", why.c_str());
      return 1;
    default:
      std::fprintf(stderr, "unpack: %s: %s\n", args.archive.c_str(), why.c_str());
      return 2;
  }
}
