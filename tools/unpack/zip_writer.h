// Writes zip archives that the updater reads back with everything it
// restores: each file deflated (zlib, raw deflate) or stored, its attribute
// bits (read-only, hidden, system, archive, directory) in the DOS byte of
// the external attributes, its last-write time as a DOS stamp in local time,
// and its last-write, last-access and creation times, to the second, in an
// extended-timestamp ("UT") block of the local header (the central one
// carries the last-write time, as Info-ZIP writes it). Names are stored as
// given ('/'-separated, relative), flagged UTF-8 when they are not ASCII.
//
// No Zip64: a file or an archive of 4 GiB or more, more than 65535 entries
// and names of kUnpackMaxPath bytes or more are refused with a reason.
// Failures leave a partial file at the path; the caller removes it.
#ifndef TOOLS_UNPACK_ZIP_WRITER_H_
#define TOOLS_UNPACK_ZIP_WRITER_H_

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "unzip/unpack.h"

struct ZipEntryMeta {
  uint32_t attributes = kUnpackAttrArchive;  // kUnpackAttr bits
  int64_t lastWrite = 0;                     // Unix seconds
  int64_t lastAccess = 0;
  int64_t creation = 0;
  bool hasAccess = false;
  bool hasCreation = false;
};

// Deflated bytes of a file held in memory, ready for AddPrepared.
struct ZipDeflated {
  std::string bytes;
  uint32_t crc = 0;
  uint64_t size = 0;  // uncompressed
};
bool ZipDeflate(const void* data, size_t size, ZipDeflated* out);

class CZipWriter {
 public:
  // Creates (or truncates) the archive at path. False, with *why, when it
  // cannot be written.
  bool Open(const std::string& path, std::string* why);

  // name ends in '/'.
  bool AddDirectory(const std::string& name, const ZipEntryMeta& meta, std::string* why);
  // The file at path, read and deflated a piece at a time.
  bool AddFile(const std::string& name, const ZipEntryMeta& meta, const std::string& path,
               std::string* why);
  // Bytes in memory, stored as they are (method 0).
  bool AddStored(const std::string& name, const ZipEntryMeta& meta, const void* data, size_t size,
                 std::string* why);
  // Bytes already deflated by ZipDeflate.
  bool AddPrepared(const std::string& name, const ZipEntryMeta& meta, const ZipDeflated& deflated,
                   std::string* why);

  // Moves the entry added last to the front of the central directory, so
  // that it is entry 0 for every reader.
  void ListLastFirst();

  // Writes the central directory and closes the file.
  bool Finish(std::string* why);

 private:
  struct Central {
    std::string name;
    ZipEntryMeta meta;
    uint16_t method;
    uint32_t crc;
    uint32_t packed;
    uint32_t size;
    uint32_t offset;
  };
  bool BeginEntry(const std::string& name, const ZipEntryMeta& meta, uint16_t method,
                  std::string* why);
  bool EndEntry(uint32_t crc, uint64_t packed, uint64_t size, std::string* why);
  bool Written(std::string* why);

  std::ofstream m_out;
  std::string m_path;
  uint64_t m_position = 0;
  std::vector<Central> m_central;
};

#endif  // TOOLS_UNPACK_ZIP_WRITER_H_
