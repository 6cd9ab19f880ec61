// The update worker end to end under the platform's real download call,
// against a loopback HTTP server, with a recording window standing in for
// the progress dialog. The worker writes into the folder of this test
// program (its "updater folder"), below a folder of each test's own.
#include "updater/download/update_worker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "framework/thread.h"
#include "framework/wnd.h"
#include "testing/http_server.h"
#include "testing/status_recorder.h"
#include "testing/ui_driver.h"
#include "testing/zip_builder.h"
#include "updater/app/updater_app.h"
#include "updater/download/archive_name.h"
#include "updater/download/update_status.h"

namespace {

const DWORD kTimeoutMs = 60000;
const char kAppName[] = "worker test";
const LONG_PTR kFailed = -1;
const LONG_PTR kFinished = -2;

struct ShownBox {
  std::string text;
  std::string caption;
  bool icon = false;
  std::vector<int> buttons;
};

struct WorkerRun {
  bool ended = false;  // a final code arrived and the thread returned
  std::vector<StatusReport> reports;
  std::vector<StatusRecorder::Retry> retries;
  std::vector<ShownBox> boxes;
  std::vector<std::string> archivesCreated;  // in the updater folder, during the run
};

std::string UpdaterFolder() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  return UpdaterDirectory(path).GetString();
}

// Names in folder matching pattern, "." and ".." excepted.
std::vector<std::string> FilesIn(const std::string& folder, const char* pattern) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\" + pattern).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string name = found.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return names;
}

// Names of the downloaded archives ("<n>.tarnwick.zip") in the updater folder.
std::vector<std::string> ArchivesInFolder() {
  return FilesIn(UpdaterFolder(), "*.tarnwick.zip");
}

// Records the downloaded archives created in the updater folder while it
// runs (the platform may write the file only when the transfer is complete).
class ArchiveWatcher {
 public:
  ArchiveWatcher() {
    m_folder =
        CreateFileA(UpdaterFolder().c_str(), FILE_LIST_DIRECTORY,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    m_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE watching = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    m_thread = std::thread([this, watching] { Run(watching); });
    WaitForSingleObject(watching, kTimeoutMs);
    CloseHandle(watching);
  }
  ~ArchiveWatcher() { Stop(); }

  std::vector<std::string> Stop() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    if (m_folder != INVALID_HANDLE_VALUE) CloseHandle(m_folder);
    if (m_event != nullptr) CloseHandle(m_event);
    m_folder = INVALID_HANDLE_VALUE;
    m_event = nullptr;
    return m_created;
  }

 private:
  void Run(HANDLE watching) {
    alignas(DWORD) char buffer[16384];
    bool first = true;
    while (!m_stop && m_folder != INVALID_HANDLE_VALUE) {
      OVERLAPPED overlapped = {};
      overlapped.hEvent = m_event;
      ResetEvent(m_event);
      const BOOL issued =
          ReadDirectoryChangesW(m_folder, buffer, sizeof(buffer), FALSE,
                                FILE_NOTIFY_CHANGE_FILE_NAME, nullptr, &overlapped, nullptr);
      if (first) SetEvent(watching);
      first = false;
      if (!issued) return;
      while (!m_stop && WaitForSingleObject(m_event, 10) == WAIT_TIMEOUT) {
      }
      DWORD bytes = 0;
      if (m_stop) CancelIo(m_folder);
      if (!GetOverlappedResult(m_folder, &overlapped, &bytes, TRUE) || bytes == 0) continue;
      for (size_t offset = 0;;) {
        auto* info = reinterpret_cast<FILE_NOTIFY_INFORMATION*>(buffer + offset);
        const std::string name =
            ui::Narrow(std::wstring(info->FileName, info->FileNameLength / sizeof(wchar_t)));
        const std::string suffix = ".tarnwick.zip";
        if ((info->Action == FILE_ACTION_ADDED || info->Action == FILE_ACTION_RENAMED_NEW_NAME) &&
            name.size() > suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
          m_created.push_back(name);
        }
        if (info->NextEntryOffset == 0) break;
        offset += info->NextEntryOffset;
      }
    }
  }

  HANDLE m_folder = INVALID_HANDLE_VALUE;
  HANDLE m_event = nullptr;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
  std::vector<std::string> m_created;  // written by the thread until Stop
};

void RemoveTree(const std::string& path) {
  ui::RemoveTree(ui::Widen(path));
}

std::string ReadFileBytes(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<missing>";
  std::string bytes;
  char buffer[65536];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
    bytes.append(buffer, read);
  }
  CloseHandle(file);
  return bytes;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
  return zipbuild::SaveBytes(path, bytes);
}

