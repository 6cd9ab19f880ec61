// The rules a path in a release record must follow before the updater lets
// it name a file in its folder, and the key under which Windows takes two
// spellings of a path for the same file.
//
// A path is UTF-8, relative to the install folder, its components separated
// by single '/'. Refused: an empty path or component; '\' and ':' anywhere
// (another separator, a drive or a data stream); a leading '/'; a component
// that ends in '.' or ' ' (".", ".." and "a." among them, which Windows trims
// to another name); a device name as a component (CON, NUL.txt, COM1.log, ...);
// the updater's own names; more than kReleaseMaxPath bytes; bytes that are
// not UTF-8, and NUL, CR and LF.
//
// The updater's own names are the install's one list of them
// (updater/install/reserved_names.h), compared as the file system compares:
// a top-level name that begins with "~update." or ends with ".tarnwick.zip"
// or ".tarnwick.zip.sig"; anywhere, the zip layer's temporary names ("~u"
// and four hex digits) and names ending in ".~upd-new" or ".~upd-old".
#ifndef UPDATER_RELEASE_RELEASE_PATH_H_
#define UPDATER_RELEASE_RELEASE_PATH_H_

#include <cstddef>

#include "framework/cstring.h"

const size_t kReleaseMaxPath = 259;  // bytes; the zip layer's names are shorter than 260

// Null when the size bytes at path are a path a release may name; otherwise
// why not, in words that follow the path ("leaves the install folder").
const char* ReleasePathProblem(const char* path, size_t size);

// Whether the path (or a single component) is one of the updater's own
// names. Top-level rules apply to the first component only.
bool IsUpdaterOwnName(const char* path, size_t size);

// The key that two paths naming the same file on Windows share: the path
// with its letters folded to upper case (ASCII, Latin-1, Latin Extended-A,
// Greek, Cyrillic and full-width Latin). REQUIRES: a path without problem.
CString ReleasePathKey(const char* path, size_t size);

#endif  // UPDATER_RELEASE_RELEASE_PATH_H_
