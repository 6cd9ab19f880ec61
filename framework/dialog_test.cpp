// CDialog and data exchange, run modally inside the test process: the
// test drives each dialog from a message it posts to itself once the
// dialog is up.
#include "framework/dialog.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "framework/data_exchange.h"

namespace {

const UINT kRunTest = WM_APP + 1;
const UINT kAnswer42 = WM_APP + 2;
const int kEditId = 300;

class CTestDlg : public CDialog {
 public:
  explicit CTestDlg(std::function<void(CTestDlg&)> body) : CDialog(200), m_body(std::move(body)) {}

  CString m_text = "from the member";
  CWnd m_edit;
  int m_paints = 0;
  int m_exchanges = 0;

  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    PostMessageW(m_hWnd, kRunTest, 0, 0);
    return TRUE;
  }

 protected:
  void DoDataExchange(CDataExchange* dx) override {
    ++m_exchanges;
    DDX_Control(dx, kEditId, m_edit);
    DDX_Text(dx, kEditId, m_text);
  }
  LRESULT OnRunTest(WPARAM, LPARAM) {
    m_body(*this);
    return 0;
  }
  LRESULT OnAnswer42(WPARAM, LPARAM) { return 42; }
  HCURSOR OnQueryDragIcon() { return reinterpret_cast<HCURSOR>(static_cast<INT_PTR>(7)); }
  void OnPaint() {
    ++m_paints;
    Default();
  }

 private:
  std::function<void(CTestDlg&)> m_body;
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CTestDlg, CDialog)
ON_MESSAGE(kRunTest, OnRunTest)
ON_MESSAGE(kAnswer42, OnAnswer42)
ON_WM_QUERYDRAGICON()
ON_WM_PAINT()
END_MESSAGE_MAP()

std::wstring TextOf(HWND hwnd) {
  wchar_t text[64] = {};
  GetWindowTextW(hwnd, text, 64);
  return text;
}

}  // namespace

TEST(DialogTest, ExchangesDataDispatchesMessagesAndEndsWithOK) {
  std::wstring caption;
  std::wstring shown;
  LRESULT answer = 0;
  LRESULT dragIcon = 0;
  BOOL validated = FALSE;
  HWND editDuring = nullptr;
  CTestDlg dlg([&](CTestDlg& d) {
    caption = TextOf(d.m_hWnd);
    shown = TextOf(d.GetDlgItem(kEditId));
    editDuring = d.m_edit.m_hWnd;
    answer = d.SendMessage(kAnswer42);
    dragIcon = d.SendMessage(WM_QUERYDRAGICON);
    // The paint handler hands over to the default painting, which
    // validates the window.
    InvalidateRect(d.m_hWnd, nullptr, TRUE);
    UpdateWindow(d.m_hWnd);
    RECT dirty;
    validated = !GetUpdateRect(d.m_hWnd, &dirty, FALSE);
    SetWindowTextA(d.GetDlgItem(kEditId), "typed by the user");
    d.SendMessage(WM_COMMAND, IDOK);
  });
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(caption, L"\x6D4B\x8BD5");
  EXPECT_EQ(shown, L"from the member");
  EXPECT_NE(editDuring, nullptr);
  EXPECT_EQ(answer, 42);
  EXPECT_EQ(dragIcon, 7);
  EXPECT_GE(dlg.m_paints, 1);
  EXPECT_TRUE(validated);
  EXPECT_EQ(dlg.m_text, "typed by the user");  // OnOK took the controls in
  EXPECT_EQ(dlg.m_exchanges, 2);
  EXPECT_EQ(dlg.m_hWnd, nullptr);
}

TEST(DialogTest, CancelEscapeAndCloseEndWithCancelAndKeepTheMembers) {
  const struct {
    const char* name;
    void (*act)(CTestDlg&);
  } ways[] = {
      {"Cancel button", [](CTestDlg& d) { d.SendMessage(WM_COMMAND, IDCANCEL); }},
      {"Escape",
       [](CTestDlg& d) { PostMessageW(d.GetDlgItem(kEditId), WM_KEYDOWN, VK_ESCAPE, 0); }},
      {"close box", [](CTestDlg& d) { PostMessageW(d.m_hWnd, WM_SYSCOMMAND, SC_CLOSE, 0); }},
  };
  for (const auto& way : ways) {
    SCOPED_TRACE(way.name);
    CTestDlg dlg([&](CTestDlg& d) {
      SetWindowTextA(d.GetDlgItem(kEditId), "discarded");
      way.act(d);
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(dlg.m_text, "from the member");
    EXPECT_EQ(dlg.m_exchanges, 1);
  }
}

TEST(DialogTest, MissingTemplateAnswersMinusOne) {
  CDialog dlg(999);
  EXPECT_EQ(dlg.DoModal(), -1);
  EXPECT_EQ(dlg.m_hWnd, nullptr);
}
