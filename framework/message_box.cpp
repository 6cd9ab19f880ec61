#include "framework/message_box.h"

#include "framework/win_app.h"

int AfxMessageBox(const char* text, UINT type, UINT helpId) {
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
  if (app == nullptr) return MessageBoxA(nullptr, text, "", type);
  return app->DoMessageBox(text, type, helpId);
}
