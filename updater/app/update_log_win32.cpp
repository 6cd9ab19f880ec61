#include <windows.h>

#include <vector>

#include "updater/app/update_log.h"

// Through UTF-16; bytes that are no character of the code page arrive as
// the system's replacement character.
std::string LogTextToUtf8(const std::string& text) {
  if (text.empty()) return text;
  const int length = static_cast<int>(text.size());
  const int wide = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  if (wide <= 0) return text;
  std::vector<wchar_t> utf16(static_cast<size_t>(wide));
  MultiByteToWideChar(CP_ACP, 0, text.data(), length, utf16.data(), wide);
  const int bytes =
      WideCharToMultiByte(CP_UTF8, 0, utf16.data(), wide, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return text;
  std::string utf8(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, utf16.data(), wide, &utf8[0], bytes, nullptr, nullptr);
  return utf8;
}
