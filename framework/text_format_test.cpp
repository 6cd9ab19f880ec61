#include "framework/text_format.h"

#include <gtest/gtest.h>

#include <string>

// The path joins rely on a too-small buffer answering the full length (so
// they can refuse the result) while still holding a terminated prefix.
TEST(TextFormatTest, AnswersTheFullLengthAndTerminatesWhenCut) {
  char out[8];
  EXPECT_EQ(FormatText(nullptr, 0, "%s%c%.*s", "base", '\\', 3, "relative"), 8);
  EXPECT_EQ(FormatText(out, sizeof(out), "%s%c%.*s", "base", '\\', 3, "relative"), 8);
  EXPECT_EQ(std::string(out), "base\\re");
  char name[16];
  EXPECT_EQ(FormatText(name, sizeof(name), "%.*s~u%04x", 2, "dir", 0xAu), 8);
  EXPECT_EQ(std::string(name), "di~u000a");
}

TEST(TextFormatTest, Decimal64PrintsEveryValue) {
  char out[kDecimal64Size];
  EXPECT_STREQ(FormatDecimal64(0, out), "0");
  EXPECT_STREQ(FormatDecimal64(4294967296u, out), "4294967296");
  EXPECT_STREQ(FormatDecimal64(UINT64_MAX, out), "18446744073709551615");
}
