// Shared by the zip layer's tests: a temporary folder that removes itself.
#ifndef UNZIP_UNPACK_TEST_UTIL_H_
#define UNZIP_UNPACK_TEST_UTIL_H_

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>

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

#endif  // UNZIP_UNPACK_TEST_UTIL_H_
