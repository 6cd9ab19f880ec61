#include "tools/unpack/release_commands.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include "tools/unpack/patch_encoder.h"
#include "tools/unpack/product_folder.h"
#include "tools/unpack/zip_writer.h"
#include "updater/release/release_record.h"

namespace fs = std::filesystem;

namespace {

// Positional arguments and --version/--from/--to values.
struct Arguments {
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;
};

bool ParseArguments(int argc, char** argv, Arguments* out) {
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--version" || arg == "--from" || arg == "--to") {
      if (i + 1 == argc || out->options.count(arg) != 0) return false;
      out->options[arg] = argv[++i];
    } else if (arg.size() > 1 && arg.compare(0, 2, "--") == 0) {
      return false;
    } else {
      out->positional.push_back(arg);
    }
  }
  return true;
}

bool ParseVersionOption(const Arguments& args, const char* name, ReleaseVersion* version) {
  auto found = args.options.find(name);
  if (found != args.options.end() && ParseVersion(found->second.c_str(), version)) return true;
  std::fprintf(stderr, "unpack: %s needs a version of dotted numbers such as 2.0.0\n", name);
  return false;
}

bool HashFile(const fs::path& path, Sha256Digest* digest) {
  std::ifstream in(path, std::ios::binary);
  CSha256 hash;
  std::vector<char> buffer(1 << 16);
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    hash.Update(buffer.data(), static_cast<size_t>(in.gcount()));
  }
  return !in.bad() && in.eof() && hash.Finish(digest);
}

// The archive under construction: written to OUT.partial, renamed to OUT
// when complete, removed on failure.
class CArchiveOutput {
 public:
  CArchiveOutput(const fs::path& out, ReleaseRecord* record)
      : m_out(out), m_partial(out.u8string() + ".partial"), m_record(record) {}
  ~CArchiveOutput() {
    std::error_code ignored;
    if (!m_done) fs::remove(m_partial, ignored);
  }

  bool Open(std::string* why) { return m_writer.Open(m_partial.string(), why); }
  CZipWriter& writer() { return m_writer; }

  // Adds the record as entry 0, closes the archive and puts it in place.
  bool Finish(std::string* why) {
    const CString text = FormatReleaseRecord(*m_record);
    ReleaseRecord check;
    CString problem;
    if (!ParseReleaseRecord(text.GetString(), static_cast<size_t>(text.GetLength()), &check,
                            &problem)) {
      *why = std::string("the release record would be refused: ") + problem.GetString();
      return false;
    }
    ZipDeflated deflated;
    ZipEntryMeta meta;
    meta.lastWrite = static_cast<int64_t>(std::time(nullptr));
    if (!ZipDeflate(text.GetString(), static_cast<size_t>(text.GetLength()), &deflated) ||
        !m_writer.AddPrepared(kReleaseRecordName, meta, deflated, why)) {
      return false;
    }
    m_writer.ListLastFirst();
    if (!m_writer.Finish(why)) return false;
    std::error_code error;
    fs::remove(m_out, error);
    fs::rename(m_partial, m_out, error);
    if (error) {
      *why = "cannot put the archive in place as " + m_out.u8string() + ": " + error.message();
      return false;
    }
    m_done = true;
    return true;
  }

 private:
  fs::path m_out;
  fs::path m_partial;
  ReleaseRecord* m_record;
  CZipWriter m_writer;
  bool m_done = false;
};

// Refuses an archive written into the folder it is made of.
bool OutsideFolder(const fs::path& out, const fs::path& folder) {
  std::error_code error;
  const fs::path relative =
      fs::weakly_canonical(out, error).lexically_relative(fs::weakly_canonical(folder, error));
  if (!relative.empty() && *relative.begin() != "..") {
    std::fprintf(stderr, "unpack: %s lies inside %s; write the archive elsewhere\n",
                 out.u8string().c_str(), folder.u8string().c_str());
    return false;
  }
  return true;
}

ReleaseFile WriteLine(const ProductItem& item, const Sha256Digest& hash) {
  ReleaseFile file;
  file.action = ReleaseAction::kWrite;
  file.hasResult = true;
  file.result = hash;
  file.size = item.size;
  file.path = item.name.c_str();
  return file;
}

