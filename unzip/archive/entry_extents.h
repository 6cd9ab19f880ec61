// Where each entry's local header and data lie in the archive, learned once
// when the archive is opened, and which entries share bytes with another.
// Overlapping entries are how small archives expand to any size: many
// central records naming one local header, or the data of one entry holding
// the local header of the next.
#ifndef UNZIP_ENTRY_EXTENTS_H_
#define UNZIP_ENTRY_EXTENTS_H_

#include <cstddef>
#include <cstdint>

// The bytes [nStart, nEnd) of an entry: its local header, name, local extra
// field and stored data, in archive positions.
struct UnpackExtent {
  uint64_t nStart;
  uint64_t nEnd;
  int32_t nIndex;
};

// Sorts extents by start and sets overlapping[e.nIndex] for every extent e
// that shares a byte with another one; leaves the other flags alone.
void UnpackMarkOverlaps(UnpackExtent* extents, size_t count, bool* overlapping);

// Walks the central directory of reader (a minizip unzFile) once from its
// first entry, at most count entries, and sets overlapping[i] (count flags,
// cleared here) for each entry i whose extent overlaps another's. An entry
// whose local header cannot be read gets no extent: its lookup fails anyway.
// *reachable is the number of entries the walk reached (a damaged central
// record stops it). False when memory runs out.
bool UnpackFindOverlaps(void* reader, int32_t count, bool* overlapping, int32_t* reachable);

#endif  // UNZIP_ENTRY_EXTENTS_H_
