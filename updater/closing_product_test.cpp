// The real updater.exe when the product is still closing: it waits for the
// program of -waitpid to end before it changes anything, and for a file of
// the product that another program holds during the commit, the window
// saying so; a wait that lasts too long, or Cancel during it, leaves every
// file as it was.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "testing/http_server.h"
#include "testing/ui_driver.h"
#include "testing/updater_sandbox.h"
#include "testing/zip_builder.h"

namespace {

const DWORD kTimeoutMs = 30000;

const FolderTree kOld = {
    {L"readme.txt", "old readme"}, {L"bin\\", ""}, {L"bin\\engine.dll", "old engine"}};
const FolderTree kNew = {
    {L"readme.txt", "new readme"}, {L"bin\\", ""}, {L"bin\\engine.dll", "new engine"}};

// "正在等待程序关闭…"
const wchar_t kWaitingForProgram[] = L"\x6B63\x5728\x7B49\x5F85\x7A0B\x5E8F\x5173\x95ED\x2026";
// "文件 bin\engine.dll " and, after the program that holds it where the
// system can tell, "正在等待…".
const std::wstring kEngineInUse = L"\x6587\x4EF6 bin\\engine.dll ";
const std::wstring kWaiting = L"\x6B63\x5728\x7B49\x5F85\x2026";

// closing_product.exe, started suspended: its time runs from Resume.
class Product {
 public:
  explicit Product(DWORD lifeMs) {
    std::wstring line =
        L"\"" + ui::WinePath(CLOSING_PRODUCT_EXE) + L"\" " + std::to_wstring(lifeMs);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                   nullptr, &startup, &m_info);
  }
  ~Product() {
    if (m_info.hProcess == nullptr) return;
    TerminateProcess(m_info.hProcess, 1);
    CloseHandle(m_info.hThread);
    CloseHandle(m_info.hProcess);
  }
  Product(const Product&) = delete;
  Product& operator=(const Product&) = delete;

  DWORD id() const { return m_info.dwProcessId; }
  void Resume() const { ResumeThread(m_info.hThread); }
  bool running() const { return WaitForSingleObject(m_info.hProcess, 0) == WAIT_TIMEOUT; }

 private:
  PROCESS_INFORMATION m_info = {};
};

class ClosingProductTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_server.started());
    zipbuild::ZipBuilder zip;
    zip.AddFile("readme.txt", "new readme").AddFile("bin/engine.dll", "new engine");
    m_server.Serve("/update.zip", {200, zip.Build()});
  }

  // A sandbox of program (updater.exe or the one with short waits) holding
  // the old version.
  std::unique_ptr<UpdaterSandbox> Sandbox(const char* program = UPDATER_EXE) {
    auto sandbox = std::make_unique<UpdaterSandbox>(program, MARKER_TARGET_EXE);
    EXPECT_TRUE(sandbox->ready());
    sandbox->Plant(kOld);
    return sandbox;
  }

  // The update with these further options, logged to "target dir\update.log".
  std::unique_ptr<ui::Process> Start(const UpdaterSandbox& sandbox, const std::wstring& options) {
    return sandbox.Start(L"-url " + ui::Widen(m_server.Url("/update.zip")) + L" -dest \"" +
                         sandbox.target() + L"\" -log \"" + LogPath(sandbox) + L"\" " + options);
  }

  static std::wstring LogPath(const UpdaterSandbox& sandbox) {
    return sandbox.folder() + L"\\target dir\\update.log";
  }

  static bool Logged(const UpdaterSandbox& sandbox, const std::string& text) {
    return ReadFileBytes(LogPath(sandbox)).find(text) != std::string::npos;
  }

  // Waits for the progress dialog's status line to say what match accepts.
  static bool WaitForStatus(const ui::Process& process,
                            const std::function<bool(const std::wstring&)>& match) {
    auto dialog = WaitForProgressDialog(process.id(), kTimeoutMs);
    if (!dialog.has_value()) return false;
    for (DWORD start = GetTickCount(); GetTickCount() - start < ScaledTimeout(kTimeoutMs);) {
      if (match(ui::WindowText(GetDlgItem(dialog->hwnd, 1001)))) return true;
      Sleep(20);
    }
    return false;
  }

  // Nothing of the update stayed behind (no archive either) and the target
  // was not opened.
  static void ExpectNothingChanged(const UpdaterSandbox& sandbox) {
    EXPECT_EQ(sandbox.Snapshot(), kOld) << Describe(sandbox.Snapshot());
    EXPECT_FALSE(sandbox.WaitTargetStarted(300));
  }

  // bin\engine.dll open for reading without delete sharing, as a program
  // that uses it holds it: it can be neither renamed nor replaced.
  static HANDLE HoldEngine(const UpdaterSandbox& sandbox) {
    HANDLE held = CreateFileW((sandbox.folder() + L"\\bin\\engine.dll").c_str(), GENERIC_READ,
                              FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(held, INVALID_HANDLE_VALUE);
    return held;
  }

  static bool NamesEngine(const std::wstring& status) {
    return status.compare(0, kEngineInUse.size(), kEngineInUse) == 0 &&
           status.size() > kWaiting.size() &&
           status.compare(status.size() - kWaiting.size(), kWaiting.size(), kWaiting) == 0;
  }

  TestHttpServer m_server;
};

