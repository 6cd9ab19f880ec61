// Small updates with the real updater.exe: archives made by unpack make and
// unpack delta install and record the product version; a delta that does
// not fit the installed files changes nothing and, with -full, gives way to
// the full archive; an older version is refused unless -allow-downgrade.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "testing/http_server.h"
#include "testing/unpack_test_util.h"
#include "testing/updater_sandbox.h"
#include "tools/unpack/release_commands.h"

namespace {

const DWORD kTimeoutMs = 60000;

// Files by relative '/'-separated name.
typedef std::map<std::string, std::string> Files;

int Unpack(int (*command)(int, char**), std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(&arg[0]);
  return command(static_cast<int>(argv.size()), argv.data());
}

// A product of a program, text, data and a file named plugins.
Files Version1() {
  return {{"app.exe", zipbuild::NoisyBytes(300000, 1)},
          {"readme.txt", "version 1\n"},
          {"data/big.bin", zipbuild::NoisyBytes(100000, 2)},
          {"data/old.txt", "goes away"},
          {"plugins", "a file that gives way to a folder"}};
}

// app.exe rebuilt with small changes, readme.txt rewritten, one file gone,
// plugins a folder now.
Files Version2() {
  Files files = Version1();
  files["app.exe"].replace(150000, 16, "changed in v2...");
  files["readme.txt"] = "version 2\n";
  files.erase("data/old.txt");
  files.erase("plugins");
  files["plugins/first.dll"] = "a plugin";
  return files;
}

class DeltaUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_sandbox.ready());
    ASSERT_TRUE(m_server.started());
  }

  std::string Folder(const std::string& name, const Files& files) {
    const std::filesystem::path root = m_work.path() / name;
    std::filesystem::remove_all(root);
    for (const auto& [path, bytes] : files) {
      std::filesystem::create_directories((root / path).parent_path());
      EXPECT_TRUE(zipbuild::SaveBytes((root / path).string(), bytes));
    }
    return root.string();
  }
  std::string Archive(const std::string& out) {
    std::string bytes;
    EXPECT_TRUE(ReadBytes(m_work.File(out), &bytes));
    return bytes;
  }
  std::string Full(const Files& files, const std::string& version) {
    EXPECT_EQ(0, Unpack(MakeCommand,
                        {Folder("full", files), m_work.File("full.zip"), "--version", version}));
    return Archive("full.zip");
  }
  std::string Delta(const Files& from, const Files& to, const std::string& a,
                    const std::string& b) {
    EXPECT_EQ(0, Unpack(DeltaCommand, {Folder("old", from), Folder("new", to),
                                       m_work.File("delta.zip"), "--from", a, "--to", b}));
    return Archive("delta.zip");
  }
  static bool ReadBytes(const std::string& path, std::string* bytes) {
    const std::wstring wide = ui::Widen(path);
    *bytes = ReadFileBytes(wide);
    return !bytes->empty();
  }

  // The files of the product folder (not the updater, not the target's
  // folder).
  Files Installed() const {
    Files files;
    const std::filesystem::path root(m_sandbox.folder());
    for (const auto& item : std::filesystem::recursive_directory_iterator(root)) {
      const std::string name = item.path().lexically_relative(root).generic_string();
      if (item.is_directory() || name == "updater.exe" || name.rfind("target dir/", 0) == 0) {
        continue;
      }
      files[name] = ReadFileBytes(item.path().wstring());
    }
    return files;
  }
  static Files WithVersion(Files files, const std::string& version) {
    files["~update.version"] = version + "\n";
    return files;
  }
  void Plant(const Files& files) {
    for (const auto& [path, bytes] : files) {
      const std::filesystem::path full = std::filesystem::path(m_sandbox.folder()) / path;
      std::filesystem::create_directories(full.parent_path());
      ASSERT_TRUE(zipbuild::SaveBytes(full.string(), bytes));
    }
  }

  // Runs the updater silently on archive with the extra options; answers
  // its exit code, with the log's lines (without time stamps) in *log.
  DWORD Run(const std::string& archive, const std::wstring& options,
            std::vector<std::string>* log) {
    m_server.Serve("/update.zip", {200, archive});
    const std::wstring logPath = m_sandbox.folder() + L"\\target dir\\update.log";
    DeleteFileW(logPath.c_str());
    auto process =
        m_sandbox.Start(L"-url " + ui::Widen(m_server.Url("/update.zip")) + L" -dest \"" +
                        m_sandbox.target() + L"\" -silent -log \"" + logPath + L"\" " + options);
    if (!process->WaitExit(kTimeoutMs)) return STILL_ACTIVE;
    log->clear();
    const std::string text = ReadFileBytes(logPath);
    for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos;
         start = end + 2) {
      log->push_back(text.substr(start + 20, end - start - 20));
    }
    return process->exitCode();
  }

  UpdaterSandbox m_sandbox{UPDATER_EXE, MARKER_TARGET_EXE};
  TestHttpServer m_server;
  CTempDir m_work;
};

