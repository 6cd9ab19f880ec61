#include "updater/install/file_names.h"

#include <cstring>

namespace {

const char16_t kReplacement = 0xFFFD;

// The code point that starts at text[*at] (*at moved past it), or
// kReplacement for a byte that starts no valid UTF-8 sequence (*at then moves
// one byte).
char32_t NextCodePoint(const unsigned char* text, size_t size, size_t* at) {
  const unsigned char lead = text[(*at)++];
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
  if (size - *at < static_cast<size_t>(extra)) return kReplacement;
  for (int i = 0; i < extra; ++i) {
    const unsigned char next = text[*at + i];
    if ((next & 0xC0) != 0x80) return kReplacement;
    value = (value << 6) | (next & 0x3F);
  }
  // Overlong forms, surrogates and values past Unicode are no text.
  static const char32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
  if (value < kSmallest[extra] || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) {
    return kReplacement;
  }
  *at += extra;
  return value;
}

void SplitFsPath(const char16_t* units, size_t length, FsPath* path) {
  path->count = 0;
  size_t written = 0;
  size_t kept = 0;
  for (size_t start = 0, end = 0; start <= length; start = end + 1) {
    end = start;
    while (end < length && units[end] != u'/' && units[end] != u'\\') ++end;
    const size_t size = end - start;
    const char16_t* text = units + start;
    if (size == 0 || (size == 1 && text[0] == u'.')) continue;
    if (size == 2 && text[0] == u'.' && text[1] == u'.') {
      // "." and ".." are resolved by their text, as Windows resolves them.
      if (path->count > 0) --path->count;
      written = path->count > 0 ? path->writtenEnd[path->count - 1] : 0;
      kept = path->count > 0 ? path->keptEnd[path->count - 1] : 0;
      continue;
    }
    size_t keep = size;
    while (keep > 0 && (text[keep - 1] == u'.' || text[keep - 1] == u' ')) --keep;
    // Every component takes at least two units of the name with its
    // separator, so written and kept stay within their arrays.
    if (path->count > 0) {
      path->written[written++] = u'/';
      path->kept[kept++] = u'/';
    }
    std::memcpy(path->written + written, text, size * sizeof(char16_t));
    std::memcpy(path->kept + kept, text, keep * sizeof(char16_t));
    written += size;
    kept += keep;
    path->writtenEnd[path->count] = static_cast<uint16_t>(written);
    path->keptEnd[path->count] = static_cast<uint16_t>(kept);
    ++path->count;
  }
}

}  // namespace

size_t Utf8ToFsName(const char* text, size_t size, char16_t* out, size_t capacity) {
  size_t length = 0;
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
  for (size_t at = 0; at < size;) {
    const char32_t c = NextCodePoint(bytes, size, &at);
    if (length + (c < 0x10000 ? 1 : 2) >= capacity) return 0;  // no room for a terminator
    if (c < 0x10000) {
      out[length++] = static_cast<char16_t>(c);
    } else {
      out[length++] = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out[length++] = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    }
  }
  return length;
}

void ToFsPath(const char* name, FsPath* path) {
  char16_t units[kFsPathUnits];
  SplitFsPath(units, ToFsName(name, units, kFsPathUnits), path);
}

void Utf8ToFsPath(const char* text, size_t size, FsPath* path) {
  char16_t units[kFsPathUnits];
  SplitFsPath(units, Utf8ToFsName(text, size, units, kFsPathUnits), path);
}
