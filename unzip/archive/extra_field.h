// Blocks of an extra field: a 16-bit tag, a 16-bit data length, the data.
#ifndef UNZIP_EXTRA_FIELD_H_
#define UNZIP_EXTRA_FIELD_H_

#include <cstddef>
#include <cstdint>

// Finds the first block with tag in extra (size bytes). *data points at its
// data and *length is its data length, cut at the end of the field. False
// when no block has the tag; a length that runs past the field ends the
// search there.
bool UnpackFindExtraBlock(const unsigned char* extra, size_t size, uint16_t tag,
                          const unsigned char** data, size_t* length);

inline uint16_t UnpackRead16(const unsigned char* bytes) {
  return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}
inline uint32_t UnpackRead32(const unsigned char* bytes) {
  return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
         (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

#endif  // UNZIP_EXTRA_FIELD_H_
