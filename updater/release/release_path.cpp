#include "updater/release/release_path.h"

#include <cstdint>

#include "updater/install/reserved_names.h"

namespace {

char UpperAscii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}

bool EqualsNoCase(const char* a, size_t size, const char* b) {
  size_t i = 0;
  for (; i < size && b[i] != '\0'; ++i) {
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  }
  return i == size && b[i] == '\0';
}

bool StartsNoCase(const char* a, size_t size, const char* prefix) {
  size_t i = 0;
  for (; prefix[i] != '\0'; ++i) {
    if (i == size || UpperAscii(a[i]) != UpperAscii(prefix[i])) return false;
  }
  return true;
}

// Decodes the UTF-8 character at text[*at] (size bytes in all) and moves
// *at past it. False for a byte sequence that is not UTF-8 (overlong forms
// and surrogates included).
bool NextCodePoint(const char* text, size_t size, size_t* at, uint32_t* code) {
  const unsigned char lead = static_cast<unsigned char>(text[*at]);
  int extra = 0;
  uint32_t value = 0, minimum = 0;
  if (lead < 0x80) {
    value = lead;
  } else if ((lead & 0xE0) == 0xC0) {
    extra = 1, value = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2, value = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3, value = lead & 0x07, minimum = 0x10000;
  } else {
    return false;
  }
  if (*at + 1 + extra > size) return false;
  for (int i = 1; i <= extra; ++i) {
    const unsigned char next = static_cast<unsigned char>(text[*at + i]);
    if ((next & 0xC0) != 0x80) return false;
    value = (value << 6) | (next & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
  *at += 1 + extra;
  *code = value;
  return true;
}

// Upper case of the letters Windows folds in file names, for the scripts
// product files are commonly named in; everything else unchanged.
uint32_t FoldCodePoint(uint32_t c) {
  if (c >= 'a' && c <= 'z') return c - 32;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 32;  // Latin-1
  if (c == 0xFF) return 0x178;
  if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) return c & ~1u;  // Latin Ext-A
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return c - ((c & 1) ? 0 : 1);
  if (c == 0x3C2) return 0x3A3;                                                 // final sigma
  if ((c >= 0x3B1 && c <= 0x3C1) || (c >= 0x3C3 && c <= 0x3CB)) return c - 32;  // Greek
  if (c >= 0x430 && c <= 0x44F) return c - 32;                                  // Cyrillic
  if (c >= 0x450 && c <= 0x45F) return c - 80;
  if (c >= 0x460 && c <= 0x481) return c & ~1u;
  if (c >= 0xFF41 && c <= 0xFF5A) return c - 32;  // full-width Latin
  return c;
}

void AppendUtf8(uint32_t c, CString* out) {
  if (c < 0x80) {
    *out += static_cast<char>(c);
  } else if (c < 0x800) {
    *out += static_cast<char>(0xC0 | (c >> 6));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out += static_cast<char>(0xE0 | (c >> 12));
    *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (c >> 18));
    *out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// A device name, with or without an extension: CON, PRN, AUX, NUL, CONIN$,
// CONOUT$, and COM or LPT with a digit or a superscript 1, 2 or 3.
bool IsDeviceName(const char* name, size_t size) {
  size_t base = 0;
  while (base < size && name[base] != '.') ++base;
  while (base > 0 && name[base - 1] == ' ') --base;
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* device : kDevices) {
    if (EqualsNoCase(name, base, device)) return true;
  }
  if (base < 4 || !(StartsNoCase(name, base, "COM") || StartsNoCase(name, base, "LPT"))) {
    return false;
  }
  if (base == 4) return name[3] >= '0' && name[3] <= '9';
  // U+00B9, U+00B2, U+00B3 in UTF-8.
  return base == 5 && name[3] == '\xC2' &&
         (name[4] == '\xB9' || name[4] == '\xB2' || name[4] == '\xB3');
}

// Calls visit(start, length) for each '/'-separated component of path; stops
// and answers false as soon as visit does.
template <typename Visit>
bool EachComponent(const char* path, size_t size, Visit visit) {
  size_t start = 0;
  for (size_t i = 0; i <= size; ++i) {
    if (i == size || path[i] == '/') {
      if (!visit(path + start, i - start)) return false;
      start = i + 1;
    }
  }
  return true;
}

}  // namespace

bool IsUpdaterOwnName(const char* path, size_t size) {
  return IsReservedUtf8Path(path, size);
}

const char* ReleasePathProblem(const char* path, size_t size) {
  if (size == 0) return "is empty";
  if (size > kReleaseMaxPath) return "is too long";
  for (size_t at = 0; at < size;) {
    uint32_t code = 0;
    if (!NextCodePoint(path, size, &at, &code)) return "is not UTF-8";
    if (code == 0 || code == '\r' || code == '\n') return "holds a NUL, CR or LF";
    if (code == '\\' || code == ':') return "holds a '\\' or ':'";
  }
  if (path[0] == '/') return "begins at the root";
  const char* problem = nullptr;
  EachComponent(path, size, [&problem](const char* name, size_t length) {
    if (length == 0) {
      problem = "has an empty component";
    } else if (name[length - 1] == '.' || name[length - 1] == ' ') {
      problem = name[length - 1] == '.' && (length == 2 && name[0] == '.')
                    ? "leaves the install folder"
                    : "has a component ending in '.' or ' '";
    } else if (IsDeviceName(name, length)) {
      problem = "names a device";
    }
    return problem == nullptr;
  });
  if (problem == nullptr && IsUpdaterOwnName(path, size)) {
    problem = "is a name the updater keeps for itself";
  }
  return problem;
}

CString ReleasePathKey(const char* path, size_t size) {
  CString key;
  for (size_t at = 0; at < size;) {
    uint32_t code = 0;
    if (!NextCodePoint(path, size, &at, &code)) code = static_cast<unsigned char>(path[at++]);
    AppendUtf8(FoldCodePoint(code), &key);
  }
  return key;
}
