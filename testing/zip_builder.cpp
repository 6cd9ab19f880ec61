#include "testing/zip_builder.h"

#include <zlib.h>

#include <cstdio>

#include "unzip/extract/zip_crypto.h"

namespace zipbuild {

namespace {

void Put16(std::string* out, uint32_t value) {
  out->push_back(static_cast<char>(value & 0xFF));
  out->push_back(static_cast<char>((value >> 8) & 0xFF));
}

void Put32(std::string* out, uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

void Put64(std::string* out, uint64_t value) {
  Put32(out, static_cast<uint32_t>(value & 0xFFFFFFFF));
  Put32(out, static_cast<uint32_t>(value >> 32));
}

}  // namespace

uint16_t DosDate(int year, int month, int day) {
  return static_cast<uint16_t>(((year - 1980) << 9) | (month << 5) | day);
}

uint16_t DosTime(int hour, int minute, int second) {
  return static_cast<uint16_t>((hour << 11) | (minute << 5) | (second / 2));
}

std::string ExtraBlock(uint16_t tag, const std::string& data) {
  std::string out;
  Put16(&out, tag);
  Put16(&out, static_cast<uint32_t>(data.size()));
  return out + data;
}

std::string UtBlock(uint8_t flags, const std::vector<int32_t>& times) {
  std::string data(1, static_cast<char>(flags));
  for (int32_t t : times) Put32(&data, static_cast<uint32_t>(t));
  return ExtraBlock(0x5455, data);
}

std::string Deflate(const std::string& data) {
  z_stream stream = {};
  if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) !=
      Z_OK) {
    return std::string();
  }
  std::string out(deflateBound(&stream, static_cast<uLong>(data.size())) + 16, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
  stream.avail_out = static_cast<uInt>(out.size());
  int rc = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return rc == Z_STREAM_END ? out : std::string();
}

uint32_t Crc32(const std::string& data) {
  return static_cast<uint32_t>(
      crc32(0L, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

ZipBuilder& ZipBuilder::Add(const ZipEntry& entry) {
  m_entries.push_back(entry);
  return *this;
}

ZipBuilder& ZipBuilder::AddFile(const std::string& name, const std::string& data) {
  ZipEntry entry;
  entry.name = name;
  entry.data = data;
  return Add(entry);
}

std::string ZipBuilder::Build() const {
  std::string out = prefix;
  std::string central;
  for (const ZipEntry& e : m_entries) {
    std::string packed = e.method == 8 ? Deflate(e.data) : e.data;
    const uint32_t crc = Crc32(e.data);
    uint16_t flags = e.flags;
    if (e.password) {
      flags |= 1;
      std::string header = "0123456789A";
      header += static_cast<char>((flags & 8) ? (e.dosTime >> 8) : (crc >> 24));
      packed = header + packed;
      ZipCryptoKeys keys;
      ZipCryptoInit(&keys, e.password->c_str());
      ZipCryptoEncrypt(&keys, reinterpret_cast<unsigned char*>(&packed[0]), packed.size());
    }
    const uint32_t offset = static_cast<uint32_t>(out.size());
    const uint32_t dosStamp = (static_cast<uint32_t>(e.dosDate) << 16) | e.dosTime;

    Put32(&out, e.localSignature.value_or(0x04034B50));
    Put16(&out, e.versionNeeded);
    Put16(&out, e.localFlags.value_or(flags));
    Put16(&out, e.localMethod.value_or(e.method));
    Put32(&out, dosStamp);
    Put32(&out, e.localCrc.value_or(crc));
    Put32(&out, e.localCompressedSize.value_or(static_cast<uint32_t>(packed.size())));
    Put32(&out, e.localUncompressedSize.value_or(static_cast<uint32_t>(e.data.size())));
    Put16(&out, e.localNameLength.value_or(static_cast<uint16_t>(e.name.size())));
    Put16(&out, e.localExtraLength.value_or(static_cast<uint16_t>(e.localExtra.size())));
    out += e.name;
    out += e.localExtra;
    out += packed;

    Put32(&central, e.centralSignature.value_or(0x02014B50));
    Put16(&central, (static_cast<uint32_t>(e.host) << 8) | e.version);
    Put16(&central, e.versionNeeded);
    Put16(&central, flags);
    Put16(&central, e.method);
    Put32(&central, dosStamp);
    Put32(&central, e.centralCrc.value_or(crc));
    Put32(&central, e.centralCompressedSize.value_or(static_cast<uint32_t>(packed.size())));
    Put32(&central, e.centralUncompressedSize.value_or(static_cast<uint32_t>(e.data.size())));
    Put16(&central, static_cast<uint32_t>(e.name.size()));
    Put16(&central, static_cast<uint32_t>(e.centralExtra.size()));
    Put16(&central, static_cast<uint32_t>(e.comment.size()));
    Put16(&central, 0);  // disk number start
    Put16(&central, e.internalAttributes);
    Put32(&central, e.externalAttributes);
    Put32(&central, e.centralLocalOffset.value_or(offset));
    central += e.name;
    central += e.centralExtra;
    central += e.comment;
  }
  const uint32_t centralOffset = static_cast<uint32_t>(out.size());
  out += central;
  uint16_t count = entryCountOverride.value_or(static_cast<uint16_t>(m_entries.size()));
  uint32_t centralSize = centralSizeOverride.value_or(static_cast<uint32_t>(central.size()));
  uint32_t centralStart = centralOffsetOverride.value_or(centralOffset);
  if (zip64EntryCount.has_value()) {
    const uint32_t recordOffset = static_cast<uint32_t>(out.size());
    Put32(&out, 0x06064B50);
    Put64(&out, 44);  // size of the rest of the record
    Put16(&out, 45);  // version made by
    Put16(&out, 45);  // version needed
    Put32(&out, 0);   // this disk
    Put32(&out, 0);   // disk with the central directory
    Put64(&out, *zip64EntryCount);
    Put64(&out, *zip64EntryCount);
    Put64(&out, centralSize);
    Put64(&out, centralStart);
    Put32(&out, 0x07064B50);  // the locator
    Put32(&out, 0);
    Put64(&out, recordOffset);
    Put32(&out, 1);  // total disks
    count = 0xFFFF;
    centralSize = 0xFFFFFFFF;
    centralStart = 0xFFFFFFFF;
  }
  Put32(&out, 0x06054B50);
  Put16(&out, 0);  // this disk
  Put16(&out, 0);  // disk with the central directory
  Put16(&out, count);
  Put16(&out, count);
  Put32(&out, centralSize);
  Put32(&out, centralStart);
  Put16(&out, static_cast<uint32_t>(archiveComment.size()));
  out += archiveComment;
  return out;
}

bool ZipBuilder::Save(const std::string& path) const {
  return SaveBytes(path, Build());
}

bool SaveBytes(const std::string& path, const std::string& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

std::string NoisyBytes(size_t size, uint32_t seed) {
  std::string bytes(size, '\0');
  for (char& byte : bytes) {
    seed = seed * 1664525u + 1013904223u;
    byte = static_cast<char>(seed >> 24);
  }
  return bytes;
}

}  // namespace zipbuild