bool Logged(const std::vector<std::string>& log, const std::string& text) {
  for (const std::string& line : log) {
    if (line.find(text) != std::string::npos) return true;
  }
  return false;
}

// Names and sizes, for a failure's message.
std::string Describe(const Files& files) {
  std::string text;
  for (const auto& [path, bytes] : files) text += path + " (" + std::to_string(bytes.size()) + ") ";
  return text;
}

std::string Joined(const std::vector<std::string>& log) {
  std::string text;
  for (const std::string& line : log) text += line + "\n";
  return text;
}

// The 32-bit build runs this one too (testing/x86_core).
TEST_F(DeltaUpdateTest, PatchesAFile) {
  Plant(WithVersion(Version1(), "1.0"));
  std::vector<std::string> log;
  EXPECT_EQ(0u, Run(Delta(Version1(), Version2(), "1.0", "2.0"), L"", &log)) << Joined(log);
  EXPECT_TRUE(WithVersion(Version2(), "2.0") == Installed()) << Describe(Installed());
  EXPECT_TRUE(Logged(log,
                     "release: version 2.0, a delta from 1.0 (2 written, 1 patched, 2 deleted, "
                     "1 kept); installed version 1.0"))
      << Joined(log);
  EXPECT_TRUE(Logged(log, " app.exe: patched")) << Joined(log);
  EXPECT_TRUE(Logged(log, "file data/old.txt: deleted")) << Joined(log);
}

TEST_F(DeltaUpdateTest, RefusesWhatDoesNotFitAndFallsBackToTheFullArchive) {
  // A full archive only writes: the file plugins cannot give way to a
  // folder through one.
  Files v1 = Version1(), v2 = Version2();
  v1.erase("plugins");
  v2.erase("plugins/first.dll");
  std::vector<std::string> log;
  ASSERT_EQ(0u, Run(Full(v1, "1.0"), L"", &log)) << Joined(log);
  EXPECT_TRUE(WithVersion(v1, "1.0") == Installed()) << Describe(Installed());

  // A file the delta keeps was changed by the user: nothing changes; with
  // -full the full archive is fetched and installed instead.
  Files edited = WithVersion(v1, "1.0");
  edited["data/big.bin"] = "edited";
  Plant(edited);
  const std::string delta = Delta(v1, v2, "1.0", "2.0");
  EXPECT_EQ(3u, Run(delta, L"", &log));
  EXPECT_TRUE(edited == Installed()) << Describe(Installed());
  EXPECT_TRUE(Logged(log,
                     "delta refused: Update refused.  The installed file data\\big.bin is not "
                     "the one the update applies to; nothing was changed."))
      << Joined(log);
  m_server.Serve("/full.zip", {200, Full(v2, "2.0")});
  EXPECT_EQ(0u, Run(delta, L"-full " + ui::Widen(m_server.Url("/full.zip")), &log)) << Joined(log);
  // A full archive deletes nothing.
  Files installed = WithVersion(v2, "2.0");
  installed["data/old.txt"] = v1["data/old.txt"];
  EXPECT_TRUE(installed == Installed()) << Describe(Installed());
  EXPECT_TRUE(
      Logged(log, "The full archive " + m_server.Url("/full.zip") + " is installed instead."))
      << Joined(log);

  // An older version is refused, unless on purpose.
  Files files = v2;
  files["readme.txt"] = "version 1.5\n";
  const std::string older = Full(files, "1.5");
  EXPECT_EQ(3u, Run(older, L"", &log));
  EXPECT_TRUE(installed == Installed()) << Describe(Installed());
  EXPECT_TRUE(Logged(log, "The archive holds version 1.5, older than the installed version 2.0"))
      << Joined(log);
  EXPECT_EQ(0u, Run(older, L"-allow-downgrade", &log)) << Joined(log);
  files = WithVersion(files, "1.5");
  files["data/old.txt"] = v1["data/old.txt"];
  EXPECT_TRUE(files == Installed()) << Describe(Installed());
}

}  // namespace
