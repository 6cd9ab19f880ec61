// Maps an entry's host and external attributes to platform attribute bits.
#ifndef UNZIP_ENTRY_ATTRIBUTES_H_
#define UNZIP_ENTRY_ATTRIBUTES_H_

#include <cstdint>

#include "unzip/unpack.h"

// versionMadeBy: the central record's 16-bit field (host in the high byte).
// Hosts 0, 7, 11 and 14 carry DOS bits in the low byte of external; every
// other host a Unix mode in the high 16 bits (directory 040000, read-only
// when owner write 0200 is clear, always archive). An external value whose
// high 16 bits are all zero holds no Unix mode, and its DOS bits count
// whatever the host.
uint32_t UnpackMapAttributes(uint32_t versionMadeBy, uint32_t external);

#endif  // UNZIP_ENTRY_ATTRIBUTES_H_
