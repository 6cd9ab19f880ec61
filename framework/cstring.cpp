#include "framework/cstring.h"

#include <cstdarg>
#include <cstring>
#include <functional>

#ifdef _WIN32
#include <mbctype.h>
#endif

#include "framework/text_format.h"

namespace {

// Whether byte starts a double-byte character of the process's multibyte
// code page (the ANSI code page). Natively that code page is UTF-8, whose
// multibyte characters hold no ASCII byte, so nothing is stepped over.
bool IsLeadByte(char byte) {
#ifdef _WIN32
  return _ismbblead(static_cast<unsigned char>(byte)) != 0;
#else
  (void)byte;
  return false;
#endif
}

// The length of the character at index i of the size bytes (1 or 2).
size_t CharacterLength(const char* bytes, size_t size, size_t i) {
  return IsLeadByte(bytes[i]) && i + 1 < size ? 2 : 1;
}

}  // namespace

CString::CString(const char* text) {
  if (text) Splice(0, 0, text, std::strlen(text));
}

CString::CString(const char* bytes, int length) {
  if (bytes && length > 0) Splice(0, 0, bytes, static_cast<size_t>(length));
}

void CString::Splice(size_t index, size_t count, const char* text, size_t length) {
  if (length > 0 && !m_bytes.empty() && std::less_equal<const char*>()(m_bytes.data(), text) &&
      std::less<const char*>()(text, m_bytes.data() + m_bytes.size())) {
    std::vector<char> copy(text, text + length);
    Splice(index, count, copy.data(), length);
    return;
  }
  if (m_bytes.empty()) {
    if (length == 0) return;
    m_bytes.push_back('\0');
  }
  auto at = m_bytes.begin() + static_cast<std::ptrdiff_t>(index);
  at = m_bytes.erase(at, at + static_cast<std::ptrdiff_t>(count));
  m_bytes.insert(at, text, text + length);
  if (m_bytes.size() == 1) m_bytes.clear();
}

void CString::Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int needed = FormatTextV(nullptr, 0, format, args);
  va_end(args);
  std::vector<char> out;  // the arguments may point into this string
  if (needed > 0) {
    out.resize(static_cast<size_t>(needed) + 1);
    FormatTextV(out.data(), out.size(), format, again);
  }
  va_end(again);
  m_bytes.swap(out);
}

int CString::ReverseFind(char ch) const {
  int found = -1;
  const char* bytes = GetString();
  for (size_t i = 0; i < Size(); i += CharacterLength(bytes, Size(), i)) {
    if (bytes[i] == ch) found = static_cast<int>(i);
  }
  return found;
}

int CString::Find(char ch, int start) const {
  if (start < 0) start = 0;
  const char* bytes = GetString();
  for (size_t i = static_cast<size_t>(start); i < Size(); i += CharacterLength(bytes, Size(), i)) {
    if (bytes[i] == ch) return static_cast<int>(i);
  }
  return -1;
}

int CString::Delete(int index, int count) {
  if (index < 0) index = 0;
  if (count > 0 && index < GetLength()) {
    size_t first = static_cast<size_t>(index);
    size_t n = static_cast<size_t>(count);
    Splice(first, n < Size() - first ? n : Size() - first, nullptr, 0);
  }
  return GetLength();
}

int CString::Insert(int index, char ch) {
  char text[2] = {ch, '\0'};
  if (ch == '\0') return GetLength();
  return Insert(index, text);
}

int CString::Insert(int index, const char* text) {
  if (!text) return GetLength();
  if (index < 0) index = 0;
  if (index > GetLength()) index = GetLength();
  Splice(static_cast<size_t>(index), 0, text, std::strlen(text));
  return GetLength();
}

CString& CString::TrimRight(char ch) {
  size_t keep = 0;
  const char* bytes = GetString();
  for (size_t i = 0; i < Size();) {
    const size_t next = i + CharacterLength(bytes, Size(), i);
    if (bytes[i] != ch || next - i == 2) keep = next;
    i = next;
  }
  Splice(keep, Size() - keep, nullptr, 0);
  return *this;
}

CString& CString::TrimRight() {
  size_t size = Size();
  for (; size > 0; --size) {
    char ch = m_bytes[size - 1];
    if (ch != ' ' && ch != '\t' && ch != '\r' && ch != '\n' && ch != '\v' && ch != '\f') break;
  }
  Splice(size, Size() - size, nullptr, 0);
  return *this;
}

CString CString::Left(int count) const {
  if (count <= 0) return CString();
  return CString(GetString(), count < GetLength() ? count : GetLength());
}

CString CString::Mid(int first) const {
  if (first < 0) first = 0;
  if (first >= GetLength()) return CString();
  return CString(GetString() + first, GetLength() - first);
}

CString& CString::operator=(const char* text) {
  CString copy(text);  // text may point into this string
  m_bytes.swap(copy.m_bytes);
  return *this;
}

CString& CString::operator+=(const CString& other) {
  Splice(Size(), 0, other.GetString(), other.Size());
  return *this;
}

CString& CString::operator+=(const char* text) {
  if (text) Splice(Size(), 0, text, std::strlen(text));
  return *this;
}

CString& CString::operator+=(char ch) {
  Splice(Size(), 0, &ch, 1);
  return *this;
}

bool operator==(const CString& a, const char* b) {
  if (!b) b = "";
  return a.Size() == std::strlen(b) && std::memcmp(a.GetString(), b, a.Size()) == 0;
}

bool operator<(const CString& a, const CString& b) {
  size_t common = a.Size() < b.Size() ? a.Size() : b.Size();
  int order = std::memcmp(a.GetString(), b.GetString(), common);
  return order < 0 || (order == 0 && a.Size() < b.Size());
}

CString operator+(const CString& a, const CString& b) {
  CString out(a);
  out += b;
  return out;
}

CString operator+(const CString& a, const char* b) {
  CString out(a);
  out += b;
  return out;
}

CString operator+(const char* a, const CString& b) {
  CString out(a);
  out += b;
  return out;
}

CString operator+(const CString& a, char b) {
  CString out(a);
  out += b;
  return out;
}

CString operator+(char a, const CString& b) {
  CString out;
  out += a;
  out += b;
  return out;
}
