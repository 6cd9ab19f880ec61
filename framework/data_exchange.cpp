#include "framework/data_exchange.h"

#include <vector>

void DDX_Control(CDataExchange* dx, int id, CWnd& control) {
  if (control.m_hWnd != nullptr) return;
  control.Attach(dx->m_pDlgWnd->GetDlgItem(id));
}

void DDX_Text(CDataExchange* dx, int id, CString& value) {
  HWND item = dx->m_pDlgWnd->GetDlgItem(id);
  if (!dx->m_bSaveAndValidate) {
    SetWindowTextA(item, value);
    return;
  }
  int length = GetWindowTextLengthA(item);
  std::vector<char> text(static_cast<size_t>(length) + 1, '\0');
  int got = GetWindowTextA(item, text.data(), length + 1);
  value = CString(text.data(), got > 0 ? got : 0);
}