TEST_F(ClosingProductTest, WaitsForTheProgramOfWaitpidBeforeChangingAnything) {
  {
    SCOPED_TRACE("the program closes 3 s after the wait began");
    auto sandbox = Sandbox();
    Product product(3000);
    auto updater = Start(*sandbox, L"-waitpid " + std::to_wstring(product.id()));
    ASSERT_TRUE(
        WaitForStatus(*updater, [](const std::wstring& s) { return s == kWaitingForProgram; }));
    FolderTree meanwhile = sandbox->Snapshot();
    for (const std::wstring& archive : sandbox->Files(L"*.tarnwick.zip")) meanwhile.erase(archive);
    EXPECT_EQ(meanwhile, kOld) << Describe(meanwhile);
    product.Resume();
    ASSERT_TRUE(updater->WaitExit(kTimeoutMs));
    EXPECT_FALSE(product.running());
    EXPECT_EQ(updater->exitCode(), 0u);
    EXPECT_EQ(sandbox->Snapshot(), kNew) << Describe(sandbox->Snapshot());
    EXPECT_TRUE(sandbox->WaitTargetStarted(kTimeoutMs));
    EXPECT_TRUE(Logged(*sandbox, "waiting up to 60 s for the program (process " +
                                     std::to_string(product.id()) + ") to close"));
    EXPECT_TRUE(Logged(*sandbox, "closed after 3."));
  }
  {
    SCOPED_TRACE("the program never closes (a limit of 5 s)");
    auto sandbox = Sandbox(UPDATER_SHORT_WAITS_EXE);
    Product product(INFINITE);
    const DWORD started = GetTickCount();
    auto updater = Start(*sandbox, L"-silent -waitpid " + std::to_wstring(product.id()));
    ASSERT_TRUE(updater->WaitExit(kTimeoutMs));
    EXPECT_GE(GetTickCount() - started, 5000u);
    EXPECT_EQ(updater->exitCode(), 4u);
    EXPECT_TRUE(product.running()) << "the updater never ends the program";
    ExpectNothingChanged(*sandbox);
    EXPECT_TRUE(Logged(*sandbox, ") still runs after 5 s: no update"));
    EXPECT_TRUE(Logged(*sandbox,
                       "message (not shown): Update failed.  The program that started "
                       "the update did not close within 5 seconds; nothing was changed."));
  }
  {
    SCOPED_TRACE("Cancel during the wait");
    auto sandbox = Sandbox();
    Product product(INFINITE);
    auto updater = Start(*sandbox, L"-waitpid " + std::to_wstring(product.id()));
    ASSERT_TRUE(
        WaitForStatus(*updater, [](const std::wstring& s) { return s == kWaitingForProgram; }));
    ASSERT_TRUE(ui::Press(WaitForProgressDialog(updater->id(), kTimeoutMs)->hwnd, IDCANCEL));
    ASSERT_TRUE(updater->WaitExit(kTimeoutMs));
    EXPECT_EQ(updater->exitCode(), 5u);
    EXPECT_TRUE(product.running());
    ExpectNothingChanged(*sandbox);
  }
  {
    SCOPED_TRACE("no process id");
    auto sandbox = Sandbox();
    auto updater = Start(*sandbox, L"-silent -waitpid x");
    ASSERT_TRUE(updater->WaitExit(kTimeoutMs));
    EXPECT_EQ(updater->exitCode(), 1u);
    EXPECT_TRUE(Logged(*sandbox, "command line refused: -waitpid needs a process id"));
  }
  {
    SCOPED_TRACE("a program that has ended already");
    auto sandbox = Sandbox();
    ui::Process ended(L"\"" + ui::WinePath(CLOSING_PRODUCT_EXE) + L"\" 0");
    ASSERT_TRUE(ended.WaitExit(kTimeoutMs));
    auto updater = Start(*sandbox, L"-silent -waitpid " + std::to_wstring(ended.id()));
    ASSERT_TRUE(updater->WaitExit(kTimeoutMs));
    EXPECT_EQ(updater->exitCode(), 0u);
    EXPECT_EQ(sandbox->Snapshot(), kNew) << Describe(sandbox->Snapshot());
    EXPECT_FALSE(Logged(*sandbox, "waiting up to"));
  }
}

