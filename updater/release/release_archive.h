// The release record as it travels in an update archive: entry 0, named
// kReleaseRecordName, followed by the files written whole (named by their
// record paths), the patch entries (~update.patch/N) and folder entries.
// An archive whose entry 0 has another name has no record: it is a plain
// zip, installed entry by entry.
#ifndef UPDATER_RELEASE_RELEASE_ARCHIVE_H_
#define UPDATER_RELEASE_RELEASE_ARCHIVE_H_

#include <cstdint>
#include <vector>

#include "framework/cstring.h"
#include "unzip/unpack.h"
#include "updater/release/release_record.h"

// Whether entry 0 of archive is a release record.
bool HasReleaseRecord(UnpackHandle archive);

// Reads and parses the record of archive. The entry is extracted to
// scratchPath (a file that may be created and is removed again; a relative
// path is taken from the current folder) and may be at most
// kReleaseRecordMaxSize bytes. False,
// with *why, when there is no record or it is unreadable or malformed.
bool ReadReleaseRecord(UnpackHandle archive, const char* scratchPath, ReleaseRecord* record,
                       CString* why);

// How the entries of archive serve record. entryOfFile[i] is the index of
// the entry that holds record.files[i] (its whole file or its patch), -1
// for delete and keep. Every other entry but 0 must be a folder. False,
// with *why, when an entry is missing, is not named by the record, or
// appears twice. Record paths (UTF-8) are compared with entry names as the
// zip layer gives them, in the process code page.
bool MatchReleaseEntries(UnpackHandle archive, const ReleaseRecord& record,
                         std::vector<int32_t>* entryOfFile, CString* why);

#endif  // UPDATER_RELEASE_RELEASE_ARCHIVE_H_
