#include "updater/install/archive_names.h"

#include <algorithm>
#include <set>

#include "updater/install/file_names.h"
#include "updater/install/reserved_names.h"

namespace {

// A file, or a folder on the way to an entry (or a folder entry itself).
struct Place {
  FsName written;  // the components as the archive writes them, '/' joined
  FsName kept;     // what the file system keeps of them, '/' joined
  bool isFile = false;
  size_t entry = 0;  // the entry that names it
};

bool KeptBefore(const Place& a, const Place& b) {
  const int order = CompareFsNames(a.kept.data(), a.kept.size(), b.kept.data(), b.kept.size());
  return order != 0 ? order < 0 : a.written < b.written;
}

bool SamePlace(const Place& a, const Place& b) {
  return CompareFsNames(a.kept.data(), a.kept.size(), b.kept.data(), b.kept.size()) == 0;
}

std::vector<Place> Places(const std::vector<ArchiveEntryName>& entries) {
  std::vector<Place> places;
  std::set<FsName> folders;  // each folder once, as written
  for (size_t e = 0; e < entries.size(); ++e) {
    const std::vector<FsNameComponent> components = FsPathComponents(entries[e].name.GetString());
    Place place;
    place.entry = e;
    for (size_t c = 0; c < components.size(); ++c) {
      const FsNameComponent& component = components[c];
      if (c > 0) {
        place.written.push_back(u'/');
        place.kept.push_back(u'/');
      }
      place.written.insert(place.written.end(), component.text.begin(), component.text.end());
      place.kept.insert(place.kept.end(), component.text.begin(),
                        component.text.begin() + static_cast<std::ptrdiff_t>(component.kept));
      place.isFile = c + 1 == components.size() && !entries[e].isDirectory;
      if (place.isFile || folders.insert(place.written).second) places.push_back(place);
    }
  }
  return places;
}

CString TwoNamesOneFile(const ArchiveEntryName& a, const ArchiveEntryName& b) {
  return "Update refused.  The entries " + ShownEntryName(a.name) + " and " +
         ShownEntryName(b.name) +
         " of the archive name the same file on the disk; nothing was changed.";
}

}  // namespace

CString ShownEntryName(const CString& name) {
  CString shown;
  for (const char* c = name.GetString(); *c; ++c) shown += *c == '/' ? '\\' : *c;
  return shown;
}

bool CheckArchiveNames(const std::vector<ArchiveEntryName>& entries, CString* message) {
  for (const ArchiveEntryName& entry : entries) {
    if (IsReservedEntryName(entry.name)) {
      *message = "Update refused.  The archive holds " + ShownEntryName(entry.name) +
                 ", a name the updater keeps for its own files; nothing was changed.";
      return false;
    }
  }

  // Sorted as the file system compares, places that are one on the disk
  // stand together. Among them a file conflicts with any place written
  // otherwise; folders written in different case are one folder, and fine.
  std::vector<Place> places = Places(entries);
  std::sort(places.begin(), places.end(), KeptBefore);
  for (size_t start = 0, end; start < places.size(); start = end) {
    end = start + 1;
    while (end < places.size() && SamePlace(places[start], places[end])) ++end;
    const Place* file = nullptr;
    for (size_t i = start; i < end && file == nullptr; ++i) {
      if (places[i].isFile) file = &places[i];
    }
    if (file == nullptr) continue;
    for (size_t i = start; i < end; ++i) {
      if (places[i].written == file->written) continue;
      const size_t first = std::min(file->entry, places[i].entry);
      const size_t second = std::max(file->entry, places[i].entry);
      *message = TwoNamesOneFile(entries[first], entries[second]);
      return false;
    }
  }
  return true;
}
