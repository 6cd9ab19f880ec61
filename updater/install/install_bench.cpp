// Time of an update through staging, flushing and commit against the
// direct extraction the worker did before (scripts/bench-install.sh runs it,
// natively and under Wine).
//
//   install_bench direct|staged ARCHIVE FOLDER
//
// direct writes every entry straight to its target through the zip layer;
// staged applies the archive with InstallArchive, or with InstallRelease when
// it carries a release record (scripts/bench-delta.sh: a full archive and a
// delta). Prints the wall time in seconds; exits 1 when the archive does not
// open or the update fails.
#include <chrono>
#include <cstdio>
#include <cstring>

#include "unzip/unpack.h"
#include "updater/install/archive_install.h"
#include "updater/install/release_install.h"
#include "updater/release/release_archive.h"

int main(int argc, char** argv) {
  if (argc != 4 || (strcmp(argv[1], "direct") != 0 && strcmp(argv[1], "staged") != 0)) {
    fprintf(stderr, "usage: install_bench direct|staged ARCHIVE FOLDER\n");
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  UnpackHandle archive = UnpackOpen(argv[2], "");
  if (archive == nullptr) return 1;
  bool ok = true;
  if (strcmp(argv[1], "direct") == 0) {
    UnpackSetBaseDir(archive, argv[3]);
    UnpackEntryInfo entry = {};
    UnpackGetEntry(archive, -1, &entry);
    const int32_t count = entry.nIndex;
    for (int32_t i = 0; i < count; ++i) {
      UnpackGetEntry(archive, i, &entry);
      ok = UnpackExtract(archive, i, entry.szName) == UNPACK_OK && ok;
    }
  } else {
    CString message;
    ok = (HasReleaseRecord(archive) ? InstallRelease(archive, argv[3], SystemFileSystem(),
                                                     ReleaseInstallOptions(), &message)
                                    : InstallArchive(archive, argv[3], SystemFileSystem(), nullptr,
                                                     &message)) == InstallResult::kApplied;
    if (!ok) fprintf(stderr, "%s\n", message.GetString());
  }
  UnpackClose(archive);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  printf("%.3f\n", took.count());
  return ok ? 0 : 1;
}
