// The real updater.exe in a folder that may not be written
// (UPDATER_LOCKED_FOLDER, made by testing/with_locked_folder.sh with a copy
// of updater.exe and an update cut short in it, whose repair needs the same
// rights), started as a user's programs start: with a limited token (the
// linked token, Administrators deny-only). Under Wine the shell's
// "runas" starts the second copy with the caller's token and never asks, so
// the second start finds the folder locked as well: what is tested is that
// exactly one second start happens and the run ends, with nothing changed.
#include <winsock2.h>

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/http_server.h"
#include "testing/ui_driver.h"
#include "testing/updater_sandbox.h"
#include "testing/zip_builder.h"

namespace {

const DWORD kTimeoutMs = 30000;

// A process started by the test; killed on destruction if still running.
struct Started {
  PROCESS_INFORMATION info = {};
  ~Started() {
    if (info.hProcess == nullptr) return;
    TerminateProcess(info.hProcess, 1);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
  }
  bool WaitExit(DWORD timeoutMs) const {
    return WaitForSingleObject(info.hProcess, ScaledTimeout(timeoutMs)) == WAIT_OBJECT_0;
  }
  DWORD exitCode() const {
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(info.hProcess, &code);
    return code;
  }
};

bool Elevated(HANDLE process) {
  HANDLE token = nullptr;
  TOKEN_ELEVATION elevation = {};
  DWORD size = 0;
  const bool known =
      OpenProcessToken(process, TOKEN_QUERY, &token) &&
      GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size);
  if (token != nullptr) CloseHandle(token);
  return known && elevation.TokenIsElevated != 0;
}

// Starts commandLine with a limited token, or with this process's own
// (under Wine a full administrator's) when limited is false.
void Start(const std::wstring& commandLine, bool limited, Started* started) {
  std::wstring line = commandLine;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  if (!limited) {
    CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                   &started->info);
    return;
  }
  HANDLE own = nullptr, primary = nullptr, restricted = nullptr;
  TOKEN_LINKED_TOKEN linked = {};
  DWORD size = 0;
  BYTE administrators[SECURITY_MAX_SID_SIZE];
  DWORD sidSize = sizeof(administrators);
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &own) &&
      GetTokenInformation(own, TokenLinkedToken, &linked, sizeof(linked), &size) &&
      DuplicateTokenEx(linked.LinkedToken, TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation,
                       TokenPrimary, &primary) &&
      CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &sidSize)) {
    SID_AND_ATTRIBUTES denyOnly = {administrators, 0};
    if (CreateRestrictedToken(primary, 0, 1, &denyOnly, 0, nullptr, 0, nullptr, &restricted)) {
      CreateProcessAsUserW(restricted, nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                           nullptr, &startup, &started->info);
    }
  }
  for (HANDLE handle : {own, linked.LinkedToken, primary, restricted}) {
    if (handle != nullptr) CloseHandle(handle);
  }
}

// The processes that parent started.
std::vector<DWORD> Children(DWORD parent) {
  std::vector<DWORD> children;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ParentProcessID == parent) children.push_back(entry.th32ProcessID);
  }
  CloseHandle(snapshot);
  return children;
}

std::vector<std::string> LogLines(const std::wstring& path) {
  const std::string text = ReadFileBytes(path);
  std::vector<std::string> lines;
  for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos;
       start = end + 2) {
    lines.push_back(text.substr(start + 20, end - start - 20));  // without the time stamp
  }
  return lines;
}

int Count(const std::vector<std::string>& lines, const std::string& text) {
  int count = 0;
  for (const std::string& line : lines) count += line.find(text) != std::string::npos;
  return count;
}

class AdminRightsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t folder[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"UPDATER_LOCKED_FOLDER", folder, MAX_PATH) == 0) {
      char why[512] = "UPDATER_LOCKED_FOLDER is not set (run through with_locked_folder.sh)";
      GetEnvironmentVariableA("UPDATER_LOCKED_FOLDER_SKIP", why, sizeof(why));
      GTEST_SKIP() << why;
    }
    m_locked = folder;
    ASSERT_TRUE(m_sandbox.ready());
    ASSERT_TRUE(m_server.started());
    m_server.Serve("/update.zip", {200, zipbuild::ZipBuilder().AddFile("a.txt", "new").Build()});
    // The folder really refuses a new file, to administrators too.
    HANDLE file = CreateFileW((m_locked + L"\\probe.txt").c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_NEW, 0, nullptr);
    ASSERT_EQ(file, INVALID_HANDLE_VALUE);
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  }

  // The update of updater.exe in folder, logged to m_log.
  std::wstring CommandLine(const std::wstring& folder, const std::wstring& options) const {
    return L"\"" + folder + L"\\updater.exe\" -url " + ui::Widen(m_server.Url("/update.zip")) +
           L" -dest \"" + m_sandbox.target() + L"\" -log \"" + m_log + L"\"" + options;
  }

  // The locked folder as with_locked_folder.sh made it.
  bool LockedFolderUnchanged() const {
    FolderTree tree = ReadFolderTree(m_locked);
    const bool hasUpdater = tree.erase(L"updater.exe") == 1;
    const FolderTree cutShort = {{L"~update.journal", "updater journal 2\nF 1 1 readme.txt\nC\n"},
                                 {L"readme.txt", "new readme"},
                                 {L"~update.backup\\", ""},
                                 {L"~update.backup\\0\\", ""},
                                 {L"~update.backup\\0\\1", "old readme"},
                                 {L"~update.staging\\", ""},
                                 {L"~update.staging\\0\\", ""}};
    EXPECT_EQ(tree, cutShort) << Describe(tree);
    return hasUpdater && tree == cutShort;
  }

  std::wstring m_locked;
  UpdaterSandbox m_sandbox{UPDATER_EXE, MARKER_TARGET_EXE};
  const std::wstring m_log = m_sandbox.folder() + L"\\target dir\\update.log";
  TestHttpServer m_server;
};

