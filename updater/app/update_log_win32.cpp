#include <windows.h>

#include "updater/app/update_log.h"

// Through UTF-16; bytes that are no character of the code page arrive as
// the system's replacement character.
void AppendLogTextAsUtf8(const char* text, size_t length, std::vector<char>* out) {
  const int bytes = static_cast<int>(length);
  const int wide = bytes > 0 ? MultiByteToWideChar(CP_ACP, 0, text, bytes, nullptr, 0) : 0;
  if (wide <= 0) {
    out->insert(out->end(), text, text + length);
    return;
  }
  std::vector<wchar_t> utf16(static_cast<size_t>(wide));
  MultiByteToWideChar(CP_ACP, 0, text, bytes, utf16.data(), wide);
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, utf16.data(), wide, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return;
  const size_t start = out->size();
  out->resize(start + static_cast<size_t>(size));
  WideCharToMultiByte(CP_UTF8, 0, utf16.data(), wide, out->data() + start, size, nullptr, nullptr);
}
