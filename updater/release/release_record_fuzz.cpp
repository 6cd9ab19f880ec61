// libFuzzer target: arbitrary bytes as a release record. Whatever the parser
// accepts must be a record it would write itself: formatting it and parsing
// that again gives the same text, and every path passes the path rules.
#include <cstddef>
#include <cstdint>

#include "updater/release/release_path.h"
#include "updater/release/release_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ReleaseRecord record;
  CString why;
  if (!ParseReleaseRecord(reinterpret_cast<const char*>(data), size, &record, &why)) {
    if (why.IsEmpty()) __builtin_trap();  // a refusal always says why
    return 0;
  }
  for (const ReleaseFile& file : record.files) {
    if (ReleasePathProblem(file.path.GetString(), static_cast<size_t>(file.path.GetLength()))) {
      __builtin_trap();
    }
  }
  const CString text = FormatReleaseRecord(record);
  ReleaseRecord again;
  if (!ParseReleaseRecord(text.GetString(), static_cast<size_t>(text.GetLength()), &again, &why) ||
      FormatReleaseRecord(again) != text) {
    __builtin_trap();
  }
  return 0;
}
