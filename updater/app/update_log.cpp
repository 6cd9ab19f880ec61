#include "updater/app/update_log.h"

#include <cstdarg>
#include <cstring>
#include <ctime>

#include "framework/text_format.h"

namespace {

class CLogLock {
 public:
  explicit CLogLock(pthread_mutex_t* mutex) : m_mutex(mutex) { pthread_mutex_lock(m_mutex); }
  ~CLogLock() { pthread_mutex_unlock(m_mutex); }
  CLogLock(const CLogLock&) = delete;
  CLogLock& operator=(const CLogLock&) = delete;

 private:
  pthread_mutex_t* m_mutex;
};

}  // namespace

bool CUpdateLog::Open(const char* path) {
  CLogLock lock(&m_mutex);
  if (m_file != nullptr) std::fclose(m_file);
  m_file = path != nullptr && *path != '\0' ? std::fopen(path, "ab") : nullptr;
  return m_file != nullptr;
}

bool CUpdateLog::IsOpen() {
  CLogLock lock(&m_mutex);
  return m_file != nullptr;
}

void CUpdateLog::Write(const char* format, ...) {
  CLogLock lock(&m_mutex);
  if (m_file == nullptr) return;

  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int needed = FormatTextV(nullptr, 0, format, args);
  va_end(args);
  const size_t length = needed > 0 ? static_cast<size_t>(needed) : 0;
  std::vector<char> text(length + 1, '\0');
  if (length > 0) FormatTextV(text.data(), text.size(), format, again);
  va_end(again);
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = ' ';
  }

  char stamp[32] = "0000-00-00 00:00:00 ";
  const time_t now = std::time(nullptr);
  // localtime's result is shared; the lock above serialises our calls.
  if (const struct tm* local = std::localtime(&now)) {
    std::strftime(stamp, sizeof(stamp), "%Y-%m-%d %H:%M:%S ", local);
  }
  std::vector<char> line(stamp, stamp + std::strlen(stamp));
  AppendLogTextAsUtf8(text.data(), length, &line);
  line.push_back('\r');
  line.push_back('\n');
  // One write per line, flushed at once: a run that is killed keeps every
  // line written before.
  std::fwrite(line.data(), 1, line.size(), m_file);
  std::fflush(m_file);
}

void CUpdateLog::Close() {
  CLogLock lock(&m_mutex);
  if (m_file != nullptr) std::fclose(m_file);
  m_file = nullptr;
}
