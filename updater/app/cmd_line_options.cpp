#include "updater/app/cmd_line_options.h"

#include <cstring>

int CCmdLineOptions::Parse(int argc, const char* const* argv) {
  m_options.clear();
  CString current;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (IsOptionName(arg)) {
      current = arg;
      CString candidate;
      int j = i + 1;
      if (j < argc && !IsOptionName(argv[j])) {
        candidate = argv[j];
        ++i;  // the value is consumed whether or not it is kept
      }
      std::vector<CString> values;
      if (!candidate.IsEmpty()) values.push_back(candidate);
      // A repeated option keeps its first entry; the new list is dropped.
      m_options.emplace(current, std::move(values));
    } else {
      auto it = m_options.find(current);
      if (it != m_options.end()) it->second.push_back(CString(arg));
    }
  }
  return static_cast<int>(m_options.size());
}

bool CCmdLineOptions::IsOptionName(const char* text) {
  if (text == nullptr || std::strlen(text) <= 1 || text[0] != '-') return false;
  unsigned char second = static_cast<unsigned char>(text[1]);
  return !(second >= '0' && second <= '9');
}

bool CCmdLineOptions::HasOption(const char* name) const {
  return m_options.find(CString(name)) != m_options.end();
}

CString CCmdLineOptions::GetValue(const char* name, int32_t index) const {
  auto it = m_options.find(CString(name));
  if (it == m_options.end()) throw 0;
  uint32_t at = static_cast<uint32_t>(index);
  if (at >= it->second.size()) throw 0;
  return it->second[at];
}