// Writes item whole, hashing it on the way: the bytes hashed are the bytes
// that were read for the archive.
bool AddWhole(CZipWriter& writer, const ProductItem& item, ReleaseFile* line, std::string* why) {
  std::string bytes;
  if (item.size <= kMaxPatchedFileSize) {
    ZipDeflated deflated;
    if (!ReadFileBytes(item.path, &bytes) || !ZipDeflate(bytes.data(), bytes.size(), &deflated)) {
      *why = "cannot read " + item.name;
      return false;
    }
    Sha256Of(bytes.data(), bytes.size(), &line->result);
    line->size = bytes.size();
    return writer.AddPrepared(item.name, item.meta, deflated, why);
  }
  if (!HashFile(item.path, &line->result)) {
    *why = "cannot read " + item.name;
    return false;
  }
  return writer.AddFile(item.name, item.meta, item.path.string(), why);
}

int Finish(CArchiveOutput& output, const char* what, const fs::path& out) {
  std::string why;
  if (!output.Finish(&why)) {
    std::fprintf(stderr, "unpack: %s\n", why.c_str());
    return 1;
  }
  std::error_code error;
  std::printf("made %s: %s, %" PRIu64 " bytes\n", out.u8string().c_str(), what,
              static_cast<uint64_t>(fs::file_size(out, error)));
  return 0;
}

int Fail(const std::string& why) {
  std::fprintf(stderr, "unpack: %s\n", why.c_str());
  return 1;
}

}  // namespace

int MakeCommand(int argc, char** argv) {
  Arguments args;
  ReleaseRecord record;
  if (!ParseArguments(argc, argv, &args) || args.positional.size() != 2 ||
      args.options.size() != 1) {
    std::fprintf(stderr, "usage: unpack make FOLDER OUT.zip --version B\n");
    return 2;
  }
  if (!ParseVersionOption(args, "--version", &record.version)) return 2;
  const fs::path folder = fs::path(args.positional[0]);
  const fs::path out = fs::path(args.positional[1]);
  if (!OutsideFolder(out, folder)) return 2;
  std::vector<ProductItem> items;
  std::string why;
  if (!ScanProductFolder(folder, &items, &why)) return Fail(why);
  CArchiveOutput output(out, &record);
  if (!output.Open(&why)) return Fail(why);
  size_t folders = 0;
  for (const ProductItem& item : items) {
    if (item.isDirectory) {
      ++folders;
      if (!output.writer().AddDirectory(item.name, item.meta, &why)) return Fail(why);
      continue;
    }
    ReleaseFile line = WriteLine(item, Sha256Digest());
    if (!AddWhole(output.writer(), item, &line, &why)) return Fail(why);
    record.files.push_back(line);
  }
  const std::string what = "version " + std::string(FormatVersion(record.version).GetString()) +
                           ", " + std::to_string(record.files.size()) + " files, " +
                           std::to_string(folders) + " folders";
  return Finish(output, what.c_str(), out);
}

namespace {

struct DeltaCounts {
  size_t written = 0, patched = 0, deleted = 0, kept = 0;
};

// One file of the new folder against its old copy (same name or one
// Windows takes for it): kept, patched, or written whole.
bool AddChanged(CZipWriter& writer, const ProductItem& old, const ProductItem& item,
                std::vector<ReleaseFile>* lines, DeltaCounts* counts, std::string* why) {
  ReleaseFile line = WriteLine(item, Sha256Digest());
  line.hasBase = true;
  const bool sameFile = old.name == item.name && old.meta.attributes == item.meta.attributes;
  if (item.size > kMaxPatchedFileSize || old.size > kMaxPatchedFileSize || old.name != item.name) {
    // Never patched: kept when unchanged, else sent whole.
    if (!HashFile(old.path, &line.base) || !HashFile(item.path, &line.result)) {
      *why = "cannot read " + item.name;
      return false;
    }
    lines->push_back(line);
    if (sameFile && line.base == line.result) {
      lines->back().action = ReleaseAction::kKeep;
      ++counts->kept;
      return true;
    }
    ++counts->written;
    return AddWhole(writer, item, &lines->back(), why);
  }
  std::string base, result;
  if (!ReadFileBytes(old.path, &base) || !ReadFileBytes(item.path, &result)) {
    *why = "cannot read " + item.name;
    return false;
  }
  Sha256Of(base.data(), base.size(), &line.base);
  Sha256Of(result.data(), result.size(), &line.result);
  line.size = result.size();
  if (sameFile && line.base == line.result) {
    line.action = ReleaseAction::kKeep;
    lines->push_back(line);
    ++counts->kept;
    return true;
  }
  std::string patch;
  ZipDeflated whole;
  if (!MakePatch(base, result, kPatchLevel, &patch, why) ||
      !ZipDeflate(result.data(), result.size(), &whole)) {
    return false;
  }
  if (patch.size() < whole.bytes.size()) {
    line.action = ReleaseAction::kPatch;
    lines->push_back(line);
    return writer.AddStored(ReleasePatchEntryName(counts->patched++).GetString(), item.meta,
                            patch.data(), patch.size(), why);
  }
  lines->push_back(line);
  ++counts->written;
  return writer.AddPrepared(item.name, item.meta, whole, why);
}

}  // namespace

