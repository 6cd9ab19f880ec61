#include "tools/unpack/zip_writer.h"

#include <zlib.h>

#include <ctime>
#include <memory>

namespace {

const uint32_t kLocalSignature = 0x04034b50;
const uint32_t kCentralSignature = 0x02014b50;
const uint32_t kEndSignature = 0x06054b50;
const uint16_t kVersion = 20;  // deflate; DOS host (attributes in the low byte)
const uint16_t kFlagUtf8 = 0x0800;
const uint16_t kTimestampTag = 0x5455;  // "UT"
const size_t kLocalHeaderSize = 30;
const int kDeflateLevel = 9;
const size_t kPieceSize = 1 << 16;
const uint64_t kZip32Limit = 0xFFFFFFFFull;

void Put16(std::string* out, uint32_t value) {
  out->push_back(static_cast<char>(value & 0xFF));
  out->push_back(static_cast<char>((value >> 8) & 0xFF));
}

void Put32(std::string* out, uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

// The DOS stamp (date high, time low) of a Unix time in local time; the
// earliest DOS time for times before 1980 or unknown to the C library.
uint32_t DosStamp(int64_t seconds) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  const std::tm* local = std::localtime(&t);
  if (local == nullptr || local->tm_year < 80 || local->tm_year > 207)
    return (1u << 21) | (1u << 16);
  const uint32_t date = static_cast<uint32_t>(((local->tm_year - 80) << 9) |
                                              ((local->tm_mon + 1) << 5) | local->tm_mday);
  const uint32_t time =
      static_cast<uint32_t>((local->tm_hour << 11) | (local->tm_min << 5) | (local->tm_sec / 2));
  return (date << 16) | time;
}

bool FitsUnixTime(int64_t seconds) {
  return seconds >= INT32_MIN && seconds <= INT32_MAX;
}

// The UT block: the local header's with every time that fits 32 bits, the
// central one's with the last-write time only.
std::string TimestampBlock(const ZipEntryMeta& meta, bool local) {
  const int64_t times[3] = {meta.lastWrite, meta.lastAccess, meta.creation};
  const bool present[3] = {true, meta.hasAccess, meta.hasCreation};
  std::string data(1, '\0');
  for (int bit = 0; bit < 3; ++bit) {
    if (!present[bit] || !FitsUnixTime(times[bit])) continue;
    data[0] = static_cast<char>(data[0] | (1 << bit));
    if (local) Put32(&data, static_cast<uint32_t>(static_cast<int32_t>(times[bit])));
  }
  if (data[0] == 0) return std::string();
  if (!local && (data[0] & 1)) Put32(&data, static_cast<uint32_t>(static_cast<int32_t>(times[0])));
  std::string block;
  Put16(&block, kTimestampTag);
  Put16(&block, static_cast<uint32_t>(data.size()));
  return block + data;
}

bool IsAscii(const std::string& name) {
  for (unsigned char c : name) {
    if (c >= 0x80) return false;
  }
  return true;
}

struct DeflateEnd {
  void operator()(z_stream* stream) const { deflateEnd(stream); }
};

}  // namespace

