#include "updater/release/release_record.h"

#include <algorithm>

#include "updater/release/release_path.h"

const char kReleaseRecordName[] = "~update.release";
const char kReleasePatchFolder[] = "~update.patch/";

namespace {

const char kHeader[] = "update-release";
const int kMaxSizeDigits = 18;

const char* const kActionNames[] = {"write", "patch", "delete", "keep"};

// One line of the text, without its LF.
struct Line {
  const char* text;
  size_t size;
  size_t number;  // from 1
};

// The next space-separated field of line from *at; an empty field when
// there is no space left (the field then runs to the end of the line).
bool NextField(const Line& line, size_t* at, const char** field, size_t* size) {
  if (*at > line.size) return false;
  size_t end = *at;
  while (end < line.size && line.text[end] != ' ') ++end;
  if (end == line.size) return false;
  *field = line.text + *at;
  *size = end - *at;
  *at = end + 1;
  return true;
}

bool Equals(const char* text, size_t size, const char* word) {
  size_t i = 0;
  for (; i < size && word[i] != '\0'; ++i) {
    if (text[i] != word[i]) return false;
  }
  return i == size && word[i] == '\0';
}

bool ParseHash(const char* text, size_t size, bool* present, Sha256Digest* digest) {
  *present = !(size == 1 && text[0] == '-');
  return !*present || Sha256FromHex(text, size, digest);
}

bool ParseSize(const char* text, size_t size, bool* present, uint64_t* value) {
  *present = !(size == 1 && text[0] == '-');
  if (!*present) return true;
  if (size == 0 || size > kMaxSizeDigits || (size > 1 && text[0] == '0')) return false;
  *value = 0;
  for (size_t i = 0; i < size; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    *value = *value * 10 + static_cast<uint64_t>(text[i] - '0');
  }
  return true;
}

class CRecordParser {
 public:
  CRecordParser(ReleaseRecord* record, CString* why) : m_record(record), m_why(why) {}

  bool Parse(const char* text, size_t size);

 private:
  bool Fail(const Line& line, const char* what, const CString& detail = CString());
  bool ParseHeader(const Line& line);
  bool ParseVersionLine(const Line& line, const char* word, ReleaseVersion* version);
  bool ParseFile(const Line& line);
  bool CheckFile(const Line& line, const ReleaseFile& file, bool hasSize);
  bool CheckPathsTogether();

