// The ".." patterns are searched character by character in the process's
// multibyte code page: a trail byte equal to '\' starts no pattern.
#include <mbctype.h>

#include <gtest/gtest.h>

#include <string>

#include "unzip/names/entry_name.h"

namespace {

std::string Clean(const char* stored) {
  char out[260];
  UnpackCleanName(stored, out, sizeof(out));
  return out;
}

TEST(EntryNameWin32, PatternSearchStepsOverDoubleByteCharacters) {
  const int previous = _getmbcp();
  // 0x81 0x5C is one character in code page 936; its trail byte is '\'.
  const char* stored = "x\x81\\..\\y";
  ASSERT_EQ(_setmbcp(936), 0);
  EXPECT_EQ(Clean(stored), stored);
  ASSERT_EQ(_setmbcp(1252), 0);
  EXPECT_EQ(Clean(stored), "y");
  _setmbcp(previous);
}

}  // namespace
