// Names natively: UTF-8 in, case folded unit by unit by the C.UTF-8
// locale's upper-case mapping, as Windows folds each UTF-16 unit through its
// upper-case table.
#include <locale.h>
#include <wctype.h>

#include "updater/install/file_names.h"

namespace {

const char16_t kReplacement = 0xFFFD;

// The code point that starts at p (advanced past it), or kReplacement for a
// byte that starts no valid UTF-8 sequence.
char32_t NextCodePoint(const unsigned char*& p) {
  const unsigned char lead = *p++;
  if (lead < 0x80) return lead;
  int extra = 0;
  char32_t value = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    extra = 1;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    extra = 2;
    value = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    extra = 3;
    value = lead & 0x07;
  } else {
    return kReplacement;
  }
  for (int i = 0; i < extra; ++i) {
    if ((p[i] & 0xC0) != 0x80) return kReplacement;
    value = (value << 6) | (p[i] & 0x3F);
  }
  // Overlong forms, surrogates and values past Unicode are no text.
  static const char32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
  if (value < kSmallest[extra] || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) {
    return kReplacement;
  }
  p += extra;
  return value;
}

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
  size_t length = 0;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(name);
  while (*p != 0) {
    const char32_t c = NextCodePoint(p);
    if (length + (c < 0x10000 ? 1 : 2) >= size) return 0;  // a terminator would not fit
    if (c < 0x10000) {
      out[length++] = static_cast<char16_t>(c);
    } else {
      out[length++] = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out[length++] = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    }
  }
  return length;
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
