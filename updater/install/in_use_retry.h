// CInUseRetry: the transaction's file system with patience for files that
// other programs hold. A move refused as kInUse is tried again for as long
// as the caller's wait answers true; everything else goes straight to the
// file system underneath. The transaction's order of operations, its
// journal and what a stop at any moment leaves are those of the file system
// underneath: a retried move is the same move, made later.
#ifndef UPDATER_INSTALL_IN_USE_RETRY_H_
#define UPDATER_INSTALL_IN_USE_RETRY_H_

#include <functional>
#include <utility>

#include "updater/install/install_file_system.h"

// Called after a move of path (its source) was refused as in use; it may
// wait a little. True: try the move again. False: give up (the move answers
// kInUse).
typedef std::function<bool(const CString& path)> FileInUseWait;

class CInUseRetry : public CInstallFileSystem {
 public:
  CInUseRetry(CInstallFileSystem& fs, FileInUseWait wait) : m_fs(fs), m_wait(std::move(wait)) {}

  MoveResult Move(const CString& from, const CString& to) override;

  uint32_t GetAttributes(const CString& path) override { return m_fs.GetAttributes(path); }
  bool MakeDirectory(const CString& path) override { return m_fs.MakeDirectory(path); }
  void FlushLater(const CString& path) override { m_fs.FlushLater(path); }
  bool FlushFiles(const std::vector<CString>& paths, size_t* failed) override {
    return m_fs.FlushFiles(paths, failed);
  }
  bool RemoveFile(const CString& path) override { return m_fs.RemoveFile(path); }
  bool RemoveEmptyDirectory(const CString& path) override {
    return m_fs.RemoveEmptyDirectory(path);
  }
  bool Append(const CString& path, const CString& data, bool flush) override {
    return m_fs.Append(path, data, flush);
  }
  bool Read(const CString& path, CString* data) override { return m_fs.Read(path, data); }
  void List(const CString& directory,
            const std::function<void(const CString& name, bool isDirectory)>& visit) override {
    m_fs.List(directory, visit);
  }
  uint64_t FreeSpace(const CString& path) override { return m_fs.FreeSpace(path); }
  bool FoldsCase() const override { return m_fs.FoldsCase(); }

 private:
  CInstallFileSystem& m_fs;
  FileInUseWait m_wait;
};

#endif  // UPDATER_INSTALL_IN_USE_RETRY_H_
