// unpack: lists an archive as the zip layer sees it, or extracts every entry
// into a folder the way the updater does. Lets a vendor check an update
// archive before publishing it.
//
//   unpack list ARCHIVE
//   unpack extract [--password TEXT] ARCHIVE FOLDER
//   unpack sign --key PRIVATE.pem ARCHIVE [SIGNATURE]     (native build)
//   unpack verify --key PUBLIC.pem ARCHIVE [SIGNATURE]
//   unpack make FOLDER OUT.zip --version B
//   unpack delta OLD_FOLDER NEW_FOLDER OUT.zip --from A --to B
//   unpack apply ARCHIVE FOLDER
//
// Exit status of list and extract: 0 when the archive opened and every entry
// gave 0; 1 when the archive could not be opened or some entry failed (or,
// for extract and before anything is written: it is a delta, which needs the
// old version's files, see apply; the updater would refuse its names; it
// does not fit the folder's free space); 2 for a bad command line or a
// FOLDER that cannot be the base (empty or too long), before anything is
// written. Names are printed with their control characters escaped. list
// shows an archive's release record after its entries; extract writes every
// entry but the record. sign and verify: see signature_commands.h; make,
// delta and apply: release_commands.h.
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include <string>

#include "tools/unpack/release_commands.h"
#include "tools/unpack/signature_commands.h"
#include "unzip/platform/file_system.h"
#include "unzip/unpack.h"
#include "updater/install/archive_names.h"
#include "updater/release/release_archive.h"

namespace {

const char* CodeName(UnpackResult code) {
  switch (code) {
    case UNPACK_OK:
      return "ok";
    case UNPACK_ERR_FILE:
      return "file";
    case UNPACK_ERR_DIRECTORY:
      return "central directory";
    case UNPACK_ERR_WRITE:
      return "write";
    case UNPACK_ERR_MORE:
      return "more";
    case UNPACK_ERR_LOCAL_HEADER:
      return "local header";
    case UNPACK_ERR_EXTRA_FIELD:
      return "extra field";
    case UNPACK_ERR_NAME_TOO_LONG:
      return "name too long";
    case UNPACK_ERR_OVERLAP:
      return "overlaps another entry";
    case UNPACK_ERR_NAME_ENCODING:
      return "name not representable";
    case UNPACK_ERR_PASSWORD:
      return "password";
    case UNPACK_ERR_ARGS:
      return "arguments";
    case UNPACK_ERR_HANDLE_KIND:
      return "handle kind";
    case UNPACK_ERR_BUSY:
      return "busy";
    case UNPACK_ERR_SEEK:
      return "seek";
    case UNPACK_ERR_READ:
      return "read";
    default:
      return "unknown";
  }
}

// A FILETIME as "YYYY-MM-DD hh:mm:ss" UTC (proleptic Gregorian calendar).
void FormatTime(const UNPACK_FILETIME& ft, char* out, size_t size) {
  int64_t ticks =
      static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
  int64_t seconds = ticks / 10000000 - 11644473600LL;  // Unix seconds
  int64_t days = seconds / 86400;
  int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    days -= 1;
  }
  // Days since 1970-01-01 to a civil date.
  int64_t z = days + 719468;
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  int64_t day = doy - (153 * mp + 2) / 5 + 1;
  int64_t month = mp < 10 ? mp + 3 : mp - 9;
  int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  snprintf(out, size,
           "%04" PRId64 "-%02" PRId64 "-%02" PRId64 " %02" PRId64 ":%02" PRId64 ":%02" PRId64, year,
           month, day, rest / 3600, rest / 60 % 60, rest % 60);
}

// name with its control characters escaped ("\r", "\n", "\t", "\x01"),
// so that a carriage return cannot hide another name in a listing.
const size_t kEscapedNameSize = kUnpackMaxPath * 4;
const char* Escaped(const char* name, char (&out)[kEscapedNameSize]) {
  size_t n = 0;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p != '\0'; ++p) {
    if (n + 5 > kEscapedNameSize) break;
    if (*p >= 0x20 && *p != 0x7F) {
      out[n++] = static_cast<char>(*p);
    } else if (*p == '\r' || *p == '\n' || *p == '\t') {
      out[n++] = '\\';
      out[n++] = *p == '\r' ? 'r' : (*p == '\n' ? 'n' : 't');
    } else {
      n += static_cast<size_t>(snprintf(out + n, kEscapedNameSize - n, "\\x%02X", *p));
    }
  }
  out[n] = '\0';
  return out;
}

int Usage() {
  fprintf(stderr,
          "usage: unpack list ARCHIVE\n"
          "       unpack extract [--password TEXT] ARCHIVE FOLDER\n"
          "       unpack sign --key PRIVATE.pem ARCHIVE [SIGNATURE]\n"
          "       unpack verify --key PUBLIC.pem ARCHIVE [SIGNATURE]\n"
          "       unpack make FOLDER OUT.zip --version B\n"
          "       unpack delta OLD_FOLDER NEW_FOLDER OUT.zip --from A --to B\n"
          "       unpack apply ARCHIVE FOLDER\n");
  return 2;
}

