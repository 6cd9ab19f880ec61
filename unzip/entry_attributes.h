// Maps an entry's host and external attributes to platform attribute bits.
#ifndef UNZIP_ENTRY_ATTRIBUTES_H_
#define UNZIP_ENTRY_ATTRIBUTES_H_

#include <cstdint>

const uint32_t kUnpackAttrReadOnly = 0x01;
const uint32_t kUnpackAttrHidden = 0x02;
const uint32_t kUnpackAttrSystem = 0x04;
const uint32_t kUnpackAttrDirectory = 0x10;
const uint32_t kUnpackAttrArchive = 0x20;

// versionMadeBy: the central record's 16-bit field (host in the high byte).
// Hosts 0, 7, 11 and 14 carry DOS bits in the low byte of external; every
// other host a Unix mode in the high 16 bits (directory 040000, read-only
// when owner write 0200 is clear, always archive).
uint32_t UnpackMapAttributes(uint32_t versionMadeBy, uint32_t external);

#endif  // UNZIP_ENTRY_ATTRIBUTES_H_