bool ZipDeflate(const void* data, size_t size, ZipDeflated* out) {
  z_stream stream = {};
  if (deflateInit2(&stream, kDeflateLevel, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    return false;
  }
  std::unique_ptr<z_stream, DeflateEnd> owner(&stream);
  out->bytes.resize(deflateBound(&stream, static_cast<uLong>(size)) + 16);
  out->crc = 0;
  const Bytef* in = static_cast<const Bytef*>(data);
  size_t left = size;
  stream.next_out = reinterpret_cast<Bytef*>(&out->bytes[0]);
  stream.avail_out = static_cast<uInt>(out->bytes.size());
  int status = Z_OK;
  while (status == Z_OK) {
    const uInt piece = static_cast<uInt>(left < kPieceSize ? left : kPieceSize);
    out->crc = static_cast<uint32_t>(crc32(out->crc, in, piece));
    stream.next_in = const_cast<Bytef*>(in);
    stream.avail_in = piece;
    in += piece;
    left -= piece;
    status = deflate(&stream, left == 0 ? Z_FINISH : Z_NO_FLUSH);
    if (status == Z_BUF_ERROR) return false;
  }
  if (status != Z_STREAM_END) return false;
  out->bytes.resize(stream.total_out);
  out->size = size;
  return true;
}

bool CZipWriter::Open(const std::string& path, std::string* why) {
  m_path = path;
  m_out.open(path, std::ios::binary | std::ios::trunc);
  if (!m_out) *why = "cannot create " + path;
  return static_cast<bool>(m_out);
}

bool CZipWriter::Written(std::string* why) {
  if (m_out) return true;
  *why = "cannot write " + m_path;
  return false;
}

bool CZipWriter::BeginEntry(const std::string& name, const ZipEntryMeta& meta, uint16_t method,
                            std::string* why) {
  if (name.empty() || name.size() >= static_cast<size_t>(kUnpackMaxPath)) {
    *why = "the name " + name + " is too long for the updater";
    return false;
  }
  if (m_central.size() >= 0xFFFF || m_position > kZip32Limit) {
    *why = "the archive would need Zip64 (65535 entries or 4 GiB), which the updater does not read";
    return false;
  }
  m_central.push_back({name, meta, method, 0, 0, 0, static_cast<uint32_t>(m_position)});
  const std::string extra = TimestampBlock(meta, true);
  std::string header;
  Put32(&header, kLocalSignature);
  Put16(&header, kVersion);
  Put16(&header, IsAscii(name) ? 0 : kFlagUtf8);
  Put16(&header, method);
  Put32(&header, DosStamp(meta.lastWrite));
  Put32(&header, 0);  // CRC-32 and sizes: filled in by EndEntry
  Put32(&header, 0);
  Put32(&header, 0);
  Put16(&header, static_cast<uint32_t>(name.size()));
  Put16(&header, static_cast<uint32_t>(extra.size()));
  header += name + extra;
  m_out.write(header.data(), static_cast<std::streamsize>(header.size()));
  m_position += header.size();
  return Written(why);
}

bool CZipWriter::EndEntry(uint32_t crc, uint64_t packed, uint64_t size, std::string* why) {
  Central& entry = m_central.back();
  if (packed > kZip32Limit || size > kZip32Limit || m_position > kZip32Limit) {
    *why = entry.name + " is 4 GiB or more, which needs Zip64; the updater does not read it";
    return false;
  }
  entry.crc = crc;
  entry.packed = static_cast<uint32_t>(packed);
  entry.size = static_cast<uint32_t>(size);
  std::string fields;
  Put32(&fields, crc);
  Put32(&fields, entry.packed);
  Put32(&fields, entry.size);
  m_out.seekp(static_cast<std::streamoff>(entry.offset + 14));
  m_out.write(fields.data(), static_cast<std::streamsize>(fields.size()));
  m_out.seekp(static_cast<std::streamoff>(m_position));
  return Written(why);
}

bool CZipWriter::AddDirectory(const std::string& name, const ZipEntryMeta& meta, std::string* why) {
  ZipEntryMeta directory = meta;
  directory.attributes |= kUnpackAttrDirectory;
  return BeginEntry(name, directory, 0, why) && EndEntry(0, 0, 0, why);
}

bool CZipWriter::AddStored(const std::string& name, const ZipEntryMeta& meta, const void* data,
                           size_t size, std::string* why) {
  if (!BeginEntry(name, meta, 0, why)) return false;
  const uint32_t crc = static_cast<uint32_t>(
      crc32_z(0, static_cast<const Bytef*>(data), static_cast<z_size_t>(size)));
  m_out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  m_position += size;
  return Written(why) && EndEntry(crc, size, size, why);
}

bool CZipWriter::AddPrepared(const std::string& name, const ZipEntryMeta& meta,
                             const ZipDeflated& deflated, std::string* why) {
  if (!BeginEntry(name, meta, 8, why)) return false;
  m_out.write(deflated.bytes.data(), static_cast<std::streamsize>(deflated.bytes.size()));
  m_position += deflated.bytes.size();
  return Written(why) && EndEntry(deflated.crc, deflated.bytes.size(), deflated.size, why);
}

bool CZipWriter::AddFile(const std::string& name, const ZipEntryMeta& meta, const std::string& path,
                         std::string* why) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *why = "cannot read " + path;
    return false;
  }
  if (!BeginEntry(name, meta, 8, why)) return false;
  z_stream stream = {};
  if (deflateInit2(&stream, kDeflateLevel, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    *why = "zlib cannot start";
    return false;
  }
  std::unique_ptr<z_stream, DeflateEnd> owner(&stream);
  std::unique_ptr<char[]> input(new char[kPieceSize]);
  std::unique_ptr<char[]> output(new char[kPieceSize]);
  uint32_t crc = 0;
  uint64_t size = 0;
  int flush = Z_NO_FLUSH;
  while (flush != Z_FINISH) {
    in.read(input.get(), kPieceSize);
    const size_t got = static_cast<size_t>(in.gcount());
    if (in.bad()) {
      *why = "cannot read " + path;
      return false;
    }
    flush = in.eof() ? Z_FINISH : Z_NO_FLUSH;
    crc = static_cast<uint32_t>(
        crc32(crc, reinterpret_cast<Bytef*>(input.get()), static_cast<uInt>(got)));
    size += got;
    stream.next_in = reinterpret_cast<Bytef*>(input.get());
    stream.avail_in = static_cast<uInt>(got);
    do {
      stream.next_out = reinterpret_cast<Bytef*>(output.get());
      stream.avail_out = static_cast<uInt>(kPieceSize);
      if (deflate(&stream, flush) == Z_STREAM_ERROR) {
        *why = "zlib failed on " + path;
        return false;
      }
      const size_t produced = kPieceSize - stream.avail_out;
      m_out.write(output.get(), static_cast<std::streamsize>(produced));
      m_position += produced;
    } while (stream.avail_out == 0);
  }
  return Written(why) && EndEntry(crc, stream.total_out, size, why);
}