TEST_F(AdminRightsTest, ALimitedRunInAWritableFolderUpdatesAsEver) {
  Started run;
  Start(CommandLine(m_sandbox.folder(), L" -silent"), true, &run);
  ASSERT_NE(run.info.hProcess, nullptr) << "no limited token under this Wine";
  EXPECT_FALSE(Elevated(run.info.hProcess));
  ASSERT_TRUE(run.WaitExit(kTimeoutMs));
  EXPECT_EQ(run.exitCode(), 0u);
  EXPECT_EQ(ReadFileBytes(m_sandbox.folder() + L"\\a.txt"), "new");
  EXPECT_EQ(Count(LogLines(m_log), "start: "), 1);
}

TEST_F(AdminRightsTest, ALimitedSilentRunEndsWith7WithoutAWindow) {
  Started run;
  Start(CommandLine(m_locked, L" -silent"), true, &run);
  ASSERT_NE(run.info.hProcess, nullptr);
  EXPECT_FALSE(Elevated(run.info.hProcess));
  int windows = 0;
  for (DWORD start = GetTickCount(); !run.WaitExit(10);) {
    for (const ui::WindowInfo& w : ui::TopLevelWindows(run.info.dwProcessId)) windows += w.visible;
    ASSERT_LT(GetTickCount() - start, ScaledTimeout(kTimeoutMs));
  }
  EXPECT_EQ(windows, 0);
  EXPECT_EQ(run.exitCode(), 7u);
  EXPECT_TRUE(LockedFolderUnchanged());
  EXPECT_EQ(m_server.RequestCount(), 0);
  const std::vector<std::string> log = LogLines(m_log);
  EXPECT_EQ(Count(log, "start: "), 1);
  EXPECT_EQ(Count(log, "administrator rights are needed and were not given"), 1);
  EXPECT_EQ(Count(log, "recovery: "), 0) << "the repair needs the rights as well";
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), "exit code 7");
}

TEST_F(AdminRightsTest, ALimitedRunWithAWindowStartsExactlyOneSecondCopy) {
  Started run;
  Start(CommandLine(m_locked, L""), true, &run);
  ASSERT_NE(run.info.hProcess, nullptr);
  // The second start (the first one's child) cannot write either; it says
  // so in a box, and starts nobody.
  std::vector<DWORD> children;
  for (DWORD start = GetTickCount(); children.empty() && !run.WaitExit(10);) {
    children = Children(run.info.dwProcessId);
    ASSERT_LT(GetTickCount() - start, ScaledTimeout(kTimeoutMs));
  }
  ASSERT_EQ(children.size(), 1u);
  auto box = WaitForMessageBox(children[0], kTimeoutMs);
  ASSERT_TRUE(box.has_value());
  EXPECT_EQ(ui::MessageBoxText(box->hwnd),
            L"Update failed.  The updater may not write to its "
            L"folder " +
                m_locked + L"; nothing was changed.");
  EXPECT_TRUE(Children(children[0]).empty());
  ASSERT_TRUE(ui::Press(box->hwnd, IDOK));
  ASSERT_TRUE(run.WaitExit(kTimeoutMs));
  EXPECT_TRUE(run.exitCode() == 4u || run.exitCode() == 7u) << run.exitCode();
  EXPECT_TRUE(LockedFolderUnchanged());
  EXPECT_EQ(m_server.RequestCount(), 0);
  EXPECT_FALSE(m_sandbox.WaitTargetStarted(300));
  const std::vector<std::string> log = LogLines(m_log);
  EXPECT_EQ(Count(log, "start: "), 2);
  EXPECT_EQ(Count(log, "updater.exe\" -elevated -url "), 1);
  EXPECT_EQ(Count(log, "starting the updater again with administrator rights"), 1);
  EXPECT_EQ(Count(log, "may not be written (access denied) by the second start either"), 1);
  EXPECT_EQ(Count(log, "the updater with administrator rights ended with exit code 4"), 1);
}

TEST_F(AdminRightsTest, AnAdministratorsRunEndsWith4AtOnce) {
  Started run;
  Start(CommandLine(m_locked, L" -silent"), false, &run);
  ASSERT_NE(run.info.hProcess, nullptr);
  EXPECT_TRUE(Elevated(run.info.hProcess));
  ASSERT_TRUE(run.WaitExit(kTimeoutMs));
  EXPECT_EQ(run.exitCode(), 4u);
  EXPECT_TRUE(LockedFolderUnchanged());
  EXPECT_EQ(m_server.RequestCount(), 0);
  const std::vector<std::string> log = LogLines(m_log);
  EXPECT_EQ(Count(log, "start: "), 1);
  EXPECT_EQ(Count(log, "may not be written (access denied) with administrator rights: no update"),
            1);
}

}  // namespace