UnpackHandle OpenOrSay(const char* archive, const char* password) {
  UnpackHandle handle = UnpackOpen(archive, password);
  if (handle == nullptr) {
    fprintf(stderr, "unpack: cannot open %s as a zip archive (code 0x%X, %s)\n", archive,
            UnpackLastResult, CodeName(UnpackLastResult));
  }
  return handle;
}

int32_t EntryCount(UnpackHandle handle) {
  UnpackEntryInfo info = {};
  if (UnpackGetEntry(handle, -1, &info) != UNPACK_OK) return -1;
  return info.nIndex;
}

// A damaged central record ends every walk: says so for the entries from
// index on and answers true.
bool StopsTheWalk(UnpackResult result, int32_t index, int32_t count) {
  if (result != UNPACK_ERR_DIRECTORY) return false;
  if (index + 1 < count) {
    printf("      entries %d to %d lie behind a damaged central record\n", index + 1, count - 1);
  }
  return true;
}

// The archive's entries would unpack to more bytes than the folder's volume
// has free. Entries that fail their lookup write nothing and count nothing.
// Sizes are Zip64's, 64 bits each; a sum past 2^64 - 1 stays there.
bool ExceedsFreeSpace(UnpackHandle handle, int32_t count, const char* folder) {
  uint64_t needed = 0;
  for (int32_t i = 0; i < count; ++i) {
    uint64_t size = 0;
    const UnpackResult result = UnpackGetUnpackedSize(handle, i, &size);
    needed = size > UINT64_MAX - needed ? UINT64_MAX : needed + size;
    if (result == UNPACK_ERR_DIRECTORY) break;
  }
  uint64_t available = 0;
  if (!FsFreeSpace(folder, &available)) {
    fprintf(stderr, "unpack: cannot tell the free space for %s; extracting anyway\n", folder);
    return false;
  }
  if (needed <= available) return false;
  fprintf(stderr,
          "unpack: the archive unpacks to %" PRIu64 " bytes, more than the %" PRIu64
          " bytes free for %s; nothing extracted\n",
          needed, available, folder);
  return true;
}

// What the updater refuses before it writes anything, a name it keeps for
// itself or two names of one file, unpack refuses too: says why and answers
// true. Entries that fail their lookup fail the extraction on their own;
// the names are those from entry first on (after a release record).
bool RefusedByTheUpdater(UnpackHandle handle, int32_t first, int32_t count) {
  CArchiveNames names;
  for (int32_t i = first; i < count; ++i) {
    UnpackEntryInfo info = {};
    if (UnpackGetEntry(handle, i, &info) != UNPACK_OK) continue;
    names.Add(info.szName, (info.dwAttributes & kUnpackAttrDirectory) != 0);
  }
  CString message;
  if (names.Check(&message)) return false;
  fprintf(stderr, "unpack: the updater refuses this archive, nothing extracted: %s\n",
          message.GetString());
  return true;
}

// A scratch file for the record, beside the archive.
std::string RecordScratch(const char* archive) {
  return std::string(archive) + ".~record";
}

// Prints the archive's release record, if it has one; false when it has a
// record that cannot be read.
bool ListRecord(UnpackHandle handle, const char* archive) {
  if (!HasReleaseRecord(handle)) return true;
  ReleaseRecord record;
  CString why;
  if (!ReadReleaseRecord(handle, RecordScratch(archive).c_str(), &record, &why)) {
    char text[kEscapedNameSize];
    printf("release record: refused: %s\n", Escaped(why.Left(kUnpackMaxPath - 1), text));
    return false;
  }
  printf("release record: version %s", FormatVersion(record.version).GetString());
  if (record.isDelta) printf(", a delta from version %s", FormatVersion(record.from).GetString());
  printf(", %zu files\n", record.files.size());
  static const char* const kActions[] = {"write", "patch", "delete", "keep"};
  size_t patches = 0;
  for (const ReleaseFile& file : record.files) {
    char name[kEscapedNameSize];
    char size[24] = "-";
    if (file.hasResult) snprintf(size, sizeof(size), "%" PRIu64, file.size);
    printf("  %-6s %12s %.12s %.12s %s", kActions[static_cast<int>(file.action)], size,
           file.hasBase ? Sha256ToHex(file.base).GetString() : "-           ",
           file.hasResult ? Sha256ToHex(file.result).GetString() : "-           ",
           Escaped(file.path, name));
    if (file.action == ReleaseAction::kPatch) {
      printf("  (%s)", ReleasePatchEntryName(patches++).GetString());
    }
    printf("\n");
  }
  return true;
}

