// CPaintDC: the device context of one WM_PAINT, from BeginPaint to EndPaint.
#ifndef FRAMEWORK_PAINT_DC_H_
#define FRAMEWORK_PAINT_DC_H_

#include <windows.h>

#include "framework/wnd.h"

class CPaintDC {
 public:
  explicit CPaintDC(CWnd* wnd) : m_hWnd(wnd->m_hWnd) { m_hDC = BeginPaint(m_hWnd, &m_ps); }
  ~CPaintDC() { EndPaint(m_hWnd, &m_ps); }
  CPaintDC(const CPaintDC&) = delete;
  CPaintDC& operator=(const CPaintDC&) = delete;

  HDC GetSafeHdc() const { return m_hDC; }
  BOOL DrawIcon(int x, int y, HICON icon) { return ::DrawIcon(m_hDC, x, y, icon); }

  HDC m_hDC = nullptr;
  PAINTSTRUCT m_ps = {};

 private:
  HWND m_hWnd;
};

#endif  // FRAMEWORK_PAINT_DC_H_
