// For the transaction's tests: a file system that records what it does and
// fails on demand, the check of the order in which an update may delete old
// copies, and snapshots of a folder to compare before and after.
#ifndef UPDATER_INSTALL_INSTALL_TEST_SUPPORT_H_
#define UPDATER_INSTALL_INSTALL_TEST_SUPPORT_H_

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "unzip/unpack.h"
#include "updater/install/install_file_system.h"

namespace installtest {

// One operation that took effect; failed ones are not recorded.
struct Operation {
  enum Kind { kMove, kMakeDirectory, kFlush, kRemoveFile, kRemoveDirectory, kAppend };
  Operation(Kind k, std::string p, std::string t = "", std::string d = "", bool f = false)
      : kind(k), path(std::move(p)), to(std::move(t)), data(std::move(d)), flush(f) {}
  Kind kind;
  std::string path;  // the source of a move
  std::string to;    // the target of a move
  std::string data;  // what an append wrote
  bool flush;
  std::vector<std::string> flushed;  // kFlush: every path
};

// Forwards to the real file system, counting and recording operations.
// Operation number failAt fails; with crash set, so does every one after it
// (a process that died there). Moves of a path ending in inUse answer kInUse.
// beforeOperation runs ahead of each operation with its number. Flushes are
// recorded, not done: what reaches the disk in a power cut is judged from the
// order of the records (DeletesOldCopiesOnlyWhenDurable), and real flushes
// would only make the tables slow.
class CFaultyFileSystem : public CInstallFileSystem {
 public:
  int steps = 0;
  int failAt = -1;
  bool crash = false;
  std::string inUse;
  uint64_t freeSpace = UINT64_MAX;
  std::vector<Operation> log;
  std::function<void(int step)> beforeOperation;

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
    const MoveResult result = m_real.Move(from, to);
    if (result == MoveResult::kMoved) Record(Operation(Operation::kMove, source, to.GetString()));
    return result;
  }
  bool MakeDirectory(const CString& path) override {
    return !Fails() &&
           Done(m_real.MakeDirectory(path), Operation(Operation::kMakeDirectory, path.GetString()));
  }
  // Whether the background flush ran is told by FlushFiles alone.
  void FlushLater(const CString&) override {}
  bool FlushFiles(const std::vector<CString>& paths, size_t* failed) override {
    if (Fails()) {
      *failed = 0;
      return false;
    }
    Operation flush(Operation::kFlush, "");
    for (size_t i = 0; i < paths.size(); ++i) {
      if (m_real.GetAttributes(paths[i]) == kInstallMissing) {
        *failed = i;
        return false;
      }
      flush.flushed.push_back(paths[i].GetString());
    }
    Record(flush);
    return true;
  }
  bool RemoveFile(const CString& path) override {
    return !Fails() &&
           Done(m_real.RemoveFile(path), Operation(Operation::kRemoveFile, path.GetString()));
  }
  bool RemoveEmptyDirectory(const CString& path) override {
    return !Fails() && Done(m_real.RemoveEmptyDirectory(path),
                            Operation(Operation::kRemoveDirectory, path.GetString()));
  }
  bool Append(const CString& path, const CString& data, bool flush) override {
    Operation append(Operation::kAppend, path.GetString(), "", data.GetString(), flush);
    return !Fails() && Done(m_real.Append(path, data, false), append);
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
    if (beforeOperation) beforeOperation(step);
    return failAt >= 0 && (crash ? step >= failAt : step == failAt);
  }
  bool Done(bool ok, const Operation& operation) {
    if (ok) Record(operation);
    return ok;
  }
  void Record(const Operation& operation) { log.push_back(operation); }
  CInstallFileSystem& m_real = SystemFileSystem();
};

// The promise that keeps one version whole through a power cut, checked on
// the operations of one or more runs in turn: an old copy (a file in the
// backup folder) is deleted only after (1) every staged file was flushed,
// (2) then the journal's commit record C was appended and flushed, and
// (3) after the last move into place, the record K was appended and flushed.
// Returns the first breach, or "".
inline std::string DeletesOldCopiesOnlyWhenDurable(const std::vector<Operation>& log) {
  std::set<std::string> flushed;
  bool commitDurable = false;
  bool committedDurable = false;
  for (const Operation& op : log) {
    const bool own = op.path.find("~update.") != std::string::npos;
    switch (op.kind) {
      case Operation::kFlush:
        flushed.insert(op.flushed.begin(), op.flushed.end());
        break;
      case Operation::kAppend:
        if (op.data.rfind("updater journal", 0) == 0) {
          flushed.clear();
          commitDurable = committedDurable = false;
        }
        if (op.flush && op.data.find("C\n") != std::string::npos) {
          // Every staged file the records name must have been flushed.
          std::istringstream records(op.data);
          for (std::string line; std::getline(records, line);) {
            if (line.rfind("F ", 0) != 0) continue;
            const std::string suffix = "/" + line.substr(2, line.find(' ', 2) - 2);
            bool found = false;
            for (const std::string& path : flushed) {
              found =
                  found || (path.size() > suffix.size() &&
                            path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0);
            }
            if (!found) return "staged file" + suffix + " was not flushed before the commit record";
          }
          commitDurable = true;
        }
        if (op.flush && op.data.find("K\n") != std::string::npos) committedDurable = commitDurable;
        break;
      case Operation::kMove:
        if (op.to.find("~update.") == std::string::npos) committedDurable = false;
        break;
      case Operation::kRemoveFile:
        if (own && op.path.find("~update.backup") != std::string::npos &&
            !(commitDurable && committedDurable)) {
          return "old copy " + op.path + " deleted before the new files were known durable";
        }
        break;
      default:
        break;
    }
  }
  return "";
}

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

// The tree without the updater's own files (names beginning "~update.").
inline Tree WithoutOwnFiles(Tree tree) {
  for (auto it = tree.begin(); it != tree.end();) {
    it = it->first.rfind("~update.", 0) == 0 ? tree.erase(it) : std::next(it);
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

// A fresh empty folder for one test, removed with the object. Its name holds
// the process id and a count, so that suites running at once, and tests
// within one, never share a folder.
class TempFolder {
 public:
  explicit TempFolder(const std::string& suffix = "folder") {
    static std::atomic<int> made{0};
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    // Memory-backed where there is such a folder: the failure tables make and
    // remove thousands of small trees.
    std::error_code error;
    const std::filesystem::path base = std::filesystem::is_directory("/dev/shm", error)
                                           ? std::filesystem::path("/dev/shm")
                                           : std::filesystem::temp_directory_path();
    m_path = base / ("install-" + std::to_string(getpid()) + "-" + std::to_string(++made) + "-" +
                     (info != nullptr ? info->name() : "") + "-" + suffix);
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
