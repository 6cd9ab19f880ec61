// Writes zip archives byte by byte for tests, with every field under the
// test's control: the local header can be made to disagree with its central
// record, extra fields differ between the two, lengths can point past the
// end of the file. Portable; builds natively and for Windows.
#ifndef TESTING_ZIP_BUILDER_H_
#define TESTING_ZIP_BUILDER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zipbuild {

// Host bytes (high byte of "version made by").
const uint8_t kHostDos = 0;
const uint8_t kHostUnix = 3;
const uint8_t kHostNtfs = 11;

// DOS date and time fields of a calendar time (no validation).
uint16_t DosDate(int year, int month, int day);
uint16_t DosTime(int hour, int minute, int second);

// An extended-timestamp ("UT") extra block with the given flags and times
// (as many times as given, whatever the flags say).
std::string UtBlock(uint8_t flags, const std::vector<int32_t>& times);
// Any extra block: tag, 16-bit data length, data.
std::string ExtraBlock(uint16_t tag, const std::string& data);

// One entry. Plain data; fields left alone give a well-formed entry.
struct ZipEntry {
  std::string name;
  std::string data;     // the entry's uncompressed bytes
  uint16_t method = 0;  // 0 stored, 8 deflated (compressed here); other
                        // values store data as is under that method number
  uint8_t host = kHostDos;
  uint8_t version = 20;  // low byte of "version made by"
  uint16_t versionNeeded = 20;
  uint16_t flags = 0;  // general-purpose bits
  uint16_t dosTime = 0;
  uint16_t dosDate = (1 << 5) | 1;  // 1980-01-01
  uint32_t externalAttributes = 0;
  uint16_t internalAttributes = 0;
  std::string localExtra;
  std::string centralExtra;
  std::string comment;
  // When set, the data is encrypted with the traditional cipher under this
  // password (bit 0 is then set in both headers); the check byte follows
  // bit 3 of flags (high byte of dosTime when set, of the CRC-32 otherwise).
  std::optional<std::string> password;

  // Overrides of what the local header says (default: agree with central).
  std::optional<uint32_t> localSignature;
  std::optional<uint16_t> localFlags;
  std::optional<uint16_t> localMethod;
  std::optional<uint32_t> localCrc;
  std::optional<uint32_t> localCompressedSize;
  std::optional<uint32_t> localUncompressedSize;
  std::optional<uint16_t> localNameLength;   // the name bytes stay as they are
  std::optional<uint16_t> localExtraLength;  // the extra bytes stay as they are

  // Overrides of the central record.
  std::optional<uint32_t> centralSignature;
  std::optional<uint32_t> centralCrc;
  std::optional<uint32_t> centralCompressedSize;
  std::optional<uint32_t> centralUncompressedSize;
  std::optional<uint32_t> centralLocalOffset;
};

class ZipBuilder {
 public:
  ZipBuilder& Add(const ZipEntry& entry);
  // A stored file entry with the given name and content.
  ZipBuilder& AddFile(const std::string& name, const std::string& data);

  // Overrides of the end-of-central-directory record.
  std::optional<uint16_t> entryCountOverride;  // both entry counts
  std::optional<uint32_t> centralSizeOverride;
  std::optional<uint32_t> centralOffsetOverride;
  // When set, zip64 end records (record and locator) carry this entry count
  // and the central directory's size and offset; the plain end record then
  // holds 0xFFFF and 0xFFFFFFFF in their place.
  std::optional<uint64_t> zip64EntryCount;
  std::string archiveComment;
  std::string prefix;  // bytes placed before the first local header

  // The archive's bytes. With no entries: the 22-byte empty archive.
  std::string Build() const;
  // Writes Build() to path; false when the file cannot be written.
  bool Save(const std::string& path) const;

  const std::vector<ZipEntry>& entries() const { return m_entries; }

 private:
  std::vector<ZipEntry> m_entries;
};

// Raw deflate (no zlib header) of data, or an empty string on failure.
std::string Deflate(const std::string& data);
// CRC-32 of data.
uint32_t Crc32(const std::string& data);
// Writes bytes to path; false on failure.
bool SaveBytes(const std::string& path, const std::string& bytes);
// size pseudo-random bytes from seed, which deflate cannot shrink much.
std::string NoisyBytes(size_t size, uint32_t seed);

}  // namespace zipbuild

#endif  // TESTING_ZIP_BUILDER_H_
