// unpack make, delta and apply on generated product trees: a delta applied
// to a copy of the old version gives the new one, file for file, and bad
// archives are refused before anything changes.
#include "tools/unpack/release_commands.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "testing/unpack_test_util.h"
#include "tools/unpack/product_folder.h"
#include "tools/unpack/zip_writer.h"
#include "updater/release/release_record.h"

namespace fs = std::filesystem;

namespace {

int Unpack(int (*command)(int, char**), std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(&arg[0]);
  return command(static_cast<int>(argv.size()), argv.data());
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string ReadFile(const fs::path& path) {
  std::string bytes;
  EXPECT_TRUE(ReadFileBytes(path, &bytes)) << path;
  return bytes;
}

bool IsReadOnly(const fs::path& path) {
  return (fs::status(path).permissions() & fs::perms::owner_write) == fs::perms::none;
}

// Relative name to content, for files; folders map to "/".
std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> tree;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string name = entry.path().lexically_relative(root).generic_string();
    if (entry.is_directory()) {
      tree[name] = "/";
    } else {
      tree[name] = ReadFile(entry.path()) + (IsReadOnly(entry.path()) ? "<read-only>" : "");
    }
  }
  return tree;
}

// A product: text and binary files of random sizes in nested folders,
// empty files and an empty folder.
class CProductMaker {
 public:
  explicit CProductMaker(unsigned seed) : m_random(seed) {}

  std::string Bytes(size_t size, bool text) {
    std::string bytes(size, '\0');
    for (char& c : bytes) {
      c = text ? "etaoin shrdlu\n"[m_random() % 14] : static_cast<char>(m_random());
    }
    return bytes;
  }

  void Make(const fs::path& root, int files) {
    fs::create_directories(root / "empty folder");
    WriteFile(root / "empty.txt", "");
    for (int i = 0; i < files; ++i) {
      const std::string folder = i % 3 == 0 ? "" : (i % 3 == 1 ? "bin/" : "data/deep er/");
      const bool text = i % 2 == 0;
      const size_t size = m_random() % (i % 5 == 0 ? 200000 : 3000);
      WriteFile(root / (folder + "file " + std::to_string(i) + (text ? ".txt" : ".bin")),
                Bytes(size, text));
    }
  }

  // Changes about a third of the files a little, deletes some, adds some,
  // makes one read-only and changes the case of one name.
  void Change(const fs::path& root) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
      if (entry.is_regular_file()) files.push_back(entry.path());
    }
    for (size_t i = 0; i < files.size(); ++i) {
      std::string bytes = ReadFile(files[i]);
      switch (m_random() % 9) {
        case 0:
        case 1:
        case 2:
          if (!bytes.empty()) bytes[m_random() % bytes.size()] ^= 0x5A;
          bytes.insert(bytes.size() / 2, Bytes(m_random() % 100, false));
          WriteFile(files[i], bytes);
          break;
        case 3:
          fs::remove(files[i]);
          break;
        case 4:
          WriteFile(files[i].string() + ".new", Bytes(m_random() % 5000, true));
          break;
        default:
          break;
      }
    }
    WriteFile(root / "added/sub/new file.dll", Bytes(70000, false));
    fs::remove_all(root / "empty folder");
    fs::create_directories(root / "another empty folder");
    if (fs::exists(root / "empty.txt")) {
      fs::permissions(root / "empty.txt", fs::perms::owner_write, fs::perm_options::remove);
    }
    if (fs::exists(files[1])) fs::rename(files[1], files[1].parent_path() / "RENAMED.BIN");
  }

 private:
  std::mt19937 m_random;
};

TEST(ReleaseCommandsTest, DeltaAppliedToTheOldVersionGivesTheNewOne) {
  for (unsigned seed = 1; seed <= 4; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    CTempDir dir;
    const fs::path oldRoot = dir.path() / "old", newRoot = dir.path() / "new";
    CProductMaker maker(seed);
    maker.Make(oldRoot, 12 + static_cast<int>(seed) * 5);
    fs::copy(oldRoot, newRoot, fs::copy_options::recursive);
    maker.Change(newRoot);

    const std::string full = dir.File("full.zip"), delta = dir.File("delta.zip");
    ASSERT_EQ(0, Unpack(MakeCommand, {newRoot.string(), full, "--version", "2.0"}));
    ASSERT_EQ(0, Unpack(DeltaCommand, {oldRoot.string(), newRoot.string(), delta, "--from", "1.0",
                                       "--to", "2.0"}));
    EXPECT_LT(fs::file_size(delta), fs::file_size(full));

    fs::copy(oldRoot, dir.path() / "patched", fs::copy_options::recursive);
    ASSERT_EQ(0, Unpack(ApplyCommand, {delta, dir.File("patched")}));
    ASSERT_EQ(0, Unpack(ApplyCommand, {full, dir.File("fresh")}));
    const auto expected = Snapshot(newRoot);
    auto patched = Snapshot(dir.path() / "patched");
    // A delta leaves folders that lose all their files in place.
    patched.erase("empty folder");
    EXPECT_TRUE(expected == patched);
    EXPECT_TRUE(expected == Snapshot(dir.path() / "fresh"));
  }
}

