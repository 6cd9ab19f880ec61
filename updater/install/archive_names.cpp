#include "updater/install/archive_names.h"

#include <cstdlib>
#include <cstring>

#include "updater/install/file_names.h"
#include "updater/install/reserved_names.h"

namespace {

bool SameText(const char16_t* a, size_t aSize, const char16_t* b, size_t bSize) {
  return aSize == bSize && std::memcmp(a, b, aSize * sizeof(char16_t)) == 0;
}

}  // namespace

CString ShownEntryName(const CString& name) {
  CString shown;
  for (const char* c = name.GetString(); *c; ++c) shown += *c == '/' ? '\\' : *c;
  return shown;
}

void CArchiveNames::Add(const char* name, bool isDirectory) {
  if (m_reserved != kNone) return;  // the check has its answer
  const size_t nameAt = m_names.size();
  m_names.insert(m_names.end(), name, name + std::strlen(name) + 1);
  FsPath path;
  ToFsPath(name, &path);
  if (IsReservedPath(path)) {
    m_reserved = nameAt;
    return;
  }
  if (path.count == 0) return;
  const size_t written = m_text.size();
  const size_t writtenSize = path.writtenEnd[path.count - 1];
  const size_t keptSize = path.keptEnd[path.count - 1];
  m_text.insert(m_text.end(), path.written, path.written + writtenSize);
  m_text.insert(m_text.end(), path.kept, path.kept + keptSize);
  for (size_t c = 0; c < path.count; ++c) {
    Place place = {};
    place.written = written;
    place.keptStart = written + writtenSize;
    place.writtenSize = path.writtenEnd[c];
    place.keptSize = path.keptEnd[c];
    place.isFile = c + 1 == path.count && !isDirectory;
    place.name = nameAt;
    m_places.push_back(place);
  }
}

// As the file system compares (what it keeps, case ignored), then byte for
// byte as written.
int CArchiveNames::Compare(const void* a, const void* b) {
  const Place& x = *static_cast<const Place*>(a);
  const Place& y = *static_cast<const Place*>(b);
  const int order = CompareFsNames(x.keptText, x.keptSize, y.keptText, y.keptSize);
  if (order != 0) return order;
  const size_t common = x.writtenSize < y.writtenSize ? x.writtenSize : y.writtenSize;
  for (size_t i = 0; i < common; ++i) {
    if (x.writtenText[i] != y.writtenText[i]) return x.writtenText[i] < y.writtenText[i] ? -1 : 1;
  }
  return static_cast<int>(x.writtenSize) - static_cast<int>(y.writtenSize);
}

bool CArchiveNames::Check(CString* message) {
  if (m_reserved != kNone) {
    *message = "Update refused.  The archive holds " + ShownEntryName(&m_names[m_reserved]) +
               ", a name the updater keeps for its own files; nothing was changed.";
    return false;
  }
  for (Place& place : m_places) {
    place.writtenText = m_text.data() + place.written;
    place.keptText = m_text.data() + place.keptStart;
  }
  // Sorted so, places that are one on the disk stand together. Among them a
  // file conflicts with any place written otherwise; folders written in
  // different case are one folder, and fine.
  std::qsort(m_places.data(), m_places.size(), sizeof(Place), Compare);
  for (size_t start = 0, end; start < m_places.size(); start = end) {
    const Place& first = m_places[start];
    const Place* file = nullptr;
    const Place* other = nullptr;
    for (end = start; end < m_places.size(); ++end) {
      const Place& place = m_places[end];
      if (CompareFsNames(first.keptText, first.keptSize, place.keptText, place.keptSize) != 0) {
        break;
      }
      if (place.isFile && file == nullptr) file = &place;
      if (other == nullptr &&
          !SameText(first.writtenText, first.writtenSize, place.writtenText, place.writtenSize)) {
        other = &place;
      }
    }
    if (file == nullptr || other == nullptr) continue;
    const Place& a =
        SameText(file->writtenText, file->writtenSize, first.writtenText, first.writtenSize)
            ? *other
            : first;
    const size_t one = file->name < a.name ? file->name : a.name;
    const size_t two = file->name < a.name ? a.name : file->name;
    *message = "Update refused.  The entries " + ShownEntryName(&m_names[one]) + " and " +
               ShownEntryName(&m_names[two]) +
               " of the archive name the same file on the disk; nothing was changed.";
    return false;
  }
  return true;
}
