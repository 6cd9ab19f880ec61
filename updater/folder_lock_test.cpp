// One update at a time per folder, however the folder's path is spelt, and
// never one folder's lock for another's. The program runs in the ANSI code
// page it was started with (1252, or 936 in its CP936 build) and picks the
// folder names that matter there.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/http_server.h"
#include "testing/ui_driver.h"
#include "testing/updater_sandbox.h"
#include "testing/zip_builder.h"

namespace {

const DWORD kTimeoutMs = 30000;

struct FolderPair {
  const char* what;
  std::wstring first;   // the folder the first updater runs in
  std::wstring second;  // how the second updater's folder is spelt
  bool sameFolder;
};

std::vector<FolderPair> Pairs() {
  if (GetACP() == 936) {
    return {
        {"upper case of a Cyrillic letter", L"\x9501-\x0434", L"\x9501-\x0414", true},
        // GBK 81 61 and 81 41: the trail bytes are 'a' and 'A'.
        {"two characters whose bytes differ in ASCII case", L"\x4E64", L"\x4E04", false},
    };
  }
  return {{"upper case of a Latin letter", L"lock-\x00E4", L"LOCK-\x00C4", true}};
}

}  // namespace

TEST(FolderLockTest, TheSecondUpdaterInAFolderExits6HoweverItIsSpelt) {
  const UINT codePage = GetACP();
  ASSERT_TRUE(codePage == 1252 || codePage == 936) << codePage;
  // A server for each updater: one answers a connection at a time.
  TestHttpServer server;
  ASSERT_TRUE(server.started());
  TestHttpResponse slow{200, std::string(2000000, 'x')};
  slow.bytesPerSecond = 100000;
  server.Serve("/slow.zip", slow);
  zipbuild::ZipBuilder zip;
  zip.AddFile("note.txt", "updated\n");
  TestHttpServer otherServer;
  ASSERT_TRUE(otherServer.started());
  otherServer.Serve("/fast.zip", {200, zip.Build()});

  for (const FolderPair& pair : Pairs()) {
    SCOPED_TRACE(pair.what);
    UpdaterSandbox sandbox(UPDATER_EXE, MARKER_TARGET_EXE);
    ASSERT_TRUE(sandbox.ready());
    const std::wstring first = sandbox.folder() + L"\\" + pair.first;
    const std::wstring second = sandbox.folder() + L"\\" + pair.second;
    for (const std::wstring& folder : {first, second}) {
      if (folder == second && pair.sameFolder) continue;
      ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
      ASSERT_TRUE(CopyFileW(sandbox.updater().c_str(), (folder + L"\\updater.exe").c_str(), TRUE));
    }
    const std::wstring target = L" -dest \"" + sandbox.target() + L"\"";

    // The first holds the lock while it downloads.
    const int before = server.RequestCount();
    ui::Process running(L"\"" + first + L"\\updater.exe\" -silent -url " +
                            ui::Widen(server.Url("/slow.zip")) + target,
                        sandbox.folder());
    ASSERT_TRUE(running.started());
    for (DWORD start = GetTickCount();
         server.RequestCount() == before && GetTickCount() - start < kTimeoutMs;) {
      Sleep(10);
    }
    ASSERT_EQ(server.RequestCount(), before + 1);

    // Under Wine only a "\\?\" path keeps its spelling in the module's path.
    ui::Process other(L"\"\\\\?\\" + second + L"\\UPDATER.EXE\" -silent -url " +
                          ui::Widen(otherServer.Url("/fast.zip")) + target,
                      sandbox.folder());
    ASSERT_TRUE(other.WaitExit(kTimeoutMs));
    EXPECT_EQ(other.exitCode(), pair.sameFolder ? 6u : 0u);
    // The first was still running: the second met its lock, or did not.
    EXPECT_TRUE(running.running());
    EXPECT_EQ(GetFileAttributesW((second + L"\\note.txt").c_str()) != INVALID_FILE_ATTRIBUTES,
              !pair.sameFolder);
    running.Kill();
    EXPECT_TRUE(running.WaitExit(kTimeoutMs));
  }
}
