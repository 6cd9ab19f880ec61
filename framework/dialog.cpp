#include "framework/dialog.h"

#include <commctrl.h>

#include "framework/win_app.h"

namespace {

// Templates may hold common controls (the progress bar); their window
// classes must exist before the dialog is created.
void RegisterCommonControls() {
  static bool done = false;
  if (done) return;
  INITCOMMONCONTROLSEX classes = {sizeof(classes), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  done = InitCommonControlsEx(&classes) != FALSE;
}

// Messages whose answer a dialog procedure returns itself instead of
// storing it as DWLP_MSGRESULT.
bool AnswersDirectly(UINT message) {
  switch (message) {
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
    case WM_INITDIALOG:
      return true;
    default:
      return false;
  }
}

}  // namespace

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_COMMAND(IDOK, OnOK)
ON_COMMAND(IDCANCEL, OnCancel)
END_MESSAGE_MAP()

INT_PTR CDialog::DoModal() {
  RegisterCommonControls();
  CWinApp* app = AfxGetApp();
  HINSTANCE instance = app && app->m_hInstance ? app->m_hInstance : GetModuleHandleW(nullptr);
  HWND parent = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
  INT_PTR result = DialogBoxParamW(instance, MAKEINTRESOURCEW(m_nIDTemplate), parent,
                                   &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
  m_hWnd = nullptr;
  return result;
}

BOOL CDialog::OnInitDialog() {
  UpdateData(FALSE);
  return TRUE;
}

void CDialog::OnOK() {
  if (!UpdateData(TRUE)) return;
  EndDialog(IDOK);
}

void CDialog::OnCancel() {
  EndDialog(IDCANCEL);
}

LRESULT CDialog::DefWindowProc(UINT, WPARAM, LPARAM) {
  // The system's dialog procedure called us; it does the default work when
  // we answer FALSE.
  m_passToDefault = true;
  return 0;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CDialog* self;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<CDialog*>(lParam);
    SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
    self->m_hWnd = hwnd;
    return self->OnInitDialog();
  }
  self = reinterpret_cast<CDialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  if (self == nullptr) return FALSE;
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, DWLP_USER, 0);
    self->m_hWnd = nullptr;
    return FALSE;
  }

  bool outer = self->m_passToDefault;  // a handler may send us messages
  self->m_passToDefault = false;
  LRESULT result = 0;
  bool handled = self->OnWndMsg(message, wParam, lParam, &result) && !self->m_passToDefault;
  self->m_passToDefault = outer;
  if (!handled) return FALSE;
  if (AnswersDirectly(message)) return static_cast<INT_PTR>(result);
  SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
  return TRUE;
}
