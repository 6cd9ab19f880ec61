#include "framework/wnd.h"

#include "framework/data_exchange.h"
#include "framework/win_app.h"

BOOL CWnd::Attach(HWND hwnd) {
  if (m_hWnd != nullptr || hwnd == nullptr) return FALSE;
  m_hWnd = hwnd;
  return TRUE;
}

HWND CWnd::Detach() {
  HWND hwnd = m_hWnd;
  m_hWnd = nullptr;
  return hwnd;
}

BOOL CWnd::UpdateData(BOOL saveAndValidate) {
  CDataExchange dx(this, saveAndValidate);
  DoDataExchange(&dx);
  return TRUE;
}

int CWnd::MessageBox(const char* text, const char* caption, UINT type) {
  if (caption == nullptr) {
    CWinApp* app = AfxGetApp();
    caption = app ? app->m_appName.GetString() : "";
  }
  return ::MessageBoxA(m_hWnd, text, caption, type);
}

LRESULT CWnd::Default() {
  if (m_current == nullptr) return 0;
  return DefWindowProc(m_current->message, m_current->wParam, m_current->lParam);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  return ::DefWindowProcW(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  CurrentMessage current = {message, wParam, lParam};
  const CurrentMessage* outer = m_current;  // handlers may send messages to us
  m_current = &current;
  BOOL handled = DispatchMsg(message, wParam, lParam, result);
  m_current = outer;
  return handled;
}
