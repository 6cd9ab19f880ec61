#include "unzip/archive/extra_field.h"

bool UnpackFindExtraBlock(const unsigned char* extra, size_t size, uint16_t tag,
                          const unsigned char** data, size_t* length) {
  if (extra == nullptr) return false;
  size_t offset = 0;
  while (offset + 4 <= size) {
    const size_t dataStart = offset + 4;
    const size_t declared = UnpackRead16(extra + offset + 2);
    if (UnpackRead16(extra + offset) == tag) {
      *data = extra + dataStart;
      *length = declared < size - dataStart ? declared : size - dataStart;
      return true;
    }
    offset = dataStart + declared;
  }
  return false;
}