uint64_t UnixToFileTime(int64_t seconds) {
  return static_cast<uint64_t>(seconds + 11644473600LL) * 10000000ULL;
}

uint64_t AsUint64(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

class UpdateWorkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Left over by an earlier run that was cut short.
    for (const std::string& name : ArchivesInFolder()) {
      DeleteFileA((UpdaterFolder() + "\\" + name).c_str());
    }
    m_folderName = "worker_test_" + std::to_string(GetCurrentProcessId());
    m_folder = UpdaterFolder() + "\\" + m_folderName;
    RemoveTree(m_folder);
    ASSERT_TRUE(m_server.started());
  }
  void TearDown() override { RemoveTree(m_folder); }

  // Runs the worker on its own thread the way the dialog starts it, and
  // answers every message box it shows with OK.
  WorkerRun RunWorker(const std::string& url) {
    auto* app = static_cast<CUpdaterApp*>(AfxGetApp());
    app->m_url = url.c_str();
    app->m_appName = kAppName;

    WorkerRun run;
    ArchiveWatcher watcher;
    StatusRecorder recorder;
    CWnd dialog;
    dialog.m_hWnd = recorder.hwnd();

    CWinThread* thread =
        AfxBeginThread(UpdateWorker, &dialog, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
    if (thread == nullptr) return run;
    HANDLE worker = nullptr;
    DuplicateHandle(GetCurrentProcess(), thread->m_hThread, GetCurrentProcess(), &worker,
                    SYNCHRONIZE, FALSE, 0);
    g_abortDownload = 0;
    g_updatePhase = kPhaseDownload;
    thread->ResumeThread();  // the thread owns its record from here on

    std::set<HWND> answered;
    const bool finalCode = recorder.PumpUntilFinal(kTimeoutMs, [&] {
      for (const ui::WindowInfo& window : ui::TopLevelWindows(GetCurrentProcessId())) {
        if (!window.visible || window.className != L"#32770") continue;
        if (!answered.insert(window.hwnd).second) continue;
        ShownBox box;
        box.text = ui::Narrow(ui::MessageBoxText(window.hwnd));
        box.caption = ui::Narrow(window.caption);
        box.icon = ui::HasIcon(window.hwnd);
        box.buttons = ui::ButtonIds(window.hwnd);
        run.boxes.push_back(box);
        ui::Press(window.hwnd, IDOK);
      }
    });
    const bool returned = WaitForSingleObject(worker, kTimeoutMs) == WAIT_OBJECT_0;
    CloseHandle(worker);
    // Anything posted after the final code would show here.
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    run.ended = finalCode && returned;
    run.archivesCreated = watcher.Stop();
    run.reports = recorder.reports();
    run.retries = recorder.retries();
    return run;
  }

  std::string Path(const std::string& relative) const { return m_folder + "\\" + relative; }

  TestHttpServer m_server;
  std::string m_folderName;  // entry names start with this
  std::string m_folder;
};

// Percentages only, then exactly one final code, which is the last report.
void ExpectProgressThen(const WorkerRun& run, LONG_PTR finalCode) {
  ASSERT_TRUE(run.ended);
  ASSERT_FALSE(run.reports.empty());
  EXPECT_EQ(run.reports.back().code, finalCode);
  for (size_t i = 0; i + 1 < run.reports.size(); ++i) {
    EXPECT_GE(run.reports[i].code, 0) << "report " << i;
    EXPECT_TRUE(run.reports[i].hasText) << "report " << i;
  }
  EXPECT_FALSE(run.reports.back().hasText);
}

void ExpectOneBox(const WorkerRun& run, const std::string& text) {
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].text, text);
  EXPECT_EQ(run.boxes[0].caption, kAppName);
  EXPECT_TRUE(run.boxes[0].icon);  // the exclamation icon of an MB_OK box
  EXPECT_EQ(run.boxes[0].buttons, std::vector<int>{IDOK});
}

