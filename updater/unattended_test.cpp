// Unattended runs of the real updater.exe: the process exit code of each
// way a run can end, with and without -silent, and the -log record.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "testing/http_server.h"
#include "testing/ui_driver.h"
#include "testing/updater_sandbox.h"
#include "testing/zip_builder.h"

namespace {

const DWORD kTimeoutMs = 30000;

std::wstring Quoted(const std::wstring& text) {
  return L"\"" + text + L"\"";
}

// Waits for the process to end while checking that it never shows a
// window; answers its exit code (STILL_ACTIVE on timeout).
DWORD RunWithoutWindows(ui::Process& process) {
  const DWORD start = GetTickCount();
  while (!process.WaitExit(10)) {
    for (const ui::WindowInfo& w : ui::TopLevelWindows(process.id())) {
      EXPECT_FALSE(w.visible) << "a window of class " << ui::Narrow(w.className) << ": "
                              << ui::Narrow(w.caption);
      if (w.visible) process.Kill();
    }
    if (GetTickCount() - start > kTimeoutMs) return STILL_ACTIVE;
  }
  return process.exitCode();
}

// Answers the next message box with OK after checking how its text begins.
void AnswerBox(const ui::Process& process, const std::wstring& textStart) {
  auto box = WaitForMessageBox(process.id(), kTimeoutMs);
  ASSERT_TRUE(box.has_value()) << ui::Narrow(textStart);
  EXPECT_EQ(ui::MessageBoxText(box->hwnd).substr(0, textStart.size()), textStart);
  ASSERT_TRUE(ui::Press(box->hwnd, IDOK));
  const DWORD start = GetTickCount();
  while (IsWindow(box->hwnd) && GetTickCount() - start < 5000) Sleep(10);
}

// Two files, the second with a CRC-32 that its data does not have.
std::string ArchiveWithDamagedEntry() {
  zipbuild::ZipEntry damaged;
  damaged.name = "data/damaged.txt";
  damaged.data = "these bytes do not match the stored CRC-32\n";
  damaged.localCrc = 0xDEADBEEF;
  damaged.centralCrc = 0xDEADBEEF;
  return zipbuild::ZipBuilder().AddFile("good.txt", "fine\n").Add(damaged).Build();
}

// The log's lines without their "YYYY-MM-DD HH:MM:SS " stamps.
std::vector<std::string> LogTexts(const std::wstring& path) {
  const std::string bytes = ReadFileBytes(path);
  std::vector<std::string> texts;
  size_t start = 0;
  for (size_t end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2) {
    const std::string line = bytes.substr(start, end - start);
    EXPECT_TRUE(line.size() > 20 && line[4] == '-' && line[13] == ':' && line[19] == ' ') << line;
    texts.push_back(line.substr(line.size() > 20 ? 20 : line.size()));
  }
  return texts;
}

bool StartsWith(const std::string& text, const std::string& start) {
  return text.compare(0, start.size(), start) == 0;
}

}  // namespace

