#include "updater/install/install_names.h"

#include <cstring>

#include "unzip/platform/file_system.h"
#include "unzip/unpack.h"

const char kJournalName[] = "~update.journal";
const char kStagingFolderName[] = "~update.staging";
const char kBackupFolderName[] = "~update.backup";
const char kVersionFileName[] = "~update.version";

namespace {

const int kFilesPerSubfolder = 32;
const char kOwnPrefix[] = "~update.";

CString NumberedName(const char* folder, int n) {
  CString name;
  name.Format("%s/%d/%d", folder, n / kFilesPerSubfolder, n);
  return name;
}

char FoldAscii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool EqualsFolded(const char* text, size_t length, const char* upper) {
  if (strlen(upper) != length) return false;
  for (size_t i = 0; i < length; ++i) {
    if (FoldAscii(text[i]) != upper[i]) return false;
  }
  return true;
}

// A name the system takes for a device in any folder: the part before the
// first dot, trailing spaces dropped, is CON, PRN, AUX, NUL, COM0-9, LPT0-9
// (also with the superscript digits of code page 1252), CONIN$ or CONOUT$.
bool IsDeviceName(const char* component, size_t length) {
  const char* dot = static_cast<const char*>(memchr(component, '.', length));
  size_t base = dot != nullptr ? static_cast<size_t>(dot - component) : length;
  while (base > 0 && component[base - 1] == ' ') --base;
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* device : kDevices) {
    if (EqualsFolded(component, base, device)) return true;
  }
  if (base != 4 || !(EqualsFolded(component, 3, "COM") || EqualsFolded(component, 3, "LPT"))) {
    return false;
  }
  const unsigned char digit = static_cast<unsigned char>(component[3]);
  return (digit >= '0' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
}

bool IsSafeComponent(const char* component, size_t length) {
  if (length == 0) return false;
  if ((length == 1 && component[0] == '.') || (length == 2 && memcmp(component, "..", 2) == 0)) {
    return false;
  }
  for (size_t i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(component[i]);
    if (c < 0x20 || strchr("<>:\"|?*", c) != nullptr) return false;
  }
  return !IsDeviceName(component, length);
}

}  // namespace

CString StagedFileName(int n) {
  return NumberedName(kStagingFolderName, n);
}

CString BackupFileName(int n) {
  return NumberedName(kBackupFolderName, n);
}

CString JoinInstallPath(const CString& folder, const CString& relative) {
  return folder + "/" + relative;
}

CString CanonicalEntryPath(const CString& name) {
  CString path;
  const char* const text = name.GetString();
  const char* component = text;
  for (const char* p = text;; p = FsNextCharacter(p)) {
    if (*p != '\0' && !FsIsSeparator(*p)) continue;
    const int length = static_cast<int>(p - component);
    if (length > 0 && !(length == 1 && component[0] == '.')) {
      if (!path.IsEmpty()) path += '/';
      path += CString(component, length);
    }
    if (*p == '\0') return path;
    component = p + 1;
  }
}

bool IsSafeRelativePath(const CString& path) {
  const char* const text = path.GetString();
  const size_t length = static_cast<size_t>(path.GetLength());
  if (length == 0 || length >= static_cast<size_t>(kUnpackMaxPath) || strlen(text) != length) {
    return false;
  }
  const size_t ownLength = sizeof(kOwnPrefix) - 1;
  if (length >= ownLength) {
    bool own = true;
    for (size_t i = 0; i < ownLength; ++i)
      own = own && FoldAscii(text[i]) == FoldAscii(kOwnPrefix[i]);
    if (own && !EqualsFolded(text, length, "~UPDATE.VERSION")) return false;
  }
  // Every component, the last one included; a leading separator makes an
  // empty first component, a doubled or trailing one an empty later one.
  const char* component = text;
  for (const char* p = text;; p = FsNextCharacter(p)) {
    if (*p == '\0' || FsIsSeparator(*p)) {
      if (!IsSafeComponent(component, static_cast<size_t>(p - component))) return false;
      if (*p == '\0') return true;
      component = p + 1;
    }
  }
}
