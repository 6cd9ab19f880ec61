#include "framework/cstring.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <mbctype.h>
#endif

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

// The length of the character at index i of bytes (1 or 2).
size_t CharacterLength(const std::string& bytes, size_t i) {
  return IsLeadByte(bytes[i]) && i + 1 < bytes.size() ? 2 : 1;
}

}  // namespace

CString::CString(const char* text) : m_bytes(text ? text : "") {}

CString::CString(const char* bytes, int length)
    : m_bytes(bytes && length > 0 ? std::string(bytes, static_cast<size_t>(length))
                                  : std::string()) {}

void CString::Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int needed = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  if (needed < 0) {
    va_end(again);
    m_bytes.clear();
    return;
  }
  std::string out(static_cast<size_t>(needed) + 1, '\0');
  std::vsnprintf(&out[0], out.size(), format, again);
  va_end(again);
  out.resize(static_cast<size_t>(needed));
  m_bytes.swap(out);
}

int CString::ReverseFind(char ch) const {
  int found = -1;
  for (size_t i = 0; i < m_bytes.size(); i += CharacterLength(m_bytes, i)) {
    if (m_bytes[i] == ch) found = static_cast<int>(i);
  }
  return found;
}

int CString::Find(char ch, int start) const {
  if (start < 0) start = 0;
  for (size_t i = static_cast<size_t>(start); i < m_bytes.size();
       i += CharacterLength(m_bytes, i)) {
    if (m_bytes[i] == ch) return static_cast<int>(i);
  }
  return -1;
}

int CString::Delete(int index, int count) {
  if (index < 0) index = 0;
  if (count > 0 && index < GetLength()) m_bytes.erase(static_cast<size_t>(index), static_cast<size_t>(count));
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
  m_bytes.insert(static_cast<size_t>(index), text);
  return GetLength();
}

CString& CString::TrimRight(char ch) {
  size_t keep = 0;
  for (size_t i = 0; i < m_bytes.size();) {
    const size_t next = i + CharacterLength(m_bytes, i);
    if (m_bytes[i] != ch || next - i == 2) keep = next;
    i = next;
  }
  m_bytes.resize(keep);
  return *this;
}

CString& CString::TrimRight() {
  while (!m_bytes.empty() && (m_bytes.back() == ' ' || m_bytes.back() == '\t' ||
                              m_bytes.back() == '\r' || m_bytes.back() == '\n' ||
                              m_bytes.back() == '\v' || m_bytes.back() == '\f'))
    m_bytes.pop_back();
  return *this;
}

CString CString::Left(int count) const {
  if (count <= 0) return CString();
  return CString(m_bytes.c_str(), count < GetLength() ? count : GetLength());
}

CString CString::Mid(int first) const {
  if (first < 0) first = 0;
  if (first >= GetLength()) return CString();
  return CString(m_bytes.c_str() + first, GetLength() - first);
}

CString& CString::operator=(const char* text) {
  m_bytes = text ? text : "";
  return *this;
}

CString& CString::operator+=(const CString& other) {
  m_bytes += other.m_bytes;
  return *this;
}

CString& CString::operator+=(const char* text) {
  if (text) m_bytes += text;
  return *this;
}

CString& CString::operator+=(char ch) {
  m_bytes += ch;
  return *this;
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