  ReleaseRecord* m_record;
  CString* m_why;
  std::vector<size_t> m_lineOfFile;  // line number of each file
};

bool CRecordParser::Fail(const Line& line, const char* what, const CString& detail) {
  m_why->Format("line %u: %s%s", static_cast<unsigned>(line.number), what, detail.GetString());
  return false;
}

bool CRecordParser::ParseHeader(const Line& line) {
  const size_t name = sizeof(kHeader) - 1;
  ReleaseVersion format = {};
  if (line.size <= name + 1 || !Equals(line.text, name, kHeader) || line.text[name] != ' ' ||
      !ParseVersion(line.text + name + 1, line.size - name - 1, &format) || format.count != 1) {
    return Fail(line, "this is not a release record");
  }
  if (format.parts[0] != static_cast<uint32_t>(kReleaseFormatVersion)) {
    CString detail;
    detail.Format(" %u; this program reads format %d", static_cast<unsigned>(format.parts[0]),
                  kReleaseFormatVersion);
    return Fail(line, "the record has format", detail);
  }
  return true;
}

bool CRecordParser::ParseVersionLine(const Line& line, const char* word, ReleaseVersion* version) {
  size_t at = 0;
  const char* field = nullptr;
  size_t size = 0;
  if (!NextField(line, &at, &field, &size) || !Equals(field, size, word) ||
      !ParseVersion(line.text + at, line.size - at, version)) {
    return Fail(line, "expected ", CString(word) + " and a version such as 2.0.0");
  }
  return true;
}

bool CRecordParser::ParseFile(const Line& line) {
  const char* fields[4] = {};
  size_t sizes[4] = {};
  size_t at = 0;
  for (int i = 0; i < 4; ++i) {
    if (!NextField(line, &at, &fields[i], &sizes[i])) {
      return Fail(line, "expected an action, two hashes, a size and a path");
    }
  }
  ReleaseFile file;
  int action = 0;
  while (action < 4 && !Equals(fields[0], sizes[0], kActionNames[action])) ++action;
  if (action == 4)
    return Fail(line, "unknown action ", CString(fields[0], static_cast<int>(sizes[0])));
  file.action = static_cast<ReleaseAction>(action);
  bool hasSize = false;
  if (!ParseHash(fields[1], sizes[1], &file.hasBase, &file.base) ||
      !ParseHash(fields[2], sizes[2], &file.hasResult, &file.result)) {
    return Fail(line, "a hash is not 64 lower-case hex digits or '-'");
  }
  if (!ParseSize(fields[3], sizes[3], &hasSize, &file.size)) {
    return Fail(line, "the size is not a decimal number or '-'");
  }
  file.path = CString(line.text + at, static_cast<int>(line.size - at));
  if (!CheckFile(line, file, hasSize)) return false;
  m_record->files.push_back(file);
  m_lineOfFile.push_back(line.number);
  return true;
}

bool CRecordParser::CheckFile(const Line& line, const ReleaseFile& file, bool hasSize) {
  const char* problem =
      ReleasePathProblem(file.path.GetString(), static_cast<size_t>(file.path.GetLength()));
  if (problem != nullptr) return Fail(line, "the path ", file.path + " " + problem);
  const bool delta = m_record->isDelta;
  bool fits = false;
  switch (file.action) {
    case ReleaseAction::kWrite:
      fits = (delta || !file.hasBase) && file.hasResult && hasSize;
      break;
    case ReleaseAction::kPatch:
      fits = delta && file.hasBase && file.hasResult && hasSize;
      if (fits && file.size > kMaxPatchedFileSize) return Fail(line, "a patched file is too large");
      break;
    case ReleaseAction::kDelete:
      fits = delta && file.hasBase && !file.hasResult && !hasSize;
      break;
    case ReleaseAction::kKeep:
      fits = delta && file.hasBase && file.hasResult && hasSize && file.base == file.result;
      break;
  }
  if (!fits) {
    return Fail(line, delta ? "the hashes and size do not fit the action"
                            : "a full archive only writes files, without base hashes");
  }
  return true;
}

// No two paths name one file, and no path runs through another file.
bool CRecordParser::CheckPathsTogether() {
  struct Keyed {
    CString key;
    size_t index;
    bool operator<(const Keyed& other) const { return key < other.key; }
  };
  std::vector<Keyed> keys;
  keys.reserve(m_record->files.size());
  for (size_t i = 0; i < m_record->files.size(); ++i) {
    const CString& path = m_record->files[i].path;
    keys.push_back({ReleasePathKey(path.GetString(), static_cast<size_t>(path.GetLength())), i});
  }
  std::sort(keys.begin(), keys.end());
  for (size_t i = 1; i < keys.size(); ++i) {
    if (keys[i].key == keys[i - 1].key) {
      const size_t later = std::max(keys[i].index, keys[i - 1].index);
      return Fail({nullptr, 0, m_lineOfFile[later]}, "the path ",
                  m_record->files[later].path + " names a file named on an earlier line");
    }
  }
  // A file and a file below it: both exist before the update, or both after.
  for (const Keyed& item : keys) {
    const ReleaseFile& file = m_record->files[item.index];
    for (int slash = item.key.Find('/'); slash >= 0; slash = item.key.Find('/', slash + 1)) {
      const Keyed parent = {item.key.Left(slash), 0};
      auto found = std::lower_bound(keys.begin(), keys.end(), parent);
      if (found == keys.end() || found->key != parent.key) continue;
      const ReleaseFile& other = m_record->files[found->index];
      const bool bothBefore = file.hasBase && other.hasBase;
      const bool bothAfter = file.hasResult && other.hasResult;
      if (bothBefore || bothAfter) {
        return Fail({nullptr, 0, m_lineOfFile[item.index]}, "the path ",
                    file.path + " runs through the file " + other.path);
      }
    }
  }
  return true;
}

bool CRecordParser::Parse(const char* text, size_t size) {
  std::vector<Line> lines;
  size_t start = 0;
  for (size_t i = 0; i < size; ++i) {
    if (text[i] == '\0' || text[i] == '\r') {
      return Fail({nullptr, 0, lines.size() + 1}, "the record holds a NUL or CR byte");
    }
    if (text[i] == '\n') {
      lines.push_back({text + start, i - start, lines.size() + 1});
      start = i + 1;
    }
  }
  if (start != size || lines.size() < 2) {
    return Fail({nullptr, 0, lines.size() + 1}, "the record ends before its last line ends");
  }
  if (!ParseHeader(lines[0]) || !ParseVersionLine(lines[1], "version", &m_record->version)) {
    return false;
  }
  size_t next = 2;
  m_record->isDelta = lines.size() > 2 && lines[2].size > 5 && Equals(lines[2].text, 5, "from ");
  if (m_record->isDelta) {
    if (!ParseVersionLine(lines[2], "from", &m_record->from)) return false;
    ++next;
  }
  for (; next < lines.size(); ++next) {
    if (!ParseFile(lines[next])) return false;
  }
  return CheckPathsTogether();
}

char HexDigit(unsigned value) {
  return "0123456789abcdef"[value & 15];
}

}  // namespace

