// Turns a stored entry name into one that stays below the base directory.
#ifndef UNZIP_ENTRY_NAME_H_
#define UNZIP_ENTRY_NAME_H_

#include <cstddef>
#include <cstdint>

#include "unzip/unpack.h"

// Copies the cleaned form of stored (NUL-terminated) into out (outSize bytes,
// always NUL-terminated; outSize > 0). From a position p at the first byte,
// these checks repeat in order, starting again from the first after every
// move, until none applies:
//   1. p[0] is not NUL and p[1] is ':' (drive prefix): p += 2;
//   2. p[0] is '\': p += 1;
//   3. p[0] is '/': p += 1;
//   4.-7. the text from p contains "\..\", else "\../", else "/../", else
//      "/..\": p moves just past the first occurrence of that pattern;
//   8. the text from p begins with ".." and a separator: p += 3.
// The last check keeps a name such as a/b/../../c (which the others leave as
// ../c) below the base; since the loop starts again, what follows the ".."
// is cleaned too (../C:/x gives x). Patterns 4-7 are searched with the
// double-byte-aware search of the platform; the other checks compare bytes.
void UnpackCleanName(const char* stored, char* out, size_t outSize);

// General-purpose bit 11: the stored name is UTF-8.
const uint32_t kUnpackFlagUtf8Name = 0x0800;

// The name an entry goes by before cleaning, into out (kUnpackMaxPath
// bytes). A UTF-8 name, marked by general-purpose bit 11 or given by a
// Unicode path extra block (0x7075, version 1) whose CRC-32 matches the
// stored name, is converted to the ANSI code page; any other name is copied
// byte for byte. The local extra field is searched for the block before the
// central one. Answers UNPACK_OK, UNPACK_ERR_NAME_TOO_LONG (the name does not
// fit) or UNPACK_ERR_NAME_ENCODING (the code page cannot represent it).
UnpackResult UnpackDecodeName(const char* stored, uint32_t flags, const unsigned char* localExtra,
                              size_t localSize, const unsigned char* centralExtra,
                              size_t centralSize, char* out);

#endif  // UNZIP_ENTRY_NAME_H_