TEST_F(ClosingProductTest, AFileInUseAtTheCommitIsWaitedForUpToTwentySeconds) {
  {
    SCOPED_TRACE("held for 4 s more once the updater waits for it");
    auto sandbox = Sandbox();
    HANDLE held = HoldEngine(*sandbox);
    auto updater = Start(*sandbox, L"");
    EXPECT_TRUE(WaitForStatus(*updater, NamesEngine)) << "the window names the file";
    Sleep(4000);  // the program that holds the file, closing
    CloseHandle(held);
    ASSERT_TRUE(updater->WaitExit(kTimeoutMs));
    EXPECT_EQ(updater->exitCode(), 0u);
    EXPECT_EQ(sandbox->Snapshot(), kNew) << Describe(sandbox->Snapshot());
    EXPECT_TRUE(sandbox->WaitTargetStarted(kTimeoutMs));
    EXPECT_TRUE(Logged(*sandbox, "the file bin\\engine.dll is in use"));
  }
  {
    SCOPED_TRACE("held for two minutes");
    auto sandbox = Sandbox();
    HANDLE held = HoldEngine(*sandbox);
    const DWORD started = GetTickCount();
    auto updater = Start(*sandbox, L"-silent");
    const bool ended = updater->WaitExit(kTimeoutMs);
    const DWORD took = GetTickCount() - started;
    CloseHandle(held);
    ASSERT_TRUE(ended);
    EXPECT_EQ(updater->exitCode(), 4u);
    EXPECT_GE(took, 20000u);
    EXPECT_LE(took, ScaledTimeout(27000)) << "not much longer than the 20 s";
    ExpectNothingChanged(*sandbox);
    EXPECT_TRUE(Logged(*sandbox, "the file bin\\engine.dll is still in use after 20 s"));
    EXPECT_TRUE(Logged(*sandbox,
                       "message (not shown): Update failed.  The file bin\\engine.dll "
                       "is in use; nothing was changed."));
  }
  {
    SCOPED_TRACE("Cancel during the wait");
    auto sandbox = Sandbox();
    HANDLE held = HoldEngine(*sandbox);
    auto updater = Start(*sandbox, L"");
    const bool named = WaitForStatus(*updater, NamesEngine);
    if (named) ui::Press(WaitForProgressDialog(updater->id(), kTimeoutMs)->hwnd, IDCANCEL);
    const DWORD pressed = GetTickCount();
    const bool ended = updater->WaitExit(kTimeoutMs);
    CloseHandle(held);
    ASSERT_TRUE(named);
    ASSERT_TRUE(ended);
    EXPECT_LT(GetTickCount() - pressed, ScaledTimeout(5000));
    EXPECT_EQ(updater->exitCode(), 5u);
    ExpectNothingChanged(*sandbox);
  }
}

}  // namespace
