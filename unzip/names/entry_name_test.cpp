#include "unzip/names/entry_name.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Clean(const std::string& stored, size_t outSize = 260) {
  char out[260];
  UnpackCleanName(stored.c_str(), out, outSize);
  return out;
}

TEST(EntryName, CleaningTable) {
  struct Case {
    const char* stored;
    const char* cleaned;
  };
  const Case cases[] = {
      {"readme.txt", "readme.txt"},
      {"docs/", "docs/"},
      {"/a/b.txt", "a/b.txt"},
      {"D:\\x\\y.txt", "x\\y.txt"},
      {"C:/x/y.txt", "x/y.txt"},
      {"\\\\server\\share\\a.txt", "server\\share\\a.txt"},
      {"a/../b/c.txt", "b/c.txt"},
      {"a\\..\\b/../c", "c"},
      {"dir/sub/../file.txt", "file.txt"},
      {"a\\../b", "b"},
      {"a/..\\b", "b"},
      // A leading ".." segment is dropped and what follows cleaned again.
      {"../c", "c"},
      {"a/b/../../c", "c"},
      {"../C:/x", "x"},
      {"..//x", "x"},
      {"..\\\\x", "x"},
      {"../../../etc/passwd", "etc/passwd"},
      {"C:..\\x", "x"},
      // Dots that are no parent segment stay.
      {"..", ".."},
      {"...", "..."},
      {"a..b/c", "a..b/c"},
      {"a/..b", "a/..b"},
      {"./a", "./a"},
      {"a/..", "a/.."},
      {"", ""},
      {"/", ""},
      {"C:", ""},
      {"x:", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Clean(c.stored), c.cleaned) << "stored: " << c.stored;
  }
}

TEST(EntryName, NoCleanedNameLeavesTheBase) {
  // Whatever the stored name, the result is relative and has no ".." segment
  // at its front.
  const char* const hostile[] = {"../../x",   "/../x",         "\\..\\..\\x", "a/../../x",
                                 "C:\\..\\x", "..\\C:\\..\\x", "../\\../x",   "././../x"};
  for (const char* stored : hostile) {
    const std::string cleaned = Clean(stored);
    ASSERT_FALSE(cleaned.empty()) << stored;
    EXPECT_NE(cleaned[0], '/') << stored;
    EXPECT_NE(cleaned[0], '\\') << stored;
    EXPECT_FALSE(cleaned.size() > 1 && cleaned[1] == ':') << stored;
    EXPECT_NE(cleaned.rfind("../", 0), 0u) << stored << " -> " << cleaned;
    for (const char* parent : {"/../", "\\..\\", "/..\\", "\\../"}) {
      EXPECT_EQ(cleaned.find(parent), std::string::npos) << stored << " -> " << cleaned;
    }
  }
}

TEST(EntryName, OutputIsBoundedAndTerminated) {
  EXPECT_EQ(Clean("abcdef", 4), "abc");
  EXPECT_EQ(Clean("/abcdef", 1), "");
}

}  // namespace
