// CCmdLineOptions: the process arguments as a table from option name to the
// list of values that followed it. Knows no option names of its own.
//
// REQUIRES: one thread; construct, Parse, then any number of lookups.
#ifndef UPDATER_APP_CMD_LINE_OPTIONS_H_
#define UPDATER_APP_CMD_LINE_OPTIONS_H_

#include <cstdint>
#include <map>
#include <vector>

#include "framework/cstring.h"

class CCmdLineOptions {
 public:
  CCmdLineOptions() = default;

  // Rebuilds the table from argv[1..argc-1] (argv[0] is the program) and
  // answers the number of distinct option names found. Never fails.
  int Parse(int argc, const char* const* argv);

  // True for "-x..." whose second byte is not an ASCII digit; false for null,
  // "", "-" and negative numbers such as "-5".
  static bool IsOptionName(const char* text);

  // True when name is a key, also when its list of values is empty.
  bool HasOption(const char* name) const;

  // A copy of value number index (taken as unsigned) of option name.
  // Throws the int 0 when the option or that value is missing.
  CString GetValue(const char* name, int32_t index) const;

 private:
  // Keys compare byte for byte and case-sensitively.
  std::map<CString, std::vector<CString>> m_options;
};

#endif  // UPDATER_APP_CMD_LINE_OPTIONS_H_
