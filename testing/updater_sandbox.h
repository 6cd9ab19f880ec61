// UpdaterSandbox: a temporary folder for one run of the real updater: a
// copy of updater.exe (so whatever it unpacks lands in the sandbox) and the
// marker_target program in the sub folder "target dir", whose name has a
// space. The folder and everything in it are removed on destruction.
#ifndef TESTING_UPDATER_SANDBOX_H_
#define TESTING_UPDATER_SANDBOX_H_

#include <windows.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "testing/ui_driver.h"

// Every file (with its content) and directory below a folder, by path
// relative to it; a directory's path ends with '\' and holds "".
typedef std::map<std::wstring, std::string> FolderTree;
// The paths of a tree, for a failure message.
std::string Describe(const FolderTree& tree);
// Every file and directory below folder.
FolderTree ReadFolderTree(const std::wstring& folder);

class UpdaterSandbox {
 public:
  // Both paths may be Unix paths (as CMake gives them) or Windows paths.
  UpdaterSandbox(const std::string& updaterExe, const std::string& markerTargetExe);
  ~UpdaterSandbox();
  UpdaterSandbox(const UpdaterSandbox&) = delete;
  UpdaterSandbox& operator=(const UpdaterSandbox&) = delete;

  // False when the folder or one of the copies could not be made.
  bool ready() const { return m_ready; }
  // Windows path of the sandbox, without trailing backslash.
  const std::wstring& folder() const { return m_folder; }
  std::wstring updater() const { return m_folder + L"\\updater.exe"; }
  std::wstring target() const { return m_folder + L"\\target dir\\marker_target.exe"; }

  // Starts the copied updater with these arguments after the program name.
  std::unique_ptr<ui::Process> Start(const std::wstring& args) const;
  // True once the target has been started (it leaves a marker file);
  // polls for up to timeoutMs (scaled, as every timeout here: see
  // testing/time_scale.h).
  bool WaitTargetStarted(DWORD timeoutMs) const;
  // Names of the files in the sandbox folder itself matching pattern.
  std::vector<std::wstring> Files(const std::wstring& pattern) const;
  // The sandbox's tree, "target dir" and updater.exe left out.
  FolderTree Snapshot() const;
  // Writes every directory and file of tree into the sandbox.
  void Plant(const FolderTree& tree) const;

 private:
  std::wstring m_folder;
  bool m_ready = false;
};

// A message box of the process: a dialog window with the static text 0xFFFF.
std::optional<ui::WindowInfo> WaitForMessageBox(DWORD processId, DWORD timeoutMs);
// The updater's progress dialog: a dialog window with the progress bar 1000.
std::optional<ui::WindowInfo> WaitForProgressDialog(DWORD processId, DWORD timeoutMs);
// Waits until the process ends and answers "" then; when a message box
// shows first, answers its text (the process stays as it is), and on
// timeout "(still running)".
std::wstring WaitExitOrMessage(ui::Process& process, DWORD timeoutMs);
// Visible message boxes of the process right now.
int CountMessageBoxes(DWORD processId);

// The whole content of a file, read with every kind of sharing (the updater
// may be writing it); empty when it cannot be read.
std::string ReadFileBytes(const std::wstring& path);

// Windows FILETIME of a Unix time.
FILETIME UnixTimeToFileTime(int64_t seconds);

#endif  // TESTING_UPDATER_SANDBOX_H_
