// Dialog data exchange: copies between a window's controls and the members
// of its C++ object, in the direction UpdateData asks for.
#ifndef FRAMEWORK_DATA_EXCHANGE_H_
#define FRAMEWORK_DATA_EXCHANGE_H_

#include <windows.h>

#include "framework/cstring.h"
#include "framework/wnd.h"

class CDataExchange {
 public:
  CDataExchange(CWnd* dlgWnd, BOOL saveAndValidate)
      : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dlgWnd) {}

  BOOL m_bSaveAndValidate;  // TRUE: controls to members
  CWnd* m_pDlgWnd;          // the window whose controls are exchanged
};

// Binds control to the child window with this id, once; later calls change
// nothing.
void DDX_Control(CDataExchange* dx, int id, CWnd& control);
// The child's window text <-> value, as bytes of the ANSI code page.
void DDX_Text(CDataExchange* dx, int id, CString& value);

#endif  // FRAMEWORK_DATA_EXCHANGE_H_
