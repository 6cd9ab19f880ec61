#include <windows.h>

#include "framework/text_format.h"
#include "updater/install/update_lock.h"

CUpdateLock::~CUpdateLock() {
  Release();
}

void CUpdateLock::Release() {
  if (m_handle != nullptr) CloseHandle(m_handle);
  m_handle = nullptr;
}

LockResult CUpdateLock::Acquire(const char* folder) {
  // The folder's identity, not its text: every spelling of one folder (case,
  // short names, "\\?\", another code page's bytes) opens the same
  // directory, and two folders never share one. Opening it for its
  // attributes needs no write access.
  HANDLE directory = CreateFileA(folder, FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (directory == INVALID_HANDLE_VALUE) return LockResult::kUnavailable;
  BY_HANDLE_FILE_INFORMATION info;
  const BOOL identified = GetFileInformationByHandle(directory, &info);
  CloseHandle(directory);
  if (!identified) return LockResult::kUnavailable;

  char name[80];
  FormatText(name, sizeof(name), "Global\\tarnwick-update-%08lx-%08lx%08lx",
             static_cast<unsigned long>(info.dwVolumeSerialNumber),
             static_cast<unsigned long>(info.nFileIndexHigh),
             static_cast<unsigned long>(info.nFileIndexLow));
  HANDLE mutex = CreateMutexA(nullptr, TRUE, name);
  if (mutex == nullptr) return LockResult::kUnavailable;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return LockResult::kBusy;
  }
  m_handle = mutex;
  return LockResult::kTaken;
}
