#include "unzip/archive/unpack_source.h"

#include <gtest/gtest.h>

#include <string>

#include "testing/zip_builder.h"
#include "testing/unpack_test_util.h"

namespace {

// The source as minizip sees it: through its file functions.
class CSourceReader {
 public:
  explicit CSourceReader(const std::string& path) {
    UnpackSource* source = UnpackSourceOpen(path.c_str());
    EXPECT_NE(source, nullptr);
    UnpackSourceFileFunctions(source, &m_functions);
    m_stream = m_functions.zopen64_file(m_functions.opaque, path.c_str(), 0);
  }
  ~CSourceReader() {
    if (m_stream != nullptr) m_functions.zclose_file(m_functions.opaque, m_stream);
  }
  CSourceReader(const CSourceReader&) = delete;
  CSourceReader& operator=(const CSourceReader&) = delete;

  long Seek(uint64_t offset, int origin) {
    return m_functions.zseek64_file(m_functions.opaque, m_stream, offset, origin);
  }
  uint64_t Tell() { return m_functions.ztell64_file(m_functions.opaque, m_stream); }
  std::string Read(size_t size) {
    std::string out(size, '\0');
    const uLong got =
        m_functions.zread_file(m_functions.opaque, m_stream, &out[0], static_cast<uLong>(size));
    out.resize(got);
    return out;
  }
  bool Failed() { return m_functions.zerror_file(m_functions.opaque, m_stream) != 0; }

 private:
  zlib_filefunc64_def m_functions = {};
  voidpf m_stream = nullptr;
};

TEST(UnpackSource, ReadsAcrossPiecesAndSeeksAnywhere) {
  CTempDir dir;
  std::string content;
  for (int i = 0; i < 100000; ++i) content.push_back(static_cast<char>((i * 131) ^ (i >> 8)));
  const std::string path = dir.File("bytes.bin");
  ASSERT_TRUE(zipbuild::SaveBytes(path, content));
  CSourceReader reader(path);

  struct Step {
    uint64_t offset;
    int origin;
    size_t size;
  };
  // Byte reads, reads across a piece boundary, reads longer than a piece,
  // jumps back and forth between two places, reads at and past the end.
  const Step steps[] = {
      {0, ZLIB_FILEFUNC_SEEK_SET, 1},
      {16383, ZLIB_FILEFUNC_SEEK_SET, 2},
      {90000, ZLIB_FILEFUNC_SEEK_SET, 4},
      {10, ZLIB_FILEFUNC_SEEK_SET, 46},
      {89990, ZLIB_FILEFUNC_SEEK_SET, 30},
      {100, ZLIB_FILEFUNC_SEEK_SET, 40000},
      {5, ZLIB_FILEFUNC_SEEK_CUR, 3},
      {static_cast<uint64_t>(-22), ZLIB_FILEFUNC_SEEK_END, 22},
      {static_cast<uint64_t>(-5), ZLIB_FILEFUNC_SEEK_END, 100},
      {0, ZLIB_FILEFUNC_SEEK_END, 10},
      {200000, ZLIB_FILEFUNC_SEEK_SET, 10},
      {0, ZLIB_FILEFUNC_SEEK_SET, 100000},
  };
  uint64_t position = 0;
  for (const Step& step : steps) {
    ASSERT_EQ(reader.Seek(step.offset, step.origin), 0);
    if (step.origin == ZLIB_FILEFUNC_SEEK_SET) position = step.offset;
    if (step.origin == ZLIB_FILEFUNC_SEEK_CUR) position += step.offset;
    if (step.origin == ZLIB_FILEFUNC_SEEK_END) position = content.size() + step.offset;
    EXPECT_EQ(reader.Tell(), position);
    const std::string expected =
        position < content.size() ? content.substr(position, step.size) : std::string();
    EXPECT_EQ(reader.Read(step.size), expected) << "at " << position << " size " << step.size;
    position += expected.size();
    EXPECT_EQ(reader.Tell(), position);
  }
  EXPECT_FALSE(reader.Failed());
  // A position before the start of the file is refused.
  EXPECT_NE(reader.Seek(static_cast<uint64_t>(-200001), ZLIB_FILEFUNC_SEEK_END), 0);
  EXPECT_NE(reader.Seek(static_cast<uint64_t>(-1), ZLIB_FILEFUNC_SEEK_SET), 0);
}

TEST(UnpackSource, ReadsTheFileInPiecesOfAtMost16384Bytes) {
  CTempDir dir;
  const std::string path = dir.File("big.bin");
  ASSERT_TRUE(zipbuild::SaveBytes(path, std::string(3 * 16384 + 5, 'b')));
  CSourceReader reader(path);
  const uint64_t before = UnpackSourceFileReadCount();
  EXPECT_EQ(reader.Read(3 * 16384 + 5).size(), 3u * 16384 + 5);
  // Four pieces; the platform read of the last piece also meets the end.
  EXPECT_GE(UnpackSourceFileReadCount() - before, 4u);
  // Bytes in a held piece are served without the file.
  const uint64_t held = UnpackSourceFileReadCount();
  ASSERT_EQ(reader.Seek(3 * 16384, ZLIB_FILEFUNC_SEEK_SET), 0);
  EXPECT_EQ(reader.Read(5), "bbbbb");
  EXPECT_EQ(UnpackSourceFileReadCount(), held);
}

TEST(UnpackSource, MissingFileGivesNoSource) {
  CTempDir dir;
  EXPECT_EQ(UnpackSourceOpen(dir.File("missing.zip").c_str()), nullptr);
}

}  // namespace
