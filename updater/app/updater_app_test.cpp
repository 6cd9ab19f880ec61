// Starts the real updater.exe with various command lines and looks at what
// it shows, as the user would.
#include <gtest/gtest.h>

#include <string>

#include "testing/ui_driver.h"

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

TEST(UpdaterStartupTest, GoodCommandLinesKeepTheFirstUrlAndDest) {
  for (const wchar_t* args : {L"-url A -dest B", L"-dest B -url A", L"-url A C -dest B",
                              L"-url A -url C -dest B -x C"}) {
    SCOPED_TRACE(ui::Narrow(args));
    ui::Process updater(UpdaterCommand(args));
    ASSERT_TRUE(updater.started());
    auto box = ui::WaitForDialog(updater.id(), kTimeoutMs);
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(ui::MessageBoxText(box->hwnd), L"A\nB");
    ASSERT_TRUE(ui::Press(box->hwnd, IDOK));
    EXPECT_TRUE(updater.WaitExit(kTimeoutMs));
  }
}