// Each way a run ends gives its own exit code, the same with the progress
// dialog (the test answers its boxes as a user would) and with -silent
// (no window at all, wherever the option stands).
TEST(UnattendedTest, EachOutcomeHasItsExitCodeWithAndWithoutWindows) {
  zipbuild::ZipBuilder zip;
  zip.AddFile("note.txt", "updated\n");
  TestHttpServer server;
  ASSERT_TRUE(server.started());
  server.Serve("/good.zip", {200, zip.Build()});
  server.Serve("/", {200, zip.Build()});
  TestHttpResponse text;
  text.body = "this is not an update archive";
  text.contentType = "text/plain";
  server.Serve("/text", text);
  TestHttpResponse slow;
  slow.body = std::string(400000, 'x');
  slow.bytesPerSecond = 20000;
  server.Serve("/slow.zip", slow);
  server.Serve("/damaged.zip", {200, ArchiveWithDamagedEntry()});

  const struct {
    const char* name;
    std::string url;  // empty: no -url at all
    std::vector<std::wstring> boxes;
    bool cancel;
    DWORD code;
  } cases[] = {
      {"good update", server.Url("/good.zip"), {}, false, 0},
      // Without the publisher's key no signature address is made from it.
      {"address without a file", server.Url("?v=2"), {}, false, 0},
      {"command line without -url", "", {L"\x53C2\x6570\x65E0\x6548"}, false, 1},
      {"404",
       server.Url("/missing.zip"),
       {L"Download failed.  Error = 0x", L"Error Occured while Downloading"},
       false,
       2},
      {"not a zip archive",
       server.Url("/text"),
       {L"Download failed.  The file received is not", L"Error Occured while Downloading"},
       false,
       3},
      {"damaged entry",
       server.Url("/damaged.zip"),
       {L"Update failed.  The file data\\damaged.txt is damaged",
        L"Error Occured while Downloading"},
       false,
       4},
      {"cancel during the download", server.Url("/slow.zip"), {}, true, 5},
      // 6: below. 7 needs a folder nobody may write (admin_rights_test.cpp).
  };
  for (const auto& c : cases) {
    for (bool silent : {false, true}) {
      if (silent && c.cancel) continue;  // nothing to press
      SCOPED_TRACE(std::string(c.name) + (silent ? ", silent" : ", with the dialog"));
      UpdaterSandbox sandbox(UPDATER_EXE, MARKER_TARGET_EXE);
      ASSERT_TRUE(sandbox.ready());
      std::wstring args = L"-dest " + Quoted(sandbox.target());
      if (!c.url.empty()) args = L"-url " + ui::Widen(c.url) + L" " + args;
      if (silent) args = c.url.empty() ? L"-silent " + args : args + L" -silent";
      auto process = sandbox.Start(args);
      ASSERT_TRUE(process->started());
      DWORD code = STILL_ACTIVE;
      if (silent) {
        code = RunWithoutWindows(*process);
      } else {
        if (c.cancel) {
          auto dialog = WaitForProgressDialog(process->id(), kTimeoutMs);
          ASSERT_TRUE(dialog.has_value());
          ASSERT_TRUE(ui::Press(dialog->hwnd, IDCANCEL));
        }
        for (const std::wstring& box : c.boxes) AnswerBox(*process, box);
        ASSERT_EQ(ui::Narrow(WaitExitOrMessage(*process, kTimeoutMs)), "");
        code = process->exitCode();
      }
      EXPECT_EQ(code, c.code);
      EXPECT_EQ(sandbox.WaitTargetStarted(c.code == 0 ? kTimeoutMs : 300), c.code == 0);
    }
  }

  // A second updater in the folder while the first one downloads.
  UpdaterSandbox sandbox(UPDATER_EXE, MARKER_TARGET_EXE);
  ASSERT_TRUE(sandbox.ready());
  const std::wstring args =
      L"-url " + ui::Widen(server.Url("/slow.zip")) + L" -dest " + Quoted(sandbox.target());
  auto first = sandbox.Start(args);
  ASSERT_TRUE(WaitForProgressDialog(first->id(), kTimeoutMs).has_value());
  for (bool silent : {false, true}) {
    SCOPED_TRACE(silent ? "second instance, silent" : "second instance");
    auto second = sandbox.Start(silent ? L"-silent " + args : args);
    if (silent) {
      EXPECT_EQ(RunWithoutWindows(*second), 6u);
    } else {
      AnswerBox(*second, L"An update is already running.");
      ASSERT_TRUE(second->WaitExit(kTimeoutMs));
      EXPECT_EQ(second->exitCode(), 6u);
    }
  }
  EXPECT_TRUE(first->running());
}

