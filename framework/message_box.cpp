#include "framework/message_box.h"

#include "framework/win_app.h"

int AfxMessageBox(const char* text, UINT type, UINT helpId) {
  (void)helpId;
  if ((type & MB_ICONMASK) == 0) {
    switch (type & MB_TYPEMASK) {
      case MB_OK:
      case MB_OKCANCEL:
        type |= MB_ICONEXCLAMATION;
        break;
      case MB_YESNO:
      case MB_YESNOCANCEL:
        type |= MB_ICONQUESTION;
        break;
      default:
        break;
    }
  }
  CWinApp* app = AfxGetApp();
  const char* caption = app ? app->m_appName.GetString() : "";
  CWnd* main = AfxGetMainWnd();
  HWND owner = main ? main->m_hWnd : nullptr;
  if (owner != nullptr && !IsWindow(owner)) owner = nullptr;
  return MessageBoxA(owner, text, caption, type);
}
