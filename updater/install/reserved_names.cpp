#include "updater/install/reserved_names.h"

#include "updater/install/file_names.h"

namespace {

struct Pattern {
  const char16_t* text;
  size_t length;
};

template <size_t N>
constexpr Pattern P(const char16_t (&text)[N]) {
  return {text, N - 1};
}

// Compared with the first component of a name only.
const Pattern kTopLevelPrefixes[] = {P(u"~update.")};
const Pattern kTopLevelSuffixes[] = {P(u".tarnwick.zip"), P(u".tarnwick.zip.sig")};
// Compared with every component.
const Pattern kSuffixes[] = {P(u".~upd-new"), P(u".~upd-old")};

// A component as the file system keeps it.
struct Component {
  const char16_t* text;
  size_t length;
};

bool StartsWith(const Component& name, const Pattern& pattern) {
  return name.length >= pattern.length &&
         CompareFsNames(name.text, pattern.length, pattern.text, pattern.length) == 0;
}

bool EndsWith(const Component& name, const Pattern& pattern) {
  return name.length >= pattern.length &&
         CompareFsNames(name.text + name.length - pattern.length, pattern.length, pattern.text,
                        pattern.length) == 0;
}

// The zip layer writes each file as "~u" and four hex digits first.
bool IsLayerTemporary(const Component& name) {
  static const Pattern kStart = P(u"~u");
  static const char16_t kHexDigits[] = u"0123456789abcdef";
  if (name.length != kStart.length + 4 || !StartsWith(name, kStart)) return false;
  for (size_t i = kStart.length; i < name.length; ++i) {
    bool digit = false;
    for (size_t d = 0; d < 16 && !digit; ++d) {
      digit = CompareFsNames(name.text + i, 1, kHexDigits + d, 1) == 0;
    }
    if (!digit) return false;
  }
  return true;
}

}  // namespace

bool IsReservedPath(const FsPath& path) {
  for (size_t c = 0; c < path.count; ++c) {
    const size_t start = c == 0 ? 0 : path.keptEnd[c - 1] + 1u;
    const Component component = {path.kept + start, path.keptEnd[c] - start};
    if (c == 0) {
      for (const Pattern& prefix : kTopLevelPrefixes) {
        if (StartsWith(component, prefix)) return true;
      }
      for (const Pattern& suffix : kTopLevelSuffixes) {
        if (EndsWith(component, suffix)) return true;
      }
    }
    if (IsLayerTemporary(component)) return true;
    for (const Pattern& suffix : kSuffixes) {
      if (EndsWith(component, suffix)) return true;
    }
  }
  return false;
}

bool IsReservedEntryName(const CString& name) {
  FsPath path;
  ToFsPath(name.GetString(), &path);
  return IsReservedPath(path);
}

bool IsReservedUtf8Path(const char* path, size_t size) {
  FsPath split;
  Utf8ToFsPath(path, size, &split);
  return IsReservedPath(split);
}
