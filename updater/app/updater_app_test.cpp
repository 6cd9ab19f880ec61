// Starts the real updater.exe with various command lines and looks at what
// it shows, as the user would.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <string>

#include "testing/http_server.h"
#include "testing/ui_driver.h"
#include "testing/updater_sandbox.h"
#include "testing/zip_builder.h"

namespace {

const DWORD kTimeoutMs = 20000;

std::wstring UpdaterCommand(const std::wstring& args) {
  return L"\"" + ui::WinePath(UPDATER_EXE) + L"\" " + args;
}

// "参数无效"
const std::wstring kRefusal = L"\x53C2\x6570\x65E0\x6548";

}  // namespace

TEST(UpdaterStartupTest, BadCommandLinesAreRefusedWithOneBox) {
  for (const wchar_t* args :
       {L"", L"-url A", L"-dest B", L"-url -dest B", L"-URL A -DEST B", L"-x A", L"A B"}) {
    SCOPED_TRACE(ui::Narrow(args));
    ui::Process updater(UpdaterCommand(args));
    ASSERT_TRUE(updater.started());
    auto box = ui::WaitForDialog(updater.id(), kTimeoutMs);
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(ui::MessageBoxText(box->hwnd), kRefusal);
    EXPECT_EQ(box->caption, L"");
    EXPECT_EQ(box->owner, nullptr);
    EXPECT_EQ(ui::ButtonIds(box->hwnd), std::vector<int>{IDOK});
    EXPECT_FALSE(ui::HasIcon(box->hwnd));
    int visible = 0;
    for (const ui::WindowInfo& w : ui::TopLevelWindows(updater.id())) visible += w.visible;
    EXPECT_EQ(visible, 1);
    ASSERT_TRUE(ui::Press(box->hwnd, IDOK));
    EXPECT_TRUE(updater.WaitExit(kTimeoutMs));
  }
}

// The first value of -url is what is downloaded (the server sees it) and
// the first value of -dest is what is opened (the target leaves a marker),
// in either order and beside other options and values.
TEST(UpdaterStartupTest, GoodCommandLinesUseTheFirstUrlAndDest) {
  zipbuild::ZipBuilder zip;
  zip.AddFile("note.txt", "updated\n");
  TestHttpServer server;
  ASSERT_TRUE(server.started());
  server.Serve("/first", {200, zip.Build()});
  server.Serve("/second", {200, zip.Build()});
  const std::wstring first = ui::Widen(server.Url("/first"));
  const std::wstring second = ui::Widen(server.Url("/second"));

  for (const wchar_t* pattern : {L"-url U -dest D", L"-dest D -url U", L"-url U V -dest D",
                                 L"-url U -url V -dest D -x C", L"-dest D B -url U"}) {
    SCOPED_TRACE(ui::Narrow(pattern));
    UpdaterSandbox sandbox(UPDATER_EXE, MARKER_TARGET_EXE);
    ASSERT_TRUE(sandbox.ready());
    std::wstring args;
    for (const wchar_t* p = pattern; *p; ++p) {
      if (*p == L'U') {
        args += first;
      } else if (*p == L'V') {
        args += second;
      } else if (*p == L'D') {
        args += L"\"" + sandbox.target() + L"\"";
      } else {
        args += *p;
      }
    }
    int requestsBefore = server.RequestCount();
    auto updater = sandbox.Start(args);
    ASSERT_TRUE(updater->started());
    ASSERT_EQ(ui::Narrow(WaitExitOrMessage(*updater, kTimeoutMs)), "");
    EXPECT_TRUE(sandbox.WaitTargetStarted(kTimeoutMs));
    std::vector<std::string> paths = server.RequestPaths();
    ASSERT_EQ(paths.size(), static_cast<size_t>(requestsBefore + 1));
    EXPECT_EQ(paths.back(), "/first");
  }
}
