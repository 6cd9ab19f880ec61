// The whole program: the real updater.exe (a copy in a temporary folder)
// started with a real command line against a web server of the test's own,
// with the test acting as the user.
#include <winsock2.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/http_server.h"
#include "testing/ui_driver.h"
#include "testing/updater_sandbox.h"
#include "testing/zip_builder.h"

namespace {

const DWORD kTimeoutMs = 30000;

std::wstring Command(const std::string& url, const UpdaterSandbox& sandbox) {
  return L"-url " + ui::Widen(url) + L" -dest \"" + sandbox.target() + L"\"";
}

// Answers the message box the process shows next, after checking it.
// The worker's box carries the framework's exclamation icon, the dialog's
// own box none.
void ExpectBox(const ui::Process& process, const std::wstring& textStart, HWND owner, bool icon) {
  auto box = WaitForMessageBox(process.id(), kTimeoutMs);
  ASSERT_TRUE(box.has_value()) << ui::Narrow(textStart);
  std::wstring text = ui::MessageBoxText(box->hwnd);
  EXPECT_EQ(text.substr(0, textStart.size()), textStart) << ui::Narrow(text);
  EXPECT_EQ(box->caption, L"updater");
  EXPECT_EQ(box->owner, owner);
  EXPECT_EQ(ui::ButtonIds(box->hwnd), std::vector<int>{IDOK});
  EXPECT_EQ(ui::HasIcon(box->hwnd), icon);
  ASSERT_TRUE(ui::Press(box->hwnd, IDOK));
  // The next box (if any) must be a new window.
  DWORD start = GetTickCount();
  while (IsWindow(box->hwnd) && IsWindowVisible(box->hwnd) && GetTickCount() - start < kTimeoutMs)
    Sleep(10);
  EXPECT_FALSE(IsWindow(box->hwnd) && IsWindowVisible(box->hwnd)) << "the box stayed after OK";
}

struct Sample {
  std::wstring status;
  int bar;
};

zipbuild::ZipEntry Entry(const std::string& name, const std::string& data, uint32_t attributes,
                         int32_t unixTime) {
  zipbuild::ZipEntry entry;
  entry.name = name;
  entry.data = data;
  entry.externalAttributes = attributes;
  entry.dosDate = zipbuild::DosDate(2020, 5, 17);
  entry.dosTime = zipbuild::DosTime(10, 30, 0);
  // Last write, last access, creation.
  entry.localExtra = zipbuild::UtBlock(0x07, {unixTime, unixTime + 60, unixTime - 60});
  return entry;
}

bool SameTime(const FILETIME& a, const FILETIME& b) {
  return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

}  // namespace

TEST(UpdaterEndToEndTest, GoodUpdateWritesTheFilesAndOpensTheTarget) {
  UpdaterSandbox sandbox(UPDATER_EXE, MARKER_TARGET_EXE);
  ASSERT_TRUE(sandbox.ready());

  const int32_t t = 1600000000;  // 2020-09-13
  std::string payload;
  for (int i = 0; payload.size() < 120000; ++i) payload += "line " + std::to_string(i) + "\n";
  zipbuild::ZipBuilder zip;
  zip.Add(Entry("readme.txt", "hello from the update\n", 0x20, t));
  zip.Add(Entry("docs/", "", 0x10, t));
  zip.Add(Entry("docs/guide.txt", "read me, do not change me\n", 0x21, t + 3600));
  zip.Add(Entry("data/payload.txt", payload, 0x20, t + 7200));

  TestHttpServer server;
  ASSERT_TRUE(server.started());
  TestHttpResponse slow;
  slow.body = zip.Build();
  slow.bytesPerSecond = 40000;  // about three seconds
  server.Serve("/files/update.zip", slow);
  const std::string url = server.Url("/files/update.zip?build=7");
  server.Serve("/files/update.zip?build=7", slow);

  auto process = sandbox.Start(Command(url, sandbox));
  auto dialog = WaitForProgressDialog(process->id(), kTimeoutMs);
  ASSERT_TRUE(dialog.has_value());
  EXPECT_EQ(dialog->caption, L"\x6B63\x5728\x66F4\x65B0....");
  EXPECT_EQ(ui::WindowText(GetDlgItem(dialog->hwnd, IDCANCEL)), L"\x53D6\x6D88");

  // Watch the status line and the bar until the program ends. A sample
  // counts only when the status line did not change while the bar was read.
  std::vector<Sample> samples;
  HWND status = GetDlgItem(dialog->hwnd, 1001);
  HWND bar = GetDlgItem(dialog->hwnd, 1000);
  const DWORD watchStart = GetTickCount();
  while (process->running()) {
    ASSERT_LT(GetTickCount() - watchStart, 2 * kTimeoutMs) << "the update did not end";
    std::wstring before = ui::WindowText(status);
    DWORD_PTR pos = 0;
    // Under load, or while the dialog is ending, the read-back can time out;
    // such a sample says nothing about the bar.
    const bool read = SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 1000, &pos) != 0;
    if (read && before == ui::WindowText(status) && !before.empty() &&
        (samples.empty() || samples.back().status != before)) {
      samples.push_back({before, static_cast<int>(pos)});
    }
    ASSERT_EQ(CountMessageBoxes(process->id()), 0) << ui::Narrow(WaitExitOrMessage(*process, 0));
    Sleep(15);
  }