// A delta refuses to touch a folder that is not the version it was made
// against, and a damaged patch changes nothing of its file.
TEST(ReleaseCommandsTest, RefusesWrongBasesAndDamagedPatches) {
  CTempDir dir;
  const fs::path oldRoot = dir.path() / "old", newRoot = dir.path() / "new";
  CProductMaker maker(9);
  const std::string base = maker.Bytes(100000, false);
  std::string changed = base;
  changed.replace(5000, 20, "twenty changed bytes");
  WriteFile(oldRoot / "app.dll", base);
  WriteFile(oldRoot / "readme.txt", "old");
  WriteFile(newRoot / "app.dll", changed);
  WriteFile(newRoot / "readme.txt", "old");
  const std::string delta = dir.File("delta.zip");
  ASSERT_EQ(0, Unpack(DeltaCommand,
                      {oldRoot.string(), newRoot.string(), delta, "--from", "1", "--to", "1.1"}));

  fs::copy(oldRoot, dir.path() / "edited", fs::copy_options::recursive);
  WriteFile(dir.path() / "edited/readme.txt", "edited by the user");
  EXPECT_EQ(1, Unpack(ApplyCommand, {delta, dir.File("edited")}));
  EXPECT_EQ(base, ReadFile(dir.path() / "edited/app.dll"));

  // Flip a byte in the middle of the patch's data: the zip layer's CRC-32
  // catches it before the decoder sees the frame.
  std::string archive = ReadFile(delta);
  const size_t patch = archive.find("~update.patch/0");
  ASSERT_NE(std::string::npos, patch);
  archive[patch + 15 + 13 + 20] ^= 0x10;  // name, UT block, then into the data
  WriteFile(delta, archive);
  fs::copy(oldRoot, dir.path() / "damaged", fs::copy_options::recursive);
  EXPECT_EQ(1, Unpack(ApplyCommand, {delta, dir.File("damaged")}));
  EXPECT_EQ(base, ReadFile(dir.path() / "damaged/app.dll"));
  EXPECT_EQ(2u, Snapshot(dir.path() / "damaged").size());
}

// Records that name files outside the folder or the updater's own, and
// archives that do not hold what their record says, are refused.
TEST(ReleaseCommandsTest, RefusesArchivesWhoseRecordIsBadOrUnkept) {
  const std::string hash = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
  struct Case {
    const char* what;
    std::string record;
    std::vector<std::string> entries;
  } cases[] = {
      {"a path outside the folder", "write - " + hash + " 0 ../outside.txt\n", {"../outside.txt"}},
      {"a reserved name", "write - " + hash + " 0 ~update.journal\n", {"~update.journal"}},
      {"an entry the record does not name", "write - " + hash + " 0 a.txt\n", {"a.txt", "b.txt"}},
      {"an entry the record names but lacks", "write - " + hash + " 0 a.txt\n", {}},
  };
  for (const Case& c : cases) {
    CTempDir dir;
    const std::string archive = dir.File("bad.zip");
    CZipWriter writer;
    std::string why;
    ASSERT_TRUE(writer.Open(archive, &why));
    for (const std::string& name : c.entries) ASSERT_TRUE(writer.AddStored(name, {}, "", 0, &why));
    const std::string text = "update-release 1\nversion 2\n" + c.record;
    ASSERT_TRUE(writer.AddStored(kReleaseRecordName, {}, text.data(), text.size(), &why));
    writer.ListLastFirst();
    ASSERT_TRUE(writer.Finish(&why));
    fs::create_directories(dir.path() / "app");
    EXPECT_EQ(1, Unpack(ApplyCommand, {archive, dir.File("app")})) << c.what;
    EXPECT_TRUE(fs::is_empty(dir.path() / "app")) << c.what;
    EXPECT_FALSE(fs::exists(dir.path() / "outside.txt")) << c.what;
  }
}

}  // namespace
