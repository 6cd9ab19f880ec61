// The progress dialog of the real updater.exe at 100%, 150% and 200%
// display scaling. Each row sets the screen's DPI (LogPixels) before the
// updater starts, so this program changes its Wine prefix's settings: it
// runs in a prefix of its own (testing/run_in_own_prefix.sh) and puts the
// setting back when it ends.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/http_server.h"
#include "testing/ui_driver.h"
#include "testing/updater_sandbox.h"

namespace {

const DWORD kTimeoutMs = 30000;
const wchar_t kDesktopKey[] = L"Control Panel\\Desktop";

// The template's font ("宋体", 9 points), its Cancel text ("取消"), and the
// longest status text a download shows.
const wchar_t kFontName[] = L"\x5B8B\x4F53";
const int kFontPoints = 9;
const wchar_t kCancelText[] = L"\x53D6\x6D88";
const wchar_t kLongestStatus[] = L"Download Status: 100% Complete";

// The current user's LogPixels for the test's duration; the old value (or
// its absence) comes back on destruction.
class ScreenDpi {
 public:
  ScreenDpi() {
    DWORD size = sizeof(m_old);
    m_hadValue = RegGetValueW(HKEY_CURRENT_USER, kDesktopKey, L"LogPixels", RRF_RT_REG_DWORD,
                              nullptr, &m_old, &size) == ERROR_SUCCESS;
  }
  ~ScreenDpi() {
    if (m_hadValue) {
      Set(m_old);
    } else {
      RegDeleteKeyValueW(HKEY_CURRENT_USER, kDesktopKey, L"LogPixels");
    }
  }
  ScreenDpi(const ScreenDpi&) = delete;
  ScreenDpi& operator=(const ScreenDpi&) = delete;

  // Programs started afterwards see this DPI.
  bool Set(DWORD dpi) {
    return RegSetKeyValueW(HKEY_CURRENT_USER, kDesktopKey, L"LogPixels", REG_DWORD, &dpi,
                           sizeof(dpi)) == ERROR_SUCCESS;
  }

 private:
  DWORD m_old = 0;
  bool m_hadValue = false;
};

// The template's font as a dialog made at this DPI gets it, measured in a
// device context of the test's own.
class TemplateFont {
 public:
  explicit TemplateFont(int dpi) : m_dc(CreateCompatibleDC(nullptr)) {
    LOGFONTW font = {};
    font.lfHeight = -MulDiv(kFontPoints, dpi, 72);
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfQuality = PROOF_QUALITY;
    wcscpy_s(font.lfFaceName, kFontName);
    m_font = CreateFontIndirectW(&font);
    m_previous = SelectObject(m_dc, m_font);
    GetTextMetricsW(m_dc, &m_metrics);
  }
  ~TemplateFont() {
    SelectObject(m_dc, m_previous);
    DeleteObject(m_font);
    DeleteDC(m_dc);
  }
  TemplateFont(const TemplateFont&) = delete;
  TemplateFont& operator=(const TemplateFont&) = delete;

  SIZE Extent(const std::wstring& text) const {
    SIZE size = {};
    GetTextExtentPoint32W(m_dc, text.c_str(), static_cast<int>(text.size()), &size);
    return size;
  }
  int height() const { return m_metrics.tmHeight; }
  // A size in dialog units in pixels, reckoned from the font as the dialog
  // manager does: the average width of the 52 Latin letters and the
  // font's height are 4 and 8 units.
  SIZE Pixels(int width, int height) const {
    const int baseX =
        (Extent(L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz").cx / 26 + 1) / 2;
    return {MulDiv(width, baseX, 4), MulDiv(height, m_metrics.tmHeight, 8)};
  }

 private:
  HDC m_dc;
  HFONT m_font = nullptr;
  HGDIOBJ m_previous = nullptr;
  TEXTMETRICW m_metrics = {};
};

bool Inside(const RECT& inner, const RECT& outer) {
  return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
         inner.bottom <= outer.bottom;
}

}  // namespace

// At each scaling the dialog grows with its font, every control stays
// inside the client area without covering another, and the texts fit:
// the longest status line on its one line, the Cancel text in its button.
TEST(UpdateDlgScalingTest, LayoutHoldsAtEachScaling) {
  TestHttpServer server;
  ASSERT_TRUE(server.started());
  TestHttpResponse slow;  // keeps the dialog up for 100 s
  slow.body = std::string(2000000, 'x');
  slow.bytesPerSecond = 20000;
  server.Serve("/update.zip", slow);
  const std::wstring url = ui::Widen(server.Url("/update.zip"));

  ScreenDpi screen;
  const struct {
    const char* scaling;
    int dpi;
  } rows[] = {{"100%", 96}, {"150%", 144}, {"200%", 192}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.scaling);
    ASSERT_TRUE(screen.Set(static_cast<DWORD>(row.dpi)));
    UpdaterSandbox sandbox(UPDATER_EXE, MARKER_TARGET_EXE);
    ASSERT_TRUE(sandbox.ready());
    auto process = sandbox.Start(L"-url " + url + L" -dest \"" + sandbox.target() + L"\"");
    auto dialog = WaitForProgressDialog(process->id(), kTimeoutMs);
    ASSERT_TRUE(dialog.has_value());

    // The dialog is laid out in the font of this DPI, not of 96.
    const TemplateFont font(row.dpi);
    RECT client;
    GetClientRect(dialog->hwnd, &client);
    const SIZE expected = font.Pixels(192, 63);
    EXPECT_EQ(client.right, expected.cx) << "font height " << font.height();
    EXPECT_EQ(client.bottom, expected.cy) << "font height " << font.height();

    const std::vector<ui::ControlInfo> controls = ui::Controls(dialog->hwnd);
    ASSERT_EQ(controls.size(), 3u);
    for (size_t i = 0; i < controls.size(); ++i) {
      SCOPED_TRACE(controls[i].id);
      EXPECT_GT(controls[i].rect.right, controls[i].rect.left);
      EXPECT_GT(controls[i].rect.bottom, controls[i].rect.top);
      EXPECT_TRUE(Inside(controls[i].rect, client)) << "outside the client area";
      for (size_t j = i + 1; j < controls.size(); ++j) {
        RECT overlap;
        EXPECT_FALSE(IntersectRect(&overlap, &controls[i].rect, &controls[j].rect))
            << "covers control " << controls[j].id;
      }
    }

    // The status line is a word-wrapping static one line high: a text
    // wider than it would break and lose its second line.
    auto status = ui::FindControl(dialog->hwnd, 1001);
    ASSERT_TRUE(status.has_value());
    const SIZE statusText = font.Extent(kLongestStatus);
    EXPECT_LE(statusText.cx, status->rect.right - status->rect.left);
    EXPECT_LE(font.height(), status->rect.bottom - status->rect.top);

    // The button's text, inside its frame (two edges on each side).
    auto cancel = ui::FindControl(dialog->hwnd, IDCANCEL);
    ASSERT_TRUE(cancel.has_value());
    const SIZE cancelText = font.Extent(kCancelText);
    const int frame = 4 * GetSystemMetrics(SM_CXEDGE);
    EXPECT_LE(cancelText.cx + frame, cancel->rect.right - cancel->rect.left);
    EXPECT_LE(font.height() + frame, cancel->rect.bottom - cancel->rect.top);
  }
}
