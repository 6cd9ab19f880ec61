// Lists archives made by Info-ZIP zip and compares names, sizes and
// modification times with what its unzip -Z reports.
#include <sys/time.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "unzip/names/entry_times.h"
#include "unzip/unpack.h"
#include "testing/unpack_test_util.h"

namespace {

struct Listed {
  uint32_t size;
  std::string modified;  // yyyymmdd.hhmmss, local time
};

bool RunShell(const std::string& command) {
  return std::system(command.c_str()) == 0;
}

void WriteFile(const std::string& path, const std::string& data, time_t modified) {
  std::ofstream(path, std::ios::binary) << data;
  const struct timeval times[2] = {{modified, 0}, {modified, 0}};
  ASSERT_EQ(utimes(path.c_str(), times), 0);
}

std::map<std::string, Listed> InfoZipListing(const std::string& archive) {
  std::map<std::string, Listed> listing;
  FILE* pipe = popen(("unzip -Z -T '" + archive + "'").c_str(), "r");
  EXPECT_NE(pipe, nullptr);
  if (pipe == nullptr) return listing;
  char line[1024];
  while (std::fgets(line, sizeof(line), pipe) != nullptr) {
    // -rw-r--r--  3.0 unx     5 tx stor 20200615.073456 a.txt
    std::istringstream fields(line);
    std::string mode, version, host, type, method, modified, name;
    uint32_t size = 0;
    if (fields >> mode >> version >> host >> size >> type >> method >> modified >> name &&
        modified.size() == 15 && modified[8] == '.') {
      listing[name] = Listed{size, modified};
    }
  }
  pclose(pipe);
  return listing;
}

std::map<std::string, Listed> OurListing(const std::string& archive) {
  std::map<std::string, Listed> listing;
  UnpackHandle handle = UnpackOpen(archive.c_str(), "");
  EXPECT_NE(handle, nullptr);
  UnpackEntryInfo info = {};
  EXPECT_EQ(UnpackGetEntry(handle, -1, &info), UNPACK_OK);
  const int32_t count = info.nIndex;
  for (int32_t i = 0; i < count; ++i) {
    EXPECT_EQ(UnpackGetEntry(handle, i, &info), UNPACK_OK);
    const time_t seconds = static_cast<time_t>(UnpackFileTimeToTicks(info.ftLastWrite) / 10000000 -
                                               kUnpackUnixEpochSeconds);
    struct tm local;
    localtime_r(&seconds, &local);
    char modified[32];
    std::strftime(modified, sizeof(modified), "%Y%m%d.%H%M%S", &local);
    listing[info.szName] = Listed{info.nUnpackedSize, modified};
  }
  UnpackClose(handle);
  return listing;
}

TEST(UnpackInfoZip, ListsWhatUnzipReports) {
  if (!RunShell("command -v zip >/dev/null 2>&1 && command -v unzip >/dev/null 2>&1")) {
    GTEST_SKIP() << "Info-ZIP zip or unzip is not installed";
  }
  // A zone without daylight saving: the local-to-UTC rule of the moment is
  // also the rule of every date in the archive.
  setenv("TZ", "EST5", 1);
  tzset();
  CTempDir dir;
  const std::string src = dir.File("src");
  ASSERT_TRUE(RunShell("mkdir -p '" + src + "/sub/deeper'"));
  std::string binary;
  for (int i = 0; i < 70000; ++i) binary.push_back(static_cast<char>((i * 7919) >> 3));
  WriteFile(src + "/a.txt", "hello, archive\n", 1592224496);  // 2020-06-15
  WriteFile(src + "/empty.txt", "", 1234567890);
  WriteFile(src + "/sub/b.bin", binary, 1000000001);  // odd second
  WriteFile(src + "/sub/deeper/c.txt", std::string(20000, 'c'), 1700000000);

  // With the extended timestamp (default) and without extra fields (-X, DOS
  // stamps only).
  for (const char* options : {"", "-X"}) {
    const std::string archive = dir.File(std::string("made") + options + ".zip");
    ASSERT_TRUE(RunShell("cd '" + src + "' && zip -q -r " + options + " '" + archive +
                         "' a.txt empty.txt sub"));
    const std::map<std::string, Listed> expected = InfoZipListing(archive);
    const std::map<std::string, Listed> ours = OurListing(archive);
    ASSERT_EQ(expected.size(), 6u) << options;  // four files, two directories
    ASSERT_EQ(ours.size(), expected.size()) << options;
    for (const auto& [name, listed] : expected) {
      const auto found = ours.find(name);
      ASSERT_NE(found, ours.end()) << name;
      EXPECT_EQ(found->second.size, listed.size) << options << " " << name;
      EXPECT_EQ(found->second.modified, listed.modified) << options << " " << name;
    }
  }
}

}  // namespace