// One log, appended to by a good update with the dialog, then silently by a
// failed download, a damaged entry and a good update whose target cannot be
// opened: each run from its start line to "exit code N".
TEST(UnattendedTest, LogRecordsEachRunFromStartToExitCode) {
  zipbuild::ZipBuilder zip;
  zip.AddFile("readme.txt", "hello from the update\n");
  zipbuild::ZipEntry docs;
  docs.name = "docs/";
  docs.externalAttributes = 0x10;
  zip.Add(docs);
  zip.AddFile("docs/guide.txt", "read me\n");
  const std::string archive = zip.Build();
  TestHttpServer server;
  ASSERT_TRUE(server.started());
  server.Serve("/update.zip", {200, archive});
  const std::string good = server.Url("/update.zip?build=7");

  UpdaterSandbox first(UPDATER_EXE, MARKER_TARGET_EXE);
  ASSERT_TRUE(first.ready());
  const std::wstring log = first.folder() + L"\\update log.txt";
  auto run = first.Start(L"-log " + Quoted(log) + L" -url " + ui::Widen(good) + L" -dest " +
                         Quoted(first.target()));
  ASSERT_EQ(ui::Narrow(WaitExitOrMessage(*run, kTimeoutMs)), "");
  EXPECT_EQ(run->exitCode(), 0u);
  ASSERT_TRUE(first.WaitTargetStarted(kTimeoutMs));

  std::vector<std::string> lines = LogTexts(log);
  ASSERT_FALSE(lines.empty());
  const std::vector<std::string> goodRun = lines;
  EXPECT_TRUE(StartsWith(goodRun.front(), "start: updater 1.0.0.1, command line: ")) << goodRun[0];
  EXPECT_NE(goodRun.front().find("-url " + good + " -dest"), std::string::npos);
  const std::string target = "\"" + ui::Narrow(first.target()) + "\"";
  const std::vector<std::string> expected = {
      "download " + good + ": result 0x00000000, " + std::to_string(archive.size()) + " bytes in ",
      "entry 0 readme.txt: written",
      "entry 1 docs/: written",
      "entry 2 docs/guide.txt: written",
      "commit: every file is in place",
      "target " + target + " opened",
      "exit code 0",
  };
  ASSERT_EQ(goodRun.size(), 1 + expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_TRUE(StartsWith(goodRun[i + 1], expected[i])) << goodRun[i + 1];
  }

  // The second run appends; the folder of the download does not matter.
  UpdaterSandbox second(UPDATER_EXE, MARKER_TARGET_EXE);
  ASSERT_TRUE(second.ready());
  const std::string missing = server.Url("/missing.zip");
  run = second.Start(L"-url " + ui::Widen(missing) + L" -silent -log " + Quoted(log) + L" -dest " +
                     Quoted(second.target()));
  EXPECT_EQ(RunWithoutWindows(*run), 2u);
  lines = LogTexts(log);
  ASSERT_EQ(lines.size(), goodRun.size() + 5);
  EXPECT_TRUE(std::equal(goodRun.begin(), goodRun.end(), lines.begin()));
  const std::vector<std::string> failedRun = {
      "start: updater 1.0.0.1",
      "download try 1 of 5 failed: The server answered 404 Not Found. Not tried again.",
      "download " + missing + ": result 0x80190194, 0 bytes in ",
      "message (not shown): Download failed.  Error = 0x80190194  The server answered 404 Not "
      "Found.",
      "exit code 2",
  };
  for (size_t i = 0; i < failedRun.size(); ++i) {
    EXPECT_TRUE(StartsWith(lines[goodRun.size() + i], failedRun[i])) << lines[goodRun.size() + i];
  }

  // A damaged entry: every entry is named, and nothing is committed.
  server.Serve("/damaged.zip", {200, ArchiveWithDamagedEntry()});
  size_t before = lines.size();
  run = second.Start(L"-silent -url " + ui::Widen(server.Url("/damaged.zip")) + L" -dest " +
                     Quoted(second.target()) + L" -log " + Quoted(log));
  EXPECT_EQ(RunWithoutWindows(*run), 4u);
  lines = LogTexts(log);
  const std::vector<std::string> damagedRun = {
      "download " + server.Url("/damaged.zip") + ": result 0x00000000, ",
      "entry 0 good.txt: written",
      "entry 1 data/damaged.txt: failed, the file is damaged in the archive",
      "no commit, or its undoing: every file is as it was",
      "message (not shown): Update failed.  The file data\\damaged.txt is damaged",
      "exit code 4",
  };
  ASSERT_EQ(lines.size(), before + 1 + damagedRun.size());
  for (size_t i = 0; i < damagedRun.size(); ++i) {
    EXPECT_TRUE(StartsWith(lines[before + 1 + i], damagedRun[i])) << lines[before + 1 + i];
  }

  // A target the shell cannot open does not make a good update a failure.
  before = lines.size();
  run = second.Start(L"-silent -url " + ui::Widen(good) + L" -dest " +
                     Quoted(second.folder() + L"\\missing.exe") + L" -log " + Quoted(log));
  EXPECT_EQ(RunWithoutWindows(*run), 0u);
  lines = LogTexts(log);
  ASSERT_EQ(lines.size(), before + 8);
  EXPECT_TRUE(
      StartsWith(lines[before + 6], "target \"" + ui::Narrow(second.folder()) +
                                        "\\missing.exe\" not opened: ShellExecuteA answered "))
      << lines[before + 6];
  EXPECT_EQ(lines.back(), "exit code 0");
}
