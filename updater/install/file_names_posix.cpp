// Names natively: UTF-8 in, case folded unit by unit by the C.UTF-8
// locale's upper-case mapping, as Windows folds each UTF-16 unit through its
// upper-case table.
#include <locale.h>
#include <wctype.h>

#include <cstring>

#include "updater/install/file_names.h"

namespace {

char16_t Upper(char16_t unit) {
  if (unit < 0x80) return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - 0x20) : unit;
  static const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  if (unicode == static_cast<locale_t>(0) || (unit >= 0xD800 && unit <= 0xDFFF)) return unit;
  const wint_t upper = towupper_l(unit, unicode);
  // Windows keeps dotless i and long s apart from I and S.
  return upper >= 0x80 && upper <= 0xFFFF ? static_cast<char16_t>(upper) : unit;
}

}  // namespace

size_t ToFsName(const char* name, char16_t* out, size_t size) {
  return Utf8ToFsName(name, std::strlen(name), out, size);
}

int CompareFsNames(const char16_t* a, size_t aLength, const char16_t* b, size_t bLength) {
  const size_t common = aLength < bLength ? aLength : bLength;
  for (size_t i = 0; i < common; ++i) {
    const char16_t x = Upper(a[i]);
    const char16_t y = Upper(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return aLength == bLength ? 0 : (aLength < bLength ? -1 : 1);
}
