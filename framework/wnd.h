// CWnd: a C++ object attached to one window handle.
#ifndef FRAMEWORK_WND_H_
#define FRAMEWORK_WND_H_

#include <windows.h>

#include "framework/cmd_target.h"

class CDataExchange;

class CWnd : public CCmdTarget {
 public:
  CWnd() = default;
  ~CWnd() override = default;
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;

  HWND GetSafeHwnd() const { return m_hWnd; }

  // Binds this object to an existing window; the window is not owned and is
  // not destroyed by the object. Attach answers FALSE when already attached.
  BOOL Attach(HWND hwnd);
  HWND Detach();

  // The child window with this id, or null.
  HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }

  // Runs DoDataExchange: saveAndValidate TRUE copies the controls into the
  // members, FALSE copies the members into the controls. Answers TRUE.
  BOOL UpdateData(BOOL saveAndValidate = TRUE);

  // The window's own message box: owned by this window, captioned with the
  // application's name when no caption is given.
  int MessageBox(const char* text, const char* caption = nullptr, UINT type = MB_OK);

  LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
    return ::SendMessageA(m_hWnd, message, wParam, lParam);
  }
  BOOL IsIconic() const { return ::IsIconic(m_hWnd); }
  void GetClientRect(LPRECT rect) const { ::GetClientRect(m_hWnd, rect); }
  HICON SetIcon(HICON icon, BOOL bigIcon) {
    return reinterpret_cast<HICON>(
        SendMessage(WM_SETICON, bigIcon ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon)));
  }

  // The window's handling of the message being dispatched when no handler
  // of ours takes it. Only valid inside a message handler.
  LRESULT Default();

  // The window handle; null before the window exists and after it is gone.
  HWND m_hWnd = nullptr;

 protected:
  virtual void DoDataExchange(CDataExchange* dx) { (void)dx; }
  // What Default() does for a message; plain windows use the system's
  // default window procedure.
  virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);

  // Hands a message to the message maps, keeping it as the current message
  // for Default(). Answers TRUE when a handler took it.
  BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

 private:
  struct CurrentMessage {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
  };
  const CurrentMessage* m_current = nullptr;
};

#endif  // FRAMEWORK_WND_H_
