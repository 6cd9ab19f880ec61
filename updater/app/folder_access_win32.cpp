// The folder's probe, the token's elevation and the second start, on Win32.
#include <windows.h>

#include <objbase.h>
#include <shellapi.h>

#include "framework/text_format.h"
#include "updater/app/folder_access.h"

FolderAccess ProbeFolderAccess(const CString& folder, unsigned long* error) {
  // The folder fits the updater's longest name (archive_name.h), and this
  // one is shorter; the name is reserved in archives and swept by recovery.
  char probe[MAX_PATH];
  FormatText(probe, sizeof(probe), "%s\\~update.probe.%lu", folder.GetString(),
             static_cast<unsigned long>(GetCurrentProcessId()));
  HANDLE file = CreateFileA(probe, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    CloseHandle(file);
    *error = 0;
    return FolderAccess::kWritable;
  }
  *error = GetLastError();
  return *error == ERROR_ACCESS_DENIED ? FolderAccess::kDenied : FolderAccess::kUnknown;
}

bool IsProcessElevated() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  TOKEN_ELEVATION elevation = {};
  DWORD size = 0;
  const BOOL known =
      GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size);
  CloseHandle(token);
  return known && elevation.TokenIsElevated != 0;
}

bool RunElevatedCopy(unsigned long* exitCode, unsigned long* error) {
  *exitCode = 0;
  wchar_t program[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    *error = length == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE;
    return false;
  }

  // The arguments as this process got them, after the program's name (the
  // runtime's rule: quoted up to the next quote, or up to a blank).
  const wchar_t* rest = GetCommandLineW();
  if (*rest == L'"') {
    for (++rest; *rest != L'\0' && *rest != L'"'; ++rest) {
    }
    if (*rest == L'"') ++rest;
  } else {
    while (*rest != L'\0' && *rest != L' ' && *rest != L'\t') ++rest;
  }
  while (*rest == L' ' || *rest == L'\t') ++rest;
  // The marker goes first: whatever the last argument holds (an open
  // quote, a trailing backslash) cannot swallow it.
  const int marker = lstrlenA(kSecondStartOption);
  const int size = marker + 1 + lstrlenW(rest) + 1;
  wchar_t* parameters =
      static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, size * sizeof(wchar_t)));
  if (parameters == nullptr) {
    *error = ERROR_NOT_ENOUGH_MEMORY;
    return false;
  }
  MultiByteToWideChar(CP_ACP, 0, kSecondStartOption, marker, parameters, marker);
  parameters[marker] = L' ';
  lstrcpyW(parameters + marker + 1, rest);

  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  info.lpVerb = L"runas";
  info.lpFile = program;
  info.lpParameters = parameters;
  // An elevated program would start in the system folder: relative paths
  // (-log update.log) mean the same in both starts.
  wchar_t directory[MAX_PATH];
  const DWORD directoryLength = GetCurrentDirectoryW(MAX_PATH, directory);
  if (directoryLength > 0 && directoryLength < MAX_PATH) info.lpDirectory = directory;
  info.nShow = SW_SHOWNORMAL;
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  const BOOL started = ShellExecuteExW(&info);
  *error = started ? 0 : GetLastError();
  if (SUCCEEDED(com)) CoUninitialize();
  HeapFree(GetProcessHeap(), 0, parameters);
  if (!started) return false;
  if (info.hProcess == nullptr) {
    // The shell gives a program it started with "runas" back; should it not,
    // there is nothing to wait for.
    *error = ERROR_INVALID_HANDLE;
    return false;
  }
  WaitForSingleObject(info.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(info.hProcess, &code);
  CloseHandle(info.hProcess);
  *exitCode = code;
  return true;
}
