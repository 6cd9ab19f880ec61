#include "updater/app/update_log.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "testing/unpack_test_util.h"

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  EXPECT_EQ(start, text.size()) << "the log ends in the middle of a line";
  return lines;
}

// The text of a line after its "YYYY-MM-DD HH:MM:SS " stamp.
std::string Text(const std::string& line) {
  static const std::regex stamp(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d )");
  EXPECT_TRUE(std::regex_search(line, stamp)) << line;
  return line.size() > 20 ? line.substr(20) : "";
}

}  // namespace

TEST(UpdateLogTest, AppendsStampedLinesAndStaysQuietWhenOff) {
  CTempDir dir;
  const std::string path = dir.File("update.log");
  { std::ofstream(path, std::ios::binary) << "earlier run\r\n"; }

  CUpdateLog log;
  ASSERT_TRUE(log.Open(path.c_str()));
  log.Write("exit code %d", 4);
  log.Write("message Download failed.\r\n\r\nNo message available.");
  const std::string longName(5000, 'x');
  log.Write("entry %s: written", longName.c_str());
  log.Close();
  log.Write("after the end");

  const std::vector<std::string> lines = Lines(ReadAll(path));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "earlier run");
  EXPECT_EQ(Text(lines[1]), "exit code 4");
  EXPECT_EQ(Text(lines[2]), "message Download failed.    No message available.");
  EXPECT_EQ(Text(lines[3]), "entry " + longName + ": written");

  // A folder that does not exist, and no path at all: the log stays off.
  CUpdateLog nowhere;
  EXPECT_FALSE(nowhere.Open(dir.File("missing/update.log").c_str()));
  EXPECT_FALSE(nowhere.Open(""));
  EXPECT_FALSE(nowhere.IsOpen());
  nowhere.Write("dropped %s", "quietly");
}

TEST(UpdateLogTest, LinesFromSeveralThreadsStayWhole) {
  CTempDir dir;
  const std::string path = dir.File("threads.log");
  CUpdateLog log;
  ASSERT_TRUE(log.Open(path.c_str()));
  const int kThreads = 4;
  const int kLines = 300;
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([&log, t] {
      const std::string padding(200, static_cast<char>('a' + t));
      for (int i = 0; i < kLines; ++i) log.Write("thread %d line %d %s", t, i, padding.c_str());
    });
  }
  for (std::thread& writer : writers) writer.join();
  log.Close();

  const std::vector<std::string> lines = Lines(ReadAll(path));
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
  std::vector<int> next(kThreads, 0);
  for (const std::string& line : lines) {
    int t = -1;
    int i = -1;
    ASSERT_EQ(std::sscanf(Text(line).c_str(), "thread %d line %d", &t, &i), 2) << line;
    ASSERT_TRUE(t >= 0 && t < kThreads);
    EXPECT_EQ(i, next[t]++);  // in order per thread
    EXPECT_EQ(Text(line).substr(Text(line).size() - 200),
              std::string(200, static_cast<char>('a' + t)));
  }
}
