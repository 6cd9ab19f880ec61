#include "unzip/entry_attributes.h"

uint32_t UnpackMapAttributes(uint32_t versionMadeBy, uint32_t external) {
  const uint32_t host = (versionMadeBy >> 8) & 0xFF;
  if (host == 0 || host == 7 || host == 11 || host == 14) {
    return external & (kUnpackAttrReadOnly | kUnpackAttrHidden | kUnpackAttrSystem |
                       kUnpackAttrDirectory | kUnpackAttrArchive);
  }
  uint32_t attributes = kUnpackAttrArchive;
  if (external & 0x40000000) attributes |= kUnpackAttrDirectory;
  if ((external & 0x800000) == 0) attributes |= kUnpackAttrReadOnly;
  return attributes;
}