  int previous = -1;
  int between = 0;
  for (const Sample& sample : samples) {
    int percent = -1;
    ASSERT_EQ(swscanf(sample.status.c_str(), L"Download Status: %d%% Complete", &percent), 1)
        << ui::Narrow(sample.status);
    EXPECT_EQ(sample.status, L"Download Status: " + std::to_wstring(percent) + L"% Complete");
    EXPECT_EQ(sample.bar, percent);
    EXPECT_GE(percent, previous);
    previous = percent;
    between += percent > 0 && percent < 100;
  }
  EXPECT_GE(between, 3) << samples.size() << " samples";

  // The files, with their attributes and times.
  const struct {
    const wchar_t* path;
    std::string data;
    DWORD attributes;
    int32_t time;
  } files[] = {
      {L"readme.txt", "hello from the update\n", FILE_ATTRIBUTE_ARCHIVE, t},
      {L"docs\\guide.txt", "read me, do not change me\n",
       FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE, t + 3600},
      {L"data\\payload.txt", payload, FILE_ATTRIBUTE_ARCHIVE, t + 7200},
  };
  for (const auto& file : files) {
    SCOPED_TRACE(ui::Narrow(file.path));
    std::wstring path = sandbox.folder() + L"\\" + file.path;
    WIN32_FILE_ATTRIBUTE_DATA info = {};
    ASSERT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &info));
    const DWORD kept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_DIRECTORY;
    EXPECT_EQ(info.dwFileAttributes & kept, file.attributes);
    EXPECT_TRUE(SameTime(info.ftLastWriteTime, UnixTimeToFileTime(file.time)));
    EXPECT_TRUE(SameTime(info.ftLastAccessTime, UnixTimeToFileTime(file.time + 60)));
    // Reading the file comes last: it may move the last-access time.
    EXPECT_EQ(ReadFileBytes(path), file.data);
  }
  DWORD docs = GetFileAttributesW((sandbox.folder() + L"\\docs").c_str());
  EXPECT_NE(docs, INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(docs & FILE_ATTRIBUTE_DIRECTORY);

  EXPECT_TRUE(sandbox.Files(L"*.tarnwick.zip").empty());
  EXPECT_TRUE(sandbox.WaitTargetStarted(kTimeoutMs));
  // One request, for the address given with -url.
  EXPECT_EQ(server.RequestPaths(), std::vector<std::string>{"/files/update.zip?build=7"});
}

// A name that does not resolve is a bad address: no further try.
TEST(UpdaterEndToEndTest, FailedDownloadShowsTwoBoxesAndOpensNothing) {
  UpdaterSandbox sandbox(UPDATER_EXE, MARKER_TARGET_EXE);
  ASSERT_TRUE(sandbox.ready());
  auto process = sandbox.Start(Command("http://nosuchhost.invalid/update.zip", sandbox));
  auto dialog = WaitForProgressDialog(process->id(), kTimeoutMs);
  ASSERT_TRUE(dialog.has_value());
  ExpectBox(*process,
            L"Download failed.  Error = 0x80072EE7\n\nThe server's name could not be resolved.",
            dialog->hwnd, true);
  ExpectBox(*process, L"Error Occured while Downloading", dialog->hwnd, false);
  EXPECT_TRUE(process->WaitExit(kTimeoutMs));
  EXPECT_FALSE(sandbox.WaitTargetStarted(500));
}

// A body that is no archive (an error page delivered as a download, or any
// other file) ends on the failure path: nothing is unpacked or opened, and
// the downloaded file does not stay.
TEST(UpdaterEndToEndTest, BodyThatIsNoArchiveIsAFailure) {
  TestHttpResponse text;
  text.body = "this is not an update archive";
  text.contentType = "text/plain";
  const struct {
    const char* name;
    TestHttpResponse response;
  } cases[] = {{"plain text", text}, {"404 page", TestHttpResponse::NotFound()}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    UpdaterSandbox sandbox(UPDATER_EXE, MARKER_TARGET_EXE);
    ASSERT_TRUE(sandbox.ready());
    TestHttpServer server;
    ASSERT_TRUE(server.started());
    server.Serve("/update.zip", c.response);
    auto process = sandbox.Start(Command(server.Url("/update.zip"), sandbox));
    auto dialog = WaitForProgressDialog(process->id(), kTimeoutMs);
    ASSERT_TRUE(dialog.has_value());
    ExpectBox(*process, L"Download failed.", dialog->hwnd, true);
    ExpectBox(*process, L"Error Occured while Downloading", dialog->hwnd, false);
    EXPECT_TRUE(process->WaitExit(kTimeoutMs));
    EXPECT_FALSE(sandbox.WaitTargetStarted(500));
    EXPECT_TRUE(sandbox.Files(L"*.tarnwick.zip").empty());
    EXPECT_EQ(server.RequestCount(), 1);
  }
}
