// Makes the patches of unpack delta: a zstd frame of the new file with the
// old one as its prefix ("patch-from"), long-distance matching on, a window
// that holds the larger file (PatchWindowLog, which the updater's decoder
// allows), the content size and a checksum in the frame.
#ifndef TOOLS_UNPACK_PATCH_ENCODER_H_
#define TOOLS_UNPACK_PATCH_ENCODER_H_

#include <string>

// zstd's level for patches; see docs/vendor-guide.md for the measurement.
const int kPatchLevel = 19;

// False, with *why, when zstd fails (out of memory).
bool MakePatch(const std::string& base, const std::string& result, int level, std::string* frame,
               std::string* why);

#endif  // TOOLS_UNPACK_PATCH_ENCODER_H_
