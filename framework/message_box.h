// AfxMessageBox: the framework's modal message box.
#ifndef FRAMEWORK_MESSAGE_BOX_H_
#define FRAMEWORK_MESSAGE_BOX_H_

#include <windows.h>

// Shows text through the application's DoMessageBox (by default: the
// application's name as caption, owned by the main window when there is
// one). A box of type MB_OK or MB_OKCANCEL without an icon gets the
// exclamation icon; MB_YESNO and MB_YESNOCANCEL the question mark. Callable
// from any thread; returns when the box is dismissed.
int AfxMessageBox(const char* text, UINT type = MB_OK, UINT helpId = 0);

#endif  // FRAMEWORK_MESSAGE_BOX_H_
