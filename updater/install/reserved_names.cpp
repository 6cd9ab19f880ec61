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

bool StartsWith(const FsNameComponent& name, const Pattern& pattern) {
  return name.kept >= pattern.length &&
         CompareFsNames(name.text.data(), pattern.length, pattern.text, pattern.length) == 0;
}

bool EndsWith(const FsNameComponent& name, const Pattern& pattern) {
  return name.kept >= pattern.length &&
         CompareFsNames(name.text.data() + name.kept - pattern.length, pattern.length, pattern.text,
                        pattern.length) == 0;
}

// The zip layer writes each file as "~u" and four hex digits first.
bool IsLayerTemporary(const FsNameComponent& name) {
  static const Pattern kStart = P(u"~u");
  static const char16_t kHexDigits[] = u"0123456789abcdef";
  if (name.kept != kStart.length + 4 || !StartsWith(name, kStart)) return false;
  for (size_t i = kStart.length; i < name.kept; ++i) {
    bool digit = false;
    for (size_t d = 0; d < 16 && !digit; ++d) {
      digit = CompareFsNames(&name.text[i], 1, &kHexDigits[d], 1) == 0;
    }
    if (!digit) return false;
  }
  return true;
}

}  // namespace

bool IsReservedEntryName(const CString& name) {
  const std::vector<FsNameComponent> components = FsPathComponents(name.GetString());
  if (components.empty()) return false;
  for (const Pattern& prefix : kTopLevelPrefixes) {
    if (StartsWith(components.front(), prefix)) return true;
  }
  for (const Pattern& suffix : kTopLevelSuffixes) {
    if (EndsWith(components.front(), suffix)) return true;
  }
  for (const FsNameComponent& component : components) {
    if (IsLayerTemporary(component)) return true;
    for (const Pattern& suffix : kSuffixes) {
      if (EndsWith(component, suffix)) return true;
    }
  }
  return false;
}
