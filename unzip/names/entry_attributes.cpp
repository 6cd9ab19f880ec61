#include "unzip/names/entry_attributes.h"

uint32_t UnpackMapAttributes(uint32_t versionMadeBy, uint32_t external) {
  const uint32_t host = (versionMadeBy >> 8) & 0xFF;
  // Zero high bits hold no Unix mode at all: Windows tools write host 10 (or
  // 3) with just the DOS bits, and the Unix rule would make every such file
  // read-only, so that it could never be replaced by a later update.
  const bool noUnixMode = (external >> 16) == 0;
  if (host == 0 || host == 7 || host == 11 || host == 14 || noUnixMode) {
    return external & (kUnpackAttrReadOnly | kUnpackAttrHidden | kUnpackAttrSystem |
                       kUnpackAttrDirectory | kUnpackAttrArchive);
  }
  uint32_t attributes = kUnpackAttrArchive;
  if (external & 0x40000000) attributes |= kUnpackAttrDirectory;
  if ((external & 0x800000) == 0) attributes |= kUnpackAttrReadOnly;
  return attributes;
}
