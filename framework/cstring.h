// CString: the counted byte string every text of the updater is held in.
// Bytes are in the process's multibyte (ANSI) code page. The searches for a
// single character (Find, ReverseFind, TrimRight with a character) step over
// the double-byte characters of that code page, so that the trail byte 0x5C
// of a character such as 0x81 0x5C is never taken for a '\'; everything
// else is byte-exact.
#ifndef FRAMEWORK_CSTRING_H_
#define FRAMEWORK_CSTRING_H_

#include <cstddef>
#include <string>

class CString {
 public:
  CString() = default;
  CString(const char* text);  // NOLINT: implicit like the framework's; null gives ""
  CString(const char* bytes, int length);

  int GetLength() const { return static_cast<int>(m_bytes.size()); }
  bool IsEmpty() const { return m_bytes.empty(); }
  void Empty() { m_bytes.clear(); }
  // Always NUL-terminated; valid until the string is next changed.
  const char* GetString() const { return m_bytes.c_str(); }
  operator const char*() const { return m_bytes.c_str(); }  // NOLINT
  char GetAt(int index) const { return m_bytes[static_cast<size_t>(index)]; }

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
  friend bool operator==(const CString& a, const CString& b) { return a.m_bytes == b.m_bytes; }
  friend bool operator!=(const CString& a, const CString& b) { return a.m_bytes != b.m_bytes; }
  friend bool operator==(const CString& a, const char* b) { return a.m_bytes == (b ? b : ""); }
  friend bool operator!=(const CString& a, const char* b) { return !(a == b); }
  // Byte order (unsigned), the order of keys in maps.
  friend bool operator<(const CString& a, const CString& b) { return a.m_bytes < b.m_bytes; }

 private:
  std::string m_bytes;
};

#endif  // FRAMEWORK_CSTRING_H_