TEST_F(UpdateWorkerTest, GoodArchiveIsUnpackedBelowTheUpdaterFolder) {
  const std::string big = zipbuild::NoisyBytes(600000, 7);
  const int32_t written = 1600000000, accessed = 1600000100, created = 1500000000;
  zipbuild::ZipBuilder archive;
  zipbuild::ZipEntry folder;
  folder.name = m_folderName + "/";
  folder.externalAttributes = FILE_ATTRIBUTE_DIRECTORY;
  archive.Add(folder);
  folder.name = m_folderName + "/sub/";
  archive.Add(folder);
  zipbuild::ZipEntry text;
  text.name = m_folderName + "/sub/a.txt";
  text.data = "alpha\r\n";
  text.externalAttributes = FILE_ATTRIBUTE_ARCHIVE;
  text.localExtra = zipbuild::UtBlock(0x07, {written, accessed, created});
  archive.Add(text);
  zipbuild::ZipEntry packed;
  packed.name = m_folderName + "/big.bin";
  packed.data = big;
  packed.method = 8;
  packed.localExtra = zipbuild::UtBlock(0x01, {written});
  archive.Add(packed);
  archive.AddFile("/" + m_folderName + "/rooted.txt", "cut to the base folder");
  const std::string bytes = archive.Build();
  m_server.Serve("/update.zip", {200, bytes, true, 1500000});

  WorkerRun run = RunWorker(m_server.Url("/update.zip"));

  ExpectProgressThen(run, kFinished);
  EXPECT_TRUE(run.boxes.empty());
  EXPECT_EQ(m_server.RequestPaths(), std::vector<std::string>{"/update.zip"});

  // Throttled, so the bar moves: the percentages rise to 100.
  std::set<LONG_PTR> distinct;
  for (size_t i = 0; i + 1 < run.reports.size(); ++i) {
    distinct.insert(run.reports[i].code);
    if (i > 0) {
      EXPECT_GE(run.reports[i].code, run.reports[i - 1].code);
    }
  }
  EXPECT_GE(distinct.size(), 3u);
  EXPECT_EQ(run.reports[run.reports.size() - 2].code, 100);
  EXPECT_EQ(run.reports[run.reports.size() - 2].text.find("Downloaded "), 0u);

  // The archive was written to the updater folder, and is gone.
  ASSERT_EQ(run.archivesCreated.size(), 1u);
  EXPECT_TRUE(std::regex_match(run.archivesCreated[0], std::regex("-?[0-9]+\\.tarnwick\\.zip")));
  EXPECT_TRUE(ArchivesInFolder().empty());

  EXPECT_TRUE(GetFileAttributesA(Path("sub").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
  HANDLE file = CreateFileA(Path("sub\\a.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  FILETIME creation, access, write;
  ASSERT_TRUE(GetFileTime(file, &creation, &access, &write));
  CloseHandle(file);
  EXPECT_EQ(AsUint64(write), UnixToFileTime(written));
  // Wine keeps no settable creation time on Linux file systems, so only the
  // last write time can be read back reliably here.
  EXPECT_EQ(ReadFileBytes(Path("sub\\a.txt")), "alpha\r\n");
  EXPECT_EQ(ReadFileBytes(Path("big.bin")), big);
  EXPECT_EQ(ReadFileBytes(Path("rooted.txt")), "cut to the base folder");
}

TEST_F(UpdateWorkerTest, EmptyArchiveFinishesWithNothingWritten) {
  m_server.Serve("/empty.zip", {200, zipbuild::ZipBuilder().Build()});
  WorkerRun run = RunWorker(m_server.Url("/empty.zip"));
  ExpectProgressThen(run, kFinished);
  EXPECT_TRUE(run.boxes.empty());
  EXPECT_EQ(run.archivesCreated.size(), 1u);
  EXPECT_TRUE(ArchivesInFolder().empty());
  EXPECT_EQ(GetFileAttributesA(m_folder.c_str()), INVALID_FILE_ATTRIBUTES);
}

// What some servers (and the platform, for an HTTP error) deliver as a
// successful download is no archive: the user is told, nothing is opened.
TEST_F(UpdateWorkerTest, BodyThatIsNoArchiveIsReportedAsFailure) {
  TestHttpResponse page = TestHttpResponse::NotFound();
  page.status = 200;
  m_server.Serve("/page.zip", page);
  m_server.Serve("/truncated.zip",
                 {200, zipbuild::ZipBuilder().AddFile("a", "b").Build().substr(0, 40)});

  for (const char* path : {"/page.zip", "/truncated.zip"}) {
    SCOPED_TRACE(path);
    WorkerRun run = RunWorker(m_server.Url(path));
    ExpectProgressThen(run, kFailed);
    ExpectOneBox(run, "Download failed.  The file received is not a valid update archive.");
    EXPECT_EQ(run.archivesCreated.size(), 1u);
    EXPECT_TRUE(ArchivesInFolder().empty());
  }
}

// A download that fails says why in words under the first line that names
// the error code, once every try it deserved has been made; it leaves no
// file behind.
TEST_F(UpdateWorkerTest, FailedDownloadSaysWhyAfterItsTries) {
  TestHttpServer gone;
  const std::string refused = gone.Url("/update.zip");
  gone.Stop();  // nothing listens on the port any more

  const struct {
    std::string url;
    const char* message;
    size_t retries;
  } cases[] = {
      {m_server.Url("/missing.zip"),
       "Download failed.  Error = 0x80190194\n\nThe server answered 404 Not Found.", 0},
      {refused,
       "Download failed.  Error = 0x80072EFD\n\nThe server refused the connection or cannot be "
       "reached.  Tried 5 times.",
       4},
      {"nosuchscheme://127.0.0.1/update.zip",
       "Download failed.  Error = 0x80072EE6\n\nThe address is not an http or https address.", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    WorkerRun run = RunWorker(c.url);
    ExpectProgressThen(run, kFailed);
    ExpectOneBox(run, c.message);
    // The window hears of each try to come while the worker waits for it.
    ASSERT_EQ(run.retries.size(), c.retries);
    for (size_t i = 0; i < c.retries; ++i)
      EXPECT_EQ(run.retries[i].nextTry, static_cast<int>(i + 2));
    EXPECT_TRUE(run.archivesCreated.empty());
    EXPECT_TRUE(ArchivesInFolder().empty());
  }
  EXPECT_EQ(m_server.RequestPaths(), std::vector<std::string>{"/missing.zip"});
}

// A connection cut half-way is resumed, and the archive installed: the
// server sends each byte once.
TEST_F(UpdateWorkerTest, CutDownloadIsResumedAndInstalled) {
  const std::string data = zipbuild::NoisyBytes(200000, 5);
  const std::string bytes = zipbuild::ZipBuilder().AddFile(m_folderName + "/big.bin", data).Build();
  TestHttpResponse whole{200, bytes};
  whole.etag = "\"7\"";
  whole.honourRange = true;
  TestHttpResponse cut = whole;
  cut.cutAfter = bytes.size() / 2;
  m_server.ServeInTurn("/update.zip", {cut, whole});

  WorkerRun run = RunWorker(m_server.Url("/update.zip"));

  ExpectProgressThen(run, kFinished);
  EXPECT_TRUE(run.boxes.empty());
  ASSERT_EQ(run.retries.size(), 1u);
  EXPECT_EQ(m_server.BodyBytesSent(), bytes.size());
  EXPECT_EQ(ReadFileBytes(Path("big.bin")), data);
  EXPECT_TRUE(ArchivesInFolder().empty());
}

TEST_F(UpdateWorkerTest, UnknownLengthIsReportedAsSuch) {
  const std::string body =
      zipbuild::ZipBuilder()
          .AddFile(m_folderName + "/notes.txt", zipbuild::NoisyBytes(100000, 3))
          .Build();
  TestHttpResponse response{200, body};
  response.sendContentLength = false;
  response.bytesPerSecond = 400000;
  m_server.Serve("/nolength.zip", response);

  WorkerRun run = RunWorker(m_server.Url("/nolength.zip"));

  ExpectProgressThen(run, kFinished);
  size_t unknown = 0;
  for (const StatusReport& report : run.reports) {
    if (report.text.find("(total size unknown)") == std::string::npos) continue;
    ++unknown;
    EXPECT_EQ(report.code, 0);
    EXPECT_EQ(report.text.rfind("Downloaded ", 0), 0u);
  }
  EXPECT_GE(unknown, 1u);
  EXPECT_EQ(ReadFileBytes(Path("notes.txt")).size(), 100000u);
}

// A file held open without delete sharing can be neither moved aside nor
// replaced: the whole update fails, and the file written before it is
// taken back.
TEST_F(UpdateWorkerTest, EntryWhoseTargetIsInUseFailsTheWholeUpdate) {
  ASSERT_TRUE(CreateDirectoryA(m_folder.c_str(), nullptr));
  ASSERT_TRUE(WriteFileBytes(Path("busy.txt"), "old"));
  HANDLE busy = CreateFileA(Path("busy.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(busy, INVALID_HANDLE_VALUE);
  m_server.Serve("/update.zip", {200, zipbuild::ZipBuilder()
                                          .AddFile(m_folderName + "/before.txt", "written")
                                          .AddFile(m_folderName + "/busy.txt", "new")
                                          .Build()});

  WorkerRun run = RunWorker(m_server.Url("/update.zip"));
  CloseHandle(busy);

  ExpectProgressThen(run, kFailed);
  ExpectOneBox(run, "Update failed.  The file " + m_folderName +
                        "\\busy.txt is in use; nothing was changed.");
  EXPECT_EQ(ReadFileBytes(Path("busy.txt")), "old");
  EXPECT_EQ(GetFileAttributesA(Path("before.txt").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(FilesIn(m_folder, "*"), std::vector<std::string>{"busy.txt"});
  EXPECT_TRUE(ArchivesInFolder().empty());
}

}  // namespace
