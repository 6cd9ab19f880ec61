#include "updater/app/update_log.h"

// Texts on POSIX systems are UTF-8 already.
void AppendLogTextAsUtf8(const char* text, size_t length, std::vector<char>* out) {
  out->insert(out->end(), text, text + length);
}
