// The downloader against the loopback server, through the platform's real
// WinINet: cuts, stalls and changed files between tries, and which failures
// are tried again. The timing is shortened; the tries are the program's.
#include "updater/download/http_download.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "testing/http_server.h"
#include "testing/status_recorder.h"
#include "testing/ui_driver.h"
#include "testing/updater_sandbox.h"
#include "testing/zip_builder.h"
#include "updater/app/update_log.h"
#include "updater/download/download_status_callback.h"
#include "updater/download/update_status.h"

namespace {

const CDownloadTiming kTestTiming = {3000, 100, 60000};
const DWORD kTimeoutMs = 120000;

// The log's lines without their time stamps.
std::vector<std::string> LogLines(const std::string& path) {
  std::vector<std::string> lines;
  const std::string bytes = ReadFileBytes(ui::Widen(path));
  for (size_t start = 0, end; (end = bytes.find("\r\n", start)) != std::string::npos;
       start = end + 2) {
    lines.push_back(bytes.substr(start + 20, end - start - 20));
  }
  return lines;
}

struct Download {
  CDownloadOutcome outcome;
  std::vector<StatusReport> reports;
  std::vector<StatusRecorder::Retry> retries;
  std::vector<std::string> log;
  DWORD milliseconds = 0;
};

class HttpDownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    m_folder = std::string(temp) + "http_download_test_" + std::to_string(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryA(m_folder.c_str(), nullptr));
    m_path = m_folder + "\\1234.tarnwick.zip";
    ASSERT_TRUE(m_server.started());
  }
  void TearDown() override {
    DeleteFileA(m_path.c_str());
    DeleteFileA((m_folder + "\\download.log").c_str());
    RemoveDirectoryA(m_folder.c_str());
  }

  // Downloads url into m_path on a thread of its own, the way the worker
  // does, with a recording window as the dialog.
  Download Run(const std::string& url) {
    Download run;
    const std::string logPath = m_folder + "\\download.log";
    DeleteFileA(logPath.c_str());
    DeleteFileA(m_path.c_str());
    StatusRecorder recorder;
    {
      CUpdateLog log;
      log.Open(logPath.c_str());
      const DWORD start = GetTickCount();
      std::thread worker([&] {
        CDownloadStatusCallback reporter(recorder.hwnd());
        run.outcome = HttpDownload(url.c_str(), m_path.c_str(), &reporter, &log, kTestTiming);
        PostMessageA(recorder.hwnd(), WM_UPDATE_STATUS, kUpdateFinished, 0);
      });
      EXPECT_TRUE(recorder.PumpUntilFinal(kTimeoutMs));
      worker.join();
      run.milliseconds = GetTickCount() - start;
    }
    run.reports = recorder.reports();
    run.reports.pop_back();  // the test's own end mark
    run.retries = recorder.retries();
    run.log = LogLines(logPath);
    return run;
  }

  TestHttpServer m_server;
  std::string m_folder;
  std::string m_path;
};

