// Measures the updater's downloader against the platform's: the same file
// from a loopback server, fetched by HttpDownload and by URLDownloadToFileA,
// both with our reporter (sending each report to a window on another
// thread, as the dialog gets them), in alternating runs; and what the
// reporter costs each. Run by scripts/bench-download.sh; not a test.
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
#include "updater/download/http_download.h"
#include "updater/download/update_status.h"

namespace {

// Our reporter, with the time spent inside its OnProgress added up: that is
// all the progress path can cost the download, whatever the machine's load.
class CTimedReporter : public CDownloadStatusCallback {
 public:
  explicit CTimedReporter(HWND window) : CDownloadStatusCallback(window) {}
  HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG total, ULONG code,
                                       LPCWSTR text) override {
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    HRESULT result = CDownloadStatusCallback::OnProgress(progress, total, code, text);
    QueryPerformanceCounter(&end);
    m_ticks += end.QuadPart - start.QuadPart;
    return result;
  }
  LONGLONG m_ticks = 0;
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

// Downloads url into path on a thread of its own, with the platform's call
// or ours, while this thread serves the window; answers the seconds the
// download took.
double TimedDownload(const std::string& url, const std::string& path, bool platform,
                     CTimedReporter* reporter, HRESULT* result) {
  double seconds = -1;
  HANDLE finished = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::thread worker([&] {
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    *result =
        platform
            ? URLDownloadToFileA(nullptr, url.c_str(), path.c_str(), 0, reporter)
            : HttpDownload(url.c_str(), path.c_str(), reporter, nullptr, kDownloadTiming).result;
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
  std::vector<double> seconds[2], inReporter[2];
  const char* names[2] = {"HttpDownload", "URLDownloadToFileA"};
  std::printf("%zu MB, %d runs each (alternating)\n", megabytes, runs);
  // One unmeasured download with each first, so both sides start warm.
  HRESULT result = S_OK;
  TimedDownload(server.Url("/big.bin?warmup=0"), path, false, &reporter, &result);
  TimedDownload(server.Url("/big.bin?warmup=1"), path, true, &reporter, &result);
  for (int run = 0; run < 2 * runs; ++run) {
    const int side = run % 2;
    g_reports = 0;
    reporter.m_ticks = 0;
    const std::string url = server.Url("/big.bin?run=" + std::to_string(run));
    const double took = TimedDownload(url, path, side == 1, &reporter, &result);
    if (FAILED(result) || took < 0) {
      std::fprintf(stderr, "download failed: 0x%08lX\n", static_cast<unsigned long>(result));
      return 1;
    }
    const double reporterSeconds =
        static_cast<double>(reporter.m_ticks) / static_cast<double>(frequency.QuadPart);
    seconds[side].push_back(took);
    inReporter[side].push_back(reporterSeconds);
    std::printf("  %-18s %.3f s  %ld reports, %.3f ms inside OnProgress, last %ld%%\n", names[side],
                took, g_reports, reporterSeconds * 1000, static_cast<long>(g_lastPercent));
  }
  for (int side = 0; side < 2; ++side) {
    std::printf("median %-18s %.3f s, %.3f ms inside the reporter\n", names[side],
                Median(seconds[side]), Median(inReporter[side]) * 1000);
  }
  std::printf("ratio HttpDownload / URLDownloadToFileA: %.3f\n",
              Median(seconds[0]) / Median(seconds[1]));
  server.Stop();
  DestroyWindow(window);
  return 0;
}
