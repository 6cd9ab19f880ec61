// CProgressCtrl: a progress-bar control (msctls_progress32) of a dialog.
#ifndef FRAMEWORK_PROGRESS_CTRL_H_
#define FRAMEWORK_PROGRESS_CTRL_H_

#include <windows.h>
#include <commctrl.h>

#include "framework/wnd.h"

class CProgressCtrl : public CWnd {
 public:
  void SetRange(short lower, short upper) {
    SendMessage(PBM_SETRANGE, 0, MAKELPARAM(lower, upper));
  }
  // Answers the previous position.
  int SetPos(int pos) {
    return static_cast<int>(SendMessage(PBM_SETPOS, static_cast<WPARAM>(pos)));
  }
  int GetPos() const { return static_cast<int>(SendMessage(PBM_GETPOS)); }
};

#endif  // FRAMEWORK_PROGRESS_CTRL_H_
