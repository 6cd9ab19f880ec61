#include <windows.h>

#include <cstdint>

#include "framework/text_format.h"
#include "updater/install/update_lock.h"

CUpdateLock::~CUpdateLock() {
  if (m_handle != nullptr) CloseHandle(m_handle);
}

bool CUpdateLock::Acquire(const char* folder) {
  // Object names cannot hold '\'; a hash of the path as Windows compares it
  // (case and separators folded) names the folder.
  uint64_t hash = 14695981039346656037ull;
  for (const char* p = folder; *p; ++p) {
    char c = *p;
    if (c == '/') c = '\\';
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  }
  char name[64];
  // Two halves: FormatText has no 64-bit form (and snprintf would bring
  // MinGW's printf into the program).
  FormatText(name, sizeof(name), "Global\\tarnwick-update-%08lx%08lx",
             static_cast<unsigned long>(hash >> 32),
             static_cast<unsigned long>(hash & 0xFFFFFFFFu));
  HANDLE mutex = CreateMutexA(nullptr, TRUE, name);
  if (mutex == nullptr) return false;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return false;
  }
  m_handle = mutex;
  return true;
}
