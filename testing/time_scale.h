// How long tests wait. Timeouts are written for a real machine; runs in
// which starting a program is slow (32-bit programs under an emulator, where
// each start costs about 40 s of processor time) set the environment
// variable UPDATER_TEST_TIME_SCALE to a whole number from 1 to 100, and
// every wait of the test helpers lasts that many times longer.
#ifndef TESTING_TIME_SCALE_H_
#define TESTING_TIME_SCALE_H_

#include <windows.h>

#include <cwchar>

// timeoutMs times the scale; 1 when the variable is unset or out of range.
inline DWORD ScaledTimeout(DWORD timeoutMs) {
  static const DWORD scale = [] {
    wchar_t text[8] = {};
    const DWORD length = GetEnvironmentVariableW(L"UPDATER_TEST_TIME_SCALE", text, 8);
    const long value = length > 0 && length < 8 ? std::wcstol(text, nullptr, 10) : 1;
    return value >= 1 && value <= 100 ? static_cast<DWORD>(value) : 1;
  }();
  return timeoutMs > (INFINITE - 1) / scale ? INFINITE - 1 : timeoutMs * scale;
}

#endif  // TESTING_TIME_SCALE_H_
