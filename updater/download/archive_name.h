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

#endif  // UPDATER_DOWNLOAD_ARCHIVE_NAME_H_
