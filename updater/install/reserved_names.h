// The names the updater keeps for itself in the install folder. An update
// archive that holds one of them is refused: installing it would overwrite
// the updater's own files (the journal, staging, backups), or leave a file
// that the next start sweeps away as a leftover.
//
// Every file of the updater's own lives at the top of the folder and begins
// with "~update."; downloaded archives and their signatures end with
// ".tarnwick.zip" and ".tarnwick.zip.sig". Anywhere in the tree, the zip
// layer's temporary names ("~u" and four hex digits) and the suffixes
// ".~upd-new" and ".~upd-old", which recovery still sweeps, are reserved too.
// Names are compared as the file system compares them (file_names.h): case
// ignored, trailing dots and spaces dropped.
//
// Keep this list in step with the names the transaction, recovery and the
// download use.
#ifndef UPDATER_INSTALL_RESERVED_NAMES_H_
#define UPDATER_INSTALL_RESERVED_NAMES_H_

#include <cstddef>

#include "framework/cstring.h"

// name: a cleaned entry name, relative to the folder, '/' or '\' separated,
// a directory's with or without its trailing separator.
bool IsReservedEntryName(const CString& name);

struct FsPath;
// The same for a name already split (file_names.h).
bool IsReservedPath(const FsPath& path);

// The same for size bytes of UTF-8, '/' separated: a path of a release
// record, checked whatever the process code page is.
bool IsReservedUtf8Path(const char* path, size_t size);

#endif  // UPDATER_INSTALL_RESERVED_NAMES_H_
