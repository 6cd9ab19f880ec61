// Signs bytes the way a publisher signs an update archive (DER ECDSA P-256
// over SHA-256), on the system's crypto: with the build's test publisher
// key, whose public half is built into the signed updater, or with a key
// that no updater knows.
#ifndef TESTING_TEST_SIGNER_H_
#define TESTING_TEST_SIGNER_H_

#include <string>

namespace testsign {

// Empty when signing failed.
std::string SignWithTestKey(const std::string& bytes);
std::string SignWithOtherKey(const std::string& bytes);

}  // namespace testsign

#endif  // TESTING_TEST_SIGNER_H_
