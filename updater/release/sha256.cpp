#include "updater/release/sha256.h"

bool Sha256Of(const void* data, size_t size, Sha256Digest* digest) {
  CSha256 hash;
  hash.Update(data, size);
  return hash.Finish(digest);
}
