// The release record: the entry ~update.release that heads every archive
// made by `unpack make` or `unpack delta`, inside the bytes a signature
// covers. It says which version the archive installs, which version a delta
// applies to, and what happens to every file, with the SHA-256 of the file
// before (the base) and after (the result). Plain UTF-8 text, one LF after
// each line, no CR anywhere:
//
//   update-release 1
//   version 2.0.0
//   from 1.9.0
//   write - 3a7bd3e2...(64 hex digits) 1048576 bin/app.exe
//   patch 9f86d081... 60303ae2... 2097152 bin/engine.dll
//   delete 2c26b46b... - - plugins/old.dll
//   keep fcde2b2e... fcde2b2e... 4096 docs/read me.txt
//
// The first line names the format and its version; then the product
// version this archive installs; then, for a delta only, the version it
// applies to. Every further line is one file: the action, the base's hash,
// the result's hash, the result's size in bytes and the path, separated by
// single spaces, "-" where there is none. The path is the rest of the line,
// so it may hold spaces; it follows release_path.h.
//
//   write   the archive holds the file whole, as an entry named by the path.
//           In a delta a base hash may say what it replaces; it is not
//           checked, the file being written whatever was there.
//   patch   delta only; the archive holds a zstd frame made with the base
//           as its prefix, as entry ~update.patch/N for the Nth patch line
//           (from 0); base and result hashes and the size are given, and
//           the size is at most kMaxPatchedFileSize.
//   delete  delta only; base hash given, no result and no size.
//   keep    delta only; the file stays; its hash (base and result alike)
//           and size are given.
//
// A full archive (no "from" line) holds write lines without base hashes
// only. No two paths may name the same file on Windows (ReleasePathKey),
// and no path may run through another file's path as if it were a folder.
#ifndef UPDATER_RELEASE_RELEASE_RECORD_H_
#define UPDATER_RELEASE_RELEASE_RECORD_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "framework/cstring.h"
#include "updater/release/release_version.h"
#include "updater/release/sha256.h"

// The record's entry name, and the folder of the patch entries.
extern const char kReleaseRecordName[];   // "~update.release"
extern const char kReleasePatchFolder[];  // "~update.patch/"
// The largest record a reader takes in.
const size_t kReleaseRecordMaxSize = 32u << 20;
// Files above this size are always sent whole, never patched.
const uint64_t kMaxPatchedFileSize = 256u << 20;
// The format version this code reads and writes.
const int kReleaseFormatVersion = 1;

enum class ReleaseAction { kWrite, kPatch, kDelete, kKeep };

struct ReleaseFile {
  ReleaseAction action = ReleaseAction::kWrite;
  bool hasBase = false;
  Sha256Digest base = {};
  bool hasResult = false;
  Sha256Digest result = {};
  uint64_t size = 0;  // of the result; 0 without one
  CString path;
};

struct ReleaseRecord {
  ReleaseVersion version = {};
  bool isDelta = false;
  ReleaseVersion from = {};  // when isDelta
  std::vector<ReleaseFile> files;
};

// Parses size bytes at text into *record, checking every rule above. On
// failure answers false with *why saying what is wrong and where ("line 5:
// the path ../a leaves the install folder"), and *record is unspecified.
bool ParseReleaseRecord(const char* text, size_t size, ReleaseRecord* record, CString* why);

// The text of record, which ParseReleaseRecord reads back as it is.
// REQUIRES: a record that follows the rules above.
CString FormatReleaseRecord(const ReleaseRecord& record);

// "~update.patch/N": the entry of the patch line with that ordinal.
CString ReleasePatchEntryName(size_t ordinal);

// Lower-case hex of a digest (64 bytes), and back; FromHex takes exactly 64
// lower-case hex digits.
CString Sha256ToHex(const Sha256Digest& digest);
bool Sha256FromHex(const char* text, size_t size, Sha256Digest* digest);

#endif  // UPDATER_RELEASE_RELEASE_RECORD_H_
