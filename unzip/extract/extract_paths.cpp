#include "unzip/extract/extract_paths.h"

#include <cstring>

#include "framework/text_format.h"
#include "unzip/platform/file_system.h"

namespace {

// Calls visit(start, end) for every component of path, with start and end
// its byte range; empty components are skipped. Stops when visit answers
// false, and answers that.
template <typename Visit>
bool ForEachComponent(const char* path, Visit visit) {
  const char* start = path;
  for (;;) {
    const char* end = start;
    while (*end != '\0' && !FsIsSeparator(*end)) end = FsNextCharacter(end);
    if (end > start && !visit(static_cast<size_t>(start - path), static_cast<size_t>(end - path))) {
      return false;
    }
    if (*end == '\0') return true;
    start = end + 1;
  }
}

// relative in canonical form: empty and "." components dropped, components
// joined by FsSeparator(), no separator at either end. False for a ".."
// component or when it does not fit size bytes.
bool Canonical(const char* relative, size_t length, char* out, size_t size) {
  char text[kUnpackMaxPath];
  if (length >= sizeof(text)) return false;
  memcpy(text, relative, length);
  text[length] = '\0';
  size_t n = 0;
  const bool ok = ForEachComponent(text, [&](size_t start, size_t end) {
    const size_t count = end - start;
    if (count == 1 && text[start] == '.') return true;
    if (count == 2 && text[start] == '.' && text[start + 1] == '.') return false;
    if (n + (n > 0 ? 1 : 0) + count >= size) return false;
    if (n > 0) out[n++] = FsSeparator();
    memcpy(out + n, text + start, count);
    n += count;
    return true;
  });
  out[n] = '\0';
  return ok;
}

// The length of the leading whole components that the canonical relative
// paths a and b share.
size_t SharedLength(const char* a, const char* b) {
  size_t shared = 0;
  for (const char* p = a;;) {
    const char* end = p;
    while (*end != '\0' && *end != FsSeparator()) end = FsNextCharacter(end);
    const size_t count = static_cast<size_t>(end - p);
    const char* q = b + (p - a);
    if (count == 0 || strncmp(p, q, count) != 0 ||
        (q[count] != '\0' && q[count] != FsSeparator())) {
      return shared;
    }
    shared = static_cast<size_t>(end - a);
    if (*end == '\0') return shared;
    p = end + 1;
  }
}

// base, a separator and relative (the first length bytes) into out.
bool Below(const char* base, const char* relative, size_t length, char* out) {
  const int n = FormatText(out, kUnpackMaxPath, "%s%c%.*s", base, FsSeparator(),
                           static_cast<int>(length), relative);
  return n >= 0 && n < kUnpackMaxPath;
}

// True when what is at path is a directory and no link.
bool IsPlainDirectory(const char* path) {
  const uint32_t attributes = FsGetAttributes(path);
  return attributes != kFsMissing && (attributes & kUnpackAttrDirectory) != 0 &&
         (attributes & kFsLink) == 0;
}

// Makes known describe base: its canonical form, and nothing known below it.
bool UseBase(UnpackKnownPaths* known, const char* base) {
  if (known->szBaseDir[0] != '\0' && strcmp(known->szBaseDir, base) == 0) return true;
  known->szBaseDir[0] = '\0';
  known->szDirectory[0] = '\0';
  known->bBaseReady = false;
  const size_t length = strlen(base);
  if (length >= sizeof(known->szBaseDir) ||
      !FsFullPath(base, known->szCanonicalBase, sizeof(known->szCanonicalBase))) {
    return false;
  }
  FsTrimSeparators(known->szCanonicalBase);
  memcpy(known->szBaseDir, base, length + 1);
  return true;
}

// Makes sure the base and the canonical relative directory exist below it,
// creating what is missing, through no link.
bool ReachDirectory(UnpackKnownPaths* known, const char* directory) {
  const char* base = known->szCanonicalBase;
  if (!known->bBaseReady) {
    // The base itself may be a link; only what lies below it may not.
    const char* path = base[0] != '\0' ? base : "/";
    if (FsGetAttributes(path) == kFsMissing) FsCreateDirectory(path);
    const uint32_t attributes = FsGetAttributes(path);
    if (attributes == kFsMissing || (attributes & kUnpackAttrDirectory) == 0) return false;
    known->bBaseReady = true;
  }
  const size_t shared = SharedLength(directory, known->szDirectory);
  const bool reached = ForEachComponent(directory, [&](size_t, size_t end) {
    if (end <= shared) return true;
    char path[kUnpackMaxPath];
    if (!Below(base, directory, end, path)) return false;
    const uint32_t attributes = FsGetAttributes(path);
    if (attributes == kFsMissing) {
      // Made meanwhile by someone else is as good as made here.
      return FsCreateDirectory(path) || IsPlainDirectory(path);
    }
    return (attributes & kUnpackAttrDirectory) != 0 && (attributes & kFsLink) == 0;
  });
  if (reached) memcpy(known->szDirectory, directory, strlen(directory) + 1);
  return reached;
}

// True when the canonical form of path lies below base (already canonical),
// or is base itself when allowBase is set. A text comparison, which needs
// no link on the way.
bool StaysInside(const char* base, const char* path, bool allowBase) {
  char canonical[kUnpackMaxPath];
  if (!FsFullPath(path, canonical, sizeof(canonical))) return false;
  FsTrimSeparators(canonical);
  // Both trimmed on character boundaries: equal bytes up to n mean that
  // canonical[n] starts a character.
  const size_t n = strlen(base);
  if (strncmp(canonical, base, n) != 0) return false;
  if (canonical[n] == FsSeparator()) return true;
  return allowBase && canonical[n] == '\0';
}

}  // namespace

bool UnpackPrepareRelative(UnpackKnownPaths* known, const char* base, const char* target,
                           bool isDirectory, char* full) {
  if (!UseBase(known, base)) return false;
  // A file target's last part is its name, which may not be a directory's.
  const size_t split = isDirectory ? strlen(target) : FsDirectoryLength(target);
  const char* name = target + split;
  char directory[kUnpackMaxPath];
  if (!Canonical(target, split, directory, sizeof(directory))) return false;
  if (strcmp(name, "..") == 0 || strcmp(name, ".") == 0) return false;
  const char separator[2] = {FsSeparator(), '\0'};
  const int n =
      FormatText(full, kUnpackMaxPath, "%s%s%s%s%s", known->szCanonicalBase, separator, directory,
                 directory[0] != '\0' && name[0] != '\0' ? separator : "", name);
  if (n < 0 || n >= kUnpackMaxPath) return false;
  return StaysInside(known->szCanonicalBase, full, isDirectory) && ReachDirectory(known, directory);
}

void UnpackForgetDirectories(UnpackKnownPaths* known) {
  known->szDirectory[0] = '\0';
  known->bBaseReady = false;
}

bool UnpackCreateDirectories(const char* path) {
  ForEachComponent(path, [path](size_t, size_t end) {
    char prefix[kUnpackMaxPath];
    const int n = FormatText(prefix, sizeof(prefix), "%.*s", static_cast<int>(end), path);
    // A drive or share root cannot be created; only the end result counts.
    if (n > 0 && n < kUnpackMaxPath && FsGetAttributes(prefix) == kFsMissing) {
      FsCreateDirectory(prefix);
    }
    return true;
  });
  const uint32_t attributes = FsGetAttributes(path);
  return attributes != kFsMissing && (attributes & kUnpackAttrDirectory) != 0;
}
