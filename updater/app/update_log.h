// CUpdateLog: the record of one run for whoever started the updater
// unattended (-log FILE). Each line is appended as UTF-8 text with the local
// time in front. A log that cannot be opened or written stays quiet: nothing
// here ever stops or fails the update.
//
// Thread-safe: the user-interface thread and the update worker write to the
// same log; each line is written whole.
#ifndef UPDATER_APP_UPDATE_LOG_H_
#define UPDATER_APP_UPDATE_LOG_H_

#include <pthread.h>

#include <cstddef>
#include <cstdio>
#include <vector>

class CUpdateLog {
 public:
  CUpdateLog() = default;
  ~CUpdateLog() { Close(); }
  CUpdateLog(const CUpdateLog&) = delete;
  CUpdateLog& operator=(const CUpdateLog&) = delete;

  // Opens path (process code page) for appending, creating the file when it
  // is missing; its folder must exist. False when it cannot be opened: the
  // log then stays off.
  bool Open(const char* path);
  bool IsOpen();

  // Appends "YYYY-MM-DD HH:MM:SS " (local time), the formatted text (the
  // formats of FormatText, framework/text_format.h) and a line end. The text is in the process's
  // code page; line breaks inside it become spaces, so one call is always one line. Nothing when
  // off.
  void Write(const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 2, 3)))
#endif
      ;

  // Ends the log: the file is closed and later writes are dropped.
  void Close();

 private:
  // A plain POSIX mutex (winpthreads on Windows): std::mutex would bring
  // the C++ runtime's system_error machinery into the program.
  pthread_mutex_t m_mutex = PTHREAD_MUTEX_INITIALIZER;  // guards m_file
  FILE* m_file = nullptr;
};

// Platform part: appends length bytes of text in the process's multibyte
// code page to *out as UTF-8. (std::vector, not std::string: the shipped
// program carries no std::string.)
void AppendLogTextAsUtf8(const char* text, size_t length, std::vector<char>* out);

#endif  // UPDATER_APP_UPDATE_LOG_H_