int List(const char* archive) {
  UnpackHandle handle = OpenOrSay(archive, nullptr);
  if (handle == nullptr) return 1;
  int32_t count = EntryCount(handle);
  printf("%d entries\n", count);
  printf(
      "index attr   packed     unpacked   last write          last access         "
      "creation            name\n");
  bool allGood = count >= 0;
  for (int32_t i = 0; i < count; ++i) {
    UnpackEntryInfo info = {};
    UnpackResult result = UnpackGetEntry(handle, i, &info);
    if (result != UNPACK_OK) {
      printf("%5d error 0x%X (%s)\n", i, result, CodeName(result));
      allGood = false;
      if (StopsTheWalk(result, i, count)) break;
      continue;
    }
    char write[32], access[32], creation[32];
    FormatTime(info.ftLastWrite, write, sizeof(write));
    FormatTime(info.ftLastAccess, access, sizeof(access));
    FormatTime(info.ftCreation, creation, sizeof(creation));
    char name[kEscapedNameSize];
    printf("%5d 0x%02X %10u %10u %s %s %s %s\n", info.nIndex, info.dwAttributes, info.nPackedSize,
           info.nUnpackedSize, write, access, creation, Escaped(info.szName, name));
  }
  if (!ListRecord(handle, archive)) allGood = false;
  UnpackClose(handle);
  return allGood ? 0 : 1;
}

int Extract(const char* archive, const char* folder, const char* password) {
  // An empty folder would mean the root of the file system, and a folder the
  // base cannot hold would leave the current directory as the base.
  if (folder[0] == '\0') {
    fprintf(stderr, "unpack: the folder is empty\n");
    return 2;
  }
  UnpackHandle handle = OpenOrSay(archive, password);
  if (handle == nullptr) return 1;
  if (UnpackSetBaseDir(handle, folder) != UNPACK_OK) {
    fprintf(stderr, "unpack: cannot extract into %s (code 0x%X, %s)\n", folder, UnpackLastResult,
            CodeName(UnpackLastResult));
    UnpackClose(handle);
    return 2;
  }
  // A delta's patches need the old version's files; the record itself is
  // no file of the product.
  int32_t first = 0;
  if (HasReleaseRecord(handle)) {
    ReleaseRecord record;
    CString why;
    if (!ReadReleaseRecord(handle, RecordScratch(archive).c_str(), &record, &why) ||
        record.isDelta) {
      fprintf(stderr, "unpack: %s: nothing extracted\n",
              record.isDelta ? "this archive is a delta: its patched files can only be rebuilt "
                               "from the old version's files (unpack apply ARCHIVE FOLDER)"
                             : why.GetString());
      UnpackClose(handle);
      return 1;
    }
    first = 1;
  }
  int32_t count = EntryCount(handle);
  if (ExceedsFreeSpace(handle, count, folder) || RefusedByTheUpdater(handle, first, count)) {
    UnpackClose(handle);
    return 1;
  }
  int failures = count >= 0 ? 0 : 1;
  for (int32_t i = first; i < count; ++i) {
    // As the updater does: look the entry up, then extract it under its
    // cleaned name (the lookup's record is what the extraction's cache holds).
    UnpackEntryInfo info = {};
    UnpackResult result = UnpackGetEntry(handle, i, &info);
    if (result == UNPACK_OK) result = UnpackExtract(handle, i, info.szName);
    char name[kEscapedNameSize];
    Escaped(info.szName, name);
    printf("%5d 0x%X %s\n", i, result, name);
    if (result != UNPACK_OK) {
      fprintf(stderr, "unpack: entry %d (%s): 0x%X (%s)\n", i, name, result, CodeName(result));
      ++failures;
      if (StopsTheWalk(result, i, count)) break;
    }
  }
  UnpackClose(handle);
  if (failures > 0) {
    fprintf(stderr, "unpack: %d of %d entries failed\n", failures, count);
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && strcmp(argv[1], "list") == 0) return List(argv[2]);
  if (argc >= 2 && strcmp(argv[1], "sign") == 0) return SignCommand(argc - 2, argv + 2);
  if (argc >= 2 && strcmp(argv[1], "verify") == 0) return VerifyCommand(argc - 2, argv + 2);
  if (argc >= 2 && strcmp(argv[1], "make") == 0) return MakeCommand(argc - 2, argv + 2);
  if (argc >= 2 && strcmp(argv[1], "delta") == 0) return DeltaCommand(argc - 2, argv + 2);
  if (argc >= 2 && strcmp(argv[1], "apply") == 0) return ApplyCommand(argc - 2, argv + 2);
  if (argc >= 4 && strcmp(argv[1], "extract") == 0) {
    const char* password = "";
    int next = 2;
    if (strcmp(argv[next], "--password") == 0) {
      password = argv[next + 1];
      next += 2;
    }
    if (argc - next != 2) return Usage();
    return Extract(argv[next], argv[next + 1], password);
  }
  return Usage();
}
