// The real updater.exe applies an update completely or not at all: a
// failure changes no file, an interrupted run is repaired by the next start
// (and a repair that cannot finish, or a journal that cannot be trusted,
// starts no update), the updater replaces itself, paths up to the system's
// limit install, one updater works in a folder at a time, and the window
// answers (and Cancel works) while files are staged.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "testing/http_server.h"
#include "testing/ui_driver.h"
#include "testing/updater_sandbox.h"
#include "testing/zip_builder.h"

namespace {

const DWORD kTimeoutMs = 30000;
const wchar_t kRefusal[] = L"\x53C2\x6570\x65E0\x6548";  // "参数无效"

typedef FolderTree Tree;

Tree Snapshot(const UpdaterSandbox& sandbox) {
  return sandbox.Snapshot();
}

void Plant(const UpdaterSandbox& sandbox, const Tree& tree) {
  sandbox.Plant(tree);
}

std::string Narrow(const Tree& tree) {
  return Describe(tree);
}

const Tree kOld = {{L"readme.txt", "old readme"},
                   {L"bin\\", ""},
                   {L"bin\\engine.dll", "old engine"},
                   {L"data\\", ""},
                   {L"data\\payload.bin", "old payload"}};

// Replaces every file of kOld and adds one in a new folder; files.txt
// entries of filler come first when asked (staging then takes a while), and
// files of the given UTF-8 names last.
std::string UpdateArchive(bool damagedPayload, int filler = 0,
                          const std::vector<std::string>& more = {}) {
  zipbuild::ZipBuilder zip;
  for (int i = 0; i < filler; ++i) {
    zip.AddFile("filler/f" + std::to_string(i) + ".txt", std::string(200, 'f'));
  }
  zip.AddFile("readme.txt", "new readme").AddFile("bin/engine.dll", "new engine");
  zipbuild::ZipEntry payload;
  payload.name = "data/payload.bin";
  payload.data = std::string(60000, 'p');
  payload.method = 8;
  zip.Add(payload);
  zip.AddFile("new/extra.txt", "new extra");
  for (const std::string& name : more) {
    zipbuild::ZipEntry entry;
    entry.name = name;
    entry.data = "from " + name;
    entry.flags = 0x0800;
    zip.Add(entry);
  }
  std::string bytes = zip.Build();
  if (damagedPayload) {
    const size_t data = bytes.find("data/payload.bin") + 16;
    for (size_t i = data + 2; i < data + 12; ++i) bytes[i] = '\x55';
  }
  return bytes;
}

// kOld after UpdateArchive(false, filler).
Tree Applied(int filler) {
  Tree tree = {{L"readme.txt", "new readme"},
               {L"bin\\", ""},
               {L"bin\\engine.dll", "new engine"},
               {L"data\\", ""},
               {L"data\\payload.bin", std::string(60000, 'p')},
               {L"new\\", ""},
               {L"new\\extra.txt", "new extra"}};
  if (filler > 0) tree[L"filler\\"] = "";
  for (int i = 0; i < filler; ++i) {
    tree[L"filler\\f" + std::to_wstring(i) + L".txt"] = std::string(200, 'f');
  }
  return tree;
}

class AllOrNothingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_sandbox.ready());
    ASSERT_TRUE(m_server.started());
    Plant(m_sandbox, kOld);
  }

  std::unique_ptr<ui::Process> StartUpdate(const std::string& archive, size_t bytesPerSecond = 0) {
    TestHttpResponse response;
    response.body = archive;
    response.bytesPerSecond = bytesPerSecond;
    m_server.Serve("/update.zip", response);
    return m_sandbox.Start(L"-url " + ui::Widen(m_server.Url("/update.zip")) + L" -dest \"" +
                           m_sandbox.target() + L"\"");
  }

  // Presses OK on the next box after checking its text.
  void ExpectBox(const ui::Process& process, const std::wstring& text) {
    auto box = WaitForMessageBox(process.id(), kTimeoutMs);
    ASSERT_TRUE(box.has_value()) << ui::Narrow(text);
    EXPECT_EQ(ui::MessageBoxText(box->hwnd), text);
    ASSERT_TRUE(ui::Press(box->hwnd, IDOK));
    for (DWORD start = GetTickCount(); IsWindow(box->hwnd) && GetTickCount() - start < 5000;) {
      Sleep(10);
    }
  }

  // Runs the updater with -silent and -log on archive; answers its exit code
  // and appends the log's lines (without their time stamps) to *log.
  DWORD RunSilent(const std::string& archive, std::vector<std::string>* log) {
    m_server.Serve("/update.zip", {200, archive});
    const std::wstring logPath = m_sandbox.folder() + L"\\target dir\\update.log";
    DeleteFileW(logPath.c_str());
    auto process =
        m_sandbox.Start(L"-url " + ui::Widen(m_server.Url("/update.zip")) + L" -dest \"" +
                        m_sandbox.target() + L"\" -silent -log \"" + logPath + L"\"");
    if (!process->WaitExit(kTimeoutMs)) return STILL_ACTIVE;
    const std::string text = ReadFileBytes(logPath);
    for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos;
         start = end + 2) {
      log->push_back(text.substr(start + 20, end - start - 20));
    }
    return process->exitCode();
  }

  // A start with no arguments: it repairs the folder, then refuses.
  void StartWithNoArguments() {
    auto process = m_sandbox.Start(L"");
    ExpectBox(*process, kRefusal);
    EXPECT_TRUE(process->WaitExit(kTimeoutMs));
  }

  bool Exists(const std::wstring& name) const {
    return GetFileAttributesW((m_sandbox.folder() + L"\\" + name).c_str()) !=
           INVALID_FILE_ATTRIBUTES;
  }

  UpdaterSandbox m_sandbox{UPDATER_EXE, MARKER_TARGET_EXE};
  TestHttpServer m_server;
};

