// CWnd: a C++ object attached to one window handle.
#ifndef FRAMEWORK_WND_H_
#define FRAMEWORK_WND_H_

#include <windows.h>

#include "framework/cmd_target.h"

class CWnd : public CCmdTarget {
 public:
  CWnd() = default;
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;

  HWND GetSafeHwnd() const { return m_hWnd; }

  // The window handle; null before the window exists and after it is gone.
  HWND m_hWnd = nullptr;
};

#endif  // FRAMEWORK_WND_H_
