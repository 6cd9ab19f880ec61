#include "testing/status_recorder.h"

#include "updater/download/update_status.h"

namespace {
const char kClassName[] = "StatusRecorderWindow";
}

StatusRecorder::StatusRecorder() {
  static ATOM registered = [] {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = &StatusRecorder::WindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kClassName;
    return RegisterClassA(&windowClass);
  }();
  (void)registered;
  m_hwnd = CreateWindowExA(0, kClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
  SetWindowLongPtrA(m_hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

StatusRecorder::~StatusRecorder() {
  Destroy();
}

void StatusRecorder::Destroy() {
  if (m_hwnd != nullptr) DestroyWindow(m_hwnd);
  m_hwnd = nullptr;
}

bool StatusRecorder::PumpUntilFinal(DWORD timeoutMs, const std::function<void()>& idle) {
  const DWORD start = GetTickCount();
  auto finished = [this] {
    for (const StatusReport& report : m_reports) {
      if (report.code < 0) return true;
    }
    return false;
  };
  while (!finished() && GetTickCount() - start < timeoutMs) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    if (idle) idle();
  }
  return finished();
}

LRESULT CALLBACK StatusRecorder::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<StatusRecorder*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (message == WM_UPDATE_RETRY && self != nullptr) {
    self->m_retries.push_back(
        {static_cast<int>(wParam), static_cast<int>(lParam), self->m_reports.size()});
    return 0;
  }
  if (message != WM_UPDATE_STATUS || self == nullptr) {
    return DefWindowProcA(hwnd, message, wParam, lParam);
  }
  StatusReport report;
  report.code = static_cast<LONG_PTR>(wParam);
  if (report.code >= 0 && lParam != 0) {
    report.hasText = true;
    report.text = reinterpret_cast<const char*>(lParam);
  }
  if (self->onReport) self->onReport(report);
  self->m_reports.push_back(report);
  return 0;
}
