// CString: the counted byte string every text of the updater is held in.
// Bytes are in the process's multibyte (ANSI) code page. The searches for a
// single character (Find, ReverseFind, TrimRight with a character) step over
// the double-byte characters of that code page, so that the trail byte 0x5C
// of a character such as 0x81 0x5C is never taken for a '\'; everything
// else is byte-exact.
#ifndef FRAMEWORK_CSTRING_H_
#define FRAMEWORK_CSTRING_H_

#include <cstddef>
#include <vector>

class CString {
 public:
  CString() = default;
  CString(const char* text);  // NOLINT: implicit like the framework's; null gives ""
  CString(const char* bytes, int length);

  int GetLength() const { return static_cast<int>(Size()); }
  bool IsEmpty() const { return Size() == 0; }
  void Empty() { m_bytes.clear(); }
  // Always NUL-terminated; valid until the string is next changed.
  const char* GetString() const { return m_bytes.empty() ? "" : m_bytes.data(); }
  operator const char*() const { return GetString(); }  // NOLINT
  char GetAt(int index) const { return GetString()[index]; }

  // printf-style formatting; replaces the contents. Any length fits.
  void Format(const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 2, 3)))
#endif
      ;

  // Index of the last character equal to ch, or -1.
  int ReverseFind(char ch) const;
  // Index of the first character equal to ch at or after start (which must
  // start a character), or -1.
  int Find(char ch, int start = 0) const;
  // Removes up to count bytes at index; answers the new length.
  int Delete(int index, int count = 1);
  // Inserts at index (clamped to the length); answers the new length.
  int Insert(int index, char ch);
  int Insert(int index, const char* text);
  // Removes trailing characters equal to ch / trailing whitespace.
  CString& TrimRight(char ch);
  CString& TrimRight();
  CString Left(int count) const;
  CString Mid(int first) const;

  CString& operator=(const char* text);
  CString& operator+=(const CString& other);
  CString& operator+=(const char* text);
  CString& operator+=(char ch);

  friend CString operator+(const CString& a, const CString& b);
  friend CString operator+(const CString& a, const char* b);
  friend CString operator+(const char* a, const CString& b);
  friend CString operator+(const CString& a, char b);
  friend CString operator+(char a, const CString& b);
  friend bool operator==(const CString& a, const CString& b) {
    return a.m_bytes == b.m_bytes;
  }
  friend bool operator!=(const CString& a, const CString& b) {
    return a.m_bytes != b.m_bytes;
  }
  friend bool operator==(const CString& a, const char* b);
  friend bool operator!=(const CString& a, const char* b) {
    return !(a == b);
  }
  // Byte order (unsigned), the order of keys in maps.
  friend bool operator<(const CString& a, const CString& b);

 private:
  size_t Size() const {
    return m_bytes.empty() ? 0 : m_bytes.size() - 1;
  }
  // Replaces count bytes at index (both within the string) by the length
  // bytes at text, which may point into this string.
  void Splice(size_t index, size_t count, const char* text, size_t length);

  // The bytes and a terminating NUL; empty for the empty string. (Not
  // std::string: its library instance alone is 20 KiB of the updater.)
  std::vector<char> m_bytes;
};

#endif  // FRAMEWORK_CSTRING_H_
