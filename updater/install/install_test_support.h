// For the transaction's tests: a file system that fails on demand, and
// snapshots of a folder to compare before and after.
#ifndef UPDATER_INSTALL_INSTALL_TEST_SUPPORT_H_
#define UPDATER_INSTALL_INSTALL_TEST_SUPPORT_H_

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "unzip/unpack.h"
#include "updater/install/install_file_system.h"

namespace installtest {

// Forwards to the real file system, counting operations. Operation number
// failAt fails; with crash set, so does every one after it (a process that
// died there). Moves of a path ending in inUse answer kInUse.
class CFaultyFileSystem : public CInstallFileSystem {
 public:
  int steps = 0;
  int failAt = -1;
  bool crash = false;
  std::string inUse;
  uint64_t freeSpace = UINT64_MAX;

  uint32_t GetAttributes(const CString& path) override {
    return Fails() ? kInstallUnknown : m_real.GetAttributes(path);
  }
  MoveResult Move(const CString& from, const CString& to) override {
    if (Fails()) return MoveResult::kFailed;
    const std::string source = from.GetString();
    if (!inUse.empty() && source.size() >= inUse.size() &&
        source.compare(source.size() - inUse.size(), inUse.size(), inUse) == 0) {
      return MoveResult::kInUse;
    }
    return m_real.Move(from, to);
  }
  bool RemoveFile(const CString& path) override { return !Fails() && m_real.RemoveFile(path); }
  bool RemoveEmptyDirectory(const CString& path) override {
    return !Fails() && m_real.RemoveEmptyDirectory(path);
  }
  bool Append(const CString& path, const CString& data, bool flush) override {
    // What reaches the disk in a power cut is not tested here; flushing would
    // only make the tables slow.
    return !Fails() && m_real.Append(path, data, false);
  }
  bool Read(const CString& path, CString* data) override {
    return !Fails() && m_real.Read(path, data);
  }
  void List(const CString& directory,
            const std::function<void(const CString&, bool)>& visit) override {
    if (!Fails()) m_real.List(directory, visit);
  }
  uint64_t FreeSpace(const CString& path) override {
    return freeSpace != UINT64_MAX ? freeSpace : m_real.FreeSpace(path);
  }
  bool FoldsCase() const override { return m_real.FoldsCase(); }

 private:
  bool Fails() {
    const int step = steps++;
    return failAt >= 0 && (crash ? step >= failAt : step == failAt);
  }
  CInstallFileSystem& m_real = SystemFileSystem();
};

// Every file (with its content) and directory below a folder, by relative
// path; directories end in '/'.
typedef std::map<std::string, std::string> Tree;

inline Tree Snapshot(const std::filesystem::path& folder) {
  Tree tree;
  for (const auto& item : std::filesystem::recursive_directory_iterator(folder)) {
    std::string name = std::filesystem::relative(item.path(), folder).generic_string();
    if (item.is_directory()) {
      tree[name + "/"] = "";
    } else {
      std::ifstream in(item.path(), std::ios::binary);
      tree[name] = std::string(std::istreambuf_iterator<char>(in), {});
    }
  }
  return tree;
}

// Makes the files of tree (directories included) below folder.
inline void Plant(const std::filesystem::path& folder, const Tree& tree) {
  for (const auto& [name, content] : tree) {
    std::filesystem::path path = folder / name;
    if (name.back() == '/') {
      std::filesystem::create_directories(path);
      continue;
    }
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
  }
}

// A fresh empty folder for one test, removed with the object.
class TempFolder {
 public:
  explicit TempFolder(const std::string& suffix = "folder") {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    // Memory-backed where there is such a folder: the failure tables make and
    // remove thousands of small trees.
    std::error_code error;
    const std::filesystem::path base = std::filesystem::is_directory("/dev/shm", error)
                                           ? std::filesystem::path("/dev/shm")
                                           : std::filesystem::temp_directory_path();
    // The process id keeps runs apart: other checkouts on the machine run
    // the same tests in the same folder at the same time.
    m_path = base / (std::string("install_") + info->test_suite_name() + "_" + info->name() + "_" +
                     suffix + "_" + std::to_string(getpid()));
    Reset();
  }
  ~TempFolder() { Clear(); }
  void Reset() {
    Clear();
    std::filesystem::create_directories(m_path);
  }
  const std::filesystem::path& path() const { return m_path; }
  std::string str() const { return m_path.string(); }

 private:
  void Clear() {
    std::error_code ignored;
    for (const auto& item : std::filesystem::recursive_directory_iterator(m_path, ignored)) {
      std::filesystem::permissions(item.path(), std::filesystem::perms::owner_write,
                                   std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::remove_all(m_path, ignored);
  }
  std::filesystem::path m_path;
};

}  // namespace installtest

#endif  // UPDATER_INSTALL_INSTALL_TEST_SUPPORT_H_
