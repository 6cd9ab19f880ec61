// Measures what the progress path costs a download: the same file from a
// loopback server, fetched with our reporter (sending each report to a
// window on another thread, as the dialog gets them) and with a reporter
// that does nothing. Run by scripts/bench-download.sh; not a test.
//
//   download_bench [runs] [megabytes]
#include <windows.h>
#include <urlmon.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "testing/http_server.h"
#include "updater/download/download_status_callback.h"
#include "updater/download/update_status.h"

namespace {

// Answers every report with "go on" and does nothing else.
class CSilentCallback : public IBindStatusCallback {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOTIMPL; }
  ULONG STDMETHODCALLTYPE AddRef() override { return 0; }
  ULONG STDMETHODCALLTYPE Release() override { return 0; }
  HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD, IBinding*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetPriority(LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnProgress(ULONG, ULONG, ULONG, LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT, LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD*, BINDINFO*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return E_NOTIMPL; }
};

// Our reporter, with the time spent inside its OnProgress added up: that is
// all the progress path can cost the download, whatever the machine's load.
class CTimedReporter : public CSilentCallback {
 public:
  explicit CTimedReporter(HWND window) : m_reporter(window) {}
  HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG total, ULONG code,
                                       LPCWSTR text) override {
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    HRESULT result = m_reporter.OnProgress(progress, total, code, text);
    QueryPerformanceCounter(&end);
    m_ticks += end.QuadPart - start.QuadPart;
    return result;
  }
  LONGLONG m_ticks = 0;

 private:
  CDownloadStatusCallback m_reporter;
};

// The stand-in dialog: keeps the last percentage, as the bar would.
LONG_PTR g_lastPercent = -1;
long g_reports = 0;

LRESULT CALLBACK StatusWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_UPDATE_STATUS) {
    g_lastPercent = static_cast<LONG_PTR>(wParam);
    ++g_reports;
    return 0;
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Downloads url into path on a thread of its own while this thread serves
// the window; answers the seconds the download call took.
double TimedDownload(const std::string& url, const std::string& path, IBindStatusCallback* callback,
                     HRESULT* result) {
  double seconds = -1;
  HANDLE finished = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::thread worker([&] {
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    *result = URLDownloadToFileA(nullptr, url.c_str(), path.c_str(), 0, callback);
    QueryPerformanceCounter(&end);
    seconds = Seconds(start, end);
    SetEvent(finished);
  });
  while (MsgWaitForMultipleObjects(1, &finished, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  }
  worker.join();
  CloseHandle(finished);
  DeleteFileA(path.c_str());
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 7;
  const size_t megabytes = argc > 2 ? static_cast<size_t>(std::atoi(argv[2])) : 100;

  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = StatusWindowProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "DownloadBenchStatus";
  RegisterClassA(&windowClass);
  HWND window = CreateWindowExA(0, windowClass.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                nullptr, windowClass.hInstance, nullptr);

  TestHttpServer server(3600 * 1000);
  if (!server.started() || window == nullptr) {
    std::fprintf(stderr, "cannot start the server or the window\n");
    return 1;
  }
  std::string body(megabytes * 1024 * 1024, '\0');
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>((i * 2654435761u) >> 13);
  server.Serve("/big.bin", {200, body});

  char module[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, module, MAX_PATH);
  std::string path = module;
  path = path.substr(0, path.rfind('\\')) + "\\download_bench.tmp";

  CTimedReporter reporter(window);
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  std::vector<double> inReporter;
  CSilentCallback silent;
  std::vector<double> ours, none;
  std::printf("%zu MB, %d runs each (alternating)\n", megabytes, runs);
  // One unmeasured download first, so both sides start warm.
  HRESULT result = S_OK;
  TimedDownload(server.Url("/big.bin?warmup"), path, &silent, &result);
  for (int run = 0; run < 2 * runs; ++run) {
    const bool withReporter = (run % 2) == 0;
    g_reports = 0;
    reporter.m_ticks = 0;
    const std::string url = server.Url("/big.bin?run=" + std::to_string(run));
    double seconds = TimedDownload(
        url, path, withReporter ? static_cast<IBindStatusCallback*>(&reporter) : &silent, &result);
    if (FAILED(result) || seconds < 0) {
      std::fprintf(stderr, "download failed: 0x%08lX\n", static_cast<unsigned long>(result));
      return 1;
    }
    (withReporter ? ours : none).push_back(seconds);
    const double reporterSeconds =
        static_cast<double>(reporter.m_ticks) / static_cast<double>(frequency.QuadPart);
    if (withReporter) {
      inReporter.push_back(reporterSeconds);
      std::printf("  reporter  %.3f s  %ld reports, %.3f ms inside OnProgress, last %ld%%\n",
                  seconds, g_reports, reporterSeconds * 1000, static_cast<long>(g_lastPercent));
    } else {
      std::printf("  silent    %.3f s\n", seconds);
    }
  }
  const double medianOurs = Median(ours), medianNone = Median(none);
  std::printf("median with reporter: %.3f s\n", medianOurs);
  std::printf("median silent:        %.3f s\n", medianNone);
  std::printf("ratio: %.3f\n", medianOurs / medianNone);
  std::printf("median time inside the reporter: %.3f ms (%.4f%% of the median download)\n",
              Median(inReporter) * 1000, Median(inReporter) / medianOurs * 100);
  server.Stop();
  DestroyWindow(window);
  return 0;
}
