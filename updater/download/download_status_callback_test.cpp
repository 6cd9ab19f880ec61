// The progress reporter against a window of the test: what reaches the
// dialog for each report, and the answers of the whole interface.
#include "updater/download/download_status_callback.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <string>

#include "testing/status_recorder.h"
#include "updater/download/update_status.h"

namespace {

struct ProgressCase {
  ULONG progress;
  ULONG total;
  LONG_PTR percent;
  const char* text;
};

TEST(DownloadStatusCallbackTest, EachReportSendsPercentageAndText) {
  const ProgressCase cases[] = {
      {0, 100, 0, "Downloaded 0 bytes of 100 bytes"},
      {50, 100, 50, "Downloaded 50 bytes of 100 bytes"},
      {2, 3, 66, "Downloaded 2 bytes of 3 bytes"},  // truncated, not rounded
      {100, 100, 100, "Downloaded 100 bytes of 100 bytes"},
      {150, 100, 150, "Downloaded 150 bytes of 100 bytes"},  // passed on as is
      {8192, 3000000, 0, "Downloaded 8.00 KB of 2.86 MB"},
      // Near 4 GiB: progress * 100 does not fit 32 bits.
      {0xFFFFFFFFu, 0xFFFFFFFFu, 100, nullptr},
      {0xFFFFFFFEu, 0xFFFFFFFFu, 99, nullptr},
      {4000000000u, 0xFFFFFFFFu, 93, nullptr},
      {0x80000000u, 0xFFFFFFFFu, 50, nullptr},
      // Past LONG_PTR in a 32-bit program: the largest value.
      {0xFFFFFFFFu, 1,
       static_cast<LONG_PTR>(
           std::min<long long>(429496729500, std::numeric_limits<LONG_PTR>::max())),
       nullptr},
      // No length from the server.
      {12345, 0, 0, "Downloaded 12.0 KB (total size unknown)"},
      {0, 0, 0, "Downloaded 0 bytes (total size unknown)"},
  };
  StatusRecorder recorder;
  CDownloadStatusCallback reporter(recorder.hwnd());
  g_abortDownload = 0;
  for (const ProgressCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.progress) + " of " + std::to_string(c.total));
    const size_t before = recorder.reports().size();
    EXPECT_EQ(reporter.OnProgress(c.progress, c.total, BINDSTATUS_DOWNLOADINGDATA, L"x"), S_OK);
    ASSERT_EQ(recorder.reports().size(), before + 1);
    const StatusReport& report = recorder.reports().back();
    EXPECT_EQ(report.code, c.percent);
    ASSERT_TRUE(report.hasText);
    if (c.text != nullptr) {
      EXPECT_EQ(report.text, c.text);
    }
    const std::string prefix = "Downloaded ";
    EXPECT_EQ(report.text.compare(0, prefix.size(), prefix), 0) << report.text;
    EXPECT_EQ(report.text.find("(total size unknown)") != std::string::npos, c.total == 0);
  }
}

TEST(DownloadStatusCallbackTest, EveryStatusCodeIsReported) {
  StatusRecorder recorder;
  CDownloadStatusCallback reporter(recorder.hwnd());
  g_abortDownload = 0;
  const ULONG codes[] = {BINDSTATUS_FINDINGRESOURCE,
                         BINDSTATUS_CONNECTING,
                         BINDSTATUS_BEGINDOWNLOADDATA,
                         BINDSTATUS_ENDDOWNLOADDATA,
                         BINDSTATUS_CACHEFILENAMEAVAILABLE,
                         0,
                         999};
  for (ULONG code : codes) {
    EXPECT_EQ(reporter.OnProgress(10, 40, code, nullptr), S_OK);
  }
  ASSERT_EQ(recorder.reports().size(), std::size(codes));
  for (const StatusReport& report : recorder.reports()) EXPECT_EQ(report.code, 25);
}

TEST(DownloadStatusCallbackTest, AbortFlagStopsWithoutMessage) {
  StatusRecorder recorder;
  CDownloadStatusCallback reporter(recorder.hwnd());
  g_abortDownload = 1;
  EXPECT_EQ(reporter.OnProgress(1, 2, BINDSTATUS_DOWNLOADINGDATA, nullptr), E_ABORT);
  EXPECT_EQ(reporter.OnProgress(0, 0, BINDSTATUS_BEGINDOWNLOADDATA, nullptr), E_ABORT);
  g_abortDownload = 0;
  EXPECT_TRUE(recorder.reports().empty());
  EXPECT_EQ(reporter.OnProgress(1, 2, BINDSTATUS_DOWNLOADINGDATA, nullptr), S_OK);
  EXPECT_EQ(recorder.reports().size(), 1u);
}

TEST(DownloadStatusCallbackTest, WindowGoneStillGoesOn) {
  StatusRecorder recorder;
  CDownloadStatusCallback reporter(recorder.hwnd());
  recorder.Destroy();
  g_abortDownload = 0;
  EXPECT_EQ(reporter.OnProgress(1, 2, BINDSTATUS_DOWNLOADINGDATA, nullptr), S_OK);
  EXPECT_EQ(reporter.OnProgress(3, 0, BINDSTATUS_DOWNLOADINGDATA, nullptr), S_OK);
  CDownloadStatusCallback noWindow(nullptr);
  EXPECT_EQ(noWindow.OnProgress(1, 2, BINDSTATUS_DOWNLOADINGDATA, nullptr), S_OK);
}

// Everything but OnProgress, called through the interface as the platform
// calls it: nothing is implemented and nothing is counted.
TEST(DownloadStatusCallbackTest, OtherOperationsAnswerNotImplemented) {
  CDownloadStatusCallback reporter(nullptr);
  IBindStatusCallback* callback = &reporter;

  void* out = &reporter;
  EXPECT_EQ(callback->QueryInterface(IID_IBindStatusCallback, &out), E_NOTIMPL);
  EXPECT_EQ(out, &reporter);  // not written, not even cleared
  EXPECT_EQ(callback->QueryInterface(IID_IUnknown, &out), E_NOTIMPL);
  EXPECT_EQ(out, &reporter);
  EXPECT_EQ(callback->AddRef(), 0u);
  EXPECT_EQ(callback->AddRef(), 0u);
  EXPECT_EQ(callback->Release(), 0u);

  LONG priority = 7;
  DWORD flags = 0;
  BINDINFO info = {};
  info.cbSize = sizeof(info);
  EXPECT_EQ(callback->OnStartBinding(0, nullptr), E_NOTIMPL);
  EXPECT_EQ(callback->GetPriority(&priority), E_NOTIMPL);
  EXPECT_EQ(priority, 7);
  EXPECT_EQ(callback->OnLowResource(0), E_NOTIMPL);
  EXPECT_EQ(callback->OnStopBinding(S_OK, nullptr), E_NOTIMPL);
  EXPECT_EQ(callback->GetBindInfo(&flags, &info), E_NOTIMPL);
  EXPECT_EQ(callback->OnDataAvailable(0, 0, nullptr, nullptr), E_NOTIMPL);
  EXPECT_EQ(callback->OnObjectAvailable(IID_IUnknown, nullptr), E_NOTIMPL);
}

}  // namespace