bool ParseReleaseRecord(const char* text, size_t size, ReleaseRecord* record, CString* why) {
  *record = ReleaseRecord();
  why->Empty();
  CRecordParser parser(record, why);
  return parser.Parse(text, size);
}

CString FormatReleaseRecord(const ReleaseRecord& record) {
  CString text;
  text.Format("%s %d\nversion %s\n", kHeader, kReleaseFormatVersion,
              FormatVersion(record.version).GetString());
  if (record.isDelta) text += "from " + FormatVersion(record.from) + "\n";
  for (const ReleaseFile& file : record.files) {
    CString size("-");
    if (file.hasResult) size.Format("%llu", static_cast<unsigned long long>(file.size));
    text += kActionNames[static_cast<int>(file.action)];
    text += ' ';
    text += file.hasBase ? Sha256ToHex(file.base) : CString("-");
    text += ' ';
    text += file.hasResult ? Sha256ToHex(file.result) : CString("-");
    text += ' ' + size + ' ' + file.path + '\n';
  }
  return text;
}

CString ReleasePatchEntryName(size_t ordinal) {
  CString name;
  name.Format("%s%llu", kReleasePatchFolder, static_cast<unsigned long long>(ordinal));
  return name;
}

CString Sha256ToHex(const Sha256Digest& digest) {
  char hex[2 * kSha256Size];
  for (size_t i = 0; i < kSha256Size; ++i) {
    hex[2 * i] = HexDigit(digest.bytes[i] >> 4);
    hex[2 * i + 1] = HexDigit(digest.bytes[i]);
  }
  return CString(hex, static_cast<int>(sizeof(hex)));
}

bool Sha256FromHex(const char* text, size_t size, Sha256Digest* digest) {
  if (size != 2 * kSha256Size) return false;
  for (size_t i = 0; i < size; ++i) {
    const char c = text[i];
    unsigned value = 0;
    if (c >= '0' && c <= '9') {
      value = static_cast<unsigned>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      value = static_cast<unsigned>(c - 'a' + 10);
    } else {
      return false;
    }
    if (i % 2 == 0) {
      digest->bytes[i / 2] = static_cast<unsigned char>(value << 4);
    } else {
      digest->bytes[i / 2] |= static_cast<unsigned char>(value);
    }
  }
  return true;
}
