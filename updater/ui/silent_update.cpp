#include "updater/ui/silent_update.h"

#include "framework/message_box.h"
#include "framework/win_app.h"
#include "updater/app/updater_app.h"
#include "updater/download/update_status.h"
#include "updater/download/update_worker.h"

namespace {
const char kClassName[] = "UpdaterSilentRun";
}

CSilentUpdate::~CSilentUpdate() {
  if (m_hWnd != nullptr) DestroyWindow(m_hWnd);
}

WPARAM CSilentUpdate::Run() {
  CUpdaterApp* app = static_cast<CUpdaterApp*>(AfxGetApp());
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = &CSilentUpdate::WindowProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = kClassName;
  RegisterClassA(&windowClass);
  m_hWnd = CreateWindowExA(0, kClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           windowClass.hInstance, nullptr);
  if (m_hWnd != nullptr) SetWindowLongPtrA(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  if (m_hWnd == nullptr || !StartUpdateWorker(this)) {
    app->SetWorkerOutcome(kExitUpdateFailed);
    return kUpdateFailed;
  }

  // The worker's percentages arrive as sent messages, served inside
  // GetMessage; its final code is posted.
  MSG msg;
  while (!m_ended && GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return m_ended ? m_finalCode : kUpdateFailed;
}

LRESULT CALLBACK CSilentUpdate::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<CSilentUpdate*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (message != WM_UPDATE_STATUS) return ::DefWindowProcA(hwnd, message, wParam, lParam);
  if (self != nullptr && static_cast<INT_PTR>(wParam) < 0) {
    self->m_ended = true;
    self->m_finalCode = wParam;
  }
  return 0;
}
