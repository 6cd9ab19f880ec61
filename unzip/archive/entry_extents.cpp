#include "unzip/archive/entry_extents.h"

#include <algorithm>
#include <cstdlib>
#include <new>

#include <unzip.h>

namespace {

const uint64_t kLocalHeaderSize = 30;

uint64_t SaturatingAdd(uint64_t a, uint64_t b) {
  return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

// The extent of the reader's current entry; false when its local header
// cannot be read.
bool CurrentExtent(unzFile reader, const unz_file_info64& info, UnpackExtent* extent) {
  // Opened raw: no decompression and no password, only the local header.
  if (unzOpenCurrentFile2(reader, nullptr, nullptr, 1) != UNZ_OK) return false;
  const uint64_t dataStart = unzGetCurrentFileZStreamPos64(reader);
  int extraLength = unzGetLocalExtrafield(reader, nullptr, 0);
  // A local extra field that cannot be read whole fails the entry's lookup;
  // its declared length must not make the entries behind it overlap.
  if (extraLength > 0) {
    void* extra = std::malloc(static_cast<size_t>(extraLength));
    if (extra == nullptr ||
        unzGetLocalExtrafield(reader, extra, static_cast<unsigned>(extraLength)) != extraLength) {
      extraLength = -1;
    }
    std::free(extra);
  }
  unzCloseCurrentFile(reader);
  const uint64_t headerLength = kLocalHeaderSize + info.size_filename +
                                static_cast<uint64_t>(extraLength < 0 ? 0 : extraLength);
  if (extraLength < 0 || dataStart < headerLength) return false;
  extent->nStart = dataStart - headerLength;
  extent->nEnd = SaturatingAdd(dataStart, info.compressed_size);
  return true;
}

}  // namespace

void UnpackMarkOverlaps(UnpackExtent* extents, size_t count, bool* overlapping) {
  std::sort(extents, extents + count,
            [](const UnpackExtent& a, const UnpackExtent& b) { return a.nStart < b.nStart; });
  // Every extent is at least a local header long, so after sorting an extent
  // overlaps another exactly when it starts before the furthest end of those
  // before it, or ends after the start of the one after it.
  uint64_t furthestEnd = 0;
  for (size_t i = 0; i < count; ++i) {
    const bool hitsEarlier = i > 0 && extents[i].nStart < furthestEnd;
    const bool hitsLater = i + 1 < count && extents[i].nEnd > extents[i + 1].nStart;
    if (hitsEarlier || hitsLater) overlapping[extents[i].nIndex] = true;
    furthestEnd = std::max(furthestEnd, extents[i].nEnd);
  }
}

bool UnpackFindOverlaps(void* reader, int32_t count, bool* overlapping, int32_t* reachable) {
  unzFile zip = static_cast<unzFile>(reader);
  *reachable = 0;
  std::fill(overlapping, overlapping + count, false);
  if (count <= 0) return true;
  UnpackExtent* extents = new (std::nothrow) UnpackExtent[static_cast<size_t>(count)];
  if (extents == nullptr) return false;
  size_t found = 0;
  int32_t index = 0;
  for (int err = unzGoToFirstFile(zip); err == UNZ_OK && index < count;
       err = unzGoToNextFile(zip)) {
    unz_file_info64 info;
    if (unzGetCurrentFileInfo64(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) break;
    UnpackExtent extent;
    if (CurrentExtent(zip, info, &extent)) {
      extent.nIndex = index;
      extents[found++] = extent;
    }
    ++index;
  }
  *reachable = index;
  UnpackMarkOverlaps(extents, found, overlapping);
  delete[] extents;
  return true;
}
