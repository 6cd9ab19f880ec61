// CSilentUpdate: an update run with nothing on screen (-silent). A
// message-only window stands in for the progress dialog: the update worker
// reports to it as it would to the dialog, and Run waits for its final post.
#ifndef UPDATER_UI_SILENT_UPDATE_H_
#define UPDATER_UI_SILENT_UPDATE_H_

#include <windows.h>

#include "framework/wnd.h"

class CSilentUpdate : public CWnd {
 public:
  CSilentUpdate() = default;
  ~CSilentUpdate() override;

  // Starts the update worker and pumps this thread's messages until the
  // worker's final code arrives; answers it (kUpdateFinished or
  // kUpdateFailed). When the worker cannot be started, the worker outcome
  // is kExitUpdateFailed and the answer kUpdateFailed.
  // REQUIRES: the user-interface thread; called once.
  WPARAM Run();

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  bool m_ended = false;
  WPARAM m_finalCode = 0;
};

#endif  // UPDATER_UI_SILENT_UPDATE_H_
