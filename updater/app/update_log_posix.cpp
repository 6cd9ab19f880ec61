#include "updater/app/update_log.h"

// Texts on POSIX systems are UTF-8 already.
std::string LogTextToUtf8(const std::string& text) {
  return text;
}
