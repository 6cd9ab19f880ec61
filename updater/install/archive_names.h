// The check of an update archive's names, run over every entry before the
// install writes anything: an archive is refused when an entry takes a name
// the updater keeps for itself (reserved_names.h), or when two entries
// whose names differ would still be one file or folder on the disk (Ä.txt
// and ä.txt, a file A and the folder a/ of another entry), which the install
// could otherwise only find half way through.
//
// Names that are the same byte for byte are no conflict: a file named twice
// is written once, the later entry winning, and a folder may be named by
// any number of entries. Folders named in different case are one folder.
#ifndef UPDATER_INSTALL_ARCHIVE_NAMES_H_
#define UPDATER_INSTALL_ARCHIVE_NAMES_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "framework/cstring.h"

class CArchiveNames {
 public:
  // Takes the next entry's cleaned name ('/' or '\' separated, at most 259
  // bytes) in archive order.
  void Add(const char* name, bool isDirectory);
  // True when the archive may be installed. Otherwise *message is the text
  // for the user, naming the entry or the two entries ("Update refused.
  // ...").
  bool Check(CString* message);

 private:
  // A file, or a folder on the way to an entry (or a folder entry itself):
  // a prefix of one entry's converted name.
  struct Place {
    size_t written;        // where its text as written begins in m_text
    size_t keptStart;      // and its text as the file system keeps it
    uint16_t writtenSize;  // units
    uint16_t keptSize;
    bool isFile;
    size_t name;                  // where the entry's name begins in m_names
    const char16_t* writtenText;  // set by Check, once m_text is whole
    const char16_t* keptText;
  };
  static int Compare(const void* a, const void* b);

  std::vector<char> m_names;     // every entry's name, NUL-terminated
  std::vector<char16_t> m_text;  // every entry's written and kept forms
  std::vector<Place> m_places;
  static const size_t kNone = SIZE_MAX;
  size_t m_reserved = kNone;  // where the first reserved name begins in m_names
};

// An entry name as the user knows paths: backslash separated.
CString ShownEntryName(const CString& name);

#endif  // UPDATER_INSTALL_ARCHIVE_NAMES_H_