// After a cut or a stall the rest is asked for, and only the same file may
// give it: a server that ignores the range, or whose file changed, starts
// the file again. The file on disk is always exactly one version.
TEST_F(HttpDownloadTest, ACutDownloadResumesOrStartsAgainButNeverMixesTwoFiles) {
  const std::string first = zipbuild::NoisyBytes(300000, 1);
  const std::string second = zipbuild::NoisyBytes(300000, 2);
  const size_t cut = 100000;
  auto response = [](const std::string& body, const char* etag, bool honourRange) {
    TestHttpResponse r{200, body};
    r.etag = etag;
    r.honourRange = honourRange;
    return r;
  };
  TestHttpResponse cutOff = response(first, "\"v1\"", true);
  cutOff.cutAfter = cut;
  TestHttpResponse stalled = cutOff;
  stalled.cutAfter = SIZE_MAX;
  stalled.stallAfter = cut;

  const struct {
    const char* name;
    std::vector<TestHttpResponse> responses;
    std::string result;
    size_t bytesSent;
    const char* logged;  // a line of the second try
  } cases[] = {
      {"range honoured",
       {cutOff, response(first, "\"v1\"", true)},
       first,
       first.size(),
       "download try 2 of 5: resuming at byte 100000 of 300000"},
      {"stall, then the rest",
       {stalled, response(first, "\"v1\"", true)},
       first,
       first.size(),
       "download try 2 of 5: resuming at byte 100000 of 300000"},
      {"range ignored",
       {cutOff, response(first, "\"v1\"", false)},
       first,
       cut + first.size(),
       "download try 2 of 5: the server sent the whole file (200), not the rest; starting again "
       "from zero"},
      {"file changed",
       {cutOff, response(second, "\"v2\"", true)},
       second,
       cut + second.size(),
       "download try 2 of 5: the server sent the whole file (200), not the rest; starting again "
       "from zero"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    m_server.ServeInTurn("/update.zip", c.responses);
    const size_t sentBefore = m_server.BodyBytesSent();
    const size_t requestsBefore = m_server.RequestRanges().size();

    Download run = Run(m_server.Url("/update.zip"));

    EXPECT_EQ(run.outcome.exitCode, kExitUpdated) << run.outcome.message.GetString();
    EXPECT_EQ(run.outcome.tries, 2);
    EXPECT_TRUE(ReadFileBytes(ui::Widen(m_path)) == c.result);
    EXPECT_EQ(m_server.BodyBytesSent() - sentBefore, c.bytesSent);
    // The second request asks for the rest of this very file.
    const auto ranges = m_server.RequestRanges();
    ASSERT_EQ(ranges.size(), requestsBefore + 2);
    EXPECT_EQ(ranges[requestsBefore].first, "");
    EXPECT_EQ(ranges[requestsBefore + 1].first, "bytes=100000-");
    EXPECT_EQ(ranges[requestsBefore + 1].second, "\"v1\"");
    // The dialog heard of the retry, and the bar goes on from where the
    // file stands.
    ASSERT_EQ(run.retries.size(), 1u);
    EXPECT_EQ(run.retries[0].nextTry, 2);
    EXPECT_EQ(run.retries[0].tries, 5);
    ASSERT_LT(run.retries[0].reportsBefore, run.reports.size());
    const bool resumed = c.bytesSent == c.result.size();
    EXPECT_EQ(run.reports[run.retries[0].reportsBefore].code, resumed ? 33 : 0);
    EXPECT_EQ(run.reports.back().code, 100);
    ASSERT_EQ(run.log.size(), 2u);
    // A body shorter than its Content-Length is a cut, not an end.
    const bool stall = c.responses[0].stallAfter != SIZE_MAX;
    EXPECT_EQ(run.log[0], std::string("download try 1 of 5 failed: ") +
                              (stall ? "No data arrived for 3 s; the connection counts as lost."
                                     : "The connection was lost after 100000 of 300000 bytes.") +
                              " Next try in 0.100 s.");
    EXPECT_EQ(run.log[1], c.logged);
  }
}

// Failures that may pass are tried again (five tries in all, Retry-After
// honoured); those that will not end the download after one try. Either
// way a failed download leaves nothing behind and says why in words.
TEST_F(HttpDownloadTest, OnlyFailuresThatMayPassAreTriedAgain) {
  const std::string body = zipbuild::NoisyBytes(20000, 3);
  TestHttpResponse busy{503, "busy"};
  TestHttpResponse slowDown{429, "slow down"};
  slowDown.extraHeaders = "Retry-After: 1\r\n";
  TestHttpResponse goAway = slowDown;
  goAway.extraHeaders = "Retry-After: 120\r\n";
  TestHttpResponse huge{200, "x"};
  huge.sendContentLength = false;
  huge.extraHeaders = "Content-Length: 900000000000000000\r\n";
  m_server.ServeInTurn("/busy.zip", {busy, busy, {200, body}});
  m_server.ServeInTurn("/throttled.zip", {slowDown, {200, body}});
  m_server.Serve("/away.zip", goAway);
  m_server.Serve("/huge.zip", huge);
  m_server.Serve("/always-busy.zip", busy);
  std::string refused;
  {
    TestHttpServer gone;
    refused = gone.Url("/update.zip");
  }

  const struct {
    const char* name;
    std::string url;
    int tries;
    DWORD result;
    const char* reason;  // the message's text after the first line
    DWORD minimumMs;
  } cases[] = {
      {"503 twice", m_server.Url("/busy.zip"), 3, 0, "", 300},
      {"429, then served", m_server.Url("/throttled.zip"), 2, 0, "", 1000},
      {"429 asking for two minutes", m_server.Url("/away.zip"), 1, 0x801901ADu,
       "The server answered 429 Too Many Requests.  It asks to be tried again in 120 s.", 0},
      {"always 503", m_server.Url("/always-busy.zip"), 5, 0x801901F7u,
       "The server answered 503 Service Unavailable.  Tried 5 times.", 1500},
      {"404", m_server.Url("/missing.zip"), 1, 0x80190194u, "The server answered 404 Not Found.",
       0},
      {"refused", refused, 5, 0x80072EFDu,
       "The server refused the connection or cannot be reached.  Tried 5 times.", 1500},
      {"not http", "nosuchscheme://127.0.0.1/update.zip", 1, 0x80072EE6u,
       "The address is not an http or https address.", 0},
      {"larger than the disk", m_server.Url("/huge.zip"), 1, 0x80070070u,
       "Not enough disk space: the download needs ", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Download run = Run(c.url);
    EXPECT_EQ(run.outcome.tries, c.tries);
    EXPECT_EQ(static_cast<DWORD>(run.outcome.result), c.result);
    EXPECT_GE(run.milliseconds, c.minimumMs);
    EXPECT_EQ(run.retries.size(), static_cast<size_t>(c.tries - 1));
    // One log line per failed try.
    EXPECT_EQ(run.log.size(), static_cast<size_t>(c.result == 0 ? c.tries - 1 : c.tries));
    if (c.result == 0) {
      EXPECT_EQ(run.outcome.exitCode, kExitUpdated);
      EXPECT_TRUE(ReadFileBytes(ui::Widen(m_path)) == body);
      continue;
    }
    EXPECT_EQ(run.outcome.exitCode, kExitDownloadFailed);
    char firstLine[64];
    wsprintfA(firstLine, "Download failed.  Error = 0x%08lX\n\n", c.result);
    const std::string message = run.outcome.message.GetString();
    EXPECT_EQ(message.rfind(firstLine + std::string(c.reason), 0), 0u) << message;
    EXPECT_EQ(GetFileAttributesA(m_path.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(run.log.back().find(c.tries == 5 ? "That was the last try." : "Not tried again."),
              std::string::npos)
        << run.log.back();
  }
}

}  // namespace