int DeltaCommand(int argc, char** argv) {
  Arguments args;
  ReleaseRecord record;
  record.isDelta = true;
  if (!ParseArguments(argc, argv, &args) || args.positional.size() != 3 ||
      args.options.size() != 2) {
    std::fprintf(stderr, "usage: unpack delta OLD_FOLDER NEW_FOLDER OUT.zip --from A --to B\n");
    return 2;
  }
  if (!ParseVersionOption(args, "--from", &record.from) ||
      !ParseVersionOption(args, "--to", &record.version)) {
    return 2;
  }
  if (CompareVersions(record.version, record.from) <= 0) {
    std::fprintf(stderr, "unpack: --to must be a version above --from\n");
    return 2;
  }
  const fs::path oldFolder = fs::path(args.positional[0]);
  const fs::path newFolder = fs::path(args.positional[1]);
  const fs::path out = fs::path(args.positional[2]);
  if (!OutsideFolder(out, newFolder) || !OutsideFolder(out, oldFolder)) return 2;
  std::vector<ProductItem> oldItems, newItems;
  std::string why;
  if (!ScanProductFolder(oldFolder, &oldItems, &why) ||
      !ScanProductFolder(newFolder, &newItems, &why)) {
    return Fail(why);
  }
  std::map<std::string, const ProductItem*> oldByKey;
  for (const ProductItem& item : oldItems) oldByKey[item.key] = &item;

  CArchiveOutput output(out, &record);
  if (!output.Open(&why)) return Fail(why);
  DeltaCounts counts;
  std::map<std::string, bool> inNew;
  for (const ProductItem& item : newItems) {
    if (!item.isDirectory) inNew[item.key] = true;
    auto old = oldByKey.find(item.key);
    const bool hasOld = old != oldByKey.end() && old->second->isDirectory == item.isDirectory;
    if (item.isDirectory) {
      if (!hasOld && !output.writer().AddDirectory(item.name, item.meta, &why)) return Fail(why);
      continue;
    }
    bool added = false;
    if (hasOld) {
      added = AddChanged(output.writer(), *old->second, item, &record.files, &counts, &why);
    } else {
      record.files.push_back(WriteLine(item, Sha256Digest()));
      ++counts.written;
      added = AddWhole(output.writer(), item, &record.files.back(), &why);
    }
    if (!added) return Fail(why);
  }
  for (const ProductItem& item : oldItems) {
    if (item.isDirectory || inNew.count(item.key) != 0) continue;
    ReleaseFile line;
    line.action = ReleaseAction::kDelete;
    line.hasBase = true;
    line.path = item.name.c_str();
    if (!HashFile(item.path, &line.base)) return Fail("cannot read " + item.path.u8string());
    record.files.push_back(line);
    ++counts.deleted;
  }
  const std::string what =
      "delta from " + std::string(FormatVersion(record.from).GetString()) + " to " +
      FormatVersion(record.version).GetString() + ", " + std::to_string(counts.written) +
      " written whole, " + std::to_string(counts.patched) + " patched, " +
      std::to_string(counts.deleted) + " deleted, " + std::to_string(counts.kept) + " kept";
  return Finish(output, what.c_str(), out);
}
