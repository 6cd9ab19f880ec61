// The file-system operations an update transaction is made of. The real
// implementation (install_file_system_win32.cpp or _posix.cpp) is picked by
// CMake; tests wrap it to make any single operation fail.
//
// Paths are NUL-terminated texts in the process code page; '/' and '\' are
// both separators.
#ifndef UPDATER_INSTALL_INSTALL_FILE_SYSTEM_H_
#define UPDATER_INSTALL_INSTALL_FILE_SYSTEM_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "framework/cstring.h"

// Attribute bits as the zip layer uses them (unzip/unpack.h).
const uint32_t kInstallMissing = 0xFFFFFFFF;  // nothing there
const uint32_t kInstallUnknown = 0xFFFFFFFE;  // the test itself failed
// A symbolic link, junction or other reparse point (never followed).
const uint32_t kInstallLink = 0x400;

enum class MoveResult { kMoved, kInUse, kFailed };

class CInstallFileSystem {
 public:
  virtual ~CInstallFileSystem() = default;

  // The attributes of what is at path itself (a link is reported with
  // kInstallLink, not followed), kInstallMissing or kInstallUnknown.
  virtual uint32_t GetAttributes(const CString& path) = 0;
  // Renames a file; never replaces one. kInUse: another program holds it.
  // Where the system can say so in the call, the rename is on the disk when
  // this answers (Windows: MOVEFILE_WRITE_THROUGH).
  virtual MoveResult Move(const CString& from, const CString& to) = 0;
  // Creates one directory (its parent exists). True when a directory is
  // there afterwards, made now or before.
  virtual bool MakeDirectory(const CString& path) = 0;
  // Starts writing path (a complete file that will not change) to the disk
  // in the background, while the caller goes on.
  virtual void FlushLater(const CString& path) = 0;
  // Writes the data and attributes of every file in paths to the disk,
  // several at a time, waiting for those handed to FlushLater. False when
  // one of them is missing or cannot be flushed; *failed is then its index.
  // Nothing runs in the background once it answers, also with no paths.
  virtual bool FlushFiles(const std::vector<CString>& paths, size_t* failed) = 0;
  // Deletes a file, read-only or not. False when it is still there.
  virtual bool RemoveFile(const CString& path) = 0;
  // Removes a directory if it is empty. True also when it is not empty or
  // not there; false when removing it failed.
  virtual bool RemoveEmptyDirectory(const CString& path) = 0;
  // Appends data to path (created when missing); with flush, the data is on
  // the disk when this answers true.
  virtual bool Append(const CString& path, const CString& data, bool flush) = 0;
  // The whole content of path; false when it cannot be read.
  virtual bool Read(const CString& path, CString* data) = 0;
  // Calls visit for every entry of directory ("." and ".." excepted), with
  // whether it is a directory that may be entered (links are not).
  virtual void List(const CString& directory,
                    const std::function<void(const CString& name, bool isDirectory)>& visit) = 0;
  // Free bytes for this user on the volume of path; UINT64_MAX when unknown.
  virtual uint64_t FreeSpace(const CString& path) = 0;
  // True when the file system takes names that differ only in case as one.
  virtual bool FoldsCase() const = 0;
};

// The real file system of this platform.
CInstallFileSystem& SystemFileSystem();

#endif  // UPDATER_INSTALL_INSTALL_FILE_SYSTEM_H_
