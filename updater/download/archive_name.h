// Where the worker keeps the downloaded archive: a name in the updater's own
// folder that is unlikely to clash, made from the tick count.
#ifndef UPDATER_DOWNLOAD_ARCHIVE_NAME_H_
#define UPDATER_DOWNLOAD_ARCHIVE_NAME_H_

#include <cstdint>

#include "framework/cstring.h"

// The folder of modulePath: cut before its last backslash, trailing
// backslashes trimmed. Empty when the path holds no backslash.
CString UpdaterDirectory(const char* modulePath);

// "<directory>\<tick count>.tarnwick.zip"; the tick count is printed as a
// signed number, so from 2^31 ms of uptime on it carries a minus sign.
CString DownloadArchivePath(const CString& directory, uint32_t tickCount);

// The longest path the updater makes in its folder is a downloaded
// archive's signature, "<folder>\-2147483648.tarnwick.zip.sig"; its other
// files (the journal, the staging and backup folders and their numbered
// files) have shorter names. A folder whose path is longer than this many
// bytes leaves no room for it within the platform's path limit (259 and the
// terminator).
extern const int kUpdaterFolderMaxLength;

// True when folder is not empty and no longer than kUpdaterFolderMaxLength.
bool UpdaterFolderFits(const CString& folder);

// Windows only (archive_name_win32.cpp): the folder of the running program,
// as UpdaterDirectory gives it from the module's full path, however long.
// False when that path cannot be had or the folder does not fit; *folder is
// then what is known of it (for the message), possibly empty.
bool GetUpdaterFolder(CString* folder);

#endif  // UPDATER_DOWNLOAD_ARCHIVE_NAME_H_