TEST_F(AllOrNothingTest, AFailedUpdateChangesNothingAndOpensNothing) {
  // A file held by another program is waited for first
  // (closing_product_test.cpp).
  struct Case {
    const char* what;
    bool damaged;
    std::vector<std::string> more;  // entries after the update's own
    const wchar_t* box;
    DWORD code;
  } cases[] = {
      {"damaged entry in the middle",
       true,
       {},
       L"Update failed.  The file data\\payload.bin is damaged in the archive; nothing was "
       L"changed.",
       4},
      // Refused before a file is written.
      {"the updater's own name",
       false,
       {"~Update.Journal"},
       L"Update refused.  The archive holds ~Update.Journal, a name the updater keeps for its "
       L"own files; nothing was changed.",
       3},
      {"two names of one file",
       false,
       {"\xC3\x84.txt", "\xC3\xA4.txt"},
       L"Update refused.  The entries \x00C4.txt and \x00E4.txt of the archive name the same "
       L"file on the disk; nothing was changed.",
       3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto process = StartUpdate(UpdateArchive(c.damaged, 0, c.more));
    ExpectBox(*process, c.box);
    ExpectBox(*process, L"Error Occured while Downloading");
    EXPECT_TRUE(process->WaitExit(kTimeoutMs));
    EXPECT_EQ(process->exitCode(), c.code);
    EXPECT_EQ(Snapshot(m_sandbox), kOld) << Narrow(Snapshot(m_sandbox));
    EXPECT_FALSE(m_sandbox.WaitTargetStarted(300));
  }
}

TEST_F(AllOrNothingTest, AnArchiveCarryingTheUpdaterReplacesIt) {
  const std::wstring updater = m_sandbox.updater();
  const std::string newUpdater = ReadFileBytes(updater) + "-- the new copy";
  zipbuild::ZipBuilder zip;
  zip.AddFile("updater.exe", newUpdater).AddFile("readme.txt", "new readme");
  auto process = StartUpdate(zip.Build());
  EXPECT_TRUE(process->WaitExit(kTimeoutMs));
  EXPECT_TRUE(m_sandbox.WaitTargetStarted(kTimeoutMs));
  EXPECT_EQ(ReadFileBytes(updater), newUpdater);
  EXPECT_EQ(ReadFileBytes(m_sandbox.folder() + L"\\readme.txt"), "new readme");

  // The new copy runs; it removes the old one.
  StartWithNoArguments();
  Tree expected = kOld;
  expected[L"readme.txt"] = "new readme";
  EXPECT_EQ(Snapshot(m_sandbox), expected) << Narrow(Snapshot(m_sandbox));
}

TEST_F(AllOrNothingTest, AKilledRunIsRepairedByTheNextStart) {
  const std::wstring journal = m_sandbox.folder() + L"\\~update.journal";
  for (bool duringCommit : {false, true}) {
    SCOPED_TRACE(duringCommit ? "killed during the commit" : "killed while staging");
    auto process = StartUpdate(UpdateArchive(false, 1500));
    // Staging is under way once staged files appear; the commit has begun
    // when the journal's last record is the commit record.
    bool seen = false;
    for (DWORD start = GetTickCount(); !seen && GetTickCount() - start < kTimeoutMs;) {
      const std::string text = ReadFileBytes(journal);
      seen = duringCommit ? text.size() > 2 && text.compare(text.size() - 2, 2, "C\n") == 0
                          : Exists(L"~update.staging\\0\\9");
    }
    ASSERT_TRUE(seen);
    process->Kill();
    ASSERT_TRUE(process->WaitExit(kTimeoutMs));
    ASSERT_NE(Snapshot(m_sandbox), kOld);  // something to repair

    StartWithNoArguments();
    const Tree after = Snapshot(m_sandbox);
    EXPECT_TRUE(after == kOld || (duringCommit && after == Applied(1500))) << Narrow(after);
    EXPECT_FALSE(m_sandbox.WaitTargetStarted(0));
    // The next case starts from the old files again.
    for (const auto& item : after) {
      if (kOld.count(item.first) == 0) ui::RemoveTree(m_sandbox.folder() + L"\\" + item.first);
    }
    Plant(m_sandbox, kOld);
  }
}

TEST_F(AllOrNothingTest, TheWindowAnswersThroughoutAndCancelWhileStagingChangesNothing) {
  for (bool cancel : {true, false}) {
    SCOPED_TRACE(cancel ? "cancelled while staging" : "applied");
    auto process = StartUpdate(UpdateArchive(false, 1500));
    auto dialog = WaitForProgressDialog(process->id(), kTimeoutMs);
    ASSERT_TRUE(dialog.has_value());
    const wchar_t* staging = L"~update.staging\\0\\9";  // some files have been staged
    for (DWORD start = GetTickCount(); !Exists(staging) && GetTickCount() - start < kTimeoutMs;) {
      Sleep(1);
    }
    ASSERT_TRUE(Exists(staging));
    if (!cancel) {
      // A second updater in the same folder touches nothing.
      auto second = m_sandbox.Start(L"");
      ExpectBox(*second, L"An update is already running.");
      EXPECT_TRUE(second->WaitExit(kTimeoutMs));
    }

    // Every message is answered promptly: while entries are staged, and
    // (without Cancel) as long as the window shows, the opening of the
    // target included (under Wine the shell waits about two seconds for the
    // started program).
    int unanswered = 0;  // waits of half a second with the window showing
    for (int i = 0;
         IsWindowVisible(dialog->hwnd) && (!cancel || (i < 3 && Exists(L"~update.journal"))); ++i) {
      DWORD_PTR answer = 0;
      if (!SendMessageTimeoutW(dialog->hwnd, WM_NULL, 0, 0, SMTO_NORMAL, 500, &answer) &&
          IsWindowVisible(dialog->hwnd)) {
        ++unanswered;
      }
      Sleep(5);
    }
    EXPECT_EQ(unanswered, 0);

    if (!cancel) {
      ASSERT_TRUE(process->WaitExit(kTimeoutMs));
      EXPECT_EQ(Snapshot(m_sandbox), Applied(1500));
      EXPECT_TRUE(m_sandbox.WaitTargetStarted(kTimeoutMs));
      continue;
    }
    ASSERT_TRUE(ui::Press(dialog->hwnd, IDCANCEL));
    const DWORD pressed = GetTickCount();
    ASSERT_TRUE(process->WaitExit(kTimeoutMs));
    EXPECT_LT(GetTickCount() - pressed, 3000u);
    EXPECT_EQ(Snapshot(m_sandbox), kOld) << Narrow(Snapshot(m_sandbox));
    EXPECT_FALSE(m_sandbox.WaitTargetStarted(300));
  }
}

bool Contains(const std::vector<std::string>& lines, const std::string& text) {
  for (const std::string& line : lines) {
    if (line.find(text) != std::string::npos) return true;
  }
  return false;
}

// The commit of an earlier run stopped half way, and its undoing cannot
// finish while a program holds the new readme.txt: the journal stays, no
// update starts, and the run says so (exit 4). Once the file is free, the
// next start puts the old files back and the update goes ahead.
TEST_F(AllOrNothingTest, ARepairThatCannotFinishStartsNoUpdate) {
  const std::string journal = "updater journal 2\nF 1 1 readme.txt\nF 2 1 bin\\engine.dll\nC\n";
  Tree stopped = kOld;
  stopped[L"readme.txt"] = "new readme";
  stopped[L"~update.backup\\"] = "";
  stopped[L"~update.backup\\0\\"] = "";
  stopped[L"~update.backup\\0\\1"] = "old readme";
  stopped[L"~update.staging\\"] = "";
  stopped[L"~update.staging\\0\\"] = "";
  stopped[L"~update.staging\\0\\2"] = "new engine";
  stopped[L"~update.journal"] = journal;
  Plant(m_sandbox, stopped);
  HANDLE held = CreateFileW((m_sandbox.folder() + L"\\readme.txt").c_str(), GENERIC_READ,
                            FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  std::vector<std::string> log;
  EXPECT_EQ(RunSilent(UpdateArchive(false), &log), 4u);
  CloseHandle(held);
  EXPECT_TRUE(Contains(log,
                       "recovery: a journal of an update stopped during its commit (2 "
                       "files); it could not be put right, the journal stays and no update "
                       "is started"));
  EXPECT_TRUE(Contains(log,
                       "message (not shown): Update failed.  An earlier update was "
                       "interrupted and could not be put right yet; no update was started."));
  EXPECT_FALSE(Contains(log, "download")) << "an update was started";
  EXPECT_EQ(log.back(), "exit code 4");
  EXPECT_TRUE(Exists(L"~update.journal"));

  log.clear();
  EXPECT_EQ(RunSilent(UpdateArchive(false), &log), 0u);
  ASSERT_GT(log.size(), 1u);
  EXPECT_TRUE(Contains(log,
                       "recovery: a journal of an update stopped while it was undone (2 "
                       "files); every file was put back as it was before that update"))
      << log[1];
  EXPECT_EQ(Snapshot(m_sandbox), Applied(0)) << Narrow(Snapshot(m_sandbox));
}

// A journal is input anyone who can write the folder may have planted. One
// that names a path outside the folder, an absolute or root-relative path
// or a device is never acted on: it stays byte for byte, nothing inside or
// outside the folder changes, no update starts, and the run ends with 4.
TEST_F(AllOrNothingTest, APlantedJournalIsNeverActedOn) {
  // Beside the folder: a file, one named like a staged file of the previous
  // version, a folder with a file, an empty folder.
  const std::wstring victim = m_sandbox.folder() + L"-victim.txt";
  const std::wstring victimStaged = victim + L".~upd-new";
  const std::wstring victimFolder = m_sandbox.folder() + L"-victim";
  const std::wstring emptyFolder = m_sandbox.folder() + L"-empty";
  auto nameOf = [](const std::wstring& path) {
    return ui::Narrow(path.substr(path.rfind(L'\\') + 1));
  };
  const std::string victimName = nameOf(victim);
  const std::string folderName = nameOf(victimFolder);
  const std::string absolute = ui::Narrow(victim);
  const std::string rootRelative = absolute.substr(2);  // without "C:"
  const std::string journals[] = {
      "updater journal 2\nF 1 1 readme.txt\nX 2 ..\\" + victimName + "\nC\n",
      "updater journal 2\nX 1 ../" + victimName + "\nC\nK\n",
      "updater journal 2\nD ..\\" + folderName + "\nF 1 1 readme.txt\nC\nU\n",
      "updater journal 2\nF 1 1 readme.txt\nX 2 " + absolute + "\nC\n",
      "updater journal 2\nF 1 1 readme.txt\nX 2 " + rootRelative + "\nC\n",
      "updater journal 2\nF 1 1 readme.txt\nX 2 NUL\nC\n",
      "updater journal 1\nF 1 ..\\" + victimName + "\nC\n",
      "updater journal 1\nD ..\\" + nameOf(emptyFolder) + "\nF 0 ..\\" + victimName + "\n",
  };
  Tree planted = kOld;
  planted[L"~update.backup\\"] = "";
  planted[L"~update.backup\\0\\"] = "";
  planted[L"~update.backup\\0\\1"] = "old readme";
  planted[L"~update.backup\\0\\2"] = "planted";
  for (const std::string& journal : journals) {
    SCOPED_TRACE(journal);
    planted[L"~update.journal"] = journal;
    Plant(m_sandbox, planted);
    CreateDirectoryW(victimFolder.c_str(), nullptr);
    CreateDirectoryW(emptyFolder.c_str(), nullptr);
    for (const std::wstring& file : {victim, victimStaged, victimFolder + L"\\inside.txt"}) {
      HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
      ASSERT_NE(h, INVALID_HANDLE_VALUE);
      CloseHandle(h);
    }
    std::vector<std::string> log;
    EXPECT_EQ(RunSilent(UpdateArchive(false), &log), 4u);
    EXPECT_TRUE(Contains(log, "; it was left as it is and no update is started"));
    EXPECT_FALSE(Contains(log, "download")) << "an update was started";
    EXPECT_EQ(Snapshot(m_sandbox), planted) << Narrow(Snapshot(m_sandbox));
    for (const std::wstring& path :
         {victim, victimStaged, victimFolder + L"\\inside.txt", emptyFolder}) {
      EXPECT_NE(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES) << ui::Narrow(path);
    }
  }
  ui::RemoveTree(victimFolder);
  RemoveDirectoryW(emptyFolder.c_str());
  DeleteFileW(victim.c_str());
  DeleteFileW(victimStaged.c_str());
}

// Staged and moved-aside files have short names of their own, so a file
// whose full path is as long as the system allows (259 characters and the
// terminator) installs and replaces like any other.
TEST_F(AllOrNothingTest, FilesWhosePathsAreExactly259CharactersInstall) {
  const size_t room = 259 - m_sandbox.folder().size() - 1 - std::wstring(L"long\\").size();
  ASSERT_GT(room, 20u);
  const std::wstring added = L"long\\" + std::wstring(room - 4, L'a') + L".txt";
  const std::wstring replaced = L"long\\" + std::wstring(room - 4, L'b') + L".txt";
  ASSERT_EQ((m_sandbox.folder() + L"\\" + added).size(), 259u);
  Plant(m_sandbox, {{L"long\\", ""}, {replaced, "old"}});
  auto entryName = [](std::wstring name) {
    std::replace(name.begin(), name.end(), L'\\', L'/');
    return ui::Narrow(name);
  };
  zipbuild::ZipBuilder zip;
  zip.AddFile(entryName(added), "new a").AddFile(entryName(replaced), "new b");
  std::vector<std::string> log;
  EXPECT_EQ(RunSilent(zip.Build(), &log), 0u) << (log.empty() ? "" : log[log.size() / 2]);
  Tree expected = kOld;
  expected[L"long\\"] = "";
  expected[added] = "new a";
  expected[replaced] = "new b";
  EXPECT_EQ(Snapshot(m_sandbox), expected) << Narrow(Snapshot(m_sandbox));
}

}  // namespace