void CZipWriter::ListLastFirst() {
  if (m_central.size() < 2) return;
  Central last = m_central.back();
  m_central.pop_back();
  m_central.insert(m_central.begin(), last);
}

bool CZipWriter::Finish(std::string* why) {
  const uint64_t start = m_position;
  std::string directory;
  for (const Central& entry : m_central) {
    const std::string extra = TimestampBlock(entry.meta, false);
    Put32(&directory, kCentralSignature);
    Put16(&directory, kVersion);  // made by: DOS host
    Put16(&directory, kVersion);  // needed
    Put16(&directory, IsAscii(entry.name) ? 0 : kFlagUtf8);
    Put16(&directory, entry.method);
    Put32(&directory, DosStamp(entry.meta.lastWrite));
    Put32(&directory, entry.crc);
    Put32(&directory, entry.packed);
    Put32(&directory, entry.size);
    Put16(&directory, static_cast<uint32_t>(entry.name.size()));
    Put16(&directory, static_cast<uint32_t>(extra.size()));
    Put16(&directory, 0);  // comment
    Put16(&directory, 0);  // disk
    Put16(&directory, 0);  // internal attributes
    Put32(&directory, entry.meta.attributes & 0x37);
    Put32(&directory, entry.offset);
    directory += entry.name + extra;
  }
  const uint64_t directorySize = directory.size();
  if (start + directorySize > kZip32Limit) {
    *why = "the archive would be 4 GiB or more, which needs Zip64; the updater does not read it";
    return false;
  }
  Put32(&directory, kEndSignature);
  Put16(&directory, 0);
  Put16(&directory, 0);
  Put16(&directory, static_cast<uint32_t>(m_central.size()));
  Put16(&directory, static_cast<uint32_t>(m_central.size()));
  Put32(&directory, static_cast<uint32_t>(directorySize));
  Put32(&directory, static_cast<uint32_t>(start));
  Put16(&directory, 0);
  m_out.write(directory.data(), static_cast<std::streamsize>(directory.size()));
  m_out.close();
  if (!m_out) {
    *why = "cannot write " + m_path;
    return false;
  }
  return true;
}
