// Shared by the zip layer's tests: a temporary folder that removes itself,
// and an archive opened from one.
#ifndef UNZIP_UNPACK_TEST_UTIL_H_
#define UNZIP_UNPACK_TEST_UTIL_H_

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "testing/zip_builder.h"
#include "unzip/unpack.h"

class CTempDir {
 public:
  CTempDir() {
    static std::atomic<int> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    m_path = std::filesystem::temp_directory_path() /
             ("unzip_test_" + std::to_string(stamp) + "_" + std::to_string(counter++));
    std::filesystem::create_directories(m_path);
  }
  ~CTempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
  }
  CTempDir(const CTempDir&) = delete;
  CTempDir& operator=(const CTempDir&) = delete;

  std::string File(const std::string& name) const { return (m_path / name).string(); }
  const std::filesystem::path& path() const { return m_path; }

 private:
  std::filesystem::path m_path;
};

// An archive written to a temporary folder and opened; closed at the end.
class COpenArchive {
 public:
  explicit COpenArchive(const zipbuild::ZipBuilder& builder) {
    const std::string path = m_dir.File("test.zip");
    EXPECT_TRUE(builder.Save(path));
    m_handle = UnpackOpen(path.c_str(), "");
    EXPECT_NE(m_handle, nullptr) << "code " << std::hex << UnpackLastResult;
  }
  ~COpenArchive() {
    if (m_handle != nullptr) {
      EXPECT_EQ(UnpackClose(m_handle), UNPACK_OK);
    }
  }
  COpenArchive(const COpenArchive&) = delete;
  COpenArchive& operator=(const COpenArchive&) = delete;

  UnpackHandle handle() const { return m_handle; }
  UnpackResult Get(int32_t index, UnpackEntryInfo* info) const {
    return UnpackGetEntry(m_handle, index, info);
  }

 private:
  CTempDir m_dir;
  UnpackHandle m_handle = nullptr;
};

#endif  // UNZIP_UNPACK_TEST_UTIL_H_
