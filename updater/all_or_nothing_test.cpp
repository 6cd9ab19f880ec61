// The real updater.exe applies an update completely or not at all: a
// failure changes no file, an interrupted run is repaired by the next start,
// the updater replaces itself, one updater works in a folder at a time, and
// the window answers (and Cancel works) while files are staged.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "testing/http_server.h"
#include "testing/ui_driver.h"
#include "testing/updater_sandbox.h"
#include "testing/zip_builder.h"

namespace {

const DWORD kTimeoutMs = 30000;
const wchar_t kRefusal[] = L"\x53C2\x6570\x65E0\x6548";  // "参数无效"

// Every file (with its content) and directory below folder, directories
// ending in '\'; the target's folder and updater.exe are left out.
typedef std::map<std::wstring, std::string> Tree;

void AddTree(const std::wstring& folder, const std::wstring& prefix, Tree* tree) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\" + prefix + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = prefix + found.cFileName;
    if (name == prefix + L"." || name == prefix + L".." || name == L"target dir" ||
        name == L"updater.exe") {
      continue;
    }
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      (*tree)[name + L"\\"] = "";
      AddTree(folder, name + L"\\", tree);
    } else {
      (*tree)[name] = ReadFileBytes(folder + L"\\" + name);
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

Tree Snapshot(const UpdaterSandbox& sandbox) {
  Tree tree;
  AddTree(sandbox.folder(), L"", &tree);
  return tree;
}

void Plant(const UpdaterSandbox& sandbox, const Tree& tree) {
  for (const auto& [name, content] : tree) {
    const std::wstring path = sandbox.folder() + L"\\" + name;
    if (name.back() == L'\\') {
      CreateDirectoryW(path.c_str(), nullptr);
      continue;
    }
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
  }
}

std::string Narrow(const Tree& tree) {
  std::string text;
  for (const auto& item : tree) text += ui::Narrow(item.first) + " ";
  return text;
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
  struct Case {
    const char* what;
    bool damaged;
    bool holdEngine;
    std::vector<std::string> more;  // entries after the update's own
    const wchar_t* box;
    DWORD code;
  } cases[] = {
      {"damaged entry in the middle",
       true,
       false,
       {},
       L"Update failed.  The file data\\payload.bin is damaged in the archive; nothing was "
       L"changed.",
       4},
      {"file held without delete sharing",
       false,
       true,
       {},
       L"Update failed.  The file bin\\engine.dll is in use; nothing was changed.",
       4},
      // Refused before a file is written.
      {"the updater's own name",
       false,
       false,
       {"~Update.Journal"},
       L"Update refused.  The archive holds ~Update.Journal, a name the updater keeps for its "
       L"own files; nothing was changed.",
       3},
      {"two names of one file",
       false,
       false,
       {"\xC3\x84.txt", "\xC3\xA4.txt"},
       L"Update refused.  The entries \x00C4.txt and \x00E4.txt of the archive name the same "
       L"file on the disk; nothing was changed.",
       3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HANDLE held = INVALID_HANDLE_VALUE;
    if (c.holdEngine) {
      held = CreateFileW((m_sandbox.folder() + L"\\bin\\engine.dll").c_str(), GENERIC_READ,
                         FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
      ASSERT_NE(held, INVALID_HANDLE_VALUE);
    }
    auto process = StartUpdate(UpdateArchive(c.damaged, 0, c.more));
    ExpectBox(*process, c.box);
    ExpectBox(*process, L"Error Occured while Downloading");
    EXPECT_TRUE(process->WaitExit(kTimeoutMs));
    EXPECT_EQ(process->exitCode(), c.code);
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
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
    // Staging has begun when the journal exists; the commit when its last
    // record is there.
    bool seen = false;
    for (DWORD start = GetTickCount(); !seen && GetTickCount() - start < kTimeoutMs;) {
      const std::string text = ReadFileBytes(journal);
      seen = duringCommit ? text.size() > 2 && text.compare(text.size() - 2, 2, "C\n") == 0
                          : text.find("filler") != std::string::npos;
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
    if (cancel) {
      // A second updater in the same folder touches nothing.
      auto second = m_sandbox.Start(L"");
      ExpectBox(*second, L"An update is already running.");
      EXPECT_TRUE(second->WaitExit(kTimeoutMs));
    }
    for (DWORD start = GetTickCount(); !Exists(L"filler") && GetTickCount() - start < kTimeoutMs;) {
      Sleep(1);
    }
    ASSERT_TRUE(Exists(L"filler"));

    // Every message is answered promptly: while entries are staged, and
    // (without Cancel) as long as the window shows, the opening of the
    // target included (under Wine the shell waits about two seconds for the
    // started program).
    int unanswered = 0;  // waits of half a second with the window showing
    for (int i = 0;
         IsWindowVisible(dialog->hwnd) && (!cancel || (i < 20 && Exists(L"~update.journal")));
         ++i) {
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

}  // namespace
