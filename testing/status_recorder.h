// StatusRecorder: a message-only window that stands in for the progress
// dialog in tests. It records every WM_UPDATE_STATUS it receives, with the
// status text for percentages (copied while the sender waits), and every
// WM_UPDATE_RETRY.
//
// REQUIRES: used on the thread that created it; senders on other threads
// are served only while that thread pumps messages (PumpUntilFinal).
#ifndef TESTING_STATUS_RECORDER_H_
#define TESTING_STATUS_RECORDER_H_

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

struct StatusReport {
  LONG_PTR code = 0;  // wParam as a signed number
  bool hasText = false;
  std::string text;  // the text at lParam, for codes 0 and above
};

class StatusRecorder {
 public:
  StatusRecorder();
  ~StatusRecorder();
  StatusRecorder(const StatusRecorder&) = delete;
  StatusRecorder& operator=(const StatusRecorder&) = delete;

  HWND hwnd() const { return m_hwnd; }
  // Destroys the window early (a dialog that has gone away).
  void Destroy();
  const std::vector<StatusReport>& reports() const { return m_reports; }
  // WM_UPDATE_RETRY received: the coming try and the number of tries, and
  // how many status reports had arrived before it.
  struct Retry {
    int nextTry;
    int tries;
    size_t reportsBefore;
  };
  const std::vector<Retry>& retries() const { return m_retries; }

  // Called from the window procedure for each report, before it is kept.
  std::function<void(const StatusReport&)> onReport;

  // Pumps this thread's messages until a negative code (a final post) has
  // arrived or timeoutMs has passed; calls idle about every 20 ms. Answers
  // whether a final code arrived.
  bool PumpUntilFinal(DWORD timeoutMs, const std::function<void()>& idle = {});

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  HWND m_hwnd = nullptr;
  std::vector<StatusReport> m_reports;
  std::vector<Retry> m_retries;
};

#endif  // TESTING_STATUS_RECORDER_H_
